# Users' pictures: the rules and files without a display, the downloads against a scripted
# loopback peer, the dialogs offscreen; and the upload and download against the real server.
talvorine_add_test(client_icons_test
  SOURCES contacts_test_main.cpp icons_test.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_icons_test PRIVATE ${PROJECT_SOURCE_DIR}/client/data/tests)

if(TARGET talvorine_server_harness)
  talvorine_add_test(client_icons_end_to_end_test
    SOURCES contacts_test_main.cpp icons_end_to_end_test.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 120)
  target_include_directories(client_icons_end_to_end_test PRIVATE
    ${PROJECT_SOURCE_DIR}/client/data/tests)
endif()

# The window pictures of scripts/screenshots.d/45-icons.sh.
add_executable(icons_gallery icons_gallery.cpp)
target_link_libraries(icons_gallery PRIVATE Talvorine::ClientUi Talvorine::Options)
