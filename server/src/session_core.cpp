#include "session_core.h"

#include <sys/resource.h>

#include "session.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/server/server_context.h"

namespace talvorine::server {

namespace {

WaitingConnections::Limits CurrentLimits() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return WaitingConnections::ForOpenFileLimit(limit.rlim_cur);
}

}  // namespace

SessionCore::SessionCore(ServerContext& context)
    : m_context(context), m_loginGate(CurrentLimits()), m_accountGate(CurrentLimits()) {}

bool SessionCore::Stopping() const {
    // Once the core flag is set the host's context is no longer read: a thread that shutdown
    // gave up on may run after the context is gone.
    return m_stopping.load() || m_context.stopping.load();
}

void SessionCore::AddSession(const std::shared_ptr<Session>& session) {
    std::lock_guard lock(m_threadsMutex);
    m_liveSessions.insert(session);
}

void SessionCore::RemoveSession(const std::shared_ptr<Session>& session) {
    {
        std::lock_guard lock(m_threadsMutex);
        m_liveSessions.erase(session);
    }
    m_threadEnded.notify_all();
}

std::vector<std::shared_ptr<Session>> SessionCore::LiveSessions() const {
    std::lock_guard lock(m_threadsMutex);
    return {m_liveSessions.begin(), m_liveSessions.end()};
}

std::size_t SessionCore::LiveSessionCount() const {
    std::lock_guard lock(m_threadsMutex);
    return m_liveSessions.size();
}

bool SessionCore::WaitForSession(const std::shared_ptr<Session>& session,
                                 std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_threadsMutex);
    return m_threadEnded.wait_until(lock, deadline,
                                    [&] { return !m_liveSessions.contains(session); });
}

void SessionCore::AddAccountConnection(protocol::SocketHandle socket) {
    std::lock_guard lock(m_threadsMutex);
    m_accountSockets.insert(socket);
}

void SessionCore::RemoveAccountConnection(protocol::SocketHandle socket) {
    {
        std::lock_guard lock(m_threadsMutex);
        m_accountSockets.erase(socket);
    }
    m_threadEnded.notify_all();
}

void SessionCore::WakeAccountConnections() {
    std::lock_guard lock(m_threadsMutex);
    for (const protocol::SocketHandle socket : m_accountSockets) {
        protocol::ShutdownSocket(socket);
    }
}

bool SessionCore::WaitForAccountConnections(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_threadsMutex);
    return m_threadEnded.wait_until(lock, deadline, [&] { return m_accountSockets.empty(); });
}

std::string Printable(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return result;
}

std::optional<std::string> LeaveWithReason(WaitingConnections& gate,
                                           const WaitingConnections::Ticket& ticket,
                                           const std::exception& error) {
    gate.Leave(ticket);
    const auto outcome = ticket ? ticket->Result() : WaitingConnections::Outcome::Done;
    if (outcome == WaitingConnections::Outcome::Displaced) {
        return std::nullopt;
    }
    // The whole request had the reply time-out; the connection was shut down at it.
    if (outcome == WaitingConnections::Outcome::TimedOut) {
        return protocol::SocketErrorText(protocol::SocketCode::TimedOut);
    }
    return std::string(error.what());
}

}  // namespace talvorine::server
