#pragma once
// The program's start: the "-Embedding" rule, the single-instance channel, which also carries
// the client's messages, the settings and the main window.

#include <QStringList>
#include <string>

#include "talvorine/mailpoll/client_link.h"

namespace talvorine::mailpoll::ui {

inline constexpr std::string_view RefusalText =
    "This program must be executed by Talvorine Messenger.\r\nClick OK to quit now.";

struct PostSentryChannels {
    std::string poller = PollerChannelName();
    std::string client = ClientChannelName();
};

// Runs the poller inside the QApplication that exists; returns the exit code. `arguments` are
// the command line without the program name.
int RunPostSentry(const QStringList& arguments, const PostSentryChannels& channels = {});

}  // namespace talvorine::mailpoll::ui
