#pragma once
// The contract with the messenger client: the poller's single-instance channel, which also
// receives the client's messages, and the client's channel, to which the poller announces mail.

#include <optional>
#include <string>
#include <string_view>

#include "talvorine/platform/local_channel.h"

namespace talvorine::mailpoll {

inline constexpr std::string_view PollerChannelBase = platform::PostSentryChannelBase;
inline constexpr std::string_view ClientChannelBase = platform::ClientChannelBase;
inline constexpr std::string_view EmbeddingArgument = "-Embedding";

enum class ClientMessage {
    Close = 1,    // the client exits: the poller closes
    Show = 2,     // the client's "Post Sentry" command: show and activate the window
    NewMail = 3,  // from the poller: mail found while its window is hidden or minimised
};

// "1", "2" or "3"; anything else is nullopt.
std::optional<ClientMessage> ParseClientMessage(std::string_view line);
std::string ClientMessageLine(ClientMessage message);

// The per-desktop channel names (TALVORINE_POSTSENTRY_CHANNEL and TALVORINE_CLIENT_CHANNEL
// rename them).
std::string PollerChannelName();
std::string ClientChannelName();

// Sends "3" to the client's channel. False when the client does not run.
bool AnnounceNewMail(std::string_view clientChannel);

}  // namespace talvorine::mailpoll
