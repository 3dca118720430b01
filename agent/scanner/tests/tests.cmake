# Windows tests of the scanner layer. The virtual scanner is the device; two
# fixture libraries stand in for broken driver files: one without the
# driver's entry, one that answers reads from a script.
add_library(scanner_test_no_entry SHARED ${CMAKE_CURRENT_LIST_DIR}/no_entry_library.cpp)
set_target_properties(scanner_test_no_entry PROPERTIES PREFIX "" OUTPUT_NAME "NoEntryDriver")
add_library(scanner_test_scripted_driver SHARED ${CMAKE_CURRENT_LIST_DIR}/scripted_driver.cpp)
target_link_libraries(scanner_test_scripted_driver PRIVATE velmora_common)
target_link_options(scanner_test_scripted_driver PRIVATE -Wl,--kill-at)
set_target_properties(scanner_test_scripted_driver PROPERTIES PREFIX "" OUTPUT_NAME "ScriptedDriver")

# The virtual scanner's folder is added after the agent's, so ask the folder
# list rather than for its targets.
if("devices/virtual-feeder" IN_LIST VELMORA_BUILD_FOLDERS AND EXISTS ${CMAKE_SOURCE_DIR}/devices/virtual-feeder/CMakeLists.txt)
  set(scanner_tests)
  foreach(test driver_polling acquisition device_tables transfer_contract dialogs)
    set(gui)
    if(test STREQUAL "dialogs")
      set(gui GUI)
    endif()
    velmora_test(NAME scanner_${test}_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/${test}_test.cpp ${CMAKE_CURRENT_LIST_DIR}/scanner_test_support.cpp
      LIBS velmora_scanner velmora_test_support feeder_control ${gui})
    add_dependencies(scanner_${test}_test Feedlink scanner_test_no_entry scanner_test_scripted_driver)
    list(APPEND scanner_tests scanner_${test}_test)
  endforeach()
  if(TARGET VelmoraRes)
    add_dependencies(scanner_dialogs_test VelmoraRes)
  endif()
  # They share one device (the prefix's state file) with each other and with
  # the virtual scanner's own tests, so they never run at the same time.
  set_tests_properties(${scanner_tests} PROPERTIES RESOURCE_LOCK virtual_feeder)
endif()
