# A short, bounded fuzzing run of the tone pass over its seed corpus.
file(MAKE_DIRECTORY ${CORPUS})
execute_process(COMMAND ${SEEDER} ${CORPUS} RESULT_VARIABLE seeded)
if(NOT seeded EQUAL 0)
  message(FATAL_ERROR "tone seed corpus could not be written")
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=20 -max_len=20000 -rss_limit_mb=1024 -timeout=10 ${CORPUS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tone fuzzer found a failure (exit ${result})")
endif()
