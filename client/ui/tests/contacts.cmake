# The contact list: its rules and commands without a display, the group bar offscreen, and
# the status polling against the real server.
talvorine_add_test(client_contacts_test
  SOURCES contacts_test_main.cpp contacts_rules_test.cpp contacts_bar_test.cpp window_docker_test.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)
target_include_directories(client_contacts_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests ${PROJECT_SOURCE_DIR}/mailpoll/tests)

# Against the real server: the quick test wakes the poll (login, F5, logout); the slow one waits
# for a whole 30 s pass.
if(TARGET talvorine_server_harness)
  talvorine_add_test(client_contacts_end_to_end_test
    SOURCES contacts_test_main.cpp contacts_end_to_end_test.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 120)
  talvorine_add_test(client_contacts_slow_test
    SOURCES contacts_test_main.cpp contacts_slow_test.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness SLOW)
  foreach(name IN ITEMS client_contacts_end_to_end_test client_contacts_slow_test)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/client/session/tests
                                               ${PROJECT_SOURCE_DIR}/mailpoll/tests)
  endforeach()
endif()

# The window pictures of scripts/screenshots.d/20-contacts.sh.
add_executable(contacts_gallery contacts_gallery.cpp)
target_link_libraries(contacts_gallery PRIVATE Talvorine::ClientUi Talvorine::Options)
