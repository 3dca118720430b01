# Windows tests of the scanner layer. The virtual scanner is the device; the
# fixture library below is a driver file that lacks the driver's entry.
add_library(scanner_test_no_entry SHARED ${CMAKE_CURRENT_LIST_DIR}/no_entry_library.cpp)
set_target_properties(scanner_test_no_entry PROPERTIES PREFIX "" OUTPUT_NAME "NoEntryDriver")

velmora_test(NAME scanner_bitmap_file_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bitmap_file_test.cpp
  LIBS velmora_scanner velmora_test_support)
