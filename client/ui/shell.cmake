# The main window speaks to the mailbox poller through the poller's own contract (channel
# names and lines), kept in one place in the poller's core library.
target_link_libraries(talvorine_client_ui PUBLIC Talvorine::MailPoll)
