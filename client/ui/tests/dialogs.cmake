# The client's dialogs offscreen: options, Away Mode, Shut Down, login account selection,
# help, sounds and shipped data without a server; the wizard and the password change against
# the real server; and pictures of every dialog for a person to look at.
set(client_ui_test_support ${PROJECT_SOURCE_DIR}/mailpoll/tests)

talvorine_add_test(client_ui_dialogs_test
  SOURCES dialogs_test.cpp options_test.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi)
target_include_directories(client_ui_dialogs_test PRIVATE ${client_ui_test_support})
set_target_properties(client_ui_dialogs_test PROPERTIES AUTOMOC ON)
add_dependencies(client_ui_dialogs_test talvorine_client_sounds)

