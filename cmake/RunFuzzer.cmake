# A short, bounded fuzzing run over a seed corpus, as a ctest test:
#   cmake -DFUZZER=... -DSEEDER=... -DCORPUS=... -DMAX_LEN=... -DRSS_MB=... -DUNIT_TIMEOUT=... -P RunFuzzer.cmake
file(MAKE_DIRECTORY ${CORPUS})
execute_process(COMMAND ${SEEDER} ${CORPUS} RESULT_VARIABLE seeded)
if(NOT seeded EQUAL 0)
  message(FATAL_ERROR "the seed corpus for ${FUZZER} could not be written")
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=20 -max_len=${MAX_LEN} -rss_limit_mb=${RSS_MB}
                        -timeout=${UNIT_TIMEOUT} ${CORPUS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} found a failure (exit ${result})")
endif()
