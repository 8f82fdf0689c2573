# The main window's rules without a display, the window offscreen, and the real program.
talvorine_add_test(client_ui_shell_rules_test SOURCES shell_rules_test.cpp
                   LIBS Talvorine::ClientUi)

set(client_ui_shell_window_libs Talvorine::ClientUi Talvorine::QtTestSupport)
if(TARGET talvorine_server_harness)
  list(APPEND client_ui_shell_window_libs talvorine_server_harness)
endif()
talvorine_add_test(client_ui_shell_window_test SOURCES shell_window_test.cpp
                   LIBS ${client_ui_shell_window_libs} TIMEOUT 240)
if(TARGET talvorine_server_harness)
  target_compile_definitions(client_ui_shell_window_test PRIVATE TALVORINE_WITH_SERVER_HARNESS)

  talvorine_add_test(client_ui_shell_program_test SOURCES shell_program_test.cpp
                     LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness
                     TIMEOUT 240)
  add_dependencies(client_ui_shell_program_test TalvorineMessenger)
  target_compile_definitions(client_ui_shell_program_test PRIVATE
    MESSENGER_PROGRAM="$<TARGET_FILE:TalvorineMessenger>")
endif()
