# The program TalvorineMessenger: a thin main over the window library.
add_executable(TalvorineMessenger main.cpp)
target_link_libraries(TalvorineMessenger PRIVATE Talvorine::ClientUi Talvorine::Options)
install(TARGETS TalvorineMessenger RUNTIME DESTINATION bin COMPONENT client)

# The client starts the mailbox poller from its own folder, as the installed programs lie side
# by side; in the build tree a link beside the client stands for that.
add_dependencies(TalvorineMessenger TalvorinePostSentry)
add_custom_command(TARGET TalvorineMessenger POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:TalvorinePostSentry>
          $<TARGET_FILE_DIR:TalvorineMessenger>/TalvorinePostSentry
  VERBATIM)
