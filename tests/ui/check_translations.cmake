# Fails when a text of the window has no English: lupdate reads the sources, as the target
# update_translations has it do, into a copy of the translation file, and any text it had
# to add is untranslated.
#   cmake -DLUPDATE=... -DGENERATOR=<GenerateLUpdateProject.cmake> -DPROJECT=<its input>
#         -DTS=<.ts file> -DWORK=<folder> -P this
file(MAKE_DIRECTORY ${WORK})
set(copy ${WORK}/morvane_en.ts)
file(COPY_FILE ${TS} ${copy})
execute_process(COMMAND ${CMAKE_COMMAND} -DIN_FILE=${PROJECT} -DOUT_FILE=${WORK}/project.json
                        -P ${GENERATOR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot describe the sources for lupdate")
endif()
file(READ ${WORK}/project.json project)
string(REPLACE "${TS}" "${copy}" project "${project}")
file(WRITE ${WORK}/project.json "${project}")
execute_process(
    COMMAND ${LUPDATE} -project ${WORK}/project.json -no-obsolete -locations none
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed: ${errors}")
endif()
file(READ ${copy} translations)
string(REGEX MATCHALL "<source>[^<]*</source>[ \n]*<translation type=\"unfinished\">"
       untranslated "${translations}")
if(untranslated)
    string(REGEX REPLACE "</?source>|[ \n]*<translation type=\"unfinished\">" "" untranslated
           "${untranslated}")
    list(JOIN untranslated "\n  " texts)
    message(FATAL_ERROR "texts without English in ${TS} (cmake --build . --target "
                        "update_translations, then translate them):\n  ${texts}")
endif()
