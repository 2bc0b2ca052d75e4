# Tests of the server window: raw-socket clients against the window's core.
add_executable(server_window_tests ServerDlgTest.cpp)
target_link_libraries(server_window_tests PRIVATE server_window window_test_main)
# Every case binds the fixed ports; no case should take long, so a hang
# fails instead of holding the port lock.
gtest_discover_tests(server_window_tests
  DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
  PROPERTIES RESOURCE_LOCK ${ZEPHRAN_PORT_LOCK} ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 60)
