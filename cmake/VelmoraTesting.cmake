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

# velmora_fuzz_test(NAME <name> FUZZER <target> SEEDER <target> MAX_LEN <bytes> RSS_MB <mb> UNIT_TIMEOUT <s>)
#
# A 20-second libFuzzer run from the corpus the seeder writes, registered as
# a native test labelled "fuzz".
function(velmora_fuzz_test)
  cmake_parse_arguments(F "" "NAME;FUZZER;SEEDER;MAX_LEN;RSS_MB;UNIT_TIMEOUT" "" ${ARGN})
  add_test(NAME ${F_NAME}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${F_FUZZER}> -DSEEDER=$<TARGET_FILE:${F_SEEDER}>
                   -DCORPUS=${CMAKE_CURRENT_BINARY_DIR}/corpus_${F_NAME} -DMAX_LEN=${F_MAX_LEN}
                   -DRSS_MB=${F_RSS_MB} -DUNIT_TIMEOUT=${F_UNIT_TIMEOUT}
                   -P ${CMAKE_SOURCE_DIR}/cmake/RunFuzzer.cmake)
  set_tests_properties(${F_NAME} PROPERTIES LABELS "native;fuzz" TIMEOUT 300)
endfunction()
