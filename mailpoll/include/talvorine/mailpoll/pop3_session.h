#pragma once
// The poller's POP3 client: one conversation with one server (USER, PASS, STAT, LIST, TOP,
// DELE, QUIT), used by one thread at a time; Abort() is the one call another thread may make.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/protocol/socket.h"

namespace talvorine::mailpoll {

// Last-error codes a session reports besides the socket layer's own.
namespace Pop3Error {
inline constexpr int TimedOut = 10060;         // no reply within the reply time-out
inline constexpr int NegativeReply = 10043;    // the server answered with something other than +OK
inline constexpr int InvalidArgument = 10022;  // host name not resolved, bad message number
inline constexpr int ReplyTooLong = 10055;     // a reply exceeded the reply limit
}  // namespace Pop3Error

// The most a single reply may hold. A LIST of 100,000 messages is under 2 MB; a TOP header is
// a few kilobytes. A server that never sends the terminator is cut off here.
inline constexpr std::size_t DefaultReplyLimit = std::size_t{8} << 20;

inline constexpr std::string_view ReplyTooLongText = "The server's reply is too long.";

struct MailboxStatistics {
    std::uint32_t count = 0;
    std::uint64_t totalSize = 0;  // a large mailbox passes 4 GB
};

class Pop3Session {
public:
    Pop3Session() = default;
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;
    // Disconnects (QUIT) when still connected.
    ~Pop3Session();

    // The longest silence allowed while a reply is read (default 2000 ms).
    void SetReplyTimeout(std::chrono::milliseconds timeout) { m_replyTimeout = timeout; }
    std::chrono::milliseconds ReplyTimeout() const { return m_replyTimeout; }
    void SetReplyLimit(std::size_t bytes) { m_replyLimit = bytes; }

    // TCP connect, greeting, USER, PASS. Any failure closes the session.
    bool Connect(std::string_view host, std::string_view user, std::string_view password,
                 std::uint16_t port);
    std::optional<MailboxStatistics> Statistics();
    // Message numbers count from 1.
    std::optional<std::uint32_t> MessageSize(std::uint32_t number);
    // The header lines of the message (TOP n 0) without the status line.
    std::optional<std::string> MessageHeader(std::uint32_t number);
    bool Delete(std::uint32_t number);
    // QUIT when connected (which commits deletions), then closes the socket in any case.
    // True only when QUIT was answered with +OK.
    bool Disconnect();

    // From another thread: wakes a pending read or write of the owner, which then fails.
    void Abort();

    bool IsConnected() const { return m_connected; }
    // Connected and in step with the server (no time-out or socket failure so far).
    bool IsUsable() const { return m_connected && !m_broken; }
    const std::string& LastReplyText() const { return m_lastReplyText; }
    int LastError() const { return m_lastError; }
    std::uint32_t MessageCount() const { return m_messageCount; }

    // The value of the `occurrence`-th (0 = first) field `name` in a header, folded lines
    // joined, tabs turned into blanks, outer blanks removed; empty when absent.
    static std::string HeaderField(std::string_view header, std::string_view name,
                                   int occurrence = 0);

private:
    bool Fail(int code, std::string text);
    bool SendCommand(std::string_view command, std::string_view argument = {});
    std::optional<std::string> ReadReply(std::size_t firstSize, std::string_view terminator,
                                         std::size_t growth);
    std::optional<std::string> ReadLine(std::size_t firstSize = 1000);
    bool List();
    void PublishSocket(protocol::SocketHandle handle);
    void CloseSocket();

    protocol::SocketHandle m_socket = protocol::InvalidSocket;  // written by the owner only
    std::mutex m_socketMutex;  // guards the handle against Abort() from another thread
    bool m_aborted = false;    // under m_socketMutex

    bool m_connected = false;
    bool m_broken = false;  // the conversation is out of step (time-out, socket error)
    bool m_statDone = false;
    bool m_listDone = false;
    std::uint32_t m_messageCount = 0;
    std::vector<std::uint32_t> m_messageSizes;
    std::vector<std::uint8_t> m_chunk;  // receive buffer, kept between replies
    std::string m_lastReplyText;
    int m_lastError = 0;
    std::chrono::milliseconds m_replyTimeout{2000};
    std::size_t m_replyLimit = DefaultReplyLimit;
};

}  // namespace talvorine::mailpoll
