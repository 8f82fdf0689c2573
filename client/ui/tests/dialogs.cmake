# The client's dialogs offscreen: options, Away Mode, Shut Down, login account selection,
# help, sounds and shipped data without a server; the wizard and the password change against
# the real server; and pictures of every dialog for a person to look at.
talvorine_add_test(client_ui_dialogs_test
  SOURCES dialogs_test.cpp options_test.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
set_target_properties(client_ui_dialogs_test PROPERTIES AUTOMOC ON)
target_compile_definitions(client_ui_dialogs_test PRIVATE TALVORINE_SOURCE_TREE="${PROJECT_SOURCE_DIR}")
add_dependencies(client_ui_dialogs_test talvorine_client_sounds)

if(TARGET talvorine_server_harness)
  talvorine_add_test(client_ui_accounts_test
    SOURCES accounts_test.cpp main_offscreen.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 180)
endif()

talvorine_add_test(client_ui_dialog_pictures
  SOURCES dialog_pictures.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi)
target_compile_definitions(client_ui_dialog_pictures PRIVATE
  DIALOG_PICTURES_DIR="${CMAKE_BINARY_DIR}/dialog-pictures")
