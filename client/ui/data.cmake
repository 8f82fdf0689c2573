# The client's shipped data: the nine event sounds (synthesised at build time by our own
# program), the help pages, the application icon and the desktop entry. Installed read-only
# under <prefix>/share/talvorine-messenger/; a program run from the build tree finds the
# build's sounds and the source tree's help instead.
include(GNUInstallDirs)

add_executable(talvorine_make_sounds data/make_sounds.cpp)
target_link_libraries(talvorine_make_sounds PRIVATE Talvorine::ClientData Talvorine::Platform
                                                    Talvorine::Options)

set(client_ui_data_build ${CMAKE_CURRENT_BINARY_DIR}/data)
set(client_ui_sounds Startup.wav Message.wav MsgSent.wav Chat.wav File.wav NewMail.wav
                     FileSent.wav Online.wav Shutdown.wav)
list(TRANSFORM client_ui_sounds PREPEND ${client_ui_data_build}/Sound/ OUTPUT_VARIABLE
     client_ui_sound_files)
add_custom_command(
  OUTPUT ${client_ui_sound_files}
  COMMAND talvorine_make_sounds ${client_ui_data_build}/Sound
  DEPENDS talvorine_make_sounds
  COMMENT "Synthesising the client's event sounds")
add_custom_target(talvorine_client_sounds ALL DEPENDS ${client_ui_sound_files})
add_dependencies(talvorine_client_ui talvorine_client_sounds)

set(TALVORINE_WEB_SITE "https://www.talvorine.com/" CACHE STRING
    "The maker's web site the client's about box links to")
set(TALVORINE_SUPPORT_MAIL "support@talvorine.com" CACHE STRING
    "The support mail address the client's about box links to")
target_compile_definitions(talvorine_client_ui PRIVATE
  TALVORINE_BUILD_DATA_DIR="${client_ui_data_build}"
  TALVORINE_SOURCE_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
  TALVORINE_WEB_SITE="${TALVORINE_WEB_SITE}"
  TALVORINE_SUPPORT_MAIL="${TALVORINE_SUPPORT_MAIL}"
  TALVORINE_VERSION="${PROJECT_VERSION}")

set(client_ui_share ${CMAKE_INSTALL_DATADIR}/talvorine-messenger)
install(FILES ${client_ui_sound_files} DESTINATION ${client_ui_share}/Sound
        PERMISSIONS OWNER_READ GROUP_READ WORLD_READ COMPONENT client)
install(DIRECTORY data/help/ DESTINATION ${client_ui_share}/help
        FILE_PERMISSIONS OWNER_READ GROUP_READ WORLD_READ COMPONENT client)
install(FILES data/talvorine-messenger.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT client)
install(FILES data/talvorine-messenger.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
