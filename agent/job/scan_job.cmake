# The scan job: the settings arithmetic is portable and tested in every
# build; the job, its prompt and the page hand-off are Windows code of the
# job library, tested under Wine end to end against the virtual scanner,
# the real Pagefit.exe and the real image library.
add_library(velmora_scan_settings_core STATIC ${CMAKE_CURRENT_LIST_DIR}/scan_settings_core.cpp)
target_include_directories(velmora_scan_settings_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velmora_scan_settings_core PUBLIC velmora_shared_types)

velmora_test(NAME scan_settings_core_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/scan_settings_core_test.cpp
             LIBS velmora_scan_settings_core)

if(WIN32)
  list(APPEND VELMORA_JOB_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/scan_settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/wait_prompt.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_handoff.cpp
    ${CMAKE_CURRENT_LIST_DIR}/viewers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scan_job.cpp)
  # The job library is made once every part of this folder is read.
  cmake_language(DEFER CALL target_link_libraries velmora_job PUBLIC velmora_scan_settings_core velmora_scanner
                 shell32)
endif()
