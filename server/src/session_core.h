#pragma once
// State shared by the listeners, the session threads and the account threads. Every thread
// keeps the core alive through a shared pointer, so a thread that shutdown had to give up on
// never touches freed memory when it finally ends.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "online_users.h"
#include "talvorine/protocol/socket.h"
#include "waiting_connections.h"

namespace talvorine::server {

struct ServerContext;
class Session;

class SessionCore {
public:
    explicit SessionCore(ServerContext& context);
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    ServerContext& Context() { return m_context; }
    OnlineUsers& Users() { return m_users; }
    // Connections of the session port before their login, and of the account port before
    // their request arrived.
    WaitingConnections& LoginGate() { return m_loginGate; }
    WaitingConnections& AccountGate() { return m_accountGate; }

    // True once the host began to stop the server.
    bool Stopping() const;
    void SetStopping() { m_stopping.store(true); }

    // Running session threads, logged in or not.
    void AddSession(const std::shared_ptr<Session>& session);
    void RemoveSession(const std::shared_ptr<Session>& session);
    std::vector<std::shared_ptr<Session>> LiveSessions() const;
    std::size_t LiveSessionCount() const;
    // False when the session's thread was still running at the deadline.
    bool WaitForSession(const std::shared_ptr<Session>& session,
                        std::chrono::steady_clock::time_point deadline);

    // Running account threads and their sockets, so that shutdown can wake them.
    void AddAccountConnection(protocol::SocketHandle socket);
    void RemoveAccountConnection(protocol::SocketHandle socket);
    void WakeAccountConnections();
    bool WaitForAccountConnections(std::chrono::steady_clock::time_point deadline);

private:
    ServerContext& m_context;
    OnlineUsers m_users;
    WaitingConnections m_loginGate;
    WaitingConnections m_accountGate;
    std::atomic<bool> m_stopping{false};

    // Guards the two sets below; a leaf lock, held for set operations and shutdown() calls.
    mutable std::mutex m_threadsMutex;
    std::condition_variable m_threadEnded;
    std::unordered_set<std::shared_ptr<Session>> m_liveSessions;
    std::unordered_set<protocol::SocketHandle> m_accountSockets;
};

// Takes a connection that failed out of its gate. The reason to log for it: the error's text,
// the time-out text when the gate ended it at its deadline, or nullopt when a newer connection
// displaced it (those are counted in the gate's report, not logged one by one).
std::optional<std::string> LeaveWithReason(WaitingConnections& gate,
                                           const WaitingConnections::Ticket& ticket,
                                           const std::exception& error);

// Replaces control characters of a text that came from the network before it goes into a log
// line, so that a crafted ID cannot forge or break lines.
std::string Printable(std::string_view text);

}  // namespace talvorine::server
