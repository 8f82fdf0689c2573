#pragma once
// Chat: the request relayed through the server, the answer, and the conversation over a
// direct connection (the requester listens, the answering side connects). Each request leaves
// a chat file on both sides with the request, the answer and the transcript.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "talvorine/client/session/data_ports.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/client/session/worker.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::session {

// Chat lines hold at most 4095 bytes and the text of requests and answers 256.
inline constexpr std::size_t MaxChatLine = 4095;
inline constexpr std::size_t MaxChatRequestText = protocol::Size::ChatText - 1;

// An established chat: the direct connection and the chat file of this side.
struct ChatLink {
    protocol::Socket socket;
    std::filesystem::path chatFile;  // empty when it could not be created
};

struct ChatStepResult {
    std::optional<ChatLink> link;  // accepted: the chat can start
    std::string failure;           // the text to show (empty when cancelled or denied by us)
    bool cancelled = false;        // the window was closing
};

// The "Chat Request" window's thread.
class ChatRequester {
public:
    ChatRequester(RequestChannel& channel, ChatFiles& files, std::string peerId,
                  std::string requestText);
    // Listens, sends request 45, waits for the peer's connection and answer, writes the chat
    // file. Runs on the calling (worker) thread.
    ChatStepResult Run();
    // The window is closing: wakes a blocked accept or receive.
    void Cancel();

private:
    RequestChannel& m_channel;
    ChatFiles& m_files;
    std::string m_peerId;
    std::string m_text;
    SocketWaker m_waker;
    std::atomic<bool> m_closing{false};
};

// A relayed chat request as the invited side reads it.
struct IncomingChatRequest {
    std::string requesterId;
    std::uint32_t address = 0;  // network byte order
    std::uint16_t port = 0;
    std::string text;

    static IncomingChatRequest From(const protocol::ChatRequest& request);
    std::string AddressText() const;  // dotted
};

// The "Incoming Chat Request" window's side.
class ChatAnswerer {
public:
    // Creates the chat file (direction 1, accepted 0).
    ChatAnswerer(ChatFiles& files, IncomingChatRequest request);
    // The answer thread: connects to the requester, sends the answer with the reply text and
    // records it in the chat file. Accepted: the link; denied: no link and no failure.
    ChatStepResult Answer(bool accept, std::string_view replyText);
    void Cancel();
    const IncomingChatRequest& Request() const { return m_request; }
    const std::filesystem::path& ChatFile() const { return m_chatFile; }

private:
    ChatFiles& m_files;
    IncomingChatRequest m_request;
    std::filesystem::path m_chatFile;
    SocketWaker m_waker;
    std::atomic<bool> m_closing{false};
};

// What the chat reader reports to the "Chat" window (from the reader thread).
class ChatEvents {
public:
    virtual ~ChatEvents() = default;
    // A line "nickname: text\r\n" was appended to the transcript (also the own lines).
    virtual void LineAdded(std::string_view line) = 0;
    // "%s has quit." with the peer's nickname.
    virtual void PeerLeft(const std::string& text) = 0;
    // The connection failed with this text.
    virtual void ConnectionFailed(const std::string& text) = 0;
};

struct ChatSendResult {
    enum class Status { Sent, Empty, TooLong, Failed };
    Status status = Status::Sent;
    std::string error;  // "Not connected", the too-long text or the socket error text
};

// The "Chat" window's connection: one reader thread; sending happens on the caller's thread.
class ChatSession {
public:
    ChatSession(ChatLink link, ChatFiles& files, std::string ownNickname, std::string peerNickname,
                ChatEvents& events);
    ~ChatSession();
    ChatSession(const ChatSession&) = delete;
    ChatSession& operator=(const ChatSession&) = delete;

    void Start();
    // "&Send": white space only is not sent (Empty: beep); a line longer than 4095 bytes is
    // refused whole (TooLong) and the input stays.
    ChatSendResult Send(std::string_view text);
    bool Connected() const { return m_connected.load(); }
    // Cancel or Esc: asks "Are you sure to quit?"; closes when `confirm` says yes.
    bool RequestClose(const std::function<bool(std::string_view question)>& confirm,
                      const std::function<void()>& dispatch = {});
    // The window is destroyed: "bye-bye!" when the reader still runs, wait for it, save the
    // transcript into the chat file.
    void Close(const std::function<void()>& dispatch = {});
    std::string Transcript() const;
    const std::string& PeerNickname() const { return m_peerNickname; }

private:
    void ReaderBody();
    void Append(const std::string& line);

    protocol::Socket m_socket;
    std::filesystem::path m_chatFile;
    ChatFiles& m_files;
    std::string m_ownNickname;
    std::string m_peerNickname;
    ChatEvents& m_events;
    std::atomic<bool> m_connected{true};
    std::atomic<bool> m_closing{false};
    bool m_closed = false;
    mutable std::mutex m_transcriptMutex;
    std::string m_transcript;
    Worker m_reader;
};

}  // namespace talvorine::client::session
