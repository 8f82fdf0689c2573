#include "talvorine/server/session_server.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "account_requests.h"
#include "session.h"
#include "session_core.h"
#include "session_thread.h"
#include "small_thread.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace {

// How long shutdown waits for one session thread, and for the account threads together.
constexpr auto ThreadEndWait = std::chrono::seconds(30);
// Pause after a failed accept (for example no descriptors left) before the next one.
constexpr auto AcceptRetryPause = std::chrono::milliseconds(100);

// How often waiting connections are checked against their deadline, and how often refusals
// are reported.
constexpr auto WatchdogTick = std::chrono::milliseconds(250);
constexpr auto RefusalReportInterval = std::chrono::seconds(60);

constexpr std::string_view ClosingIndent = "                    ";

}  // namespace

class SessionServer::Impl {
public:
    explicit Impl(ServerContext& context) : m_core(std::make_shared<SessionCore>(context)) {}
    ~Impl() {
        StopListeners();
        CloseSessions();
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void Start(protocol::SocketHandle sessionListener, protocol::SocketHandle accountListener);
    void StopListeners();
    void CloseSessions();
    std::size_t SessionCount() const { return m_core->LiveSessionCount(); }

private:
    using ConnectionStarter = void (Impl::*)(protocol::Socket, const sockaddr_in&);

    void AcceptLoop(protocol::SocketHandle listener, ConnectionStarter start);
    void StartSession(protocol::Socket socket, const sockaddr_in& peer);
    void StartAccountConnection(protocol::Socket socket, const sockaddr_in& peer);
    void ReportThreadFailure(const std::system_error& error);
    // Ends waiting connections at their deadline and reports refusals once a minute.
    void Watchdog();
    void CloseLoggedInSession(const std::shared_ptr<Session>& session);

    std::shared_ptr<SessionCore> m_core;
    protocol::SocketHandle m_sessionListener = protocol::InvalidSocket;
    protocol::SocketHandle m_accountListener = protocol::InvalidSocket;
    SmallThread m_sessionListenerThread;
    SmallThread m_accountListenerThread;
    SmallThread m_watchdogThread;
    std::mutex m_watchdogMutex;
    std::condition_variable m_watchdogWake;
    bool m_watchdogStop = false;
    bool m_sessionsClosed = false;
};

void SessionServer::Impl::Start(protocol::SocketHandle sessionListener,
                                protocol::SocketHandle accountListener) {
    m_sessionListener = sessionListener;
    m_accountListener = accountListener;
    m_watchdogThread = SmallThread([this] { Watchdog(); });
    m_sessionListenerThread =
        SmallThread([this] { AcceptLoop(m_sessionListener, &Impl::StartSession); });
    m_accountListenerThread =
        SmallThread([this] { AcceptLoop(m_accountListener, &Impl::StartAccountConnection); });
}

void SessionServer::Impl::AcceptLoop(protocol::SocketHandle listener, ConnectionStarter start) {
    for (;;) {
        sockaddr_in peer{};
        protocol::Socket accepted(protocol::AcceptOn(listener, &peer));
        if (m_core->Stopping()) {
            return;
        }
        if (!accepted.IsOpen()) {
            std::this_thread::sleep_for(AcceptRetryPause);
            continue;
        }
        (this->*start)(std::move(accepted), peer);
    }
}

void SessionServer::Impl::StartSession(protocol::Socket socket, const sockaddr_in& peer) {
    auto session = std::make_shared<Session>(socket.Release(), peer);
    m_core->AddSession(session);
    auto ticket =
        m_core->LoginGate().Admit(peer.sin_addr.s_addr, [weak = std::weak_ptr<Session>(session)] {
            if (const auto waiting = weak.lock()) {
                waiting->Wake();
            }
        });
    try {
        SmallThread thread([core = m_core, session, ticket] {
            SessionThread(core, session, ticket).Run();
            core->RemoveSession(session);
        });
        thread.Detach();
    } catch (const std::system_error& error) {
        m_core->LoginGate().Leave(ticket);
        m_core->RemoveSession(session);  // the session closes its connection when freed
        ReportThreadFailure(error);
    }
}

void SessionServer::Impl::StartAccountConnection(protocol::Socket socket, const sockaddr_in& peer) {
    const protocol::SocketHandle handle = socket.Get();
    m_core->AddAccountConnection(handle);
    // The thread leaves the gate before it closes the socket, so this never hits a reused
    // descriptor.
    auto ticket = m_core->AccountGate().Admit(peer.sin_addr.s_addr,
                                              [handle] { protocol::ShutdownSocket(handle); });
    // Shared with the thread; if the thread cannot start, this copy closes the socket only
    // after it left the shutdown list.
    auto owned = std::make_shared<protocol::Socket>(std::move(socket));
    try {
        SmallThread thread([core = m_core, owned, ticket] {
            AccountThread(core, std::move(*owned), ticket).Run();
        });
        thread.Detach();
    } catch (const std::system_error& error) {
        m_core->AccountGate().Leave(ticket);
        m_core->RemoveAccountConnection(handle);
        ReportThreadFailure(error);
    }
}

void SessionServer::Impl::ReportThreadFailure(const std::system_error& error) {
    m_core->Context().log.Always("Error: Failed to start a connection thread. (" +
                                 error.code().message() + ")");
}

void SessionServer::Impl::Watchdog() {
    auto nextReport = std::chrono::steady_clock::now();
    std::unique_lock lock(m_watchdogMutex);
    while (!m_watchdogStop) {
        m_watchdogWake.wait_for(lock, WatchdogTick);
        m_core->LoginGate().Expire();
        m_core->AccountGate().Expire();
        const auto now = std::chrono::steady_clock::now();
        if (now < nextReport) {
            continue;
        }
        // One line a minute at most, however many a flood brings.
        const std::size_t refused =
            m_core->LoginGate().TakeRefusals() + m_core->AccountGate().TakeRefusals();
        if (refused > 0 && !m_core->Stopping()) {
            nextReport = now + RefusalReportInterval;
            m_core->Context().log.Always(
                "Warning: " + std::to_string(refused) +
                " connection(s) closed before login or request: too many were waiting.");
        }
    }
}

void SessionServer::Impl::StopListeners() {
    {
        std::lock_guard lock(m_watchdogMutex);
        m_watchdogStop = true;
    }
    m_watchdogWake.notify_all();
    m_watchdogThread.Join();
    m_core->SetStopping();
    protocol::ShutdownSocket(m_sessionListener);
    protocol::ShutdownSocket(m_accountListener);
    m_sessionListenerThread.Join();
    m_accountListenerThread.Join();
}

void SessionServer::Impl::CloseLoggedInSession(const std::shared_ptr<Session>& session) {
    ServerLog& log = m_core->Context().log;
    log.Text(LogKind::ConsoleOnly(),
             std::string(ClosingIndent) + "Closing connection to " + session->UserId() + " ...",
             LineEnd::No);
    session->Wake();
    if (!m_core->WaitForSession(session, std::chrono::steady_clock::now() + ThreadEndWait)) {
        // The process exit ends the thread; its user is marked offline here instead.
        session->SetAbandoned();
        m_core->Context().database.SetOnline(session->UserId(), false);
    }
    log.Text(LogKind::ConsoleOnly(), "OK.");
}

void SessionServer::Impl::CloseSessions() {
    if (m_sessionsClosed) {
        return;
    }
    m_sessionsClosed = true;
    m_core->SetStopping();
    const std::vector<std::shared_ptr<Session>> loggedIn = m_core->Users().Snapshot();
    const std::vector<std::shared_ptr<Session>> running = m_core->LiveSessions();
    if (!loggedIn.empty()) {
        m_core->Context().log.Event(LogKind::ConsoleOnly(),
                                    "Closing active connections, please wait ...");
    }
    for (const auto& session : loggedIn) {
        CloseLoggedInSession(session);
    }
    // Connections that never got past the login.
    for (const auto& session : running) {
        session->Wake();
    }
    const auto deadline = std::chrono::steady_clock::now() + ThreadEndWait;
    for (const auto& session : running) {
        if (!m_core->WaitForSession(session, deadline)) {
            session->SetAbandoned();
        }
    }
    m_core->Users().Clear();
    m_core->WakeAccountConnections();
    m_core->WaitForAccountConnections(std::chrono::steady_clock::now() + ThreadEndWait);
}

SessionServer::SessionServer(ServerContext& context) : m_impl(std::make_unique<Impl>(context)) {}

SessionServer::~SessionServer() = default;

void SessionServer::Start(protocol::SocketHandle sessionListener,
                          protocol::SocketHandle accountListener) {
    m_impl->Start(sessionListener, accountListener);
}

void SessionServer::StopListeners() {
    m_impl->StopListeners();
}

void SessionServer::CloseSessions() {
    m_impl->CloseSessions();
}

std::size_t SessionServer::SessionCount() const {
    return m_impl->SessionCount();
}

}  // namespace talvorine::server
