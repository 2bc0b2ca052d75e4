# The server window: the one place where the server core meets Qt.
add_library(server_window STATIC ServerDlg.cpp)
target_include_directories(server_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# server_core: the window owns the core and is its view. app_glue: the shared
# main-window base (template layout, window menu, log, message box).
# Qt6::Widgets: the window is a QDialog; only window targets may link it.
target_link_libraries(server_window PUBLIC server_core app_glue Qt6::Widgets)
