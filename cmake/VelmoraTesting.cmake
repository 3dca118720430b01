# Test registration shared by every folder.
#
# velmora_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [GUI] [LABELS <labels...>])
#
# In the Windows build the program runs under Wine through the crosscompiling
# emulator, inside the build tree's prefix, with the Wine server and desktop
# started once by the "wine" fixture. A GUI test exits 77 when no X display is
# available, which ctest reports as skipped.
function(velmora_test)
  cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} velmora_gui_test_main gtest)
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest_main gtest)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(labels ${T_LABELS})
  if(T_GUI)
    list(APPEND labels gui)
  endif()
  if(WIN32)
    list(APPEND labels wine)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine
                         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  else()
    list(APPEND labels native)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE 77 LABELS "${labels}" TIMEOUT 300)
endfunction()

# velmora_fuzzer(NAME <name> SOURCES <files...> COVERS <libraries...> [LIBS <targets...>]
#                [SEEDER <target> [SEEDER_ARGS <args...>]] MAX_LEN <bytes> RSS_MB <mb> UNIT_TIMEOUT <s>)
#
# A libFuzzer target of the native clang build. In the sanitizer build the
# libraries it COVERS (the code under test) are compiled with coverage
# instrumentation as well, so the fuzzer is guided by their branches and not
# only by its own file's. It is registered as a short native test labelled
# "fuzz" that starts from the committed corpus (fuzz/corpus/<name> beside
# this folder's sources, when present) and from what the seeder writes, and
# listed in <build>/fuzzers.txt for scripts/fuzz-campaign.
function(velmora_fuzzer)
  cmake_parse_arguments(F "" "NAME;SEEDER;MAX_LEN;RSS_MB;UNIT_TIMEOUT" "SOURCES;COVERS;LIBS;SEEDER_ARGS" ${ARGN})
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_COVERS} ${F_LIBS})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  if(VELMORA_SANITIZE)
    foreach(library IN LISTS F_COVERS)
      target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
    endforeach()
  endif()
  if(VELMORA_COVERAGE)
    foreach(library IN LISTS F_COVERS)
      target_compile_options(${library} PRIVATE -fprofile-instr-generate -fcoverage-mapping)
    endforeach()
    target_link_options(${F_NAME} PRIVATE -fprofile-instr-generate)
  endif()

  set(committed ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
  set(seeds ${CMAKE_CURRENT_BINARY_DIR}/seeds_${F_NAME})
  if(F_SEEDER)
    set(seeder $<TARGET_FILE:${F_SEEDER}>)
  else()
    set(seeder "")
  endif()
  string(REPLACE ";" "," seeder_args "${F_SEEDER_ARGS}")
  add_test(NAME ${F_NAME}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${F_NAME}> "-DSEEDER=${seeder}"
                   "-DSEEDER_ARGS=${seeder_args}" -DSEEDS=${seeds} -DCOMMITTED=${committed}
                   -DCORPUS=${CMAKE_CURRENT_BINARY_DIR}/corpus_${F_NAME} -DMAX_LEN=${F_MAX_LEN}
                   -DRSS_MB=${F_RSS_MB} -DUNIT_TIMEOUT=${F_UNIT_TIMEOUT} -DSECONDS=20
                   -P ${CMAKE_SOURCE_DIR}/cmake/RunFuzzer.cmake)
  set_tests_properties(${F_NAME} PROPERTIES LABELS "native;fuzz" TIMEOUT 300)

  # One line a fuzzer: name, program, seeder, its arguments, seeds folder,
  # committed corpus, limits, and the sources of the code it covers.
  set(sources "")
  foreach(library IN LISTS F_COVERS)
    get_target_property(library_sources ${library} SOURCES)
    get_target_property(library_dir ${library} SOURCE_DIR)
    foreach(source IN LISTS library_sources)
      if(NOT IS_ABSOLUTE ${source})
        set(source ${library_dir}/${source})
      endif()
      list(APPEND sources ${source})
    endforeach()
  endforeach()
  string(REPLACE ";" "," sources "${sources}")
  set_property(GLOBAL APPEND PROPERTY VELMORA_FUZZERS
    "${F_NAME}|$<TARGET_FILE:${F_NAME}>|${seeder}|${seeder_args}|${seeds}|${committed}|${F_MAX_LEN}|${F_RSS_MB}|${F_UNIT_TIMEOUT}|${sources}")
endfunction()

# Writes <build>/fuzzers.txt from every velmora_fuzzer call; the top-level
# list calls it once all folders are read.
function(velmora_write_fuzzer_list)
  get_property(lines GLOBAL PROPERTY VELMORA_FUZZERS)
  string(REPLACE ";" "\n" text "${lines}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzzers.txt CONTENT "${text}\n")
endfunction()
