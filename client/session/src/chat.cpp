#include "talvorine/client/session/chat.h"

#include <cctype>

#include "direct_link.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;
using protocol::NetError;

namespace {

bool IsBlank(std::string_view text) {
    for (const char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::filesystem::path CreateChatFileQuietly(ChatFiles& files, std::string_view peerId,
                                            const data::ChatFileHeader& head) {
    try {
        return files.Create(peerId, head);
    } catch (const std::exception&) {
        return {};  // a chat file that cannot be written is no reason to refuse the chat
    }
}

// A failed request or answer: nothing to show when the window was closing.
ChatStepResult StepFailed(bool closing, const char* text) {
    ChatStepResult result;
    result.cancelled = closing;
    if (!closing) {
        result.failure = text;
    }
    return result;
}

}  // namespace

ChatRequester::ChatRequester(RequestChannel& channel, ChatFiles& files, std::string peerId,
                             std::string requestText)
    : m_channel(channel),
      m_files(files),
      m_peerId(std::move(peerId)),
      m_text(platform::CutUtf8(requestText, MaxChatRequestText)) {}

void ChatRequester::Cancel() {
    m_closing = true;
    m_waker.Wake();
}

ChatStepResult ChatRequester::Run() {
    ChatStepResult result;
    WakeableSocket listening(m_waker);
    WakeableSocket direct(m_waker);
    try {
        protocol::ChatRequest request;
        request.address.port = detail::ListenForPeer(listening);
        request.userId = m_peerId;
        request.text = m_text;
        const auto invited = detail::RelayRequest(m_channel, pt::ChatRequest, request.Encode());
        detail::AcceptPeer(listening, direct, invited);  // the window's Cancel wakes it

        std::vector<std::uint8_t> answer(protocol::Capacity::ClientReply);
        const auto header =
            protocol::ReceivePacket(direct.Get(), answer, protocol::Timeout::Default);
        const bool accepted = header.type == pt::Ok;
        const auto answerText = detail::BodyString(header, answer);
        data::ChatFileHeader head;  // its time is set when the file is made
        head.direction = data::ChatDirection::Sent;
        head.requestText = m_text;
        head.accepted = accepted;
        head.reason = accepted ? std::string() : answerText;
        const auto chatFile = CreateChatFileQuietly(m_files, m_peerId, head);
        if (!accepted) {
            result.failure = detail::Format(
                Text::ChatDenied, {answerText.empty() ? Text::NoReasonGiven : answerText});
            return result;
        }
        result.link = ChatLink{direct.Release(), chatFile};
    } catch (const std::exception& e) {
        result = StepFailed(m_closing, e.what());
    }
    return result;
}

IncomingChatRequest IncomingChatRequest::From(const protocol::ChatRequest& request) {
    return IncomingChatRequest{request.userId, request.address.address, request.address.port,
                               request.text};
}

std::string IncomingChatRequest::AddressText() const {
    return detail::DottedAddress(address);
}

ChatAnswerer::ChatAnswerer(ChatFiles& files, IncomingChatRequest request)
    : m_files(files), m_request(std::move(request)) {
    data::ChatFileHeader head;
    head.direction = data::ChatDirection::Received;
    head.requestText = m_request.text;
    m_chatFile = CreateChatFileQuietly(m_files, m_request.requesterId, head);
}

void ChatAnswerer::Cancel() {
    m_closing = true;
    m_waker.Wake();
}

ChatStepResult ChatAnswerer::Answer(bool accept, std::string_view replyText) {
    ChatStepResult result;
    const auto reply = platform::CutUtf8(replyText, MaxChatRequestText);
    WakeableSocket direct(m_waker);
    try {
        detail::ConnectToPeer(direct, m_request.address, m_request.port);
        protocol::SendTextPacket(direct.Get(), accept ? pt::Ok : pt::Failed, reply,
                                 protocol::Timeout::Default);
        if (!m_chatFile.empty()) {
            try {
                m_files.SetAnswer(m_chatFile, accept, accept ? std::string_view() : reply);
            } catch (const std::exception&) {
                // A chat file that cannot be written is silent.
            }
        }
        if (accept) {
            result.link = ChatLink{direct.Release(), m_chatFile};
        }
    } catch (const std::exception& e) {
        result = StepFailed(m_closing, e.what());
    }
    return result;
}

ChatSession::ChatSession(ChatLink link, ChatFiles& files, std::string ownNickname,
                         std::string peerNickname, ChatEvents& events)
    : m_socket(std::move(link.socket)),
      m_chatFile(std::move(link.chatFile)),
      m_files(files),
      m_ownNickname(std::move(ownNickname)),
      m_peerNickname(std::move(peerNickname)),
      m_events(events) {}

ChatSession::~ChatSession() {
    Close();
}

void ChatSession::Start() {
    m_reader.Start([this] { ReaderBody(); });
}

void ChatSession::Append(const std::string& line) {
    {
        std::lock_guard lock(m_transcriptMutex);
        m_transcript += line;
    }
    m_events.LineAdded(line);
}

void ChatSession::ReaderBody() {
    std::vector<std::uint8_t> buffer(protocol::Capacity::ClientNotification);
    try {
        while (!m_closing) {
            const auto header =
                protocol::ReceivePacket(m_socket.Get(), buffer, protocol::Timeout::None);
            if (header.type != pt::Ok) {
                m_connected = false;
                // Further sends show "Not connected"; the descriptor is closed by Close().
                protocol::ShutdownSocket(m_socket.Get());
                m_events.PeerLeft(detail::Format(Text::PeerHasQuit, {m_peerNickname}));
                return;
            }
            Append(m_peerNickname + ": " + detail::BodyString(header, buffer) + "\r\n");
        }
    } catch (const std::exception& e) {
        m_connected = false;
        if (!m_closing) {
            protocol::ShutdownSocket(m_socket.Get());
            m_events.ConnectionFailed(e.what());
        }
    }
}

ChatSendResult ChatSession::Send(std::string_view text) {
    if (!m_connected || m_closed) {
        return {ChatSendResult::Status::Failed, std::string(Text::NotConnected)};
    }
    if (IsBlank(text)) {
        return {ChatSendResult::Status::Empty, {}};
    }
    // NUL ends a line on the wire; what follows it would be lost silently.
    text = text.substr(0, text.find('\0'));
    // The peer reads a line into a 4096-byte buffer and ends the chat on anything longer, and
    // a line cut or split silently is not what the user wrote: it is refused whole.
    if (text.size() > MaxChatLine) {
        return {ChatSendResult::Status::TooLong, std::string(Text::ChatLineTooLong)};
    }
    try {
        protocol::SendTextPacket(m_socket.Get(), pt::Ok, text, protocol::Timeout::Default);
        Append(m_ownNickname + ": " + std::string(text) + "\r\n");
    } catch (const std::exception& e) {
        return {ChatSendResult::Status::Failed, e.what()};
    }
    return {};
}

bool ChatSession::RequestClose(const std::function<bool(std::string_view)>& confirm,
                               const std::function<void()>& dispatch) {
    if (confirm && !confirm(Text::ConfirmQuitChat)) {
        return false;
    }
    Close(dispatch);
    return true;
}

void ChatSession::Close(const std::function<void()>& dispatch) {
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_closing = true;
    if (m_reader.Running()) {
        try {
            protocol::SendTextPacket(m_socket.Get(), pt::Failed, Text::ByeBye,
                                     protocol::Timeout::Default);
        } catch (const std::exception&) {
            // The peer may be gone already.
        }
        protocol::ShutdownSocket(m_socket.Get());
    }
    m_reader.WaitDispatching(dispatch);
    m_socket.Close();
    const auto transcript = Transcript();
    if (!transcript.empty() && !m_chatFile.empty()) {
        try {
            m_files.SaveTranscript(m_chatFile, transcript);
        } catch (const std::exception&) {
            // A file error here is not shown.
        }
    }
}

std::string ChatSession::Transcript() const {
    std::lock_guard lock(m_transcriptMutex);
    return m_transcript;
}

}  // namespace talvorine::client::session
