# Tone processing: the portable core (table arithmetic, header checks, row
# passes) is built and tested in every build, fuzzed and benchmarked
# natively; the file pass around it is Windows code of the job library.
add_library(velmora_tone_core STATIC ${CMAKE_CURRENT_LIST_DIR}/tone_core.cpp)
target_include_directories(velmora_tone_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velmora_tone_core PUBLIC velmora_shared_types velmora_common)

velmora_test(NAME tone_core_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/tone_core_test.cpp
             LIBS velmora_tone_core)

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
  target_include_directories(tone_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)

  if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
    add_executable(tone_fuzz_pass ${CMAKE_CURRENT_LIST_DIR}/fuzz/tone_fuzz_pass.cpp)
    target_link_libraries(tone_fuzz_pass PRIVATE velmora_tone_core)
    target_include_directories(tone_fuzz_pass PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
    target_compile_options(tone_fuzz_pass PRIVATE -fsanitize=fuzzer)
    target_link_options(tone_fuzz_pass PRIVATE -fsanitize=fuzzer)
    add_executable(tone_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/fuzz/tone_fuzz_seeds.cpp)
    target_include_directories(tone_fuzz_seeds PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
    target_link_libraries(tone_fuzz_seeds PRIVATE velmora_common)
    # A short bounded run from a seed corpus of well-formed and damaged bitmaps.
    velmora_fuzz_test(NAME tone_fuzz_pass FUZZER tone_fuzz_pass SEEDER tone_fuzz_seeds
                      MAX_LEN 20000 RSS_MB 1024 UNIT_TIMEOUT 10)
  endif()
endif()
