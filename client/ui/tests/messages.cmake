# The "Messages" window: its rules without widgets and the window offscreen, over real
# message stores in a temporary folder.
talvorine_add_test(client_ui_messages_test
  SOURCES messages_page_test.cpp messages_window_test.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_ui_messages_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests)

# The windows joined to the main window, offscreen; a message through the real server.
set(client_ui_messages_wiring_libs Talvorine::ClientUi Talvorine::QtTestSupport)
if(TARGET talvorine_server_harness)
  list(APPEND client_ui_messages_wiring_libs talvorine_server_harness)
endif()
talvorine_add_test(client_ui_messages_wiring_test
  SOURCES messages_wiring_test.cpp main_offscreen.cpp
  LIBS ${client_ui_messages_wiring_libs} TIMEOUT 180)
target_include_directories(client_ui_messages_wiring_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/session/tests)
if(TARGET talvorine_server_harness)
  target_compile_definitions(client_ui_messages_wiring_test PRIVATE TALVORINE_WITH_SERVER_HARNESS)
endif()

# The window with prepared messages, for scripts/screenshots.sh (not a test).
add_executable(messages_gallery messages_gallery.cpp)
target_link_libraries(messages_gallery PRIVATE Talvorine::ClientUi Talvorine::Options)
