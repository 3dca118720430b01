# The real Levelset.exe against the virtual scanner, run as the agent runs it.
velmora_test(NAME levelset_test GUI
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/levelset_test.cpp
                     ${CMAKE_SOURCE_DIR}/devices/virtual-feeder/tests/device_test_support.cpp
             LIBS levelset_data feeder_control velmora_test_support shell32)
target_include_directories(levelset_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/devices/virtual-feeder/tests
                           ${CMAKE_SOURCE_DIR}/agent/settings)
add_dependencies(levelset_test Levelset Feedlink)
# The device is shared with the virtual scanner's own tests.
set_tests_properties(levelset_test PROPERTIES RESOURCE_LOCK virtual_feeder)
