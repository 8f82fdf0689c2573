# The chat and file-transfer history windows, offscreen, over real files in a temporary folder.
talvorine_add_test(client_ui_history_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/history_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_ui_history_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests)
