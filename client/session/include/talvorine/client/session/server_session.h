#pragma once
// The client's session with the server: login with the listening socket and the connect-back,
// the request and notification connections, the NotificationReader, the KeepAliveThread,
// status changes, logout, the connection-lost notice and the automatic reconnection.
//
// Threads: the caller's thread is the user-interface thread (Connect, Disconnect, SetStatus,
// ReconnectTick, HandleConnectionLost, Shutdown run there). The workers (ConnectWorker,
// DisconnectWorker, NotificationReader, KeepAliveThread, StatusSender) never block on that
// thread except through the synchronous hand-overs of SessionWindow.
// Locks, always taken in this order: SessionMutex, ListMutex, RequestMutex, HistoryMutex.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/data_ports.h"
#include "talvorine/client/session/worker.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::session {

using protocol::OnlineStatus;

struct NetworkSettings {
    std::string server;
    std::uint16_t port = 8000;
    bool autoConnect = true;
    int connectInterval = 5;  // seconds
};

struct Account {
    std::string userId;
    std::string password;
    std::string nickname;
};

// A message handed from the network to the window side, after the received-message path
// has stored it.
struct IncomingMessage {
    enum class Kind { Live, Offline, AutoReply };
    Kind kind = Kind::Live;
    std::string senderId;
    std::vector<std::uint8_t> record;  // the MessageRecord as it arrived
    bool stored = false;               // appended to the received store
    bool newStranger = false;          // the sender was added to "Strangers"
    std::string storageWarning;        // the designed warning when storing failed, else empty
};

struct SessionLocks {
    std::mutex session;        // SessionMutex: connect and disconnect one at a time
    std::mutex list;           // ListMutex: the structure of the contact list
    std::timed_mutex request;  // RequestMutex: one exchange at a time on the request connection
    std::mutex history;        // HistoryMutex: one message-store write at a time (leaf)
};

// The window side of the session. Calls marked "posted" must only queue work for the
// user-interface thread; calls marked "sent" run on the calling worker, which waits for them.
class SessionWindow {
public:
    virtual ~SessionWindow() = default;

    // Connect's account check, on the user-interface thread: the account to log in with, or
    // nullopt when none could be chosen (the engine then calls CloseMainWindow).
    virtual std::optional<Account> CheckAccount() = 0;
    // Posted: the main window should close.
    virtual void CloseMainWindow() {}
    // Any thread: the status display ("Offline", "Online", "Away", "N/A", "Connecting...",
    // "Disconnecting...").
    virtual void ShowStatus(std::string_view /*text*/) {}
    // Sent by the ConnectWorker: error box "Failed to login:\r\n%s" with the server's reason.
    virtual void ShowLoginFailed(const std::string& text) = 0;
    // Posted after a login refused with code 2: let the user choose the login account.
    virtual void ChooseAccount() = 0;
    // Posted by the NotificationReader: the connection is lost (the reason is for logging).
    // The window calls HandleConnectionLost() on its own thread.
    virtual void PostConnectionLost(const std::string& reason) = 0;
    // Sent: a message (live, offline, or an automatic reply) has arrived and been stored.
    virtual void MessageReceived(const IncomingMessage& message) = 0;
    // Sent: relayed chat and file requests (requester id and address filled in by the server).
    virtual void ChatRequestReceived(const protocol::ChatRequest& request) = 0;
    virtual void FileRequestReceived(const protocol::FileRequest& request) = 0;
    // Any thread: the contact statuses should be polled again.
    virtual void WakeStatusPoller() {}
    // Any thread: the away text of the profile ("Status"/"Away"), read at this moment.
    virtual std::string AwayText() = 0;
    // User-interface thread: the "Away Mode" dialog; true when confirmed.
    virtual bool ConfirmAwayMode() = 0;
    // User-interface thread: a warning box (a thread that could not be created).
    virtual void ShowWarning(const std::string& text) = 0;
    // User-interface thread, while it waits for a worker: serve queued work meanwhile.
    virtual void DispatchWhileWaiting() {}
};

// Ties received messages to the data layer: "Strangers", the received store, the unread count.
class IncomingMessages {
public:
    IncomingMessages(ContactBook& contacts, MessageHistory& history, SessionLocks& locks)
        : m_contacts(contacts), m_history(history), m_locks(locks) {}

    // nullopt for a record of 36 bytes or less (ignored) and for an offline message that is
    // already in the received store (a repeated delivery); else the message as stored.
    std::optional<IncomingMessage> Deliver(IncomingMessage::Kind kind, std::string senderId,
                                           std::span<const std::uint8_t> record);
    // The contact's nickname (the id when the user is not a contact).
    std::string NicknameOf(std::string_view userId);
    bool IsContact(std::string_view userId);

    // Store operations one at a time (the stores refuse a second writer).
    void AppendSent(std::string_view peerId, std::span<const std::uint8_t> record);

private:
    ContactBook& m_contacts;
    MessageHistory& m_history;
    SessionLocks& m_locks;
};

// Result of one request-and-reply exchange on the request connection.
struct Reply {
    std::uint8_t code = 0;
    std::string text;  // the reply body as text
};

