# The "Send Message" window: its rules and the window offscreen without a server, then end to
# end with the real server (the main window sends, client engines in this process receive).
talvorine_add_test(client_ui_send_message_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/send_message_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_ui_send_message_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/session/tests ${CMAKE_CURRENT_SOURCE_DIR})

if(TARGET talvorine_server_harness)
  talvorine_add_test(client_ui_send_message_online_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/send_message_online_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 300)
  target_include_directories(client_ui_send_message_online_test PRIVATE
    ${PROJECT_SOURCE_DIR}/client/session/tests ${CMAKE_CURRENT_SOURCE_DIR})
endif()
