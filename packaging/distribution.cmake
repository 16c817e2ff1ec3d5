# The distribution build (BRIVANE_DISTRIBUTION): Debian's hardening flags on everything we
# compile and link, and brivane_strip(<target>) for the executables the package ships.

if(BRIVANE_DISTRIBUTION)
    # Asked from the source folder, so that the file-prefix map names it.
    find_program(BRIVANE_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${BRIVANE_DPKG_BUILDFLAGS}
                    --get ${kind}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(brivane_${kind} UNIX_COMMAND "${flags}")
    endforeach()
    target_compile_options(brivane_options INTERFACE ${brivane_CPPFLAGS} ${brivane_CXXFLAGS})
    target_link_options(brivane_options INTERFACE ${brivane_LDFLAGS})
endif()

# Strips the target after each link as Debian's packaging helpers do, its debug information
# kept beside it in <file>.debug (and linked from it), which the package does not ship. A
# signed target is stripped before it is signed (brivane_sign_as_client), so its signature
# holds for the file installed.
function(brivane_strip target)
    if(BRIVANE_DISTRIBUTION)
        set(file $<TARGET_FILE:${target}>)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
            COMMAND ${CMAKE_STRIP} --remove-section=.comment --remove-section=.note ${file}
            COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${file}.debug ${file}
            VERBATIM)
    endif()
endfunction()
