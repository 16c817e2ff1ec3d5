# `cpack -G DEB` (or the `package` target) builds
# brivane-sensor-companion_<version>-<release>_<arch>.deb from the install rules; scripts/package
# does it from the package preset. Its dependencies come from the shared libraries the
# executables link.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brivane-sensor-companion)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Qorva")
set(CPACK_PACKAGE_CONTACT "Brivane developers <brivane@qorva.dev>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "per-user sensor agent and its client")
# Lines of at most 80 characters, as Debian's control files want them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "The Brivane Sensor Companion reads temperatures, fans, power and energy"
    "counters, CPU performance states, process rankings, battery and disk health,"
    "and serves them as JSON documents to signed clients over a socket of the"
    "user's own, started by the user's service manager on the first connection."
    "brivane-sensors shows the readings once or live, and serves them to"
    "Prometheus (brivane-sensors export) or node_exporter's textfile collector."
    "brivane-sensors record keeps a history of every reading (brivane-sensors"
    "history shows it, with plots). The package ships confined user units for"
    "all of these, disabled.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The history opens SQLite at run time (tools/history/sqlite_library.h), so no executable names it;
# adduser creates the machine-wide service's account. The shared libraries follow.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0 (>= 3.37), adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
# The maintainer scripts, each with the calls into users' service managers written in.
file(READ ${PROJECT_SOURCE_DIR}/packaging/debian/user-managers.sh USER_MANAGERS)
string(STRIP "${USER_MANAGERS}" USER_MANAGERS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/user-managers.sh)
foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in
                   ${PROJECT_BINARY_DIR}/packaging/debian/${script} @ONLY)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/debian/postinst
                                      ${PROJECT_BINARY_DIR}/packaging/debian/prerm
                                      ${PROJECT_BINARY_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES OFF) # stripping would void the signatures
include(CPack)
