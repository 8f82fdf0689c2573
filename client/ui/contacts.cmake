# The contact list's window docking reserves the screen edge with the window manager's strut
# hints through xcb (Qt offers no call for it); without the library the bar still docks itself.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(TALVORINE_XCB QUIET IMPORTED_TARGET xcb)
endif()
if(TALVORINE_XCB_FOUND)
  target_link_libraries(talvorine_client_ui PRIVATE PkgConfig::TALVORINE_XCB)
  target_compile_definitions(talvorine_client_ui PRIVATE TALVORINE_HAVE_XCB)
endif()
