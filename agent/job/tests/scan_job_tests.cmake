# The scan job's Windows test: one program of end-to-end scenarios that
# drive RunScanJob in-process against the virtual scanner, the real
# Pagefit.exe and image library, and the viewer and ImageFolio stand-ins.
if("devices/virtual-feeder" IN_LIST VELMORA_BUILD_FOLDERS AND "tests/fixtures" IN_LIST VELMORA_BUILD_FOLDERS)
  velmora_test(NAME scan_job_test GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/scan_job_test.cpp
               LIBS velmora_job velmora_test_support velmora_fixtures feeder_control)
  target_include_directories(scan_job_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/fixtures)
  # The programs it runs are made in folders read after this one.
  function(velmora_scan_job_test_needs_programs)
    foreach(program VelmoraRes Feedlink Pixkit Pagefit FixtureViewer FixtureImageFolio)
      if(TARGET ${program})
        add_dependencies(scan_job_test ${program})
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velmora_scan_job_test_needs_programs)
  # One device for every test that scans; the image library's registry
  # entry is shared with the adapter's own test.
  set_tests_properties(scan_job_test PROPERTIES RESOURCE_LOCK "virtual_feeder;image_library_key" TIMEOUT 600)
endif()
