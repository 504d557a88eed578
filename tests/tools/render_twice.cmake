# Renders one score in two runs of morvane-render and fails unless both files are the
# same byte for byte. Called with RENDER (the program), SCORE and OUT (a name prefix).
foreach(run 1 2)
    execute_process(COMMAND ${RENDER} ${SCORE} ${OUT}-${run}.wav RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "run ${run} of morvane-render failed: ${status}")
    endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}-1.wav ${OUT}-2.wav
                RESULT_VARIABLE different)
file(REMOVE ${OUT}-1.wav ${OUT}-2.wav)
if(different)
    message(FATAL_ERROR "two renders of ${SCORE} differ")
endif()
