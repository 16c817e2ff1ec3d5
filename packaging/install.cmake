# What `cmake --install` and the Debian package put where (paths under the install prefix):
#   lib/brivane/Brivane Sensor Companion.app/   the Linux bundle, copied byte for byte
#   lib/brivane/brivane-sensors(.sig)           the client and its detached signature
#   lib/brivane/brivane-sensors-export(.sig)    the exporter the client hands `export` to
#   bin/brivane-sensors                         link to the client
#   bin/brivane-sensor-companion                link to the bundle's executable
#   share/man/man1/                             both manual pages
#   share/bash-completion/completions/          completion for both commands
#   lib/systemd/user/                           every unit of packaging/systemd/user (disabled)
# Links rather than copies: the agent finds its bundle, and checks a client's signature,
# through the resolved path of the running executable.

set(brivane_bundle_name "Brivane Sensor Companion.app")
set(brivane_app_dir lib/brivane)

# Signed files are installed as plain files so that no install step rewrites them (RPATH
# editing or stripping would void their signatures).
install(DIRECTORY "${PROJECT_BINARY_DIR}/bundle/${brivane_bundle_name}"
        DESTINATION ${brivane_app_dir} USE_SOURCE_PERMISSIONS)
foreach(client brivane-sensors brivane-sensors-export)
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
if(user_units)
    install(FILES ${user_units} DESTINATION lib/systemd/user)
endif()

# Manual pages: scdoc sources in docs/man, turned into roff at build time.
find_program(BRIVANE_SCDOC scdoc)
if(BRIVANE_SCDOC)
    file(GLOB man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.scd)
    set(man_pages)
    foreach(source ${man_sources})
        get_filename_component(page ${source} NAME_WLE)
        string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
        set(output ${PROJECT_BINARY_DIR}/man/${page})
        add_custom_command(OUTPUT ${output}
            COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${BRIVANE_SCDOC} ${source} ${output}
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