// Exchanges with the server that the chat and file requesters need; ServerSession is one,
// tests of the direct connections may put a relay of their own in its place.
class RequestChannel {
public:
    virtual ~RequestChannel() = default;
    // Sends one request and reads its reply under RequestMutex (waited for without limit).
    // Throws protocol::NetError on a socket failure.
    virtual Reply Exchange(std::uint8_t type, std::span<const std::uint8_t> body) = 0;
};

class ServerSession : public RequestChannel {
public:
    ServerSession(SessionWindow& window, ContactBook& contacts, MessageHistory& history,
                  NetworkSettings settings);
    ~ServerSession() override;
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // --- user-interface thread ---
    // Starts a ConnectWorker unless connected, connecting or disconnecting.
    void Connect();
    // Starts a DisconnectWorker (logout) when connected.
    void Disconnect();
    // Online, Away (asks ConfirmAwayMode) or N/A (shown at once); nothing while offline.
    void SetStatus(OnlineStatus status);
    // The 500 ms reconnect timer; `menuTracking` defers the reconnection.
    void ReconnectTick(bool menuTracking = false);
    // The window's handling of the connection-lost notice.
    void HandleConnectionLost();
    // Quitting: logout when connected, wake every blocking call and wait for every worker, up
    // to 10 s each while serving the window's queue. Runs once. A worker that still has not
    // ended is left running rather than killed (see WorkersLeftBehind).
    void Shutdown();
    // True after a Shutdown that had to leave a worker running: the session, and everything
    // handed to its constructor, must then never be destroyed; the process ends instead.
    bool WorkersLeftBehind() const { return m_workersLeftBehind.load(); }
    void SetNetworkSettings(NetworkSettings settings);

    // --- any thread ---
    bool Connected() const { return m_connected.load(); }
    bool Connecting() const { return m_connecting.load(); }
    bool Disconnecting() const { return m_disconnecting.load(); }
    bool Quitting() const { return m_quitting.load(); }
    bool ReconnectWanted() const { return m_reconnectWanted.load(); }
    OnlineStatus Status() const { return m_status.load(); }
    bool WorkersIdle() const;  // no connect, disconnect or status worker runs
    Account CurrentAccount() const;
    NetworkSettings Settings() const;

    SessionLocks& Locks() { return m_locks; }
    IncomingMessages& Incoming() { return m_incoming; }
    SessionWindow& Window() { return m_window; }
    // The request connection; use only while holding Locks().request.
    protocol::SocketHandle RequestSocket() const { return m_request.Get(); }

    Reply Exchange(std::uint8_t type, std::span<const std::uint8_t> body) override;

    static std::string_view StatusText(OnlineStatus status);

private:
    void ConnectWorkerBody();
    bool Login(const Account& account, const NetworkSettings& settings);
    void NotificationReaderBody();
    void HandleNotification(const protocol::PacketHeader& header,
                            std::span<const std::uint8_t> body, std::vector<std::uint8_t>& record);
    void KeepAliveBody();
    // Under RequestMutex: a keep-alive that tells the server how many offline messages were
    // taken; only when that changed, unless `always` (it then serves as the keep-alive too).
    void ConfirmOfflineMessages(bool always = false);
    void DisconnectWorkerBody();
    void StartStatusSender(OnlineStatus status);
    void StatusSenderBody(OnlineStatus status);
    // Wakes the reader and any request holder, waits for the reader, closes both connections.
    void EndConnections(bool onUserInterfaceThread);
    void ShowCurrentStatus();
    void WaitWorker(Worker& worker, std::chrono::milliseconds timeout);

    SessionWindow& m_window;
    SessionLocks m_locks;
    IncomingMessages m_incoming;

    mutable std::mutex m_stateMutex;  // guards m_account and m_settings (leaf)
    Account m_account;
    NetworkSettings m_settings;

    std::atomic<OnlineStatus> m_status{OnlineStatus::Offline};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_connecting{false};
    std::atomic<bool> m_disconnecting{false};
    std::atomic<bool> m_quitting{false};
    std::atomic<bool> m_reconnectWanted{true};
    std::atomic<bool> m_workersLeftBehind{false};
    // The reader of the current login has ended on a failure (set before its notice).
    std::atomic<bool> m_notificationLost{false};
    // Offline messages taken since the login, and how many of them the server was told of.
    std::atomic<std::uint32_t> m_offlineTaken{0};
    std::atomic<std::uint32_t> m_offlineConfirmed{0};
    static constexpr std::uint32_t OfflineConfirmEvery = 32;
    unsigned m_reconnectTicks = 0;  // user-interface thread only
    int m_keepAliveSeconds = 0;     // KeepAliveThread only

    // Request connection: used and closed only under RequestMutex, opened and woken under
    // SessionMutex. Notification connection: used by the reader alone.
    protocol::Socket m_request;
    protocol::Socket m_notification;
    SocketWaker m_loginWaker;  // the listening socket and the request connection during login

    Worker m_connectWorker;
    Worker m_disconnectWorker;
    Worker m_reader;
    Worker m_keepAlive;
    std::mutex m_statusWorkersMutex;
    std::list<Worker> m_statusWorkers;

    std::mutex m_keepAliveMutex;
    std::condition_variable m_keepAliveWake;
    bool m_shutdownDone = false;
};

}  // namespace talvorine::client::session
