#pragma once
// Named kernel objects (events, single-instance mutexes) and window-message broadcasts as
// local channels: an abstract-namespace Unix stream socket bound under the object's name.
// The object exists exactly while a process holds the listener; "open" is a successful
// connect, "set" or "broadcast" is connect + one line ending in "\n".

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace talvorine::platform {

// Who may talk to a listener, checked with SO_PEERCRED on every connection.
enum class PeerPolicy {
    SameUser,        // the client's and the poller's channels
    RootOrSameUser,  // the server's stop event
};

// The credential check on its own, so it can be tested without another user.
bool IsPeerAllowed(PeerPolicy policy, uid_t peerUid, uid_t ownUid);

// A per-desktop name: the base name, "/" and the numeric user id ("Talvorine PostSentry/1000").
std::string DesktopChannelName(std::string_view baseName);

// The desktop channels of the messenger client and the mailbox poller. Each may be renamed by
// an environment variable (TALVORINE_CLIENT_CHANNEL, TALVORINE_POSTSENTRY_CHANNEL), so that
// tests run programs side by side without meeting the user's own; both programs read them here.
inline constexpr std::string_view ClientChannelBase = "Talvorine Messenger";
inline constexpr std::string_view PostSentryChannelBase = "Talvorine PostSentry";
inline constexpr const char* ClientChannelVariable = "TALVORINE_CLIENT_CHANNEL";
inline constexpr const char* PostSentryChannelVariable = "TALVORINE_POSTSENTRY_CHANNEL";
std::string ClientChannelName();
std::string PostSentryChannelName();

// The holder of a name. Move-only; the name is released when it is destroyed.
class ChannelListener {
public:
    // nullopt when another process (or another listener here) holds the name already.
    // Throws std::invalid_argument for an empty name or one over 107 bytes, and
    // std::system_error when the socket cannot be made for any other reason.
    static std::optional<ChannelListener> TryCreate(std::string_view name, PeerPolicy policy);

    ChannelListener(ChannelListener&& other) noexcept;
    ChannelListener& operator=(ChannelListener&& other) noexcept;
    ChannelListener(const ChannelListener&) = delete;
    ChannelListener& operator=(const ChannelListener&) = delete;
    ~ChannelListener();

    const std::string& Name() const { return m_name; }

    // Waits for the next line from an allowed peer (without the "\n"). Refused peers are
    // reported to the refusal handler and skipped. nullopt on time-out or after Wake().
    // A negative time-out waits without limit. Each peer has about a second to deliver one line
    // of at most 255 bytes and its "\n"; a peer that sends nothing (an "open" probe), closes
    // early or sends more is skipped.
    std::optional<std::string> WaitLine(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

    // Wakes a thread blocked in WaitLine from another thread (shutdown, never close); later
    // calls of WaitLine return nullopt at once. From then on connects are refused, so the name
    // no longer "exists" for others, yet it stays bound until the listener is destroyed.
    void Wake();

    // Where refusals are reported ("refused a connection from uid %u on \"<name>\""). Default:
    // stderr. Called on the thread that runs WaitLine.
    void SetRefusalHandler(void (*handler)(const std::string& message));

private:
    ChannelListener(int fd, std::string name, PeerPolicy policy);
    int m_fd = -1;
    std::string m_name;
    PeerPolicy m_policy = PeerPolicy::SameUser;
    void (*m_onRefused)(const std::string&) = nullptr;
};

// Reads a listener's lines on a thread of its own and hands each to `onLine`, on that thread,
// until it is destroyed (which wakes the listener and joins the thread).
class ChannelReader {
public:
    ChannelReader(ChannelListener& listener, std::function<void(const std::string&)> onLine);
    ~ChannelReader();
    ChannelReader(const ChannelReader&) = delete;
    ChannelReader& operator=(const ChannelReader&) = delete;

private:
    ChannelListener& m_listener;
    std::thread m_thread;
};

// "Open": true when some process holds the name.
bool ChannelExists(std::string_view name);

// "Set" / "broadcast": connects and sends `line` + "\n". False when nobody holds the name or
// the line could not be sent, and for a line the listener would not take (one holding "\n" or
// longer than 255 bytes). A listener whose backlog is full is waited for about two seconds.
bool SendChannelLine(std::string_view name, std::string_view line);

}  // namespace talvorine::platform
