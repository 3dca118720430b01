# A short, bounded fuzzing run, as a ctest test: it starts from the committed
# corpus and from what the seeder writes, and keeps what it finds in CORPUS.
#   cmake -DFUZZER=... [-DSEEDER=... -DSEEDER_ARGS=a,b] -DSEEDS=... -DCOMMITTED=... -DCORPUS=...
#         -DMAX_LEN=... -DRSS_MB=... -DUNIT_TIMEOUT=... -DSECONDS=... -P RunFuzzer.cmake
file(MAKE_DIRECTORY ${CORPUS} ${SEEDS})
set(folders ${CORPUS})
if(SEEDER)
  string(REPLACE "," ";" seeder_args "${SEEDER_ARGS}")
  execute_process(COMMAND ${SEEDER} ${SEEDS} ${seeder_args} RESULT_VARIABLE seeded)
  if(NOT seeded EQUAL 0)
    message(FATAL_ERROR "the seed corpus for ${FUZZER} could not be written")
  endif()
  list(APPEND folders ${SEEDS})
endif()
if(EXISTS ${COMMITTED})
  list(APPEND folders ${COMMITTED})
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=${MAX_LEN} -rss_limit_mb=${RSS_MB}
                        -timeout=${UNIT_TIMEOUT} ${folders}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} found a failure (exit ${result})")
endif()
