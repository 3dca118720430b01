# The image library adapter: finds the library through the registry, loads
# it for a job and drives it for each page. Tested with the real Pixkit.dll,
# its pictures read back by ImageMagick.
if(WIN32)
  list(APPEND VELMORA_JOB_SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_library.cpp)
  cmake_language(DEFER CALL target_link_libraries velmora_job PUBLIC advapi32 velmora_common)

  velmora_test(NAME image_library_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/image_library_test.cpp
               LIBS velmora_job velmora_test_support)
  # The scan job's test points the same registry entry at its libraries.
  set_tests_properties(image_library_test PROPERTIES RESOURCE_LOCK image_library_key)
  # Scanner-style bitmaps come from the image library's own test helper.
  target_include_directories(image_library_test PRIVATE ${CMAKE_SOURCE_DIR}/libs/pixkit/tests)
  target_link_libraries(image_library_test PRIVATE velmora_common)
  # The real library's folder is read after this one: look for it once the
  # whole tree is known.
  function(velmora_image_library_test_needs_pixkit)
    if(TARGET Pixkit)
      add_dependencies(image_library_test Pixkit)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velmora_image_library_test_needs_pixkit)
endif()
