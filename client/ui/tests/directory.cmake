# The user wizard and the user information sheet: their rules and windows without a server,
# and the search, the adding, the profiles and the pictures against the real server.
talvorine_add_test(client_directory_test
  SOURCES directory_test.cpp main_offscreen.cpp
  LIBS Talvorine::ClientUi Talvorine::QtTestSupport)

if(TARGET talvorine_server_harness)
  talvorine_add_test(client_directory_end_to_end_test
    SOURCES directory_end_to_end_test.cpp main_offscreen.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 180)
endif()

# Opened from the real main window (its menus), against the real server.
if(TARGET talvorine_server_harness)
  talvorine_add_test(client_directory_main_window_test
    SOURCES directory_main_window_test.cpp main_offscreen.cpp
    LIBS Talvorine::ClientUi Talvorine::QtTestSupport talvorine_server_harness TIMEOUT 180)
endif()
