# The chat and file-transfer windows of two accounts, offscreen, over a loopback relay.
talvorine_add_test(client_ui_direct_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/direct_windows_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_ui_direct_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests ${PROJECT_SOURCE_DIR}/client/session/tests)
