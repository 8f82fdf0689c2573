# The chat and file-transfer windows of two accounts, offscreen, over a loopback relay.
talvorine_add_test(client_ui_direct_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/direct_windows_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_ui_direct_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests ${PROJECT_SOURCE_DIR}/client/session/tests)

# Pictures of these windows for a person to look at (build/<preset>/window-pictures).
talvorine_add_test(client_ui_window_pictures
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/direct_pictures.cpp ${CMAKE_CURRENT_SOURCE_DIR}/main_offscreen.cpp
  LIBS Talvorine::ClientUi)
target_include_directories(client_ui_window_pictures PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests ${PROJECT_SOURCE_DIR}/client/session/tests)
target_compile_definitions(client_ui_window_pictures PRIVATE
  WINDOW_PICTURES_DIR="${CMAKE_BINARY_DIR}/window-pictures")
