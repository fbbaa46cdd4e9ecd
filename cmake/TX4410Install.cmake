# How an install lays the programs out, and the function that makes a program one of them.
#
#   <prefix>/lib/tx4410/        the programs, both board libraries, and TX4413.hex: a link to
#                               the firmware image in etc, which the programs load from here
#   <prefix>/bin/               a link to each program
#   <etc>/tx4410/TX4413.hex     the firmware image, a user's file: /etc for the prefix /usr (the
#                               package), <prefix>/etc otherwise; an install keeps one already there
#   <prefix>/share/             a desktop entry per program, their icon, the README
#
# The prefix is the one of the install itself (cmake --install --prefix, CPack's staging), so
# what depends on it is done when the install runs: the links, and the path of the
# four-function library written into each installed program.
set(TX4410_PROGRAM_DIR "${CMAKE_INSTALL_LIBDIR}/tx4410")
set(TX4410_FIRMWARE_DIR "${CMAKE_INSTALL_SYSCONFDIR}/tx4410")

set(TX4410_USB4_LIBRARY "" CACHE FILEPATH
    "Absolute path at which the install puts the four-function board library and by which the installed programs bind it; empty: the installed program folder")
# Caches from before held the build tree's own library here; the build tree binds that anyway.
if(TX4410_USB4_LIBRARY STREQUAL "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/libKVN_CYUSB_USB4.so")
    set_property(CACHE TX4410_USB4_LIBRARY PROPERTY VALUE "")
endif()
if(TX4410_USB4_LIBRARY AND NOT IS_ABSOLUTE "${TX4410_USB4_LIBRARY}")
    message(FATAL_ERROR "TX4410_USB4_LIBRARY must be an absolute path: ${TX4410_USB4_LIBRARY}")
endif()

set(TX4410_INSTALL_STEPS "${PROJECT_BINARY_DIR}/TX4410InstallSteps.cmake")
configure_file(${CMAKE_CURRENT_LIST_DIR}/TX4410InstallSteps.cmake.in ${TX4410_INSTALL_STEPS} @ONLY)

# tx4410_bind_board_libraries(<program target>)
# A program that binds the board libraries: it finds them in the build tree's lib/ when run from
# the build tree, and an install puts it in the program folder with a link in bin/ and writes
# into it the installed four-function library's path.
function(tx4410_bind_board_libraries target)
    # RUNPATH, not RPATH, so that LD_LIBRARY_PATH wins when a user sets it. The build tree's run
    # path is linked in as it is and the install sets its own (tx4410_finish_program): left to
    # CMake, a run path to be changed at install is linked with an empty last entry, the current
    # folder.
    set_target_properties(${target} PROPERTIES
        BUILD_WITH_INSTALL_RPATH ON
        INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    target_link_options(${target} PRIVATE -Wl,--enable-new-dtags)
    # Bound at run time, never linked: build them with the program all the same.
    foreach(runtime IN ITEMS KVN_CYUSB_USB4 BoardPort tx4410_firmware tx4410_write_library_path)
        if(TARGET ${runtime})
            add_dependencies(${target} ${runtime})
        endif()
    endforeach()
    install(TARGETS ${target} RUNTIME DESTINATION ${TX4410_PROGRAM_DIR})
    install(CODE "include(\"${TX4410_INSTALL_STEPS}\")
        tx4410_finish_program(\"$<TARGET_FILE_NAME:${target}>\"
                              \"$<TARGET_FILE:tx4410_write_library_path>\")")
endfunction()

# tx4410_link_program(<program target>)
# A program installed in the program folder that binds no board library: a link to it in bin/.
function(tx4410_link_program target)
    install(CODE "include(\"${TX4410_INSTALL_STEPS}\")
        tx4410_link_into_bin(\"$<TARGET_FILE_NAME:${target}>\")")
endfunction()

# tx4410_install_board_library(<library target>)
function(tx4410_install_board_library target)
    # No run path, built or installed: they need only the system's libusb. (Left to CMake, the
    # build tree's would be all empty entries, and the install's Qt's $ORIGIN and $ORIGIN/../lib.)
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "")
    if(target STREQUAL "KVN_CYUSB_USB4" AND TX4410_USB4_LIBRARY)
        get_filename_component(directory "${TX4410_USB4_LIBRARY}" DIRECTORY)
        get_filename_component(name "${TX4410_USB4_LIBRARY}" NAME)
        install(FILES $<TARGET_FILE:${target}> DESTINATION "${directory}" RENAME "${name}")
        # A file, not a target: stripped here when the install strips (--strip, the package).
        install(CODE "if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}${TX4410_USB4_LIBRARY}\"
                            COMMAND_ERROR_IS_FATAL ANY)
        endif()")
    else()
        install(TARGETS ${target} LIBRARY DESTINATION ${TX4410_PROGRAM_DIR})
    endif()
endfunction()

# tx4410_install_firmware(<image file>)
function(tx4410_install_firmware image)
    install(CODE "include(\"${TX4410_INSTALL_STEPS}\")
        tx4410_install_firmware(\"${image}\")")
endfunction()
