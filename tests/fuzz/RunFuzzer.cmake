# cmake -DFUZZER=exe -DCORPUS=dir -DWORK=dir -DRUNS=n -P RunFuzzer.cmake
# Runs one fuzz target over a copy of its corpus; a crash input is left beside the copy.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB inputs ${CORPUS}/*)
file(COPY ${inputs} DESTINATION ${WORK}/corpus)
execute_process(COMMAND ${FUZZER} -runs=${RUNS} -max_len=4096 -timeout=10 -artifact_prefix=${WORK}/
                        ${WORK}/corpus
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}")
endif()
