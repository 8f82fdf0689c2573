# The main window with its contact list, chat and file-transfer windows joined, offscreen; the
# online part against the real server.
set(client_ui_wiring_libs Talvorine::ClientUi Talvorine::QtTestSupport)
if(TARGET talvorine_server_harness)
  list(APPEND client_ui_wiring_libs talvorine_server_harness)
endif()
talvorine_add_test(client_ui_wiring_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/main_window_contacts_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS ${client_ui_wiring_libs} TIMEOUT 240)
target_include_directories(client_ui_wiring_test PRIVATE ${PROJECT_SOURCE_DIR}/client/session/tests)
if(TARGET talvorine_server_harness)
  target_compile_definitions(client_ui_wiring_test PRIVATE TALVORINE_WITH_SERVER_HARNESS)
endif()
