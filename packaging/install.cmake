# What `cmake --install` and the Debian package put where (paths under the install prefix):
#   lib/brivane/Brivane Sensor Companion.app/   the Linux bundle, copied byte for byte
#   lib/brivane/brivane-sensors(.sig)           the client and its detached signature
#   lib/brivane/brivane-sensors-export(.sig)    the exporter the client hands `export` to
#   lib/brivane/brivane-sensors-record(.sig)    the recorder the client hands `record` to
#   bin/brivane-sensors                         link to the client
#   bin/brivane-sensor-companion                link to the bundle's executable
#   share/man/man1/                             both manual pages, compressed
#   share/doc/brivane-sensor-companion/         copyright, changelog.Debian.gz, metrics.md,
#                                               alerts.md
#   share/doc/brivane-sensor-companion/prometheus/  the rules, their test and the dashboard
#   share/lintian/overrides/                    why one tag does not apply
#   share/bash-completion/completions/          completion for both commands
#   lib/systemd/user/                           the agent's socket and service as the binary
#                                               writes them, and every unit of
#                                               packaging/systemd/user (all disabled)
#   lib/systemd/system/                         the machine-wide service's units of
#                                               packaging/systemd/system (all disabled)
#   lib/brivane/brivane-nvme-health             the root-run NVMe health log reader
# Links rather than copies: the agent finds its bundle, and checks a client's signature,
# through the resolved path of the running executable.

set(brivane_bundle_name "Brivane Sensor Companion.app")
set(brivane_app_dir lib/brivane)

# Modes are set here rather than taken from the build tree, whose files carry the umask of
# whoever built them: 0755 for folders and executables, 0644 for everything else.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(brivane_data_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(brivane_program_mode ${brivane_data_mode} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# Signed files are installed as plain files so that no install step rewrites them (RPATH
# editing or stripping would void their signatures).
install(DIRECTORY "${PROJECT_BINARY_DIR}/bundle/${brivane_bundle_name}"
        DESTINATION ${brivane_app_dir}
        FILE_PERMISSIONS ${brivane_data_mode}
        DIRECTORY_PERMISSIONS ${brivane_program_mode}
        REGEX "/MacOS/[^/.]+$" PERMISSIONS ${brivane_program_mode})
foreach(client brivane-sensors brivane-sensors-export brivane-sensors-record)
    install(PROGRAMS $<TARGET_FILE:${client}> DESTINATION ${brivane_app_dir})
    install(FILES $<TARGET_FILE:${client}>.sig DESTINATION ${brivane_app_dir})
endforeach()

set(brivane_links ${PROJECT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${brivane_links})
file(CREATE_LINK ../${brivane_app_dir}/brivane-sensors ${brivane_links}/brivane-sensors SYMBOLIC)
file(CREATE_LINK
     "../${brivane_app_dir}/${brivane_bundle_name}/Contents/MacOS/brivane-sensor-companion"
     ${brivane_links}/brivane-sensor-companion SYMBOLIC)
install(FILES ${brivane_links}/brivane-sensors ${brivane_links}/brivane-sensor-companion
        DESTINATION bin)

set(completion ${PROJECT_SOURCE_DIR}/packaging/completion/brivane-sensors)
install(FILES ${completion} DESTINATION share/bash-completion/completions)
install(FILES ${completion} DESTINATION share/bash-completion/completions
        RENAME brivane-sensor-companion)

file(GLOB user_units CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/systemd/user/*)
install(FILES ${user_units} DESTINATION lib/systemd/user)
# The machine-wide service for fleets, and the root-run reader of NVMe health logs it may use.
file(GLOB system_units CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/systemd/system/*)
install(FILES ${system_units} DESTINATION lib/systemd/system)
install(PROGRAMS $<TARGET_FILE:brivane-nvme-health> DESTINATION ${brivane_app_dir})
# The agent's socket and service, generated for the bundle where it is installed by the code
# that `--install` runs, so they cannot drift from what the binary writes.
install(CODE "
    set(units \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    file(MAKE_DIRECTORY \"\${units}\")
    message(STATUS \"Writing the agent's units in \${units}\")
    execute_process(COMMAND \"$<TARGET_FILE:brivane-unit-files>\"
        \"${BRIVANE_STAGED_LAUNCH_AGENT}\"
        \"\${CMAKE_INSTALL_PREFIX}/${brivane_app_dir}/${brivane_bundle_name}\" \"\${units}\"
        COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB written \"\${units}/dev.qorva.brivane.SensorCompanion.*\")
    file(CHMOD \${written} PERMISSIONS ${brivane_data_mode})
")

# The package's copyright (machine-readable) and changelog, where Debian keeps them.
set(brivane_doc_dir share/doc/brivane-sensor-companion)
set(BRIVANE_PACKAGE_VERSION ${PROJECT_VERSION}-1) # the release of debian.cmake
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian)
add_custom_target(brivane-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
              ${PROJECT_SOURCE_DIR}/docs/metrics.md ${PROJECT_SOURCE_DIR}/docs/alerts.md
        DESTINATION ${brivane_doc_dir})
# The Prometheus mixin, so that an admin with the package needs no source tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/packaging/prometheus/
        DESTINATION ${brivane_doc_dir}/prometheus FILE_PERMISSIONS ${brivane_data_mode})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION share/lintian/overrides RENAME brivane-sensor-companion)

# Manual pages: scdoc sources in docs/man, turned into compressed roff at build time.
find_program(BRIVANE_SCDOC scdoc)
if(BRIVANE_SCDOC)
    file(GLOB man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.scd)
    set(man_pages)
    foreach(source ${man_sources})
        get_filename_component(page ${source} NAME_WLE)
        string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
        set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
        # gzip -n: no name or time stamp, so the same page gives the same bytes.
        add_custom_command(OUTPUT ${output}
            COMMAND sh -c "\"$0\" < \"$1\" | gzip -9n > \"$2\"" ${BRIVANE_SCDOC} ${source}
                    ${output}
            DEPENDS ${source}
            COMMENT "Writing the manual page ${page}"
            VERBATIM)
        list(APPEND man_pages ${output})
        install(FILES ${output} DESTINATION share/man/man${section})
    endforeach()
    add_custom_target(brivane-man-pages ALL DEPENDS ${man_pages})
else()
    message(WARNING "scdoc not found (scripts/install-deps installs it): no manual pages")
endif()
