#include "talvorine/mailpoll/client_link.h"

#include "talvorine/platform/local_channel.h"

namespace talvorine::mailpoll {

std::optional<ClientMessage> ParseClientMessage(std::string_view line) {
    if (line == "1") {
        return ClientMessage::Close;
    }
    if (line == "2") {
        return ClientMessage::Show;
    }
    if (line == "3") {
        return ClientMessage::NewMail;
    }
    return std::nullopt;
}

std::string ClientMessageLine(ClientMessage message) {
    return std::to_string(static_cast<int>(message));
}

std::string PollerChannelName() {
    return platform::PostSentryChannelName();
}

std::string ClientChannelName() {
    return platform::ClientChannelName();
}

bool AnnounceNewMail(std::string_view clientChannel) {
    return platform::SendChannelLine(clientChannel, ClientMessageLine(ClientMessage::NewMail));
}

}  // namespace talvorine::mailpoll
