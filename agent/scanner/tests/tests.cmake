# Windows tests of the scanner layer. The virtual scanner is the device; a
# fixture library that answers reads from a script stands in for a driver
# that breaks its contract.
add_library(scanner_test_scripted_driver SHARED ${CMAKE_CURRENT_LIST_DIR}/scripted_driver.cpp)
target_link_libraries(scanner_test_scripted_driver PRIVATE velmora_common)
target_link_options(scanner_test_scripted_driver PRIVATE -Wl,--kill-at)
set_target_properties(scanner_test_scripted_driver PROPERTIES PREFIX "" OUTPUT_NAME "ScriptedDriver")

# The virtual scanner's folder is added after the agent's, so ask the folder
# list rather than for its targets.
if("devices/virtual-feeder" IN_LIST VELMORA_BUILD_FOLDERS AND EXISTS ${CMAKE_SOURCE_DIR}/devices/virtual-feeder/CMakeLists.txt)
  velmora_test(NAME scanner_device_test GUI
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/device_test.cpp
    LIBS velmora_scanner velmora_test_support feeder_control)
  add_dependencies(scanner_device_test Feedlink scanner_test_scripted_driver)
  if(TARGET VelmoraRes)
    add_dependencies(scanner_device_test VelmoraRes)
  endif()
  # It shares one device (the prefix's state file) with the virtual scanner's
  # own tests, so they never run at the same time.
  set_tests_properties(scanner_device_test PROPERTIES RESOURCE_LOCK virtual_feeder)
endif()
