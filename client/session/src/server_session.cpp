#include "talvorine/client/session/server_session.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <system_error>

#include "talvorine/client/session/texts.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;
using protocol::NetError;

namespace {

constexpr auto WorkerWaitLimit = std::chrono::milliseconds(10000);
// The server connects back right after its accept reply; a client whose connect-back never
// comes (a firewall, a server that failed) gives up after this and tries again later.
constexpr int ConnectBackTimeoutSeconds = 30;

void SetAcceptTimeout(protocol::SocketHandle listening, int seconds) {
    timeval tv{};
    tv.tv_sec = seconds;
    ::setsockopt(listening, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Received-message path

std::optional<IncomingMessage> IncomingMessages::Deliver(IncomingMessage::Kind kind,
                                                         std::string senderId,
                                                         std::span<const std::uint8_t> record) {
    if (record.size() <= protocol::Size::MessageHeader) {
        return std::nullopt;
    }
    IncomingMessage message;
    message.kind = kind;
    message.senderId = std::move(senderId);
    message.record.assign(record.begin(), record.end());

    std::lock_guard listLock(m_locks.list);
    if (kind == IncomingMessage::Kind::Offline) {
        // A stored message delivered again after an interrupted delivery is shown only once.
        try {
            std::lock_guard historyLock(m_locks.history);
            if (m_history.HasReceived(message.senderId, message.record)) {
                return std::nullopt;
            }
        } catch (const std::exception&) {
            // An unreadable store cannot tell; showing the message again loses nothing.
        }
    }
    if (!m_contacts.Nickname(message.senderId)) {
        m_contacts.AddStranger(message.senderId);
        message.newStranger = true;
    }
    try {
        std::lock_guard historyLock(m_locks.history);
        m_history.AppendReceived(message.senderId, message.record);
        message.stored = true;
    } catch (const std::exception& e) {
        message.storageWarning = detail::Format(Text::ReceivedHistoryFailed, {e.what()});
    }
    if (message.stored) {
        m_contacts.AddUnread(message.senderId);
    }
    return message;
}

std::string IncomingMessages::NicknameOf(std::string_view userId) {
    std::lock_guard listLock(m_locks.list);
    auto nickname = m_contacts.Nickname(userId);
    return nickname ? *nickname : std::string(userId);
}

bool IncomingMessages::IsContact(std::string_view userId) {
    std::lock_guard listLock(m_locks.list);
    return m_contacts.Nickname(userId).has_value();
}

void IncomingMessages::AppendSent(std::string_view peerId, std::span<const std::uint8_t> record) {
    std::lock_guard historyLock(m_locks.history);
    m_history.AppendSent(peerId, record);
}

// ---------------------------------------------------------------------------------------
// Session

ServerSession::ServerSession(SessionWindow& window, ContactBook& contacts, MessageHistory& history,
                             NetworkSettings settings)
    : m_window(window), m_incoming(contacts, history, m_locks), m_settings(std::move(settings)) {
    m_keepAlive.Start([this] { KeepAliveBody(); });
}

ServerSession::~ServerSession() {
    Shutdown();
}

std::string_view ServerSession::StatusText(OnlineStatus status) {
    switch (status) {
        case OnlineStatus::Online:
            return Text::Online;
        case OnlineStatus::Away:
            return Text::Away;
        case OnlineStatus::NotAvailable:
            return Text::NotAvailable;
        case OnlineStatus::Offline:
            break;
    }
    return Text::Offline;
}

Account ServerSession::CurrentAccount() const {
    std::lock_guard lock(m_stateMutex);
    return m_account;
}

NetworkSettings ServerSession::Settings() const {
    std::lock_guard lock(m_stateMutex);
    return m_settings;
}

void ServerSession::SetNetworkSettings(NetworkSettings settings) {
    std::lock_guard lock(m_stateMutex);
    m_settings = std::move(settings);
}

bool ServerSession::WorkersIdle() const {
    return !m_connectWorker.Running() && !m_disconnectWorker.Running() && !m_connecting.load() &&
           !m_disconnecting.load();
}

void ServerSession::ShowCurrentStatus() {
    m_window.ShowStatus(StatusText(m_status.load()));
}

void ServerSession::WaitWorker(Worker& worker, std::chrono::milliseconds timeout) {
    if (!worker.WaitDispatching([this] { m_window.DispatchWhileWaiting(); }, timeout)) {
        // Every blocking call has been woken; one that still runs is stuck where shutdown()
        // cannot reach (a name look-up, a connect in progress). It goes on alone: killing it
        // could leave SessionMutex, ListMutex or RequestMutex held for good.
        worker.Abandon();
        m_workersLeftBehind = true;
    }
}

void ServerSession::Connect() {
    if (m_connected || m_connecting || m_disconnecting || m_quitting) {
        return;
    }
    m_reconnectWanted = true;
    m_connecting = true;
    m_status = OnlineStatus::Offline;
    auto account = m_window.CheckAccount();
    if (!account) {
        m_reconnectWanted = false;
        m_window.CloseMainWindow();
        m_connecting = false;
        return;
    }
    {
        std::lock_guard lock(m_stateMutex);
        m_account = std::move(*account);
    }
    try {
        m_connectWorker.Start([this] { ConnectWorkerBody(); });
    } catch (const std::system_error&) {
        m_connecting = false;
    }
}

void ServerSession::ConnectWorkerBody() {
    {
        std::lock_guard sessionLock(m_locks.session);
        if (!m_quitting && !m_connected) {
            m_window.ShowStatus(Text::Connecting);
            const bool ok = Login(CurrentAccount(), Settings());
            m_connected = ok;
            if (ok && m_notificationLost) {
                // Lost before the login was complete: the notice found no session to end.
                EndConnections(false);
                m_connected = false;
            }
            m_status = m_connected ? OnlineStatus::Online : OnlineStatus::Offline;
            m_window.WakeStatusPoller();
            ShowCurrentStatus();
        }
    }
    m_connecting = false;
}

bool ServerSession::Login(const Account& account, const NetworkSettings& settings) {
    m_loginWaker.Reset();
    if (m_quitting) {
        return false;
    }
    WakeableSocket listening(m_loginWaker);
    WakeableSocket request(m_loginWaker);
    WakeableSocket notification(m_loginWaker);
    try {
        if (protocol::ListenOn(listening.Ref(), 0) != 0) {
            listening.Register();
            throw NetError(protocol::LastSocketErrorText());
        }
        listening.Register();
        const auto listenPort = protocol::LocalPort(listening.Get());

        const int connectResult =
            protocol::ConnectTo(request.Ref(), settings.server, settings.port);
        request.Register();
        if (connectResult != 0) {
            throw NetError(protocol::LastSocketErrorText());
        }

        protocol::LoginRequest login{account.userId, account.password, listenPort};
        const auto body = login.Encode();
        protocol::SendPacket(request.Get(), pt::Login, body, protocol::Timeout::Default);
        std::vector<std::uint8_t> reply(protocol::Capacity::ClientReply);
        const auto header =
            protocol::ReceivePacket(request.Get(), reply, protocol::Timeout::Default);
        if (header.type != pt::LoginAccepted) {
            m_reconnectWanted = false;
            m_window.ShowLoginFailed(std::string(Text::LoginFailed) +
                                     detail::BodyString(header, reply));
            if (header.type == pt::LoginAuthorizationFailed) {
                m_window.ChooseAccount();
            }
            return false;
        }

        SetAcceptTimeout(listening.Get(), ConnectBackTimeoutSeconds);
        notification.Ref() = protocol::AcceptOn(listening.Get(), nullptr);
        notification.Register();
        if (!notification.IsOpen()) {
            throw NetError(protocol::LastSocketErrorText());
        }
        listening.Close();
        if (m_quitting) {
            return false;
        }
    } catch (const std::exception&) {
        return false;  // a network failure: offline without a message, the timer tries again
    }

    {
        std::lock_guard requestLock(m_locks.request);
        m_request = request.Release();
    }
    m_notification = notification.Release();
    m_notificationLost = false;
    try {
        m_reader.Start([this] { NotificationReaderBody(); });
    } catch (const std::system_error&) {
        std::lock_guard requestLock(m_locks.request);
        m_request.Close();
        m_notification.Close();
        return false;
    }
    return true;
}

void ServerSession::NotificationReaderBody() {
    {
        std::lock_guard requestLock(m_locks.request);
        try {
            // The body tells the server that this client confirms the offline messages it
            // takes (a server that does not know it ignores the body of this request).
            std::array<std::uint8_t, protocol::OfflineConfirmation::BodySize> announce{};
            platform::StoreLe32(announce, protocol::OfflineConfirmation::Announce);
            m_offlineTaken = 0;
            m_offlineConfirmed = 0;
            protocol::SendPacket(m_request.Get(), pt::FetchOfflineMessages, announce,
                                 protocol::Timeout::Default);
        } catch (const std::exception&) {
            // The notification connection shows whether the session is still alive.
        }
    }
    std::vector<std::uint8_t> buffer(protocol::Capacity::ClientNotification);
    std::vector<std::uint8_t> record(protocol::Capacity::ClientMessageRecord);
    try {
        while (!m_quitting && !m_disconnecting) {
            const auto header =
                protocol::ReceivePacket(m_notification.Get(), buffer, protocol::Timeout::None);
            HandleNotification(header, std::span(buffer).first(header.bodyLength), record);
        }
    } catch (const std::exception& e) {
        if (!m_quitting && !m_disconnecting) {
            m_notificationLost = true;
            m_window.PostConnectionLost(e.what());
        }
    }
}

void ServerSession::HandleNotification(const protocol::PacketHeader& header,
                                       std::span<const std::uint8_t> body,
                                       std::vector<std::uint8_t>& record) {
    switch (header.type) {
        case pt::LiveMessage:
        case pt::OfflineMessage: {
            std::string sender(platform::ReadTextField(body));
            sender.resize(std::min<std::size_t>(sender.size(), 8));
            const auto recordHeader =
                protocol::ReceivePacket(m_notification.Get(), record, protocol::Timeout::Default);
            const bool live = header.type == pt::LiveMessage;
            if (live) {
                std::string answer;
                if (m_status == OnlineStatus::Away) {
                    answer = platform::CutUtf8(m_window.AwayText(), Text::AwayTextMax);
                }
                if (answer.empty()) {
                    protocol::SendPacket(m_notification.Get(), pt::Ok, protocol::Timeout::Default);
                } else {
                    protocol::SendTextPacket(m_notification.Get(), pt::Ok, answer,
                                             protocol::Timeout::Default);
                }
            }
            auto message = m_incoming.Deliver(
                live ? IncomingMessage::Kind::Live : IncomingMessage::Kind::Offline,
                std::move(sender), std::span(record).first(recordHeader.bodyLength));
            if (message) {
                m_window.MessageReceived(*message);
            }
            if (!live) {
                // Taken (shown, or dropped as a repeat): the server may now forget it. Told at
                // once when the stream goes quiet or every few messages, else with the next
                // keep-alive, and never by waiting for a busy request connection.
                const std::uint32_t taken = ++m_offlineTaken;
                if (taken % OfflineConfirmEvery == 0 ||
                    !protocol::HasPendingData(m_notification.Get())) {
                    std::unique_lock requestLock(m_locks.request, std::try_to_lock);
                    if (requestLock.owns_lock()) {
                        ConfirmOfflineMessages();
                    }
                }
            }
            break;
        }
        case pt::ChatRequest:
            m_window.ChatRequestReceived(protocol::ChatRequest::Decode(body));
            break;
        case pt::FileRequest:
            m_window.FileRequestReceived(protocol::FileRequest::Decode(body));
            break;
        default:
            break;  // not ours: skipped
    }
}

void ServerSession::ConfirmOfflineMessages(bool always) {
    const std::uint32_t taken = m_offlineTaken;
    if (!m_request.IsOpen() || (!always && taken == m_offlineConfirmed)) {
        return;
    }
    try {
        std::array<std::uint8_t, protocol::OfflineConfirmation::BodySize> body{};
        platform::StoreLe32(body, taken);
        protocol::SendPacket(m_request.Get(), pt::KeepAlive, body, protocol::Timeout::Default);
        m_offlineConfirmed = taken;
    } catch (const std::exception&) {
        // A broken connection shows on the notification connection; the server keeps the
        // unconfirmed messages for the next login.
    }
}

void ServerSession::KeepAliveBody() {
    std::unique_lock lock(m_keepAliveMutex);
    while (!m_quitting) {
        m_keepAliveWake.wait_for(lock, std::chrono::milliseconds(1000),
                                 [this] { return m_quitting.load(); });
        if (m_quitting) {
            break;
        }
        if (!m_connected) {
            m_keepAliveSeconds = 0;
            continue;
        }
        if (m_keepAliveSeconds++ != protocol::Timeout::KeepAliveInterval - 1) {
            continue;
        }
        m_keepAliveSeconds = 0;
        lock.unlock();
        {
            std::lock_guard requestLock(m_locks.request);
            try {
                if (m_request.IsOpen()) {
                    if (m_offlineTaken > 0) {
                        ConfirmOfflineMessages(true);
                    } else {
                        protocol::SendPacket(m_request.Get(), pt::KeepAlive,
                                             protocol::Timeout::Default);
                    }
                }
            } catch (const std::exception&) {
                // A broken connection shows on the notification connection.
            }
        }
        lock.lock();
    }
}

void ServerSession::SetStatus(OnlineStatus status) {
    if (!m_connected) {
        return;
    }
    switch (status) {
        case OnlineStatus::Online:
            if (m_status != OnlineStatus::Online) {
                StartStatusSender(status);
            }
            break;
        case OnlineStatus::Away:
            if (m_status != OnlineStatus::Away && m_window.ConfirmAwayMode()) {
                StartStatusSender(status);
            }
            break;
        case OnlineStatus::NotAvailable:
            if (m_status != OnlineStatus::NotAvailable) {
                m_status = OnlineStatus::NotAvailable;
                ShowCurrentStatus();
                StartStatusSender(status);
            }
            break;
        case OnlineStatus::Offline:
            break;
    }
}

void ServerSession::StartStatusSender(OnlineStatus status) {
    std::lock_guard lock(m_statusWorkersMutex);
    m_statusWorkers.remove_if([](const Worker& worker) { return !worker.Running(); });
    try {
        m_statusWorkers.emplace_back().Start([this, status] { StatusSenderBody(status); });
    } catch (const std::system_error&) {
        m_statusWorkers.pop_back();
        m_window.ShowWarning(std::string(Text::FailedToCreateThread) + protocol::SystemErrorText());
    }
}

void ServerSession::StatusSenderBody(OnlineStatus status) {
    {
        std::lock_guard requestLock(m_locks.request);
        if (m_quitting || !m_request.IsOpen()) {
            return;
        }
        std::array<std::uint8_t, 4> body{};
        platform::StoreLe32(body, static_cast<std::uint32_t>(status));
        try {
            protocol::SendPacket(m_request.Get(), pt::SetStatus, body, protocol::Timeout::Default);
        } catch (const std::exception&) {
            return;
        }
    }
    if (m_connected) {
        m_status = status;
        ShowCurrentStatus();
        m_window.WakeStatusPoller();
    }
}

void ServerSession::ReconnectTick(bool menuTracking) {
    if (m_quitting || m_disconnecting) {
        return;
    }
    const auto settings = Settings();
    if (!m_connected && settings.autoConnect && m_reconnectWanted) {
        const auto interval = static_cast<unsigned>(std::max(settings.connectInterval, 0));
        if (m_reconnectTicks++ >= interval * 1000 / 500) {
            m_reconnectTicks = 0;
            if (!menuTracking) {
                Connect();
            }
        }
    } else {
        m_reconnectTicks = 0;
    }
}

void ServerSession::EndConnections(bool onUserInterfaceThread) {
    protocol::ShutdownSocket(m_notification.Get());
    protocol::ShutdownSocket(m_request.Get());
    if (onUserInterfaceThread) {
        WaitWorker(m_reader, std::chrono::milliseconds::max());
    } else {
        m_reader.Join();
    }
    {
        std::lock_guard requestLock(m_locks.request);
        m_request.Close();
    }
    m_notification.Close();
}

void ServerSession::HandleConnectionLost() {
    if (!m_connected || m_disconnecting) {
        return;
    }
    std::lock_guard sessionLock(m_locks.session);
    if (!m_connected) {
        return;
    }
    EndConnections(true);
    m_connected = false;
    m_status = OnlineStatus::Offline;
    m_window.WakeStatusPoller();
    ShowCurrentStatus();
}

void ServerSession::Disconnect() {
    if (!m_connected) {
        return;
    }
    if (m_connectWorker.Running()) {
        WaitWorker(m_connectWorker, std::chrono::milliseconds::max());
    }
    if (m_disconnecting) {
        return;
    }
    m_reconnectWanted = false;
    m_disconnecting = true;
    try {
        m_disconnectWorker.Start([this] { DisconnectWorkerBody(); });
    } catch (const std::system_error&) {
        m_disconnecting = false;
    }
}

void ServerSession::DisconnectWorkerBody() {
    {
        std::lock_guard sessionLock(m_locks.session);
        if (m_connected) {
            {
                std::lock_guard listLock(m_locks.list);
                m_window.ShowStatus(Text::Disconnecting);
                {
                    std::unique_lock requestLock(m_locks.request, std::defer_lock);
                    if (requestLock.try_lock_for(
                            std::chrono::seconds(protocol::Timeout::Default))) {
                        try {
                            ConfirmOfflineMessages();
                            protocol::SendPacket(m_request.Get(), pt::Logout,
                                                 protocol::Timeout::Default);
                        } catch (const std::exception&) {
                            // The server may be gone already; the connections close anyway.
                        }
                    }
                }
                protocol::ShutdownSocket(m_notification.Get());
                m_connected = false;
                m_status = OnlineStatus::Offline;
            }
            EndConnections(false);
            m_window.WakeStatusPoller();
            ShowCurrentStatus();
        }
    }
    m_disconnecting = false;
}

void ServerSession::Shutdown() {
    {
        std::lock_guard lock(m_keepAliveMutex);
        if (m_shutdownDone) {
            return;
        }
        m_shutdownDone = true;
    }
    if (m_connected && !m_disconnectWorker.Running()) {
        // Logout first: Disconnect waits for a running ConnectWorker.
        Disconnect();
    }
    m_quitting = true;
    m_keepAliveWake.notify_all();
    if (m_connectWorker.Running()) {
        m_loginWaker.Wake();
    }
    WaitWorker(m_connectWorker, WorkerWaitLimit);
    WaitWorker(m_disconnectWorker, WorkerWaitLimit);
    WaitWorker(m_keepAlive, WorkerWaitLimit);
    {
        std::lock_guard lock(m_statusWorkersMutex);
        for (auto& worker : m_statusWorkers) {
            WaitWorker(worker, WorkerWaitLimit);
        }
        if (!m_workersLeftBehind) {
            m_statusWorkers.clear();
        }
    }
    if (m_connected) {
        EndConnections(true);
        m_connected = false;
    }
    m_reader.Join();
    m_status = OnlineStatus::Offline;
}

Reply ServerSession::Exchange(std::uint8_t type, std::span<const std::uint8_t> body) {
    std::lock_guard requestLock(m_locks.request);
    if (!m_request.IsOpen()) {
        throw NetError(protocol::SocketErrorText(protocol::SocketCode::NotConnected));
    }
    protocol::SendPacket(m_request.Get(), type, body, protocol::Timeout::Default);
    std::vector<std::uint8_t> reply(protocol::Capacity::ClientReply);
    const auto header = protocol::ReceivePacket(m_request.Get(), reply, protocol::Timeout::Default);
    return Reply{header.type, detail::BodyString(header, reply)};
}

}  // namespace talvorine::client::session
