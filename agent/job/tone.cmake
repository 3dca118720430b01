# Tone processing: the portable core (table arithmetic, header checks, row
# passes) is built and tested in every build, fuzzed and benchmarked
# natively; the file pass around it is Windows code of the job library.
add_library(velmora_tone_core STATIC ${CMAKE_CURRENT_LIST_DIR}/tone_core.cpp)
target_include_directories(velmora_tone_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velmora_tone_core PUBLIC velmora_shared_types velmora_common)

velmora_test(NAME tone_core_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/tone_core_test.cpp
             LIBS velmora_tone_core)
# The test bitmaps are built on the one scanner-style builder of tests/harness.
set(VELMORA_TONE_TEST_INCLUDES ${CMAKE_CURRENT_LIST_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/harness)
target_include_directories(tone_core_test PRIVATE ${VELMORA_TONE_TEST_INCLUDES})

if(WIN32)
  list(APPEND VELMORA_JOB_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tone.cpp)
  # The job library is made once every part of this folder is read.
  cmake_language(DEFER CALL target_link_libraries velmora_job PUBLIC velmora_tone_core)

  velmora_test(NAME tone_file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/tone_file_test.cpp
               LIBS velmora_job velmora_test_support)
endif()

if(NOT WIN32)
  add_executable(tone_bench ${CMAKE_CURRENT_LIST_DIR}/bench/tone_bench.cpp)
  target_link_libraries(tone_bench PRIVATE velmora_tone_core)
  target_include_directories(tone_bench PRIVATE ${VELMORA_TONE_TEST_INCLUDES})

  add_executable(tone_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/fuzz/tone_fuzz_seeds.cpp)
  target_include_directories(tone_fuzz_seeds PRIVATE ${VELMORA_TONE_TEST_INCLUDES})
  target_link_libraries(tone_fuzz_seeds PRIVATE velmora_common)
  # Well-formed and damaged bitmaps under every tone setting.
  velmora_fuzzer(NAME tone_fuzz_pass SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz/tone_fuzz_pass.cpp
                 COVERS velmora_tone_core SEEDER tone_fuzz_seeds MAX_LEN 20000 RSS_MB 1024 UNIT_TIMEOUT 10)
  if(TARGET tone_fuzz_pass)
    target_include_directories(tone_fuzz_pass PRIVATE ${VELMORA_TONE_TEST_INCLUDES})
  endif()
endif()
