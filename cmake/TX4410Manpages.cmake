# tx4410_add_manpage(<program target> <scdoc source>)
# The program's manual page: scdoc's roff, compressed as Debian's policy has it, built with the
# program, installed to share/man/man1, and checked by the test manpage_<program>: every option
# the program's --help names is in the page, and man renders it without a warning.
find_program(SCDOC scdoc REQUIRED)
function(tx4410_add_manpage target source)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1.gz)
    # Not VERBATIM: the redirections are the shell's.
    add_custom_command(OUTPUT ${page}
        COMMAND ${SCDOC} < ${source} > ${CMAKE_CURRENT_BINARY_DIR}/${target}.1
        COMMAND sed -i -f ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/manpage.sed ${CMAKE_CURRENT_BINARY_DIR}/${target}.1
        COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/${target}.1
        DEPENDS ${source} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/manpage.sed
        COMMENT "Writing the manual page of ${target}")
    add_custom_target(${target}_manpage ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    if(BUILD_TESTING)
        add_test(NAME manpage_${target}
                 COMMAND ${PROJECT_SOURCE_DIR}/tests/docs/manpage.sh $<TARGET_FILE:${target}> ${page} ${source})
    endif()
endfunction()
