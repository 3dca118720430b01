# Output naming and save folders: name formatting and the folder walk are
# portable and tested in every build; the registry and file-system side is
# Windows code of the job library, tested under Wine on real folders.
add_library(velmora_naming_core STATIC ${CMAKE_CURRENT_LIST_DIR}/naming_core.cpp)
target_include_directories(velmora_naming_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velmora_naming_core PUBLIC velmora_common)

velmora_test(NAME naming_core_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/naming_core_test.cpp
             LIBS velmora_naming_core)

if(WIN32)
  list(APPEND VELMORA_JOB_SOURCES ${CMAKE_CURRENT_LIST_DIR}/naming.cpp)
  # The job library is made once every part of this folder is read.
  cmake_language(DEFER CALL target_link_libraries velmora_job PUBLIC velmora_naming_core shell32)

  velmora_test(NAME naming_folder_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/naming_folder_test.cpp
               LIBS velmora_job velmora_test_support)
endif()
