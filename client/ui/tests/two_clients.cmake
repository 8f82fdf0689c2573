# Two real client programs and the real server on a private Xvfb display and session bus,
# driven through the accessibility bus: chats and file transfers from end to end.
if(TARGET talvorine_server_harness)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TALVORINE_ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0)
  pkg_check_modules(TALVORINE_TEST_XCB REQUIRED IMPORTED_TARGET xcb)
  talvorine_add_test(client_ui_two_clients_test SLOW TIMEOUT 600
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/two_clients_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/two_clients_messages_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/two_clients_desktop.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness
         PkgConfig::TALVORINE_ATSPI PkgConfig::TALVORINE_TEST_XCB)
  add_dependencies(client_ui_two_clients_test TalvorineMessenger)
  target_compile_definitions(client_ui_two_clients_test PRIVATE
    MESSENGER_PROGRAM="$<TARGET_FILE:TalvorineMessenger>")
endif()
