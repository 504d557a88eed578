# Installs the build into PREFIX and checks what a desktop and a user find there: the
# programs run, the menu entry and the AppStream metadata validate, the manual pages format
# without a warning and name every option the programs' help names. VERSION and
# RELEASE_DATE are the project's: the programs, NEWS, the metadata and the Debian changelog
# must all name them.

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
find_tool(APPSTREAMCLI appstreamcli)

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

set(id io.github.morvane.Morvane)
set(entry ${PREFIX}/${DATADIR}/applications/${id}.desktop)
set(metainfo ${PREFIX}/${DATADIR}/metainfo/${id}.metainfo.xml
             ${PREFIX}/${DATADIR}/metainfo/${id}.lv2.metainfo.xml)
foreach(file ${PREFIX}/${BINDIR}/morvane ${PREFIX}/${BINDIR}/morvane-render ${entry} ${metainfo}
        ${PREFIX}/${DATADIR}/icons/hicolor/48x48/apps/morvane.png)
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

run(${DESKTOP_FILE_VALIDATE} ${entry})
# appstreamcli fails on a warning as on an error; pedantic remarks (an upper-case letter in
# the id, as the reverse-DNS convention has it) pass.
run(${APPSTREAMCLI} validate --no-net --no-color ${metainfo})
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

# One version everywhere: both programs, the top of NEWS and of the Debian changelog, the
# newest release of the metadata, the plugin's minor and micro version.
foreach(program morvane morvane-render)
    run(${PREFIX}/${BINDIR}/${program} --version)
    if(NOT output STREQUAL "${program} ${VERSION}\n")
        message(FATAL_ERROR "${program} --version says '${output}', the project is ${VERSION}")
    endif()
endforeach()
file(STRINGS ${SOURCE_DIR}/NEWS news LIMIT_COUNT 1)
file(STRINGS ${SOURCE_DIR}/debian/changelog changelog LIMIT_COUNT 1)
file(READ ${PREFIX}/${DATADIR}/metainfo/${id}.metainfo.xml text)
string(REGEX MATCH "<release version=\"[^\"]*\" date=\"[^\"]*\"" release "${text}")
file(READ ${PREFIX}/lib/lv2/morvane.lv2/morvane.ttl text)
string(REGEX MATCH "lv2:minorVersion [0-9]+ ;[ \n]*lv2:microVersion [0-9]+" plugin "${text}")
string(REGEX REPLACE "[ ;\n]+" " " plugin "${plugin}")
string(REGEX MATCH "^[0-9]+\\.([0-9]+)\\.([0-9]+)$" numbers "${VERSION}")
foreach(pair "NEWS|${news}|Morvane ${VERSION} (${RELEASE_DATE})"
        "debian/changelog|${changelog}|morvane (${VERSION}-"
        "the metadata|${release}|<release version=\"${VERSION}\" date=\"${RELEASE_DATE}\""
        "the plugin|${plugin}|lv2:minorVersion ${CMAKE_MATCH_1} lv2:microVersion ${CMAKE_MATCH_2}")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 where)
    list(GET pair 1 line)
    list(GET pair 2 expected)
    string(FIND "${line}" "${expected}" at)
    if(NOT at EQUAL 0)
        message(FATAL_ERROR "${where} starts with '${line}', not '${expected}'")
    endif()
endforeach()
