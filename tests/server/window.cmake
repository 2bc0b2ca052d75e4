# Tests of the server window, and what the window tests of both roles share:
# a main with a QApplication on the offscreen platform and the Qt event loop,
# and a raw-socket client.
add_library(window_test_support STATIC WindowTestMain.cpp RawClient.cpp)
target_include_directories(window_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# Qt: the main makes the QApplication and the windows' event loop (app_glue).
target_link_libraries(window_test_support PUBLIC test_support app_glue protocol
                      GTest::gtest Qt6::Widgets Qt6::Test)

add_executable(server_window_tests ServerDlgTest.cpp ServerDrawTest.cpp)
target_link_libraries(server_window_tests PRIVATE server_window window_test_support)
# Every case binds the fixed ports; no case should take long, so a hang
# fails instead of holding the port lock.
gtest_discover_tests(server_window_tests
  DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
  PROPERTIES RESOURCE_LOCK ${ZEPHRAN_PORT_LOCK} ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 60)
