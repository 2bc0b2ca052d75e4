# Tests of the client window. The sessions run against the headless server
# program in a process of its own, because the sign-on blocks the test's
# thread.
add_executable(client_window_tests ClientDlgTest.cpp)
target_link_libraries(client_window_tests PRIVATE client_window window_test_main)
add_dependencies(client_window_tests zephran-server)
gtest_discover_tests(client_window_tests
  DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
  PROPERTIES RESOURCE_LOCK ${ZEPHRAN_PORT_LOCK} ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 60)
