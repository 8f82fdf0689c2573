# The user wizard and the user information sheet: their rules and windows without a server,
# and the search, the adding, the profiles and the pictures against the real server.
talvorine_add_test(client_directory_test
  SOURCES directory_test.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)

