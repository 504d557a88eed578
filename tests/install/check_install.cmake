# Installs the build into PREFIX and checks what a desktop and a user find there: the
# programs run, the menu entry validates, the manual pages format without a warning and
# name every option the programs' help names.

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE errors)
    if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "${command}: status ${status}\n${output}${errors}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()

function(find_tool variable name)
    find_program(${variable} ${name})
    if(NOT ${variable})
        message(FATAL_ERROR "${name} not found; scripts/install-deps installs it")
    endif()
endfunction()

find_tool(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_tool(GROFF groff)

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

set(entry ${PREFIX}/${DATADIR}/applications/morvane.desktop)
foreach(file ${PREFIX}/${BINDIR}/morvane ${PREFIX}/${BINDIR}/morvane-render ${entry}
        ${PREFIX}/${DATADIR}/icons/hicolor/48x48/apps/morvane.png)
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

run(${DESKTOP_FILE_VALIDATE} ${entry})
file(STRINGS ${entry} exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=morvane")
    message(FATAL_ERROR "the menu entry runs '${exec}'")
endif()

# The installed renderer is the whole program: one block of silence, 441 samples.
file(WRITE ${PREFIX}/score.txt "render 1\n")
run(${PREFIX}/${BINDIR}/morvane-render ${PREFIX}/score.txt ${PREFIX}/block.raw)
file(SIZE ${PREFIX}/block.raw size)
if(NOT size EQUAL 882)
    message(FATAL_ERROR "the installed morvane-render wrote ${size} bytes for one block")
endif()

foreach(program morvane morvane-render)
    set(page ${PREFIX}/${MANDIR}/man1/${program}.1)
    if(NOT EXISTS ${page})
        message(FATAL_ERROR "no manual page: ${page}")
    endif()
    run(${GROFF} -man -ww -z ${page})
    file(READ ${page} text)
    run(${PREFIX}/${BINDIR}/${program} --help)
    string(REGEX MATCHALL "--[a-z0-9-]+" options "${output}")
    list(REMOVE_DUPLICATES options)
    foreach(option ${options})
        string(REPLACE "-" "\\-" written "${option}")
        string(FIND "${text}" "${written}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${program}(1) does not mention ${option}")
        endif()
    endforeach()
endforeach()
