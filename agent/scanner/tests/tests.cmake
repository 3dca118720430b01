# Windows tests of the scanner layer. The virtual scanner is the device; the
# fixture library below is a driver file that lacks the driver's entry.
add_library(scanner_test_no_entry SHARED ${CMAKE_CURRENT_LIST_DIR}/no_entry_library.cpp)
set_target_properties(scanner_test_no_entry PROPERTIES PREFIX "" OUTPUT_NAME "NoEntryDriver")

# A driver that answers reads from a script, for transfers that break the
# driver contract.
add_library(scanner_test_scripted_driver SHARED ${CMAKE_CURRENT_LIST_DIR}/scripted_driver.cpp)
target_link_libraries(scanner_test_scripted_driver PRIVATE velmora_common)
set_target_properties(scanner_test_scripted_driver PROPERTIES PREFIX "" OUTPUT_NAME "ScriptedDriver")
target_link_options(scanner_test_scripted_driver PRIVATE -Wl,--kill-at)

velmora_test(NAME scanner_transfer_contract_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_contract_test.cpp
  LIBS velmora_scanner velmora_test_support)
add_dependencies(scanner_transfer_contract_test scanner_test_scripted_driver)

velmora_test(NAME scanner_bitmap_file_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bitmap_file_test.cpp
  LIBS velmora_scanner velmora_test_support)

# These tests share one device (the prefix's state file) with each other and
# with the virtual scanner's own tests, so they never run at the same time.
set(scanner_device_tests)
macro(scanner_device_test name)
  velmora_test(NAME ${name} ${ARGN})
  target_sources(${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/scanner_test_support.cpp)
  target_link_libraries(${name} PRIVATE feeder_control)
  add_dependencies(${name} Feedlink scanner_test_no_entry)
  list(APPEND scanner_device_tests ${name})
endmacro()

# The virtual scanner's folder is added after the agent's, so ask the
# folder list rather than for its targets.
if("devices/virtual-feeder" IN_LIST VELMORA_FOLDERS AND EXISTS ${CMAKE_SOURCE_DIR}/devices/virtual-feeder/CMakeLists.txt)
  scanner_device_test(scanner_driver_polling_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_polling_test.cpp
    LIBS velmora_scanner velmora_test_support)
  scanner_device_test(scanner_acquisition_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/acquisition_test.cpp
    LIBS velmora_scanner velmora_test_support)
  scanner_device_test(scanner_device_tables_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/device_tables_test.cpp
    LIBS velmora_scanner velmora_test_support)
  scanner_device_test(scanner_dialogs_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialogs_test.cpp
    LIBS velmora_scanner velmora_test_support GUI)
  if(TARGET VelmoraRes)
    add_dependencies(scanner_dialogs_test VelmoraRes)
  endif()
  set_tests_properties(${scanner_device_tests} PROPERTIES RESOURCE_LOCK virtual_feeder)
endif()
