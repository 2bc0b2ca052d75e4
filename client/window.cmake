# The client window: the one place where the client core meets Qt.
add_library(client_window STATIC ClientDlg.cpp)
target_include_directories(client_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# client_core: the window owns the core and is its view. app_glue: the shared
# main-window base (template layout, window menu, log, message box).
# Qt6::Widgets: the window is a QDialog; only window targets may link it.
target_link_libraries(client_window PUBLIC client_core app_glue Qt6::Widgets)
