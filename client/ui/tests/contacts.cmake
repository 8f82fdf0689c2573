# The contact list: its rules and commands without a display, the group bar offscreen, and
# the status polling against the real server.
talvorine_add_test(client_contacts_test
  SOURCES contacts_test_main.cpp contacts_rules_test.cpp contacts_bar_test.cpp
  LIBS Talvorine::ClientUi)
target_include_directories(client_contacts_test PRIVATE
  ${PROJECT_SOURCE_DIR}/client/data/tests ${PROJECT_SOURCE_DIR}/mailpoll/tests)
