# The ready-made user pictures: 32x32 bitmaps with 256 colours on magenta, drawn at build time
# by our own program (as the sounds are), so the sources hold no binary files. Installed
# read-only under <prefix>/share/talvorine-messenger/Icons; the client copies the missing ones
# into its folder's "Icons", where the picture chooser starts.
add_executable(talvorine_make_pictures data/make_pictures.cpp)
target_link_libraries(talvorine_make_pictures PRIVATE Qt6::Gui Talvorine::Options)

set(client_ui_pictures_stamp ${client_ui_data_build}/pictures.made)
add_custom_command(
  OUTPUT ${client_ui_pictures_stamp}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${client_ui_data_build}/Icons
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:talvorine_make_pictures> ${client_ui_data_build}/Icons
  COMMAND ${CMAKE_COMMAND} -E touch ${client_ui_pictures_stamp}
  DEPENDS talvorine_make_pictures
  COMMENT "Drawing the client's ready-made user pictures")
add_custom_target(talvorine_client_pictures ALL DEPENDS ${client_ui_pictures_stamp})
add_dependencies(talvorine_client_ui talvorine_client_pictures)

install(DIRECTORY ${client_ui_data_build}/Icons/ DESTINATION ${client_ui_share}/Icons
        FILE_PERMISSIONS OWNER_READ GROUP_READ WORLD_READ COMPONENT client
        FILES_MATCHING PATTERN "*.bmp")
