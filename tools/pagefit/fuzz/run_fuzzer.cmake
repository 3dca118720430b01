# A short, bounded fuzzing run over the seed corpus, as a ctest test.
file(MAKE_DIRECTORY ${CORPUS})
execute_process(COMMAND ${SEEDER} ${CORPUS} RESULT_VARIABLE seeded)
if(NOT seeded EQUAL 0)
  message(FATAL_ERROR "seed corpus could not be written")
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=20 -max_len=200000 -rss_limit_mb=2048 -timeout=20 ${CORPUS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} found a failure (exit ${result})")
endif()
