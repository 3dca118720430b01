# The agent shell's in-process tests; its behaviour as a process is tested
# end to end in tests/e2e.
velmora_test(NAME agent_app_test GUI SOURCES tests/app_test.cpp LIBS velmora_app velmora_test_support)
add_dependencies(agent_app_test recording_tool)
