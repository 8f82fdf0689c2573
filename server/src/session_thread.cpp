#include "session_thread.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "session.h"
#include "session_core.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace pt = protocol::PacketType;
namespace rt = protocol::ReplyText;
using protocol::NetError;

SessionThread::SessionThread(std::shared_ptr<SessionCore> core, std::shared_ptr<Session> session,
                             WaitingConnections::Ticket waiting)
    : m_core(std::move(core)), m_session(std::move(session)), m_waiting(std::move(waiting)) {}

void SessionThread::Run() {
    try {
        if (Login()) {
            RequestLoop();
        }
    } catch (const std::exception& error) {
        // Login and the loop catch their own errors; this only guards the thread.
        if (!m_core->Stopping()) {
            m_core->Context().log.Always("Error: " + std::string(error.what()) + "(" +
                                         m_session->UserId() + ").");
        }
    }
    EndSession();
}

bool SessionThread::Login() {
    std::string receivedId;
    try {
        // The login is read past a short body (as zeros), so it has a zero-filled buffer.
        std::array<std::uint8_t, protocol::Capacity::ServerLogin> body{};
        protocol::ReceivePacket(m_session->Request(), body, protocol::Timeout::Default);
        // The first packet is the login whatever its type; a short body reads as zeros.
        const auto login = protocol::LoginRequest::Decode(body);
        receivedId = login.userId;

        // Only an ID of eight digits goes on to the database.
        const PasswordCheck check =
            protocol::IsValidUserId(login.userId)
                ? m_core->Context().database.CheckPassword(login.userId, login.password)
                : PasswordCheck::Refused;
        if (check == PasswordCheck::Refused) {
            ReplyAndEnd(pt::LoginAuthorizationFailed, rt::LoginAuthorizationFailed);
        }
        if (check == PasswordCheck::AcceptedDisabled) {
            ReplyAndEnd(pt::LoginDisabled, rt::LoginDisabled);
        }
        m_session->SetUserId(login.userId);
        if (!m_core->Users().TryInsert(m_session)) {
            m_session->SetUserId({});
            ReplyAndEnd(pt::LoginAlreadyOnline, rt::LoginAlreadyOnline);
        }
        m_inOnlineUsers = true;
        Reply(pt::LoginAccepted);
        m_session->ConnectNotification(static_cast<std::uint16_t>(login.port & 0xFFFF));
    } catch (const std::exception& error) {
        const auto reason = LeaveWithReason(m_core->LoginGate(), m_waiting, error);
        if (reason && !m_core->Stopping()) {
            m_core->Context().log.Write(
                LogSwitch::Login, Printable(receivedId) + " failed to login. (" + *reason + ")");
        }
        return false;
    }
    m_core->LoginGate().Leave(m_waiting);
    if (m_core->Stopping()) {
        return false;
    }
    // Online for the other sessions as soon as messages can reach it.
    m_session->SetStatus(static_cast<std::int32_t>(protocol::OnlineStatus::Online));
    m_core->Context().database.SetOnline(m_session->UserId(), true);
    m_core->Context().log.Write(LogSwitch::Login, m_session->UserId() + " logged in.");
    return true;
}

void SessionThread::RequestLoop() {
    try {
        for (;;) {
            const protocol::PacketHeader request = protocol::ReceivePacket(
                m_session->Request(), m_request, protocol::Capacity::ServerRequest,
                protocol::Timeout::SessionIdle);
            if (Dispatch(request) == Next::End) {
                return;
            }
        }
    } catch (const std::exception& error) {
        if (!m_core->Stopping()) {
            m_core->Context().log.Always("Error: " + std::string(error.what()) + "(" +
                                         m_session->UserId() + ").");
        }
    }
}

SessionThread::Next SessionThread::Dispatch(const protocol::PacketHeader& request) {
    switch (request.type) {
        case pt::KeepAlive:
            ConfirmOffline(request);
            return Next::Continue;
        case pt::SetStatus:
            return SetStatus(request);
        case pt::QueryStatus:
            QueryStatus(request);
            return Next::Continue;
        case pt::LiveMessage:
            LiveMessage(request);
            return Next::Continue;
        case pt::OfflineMessage:
            OfflineMessage(request);
            return Next::Continue;
        case pt::FetchOfflineMessages:
            DeliverOfflineMessages(request);
            return Next::Continue;
        case pt::ChatRequest:
        case pt::FileRequest:
            RelayRequest(request);
            return Next::Continue;
        case pt::Logout:
            return Logout();
        default:
            return UnknownRequest();
    }
}

SessionThread::Next SessionThread::SetStatus(const protocol::PacketHeader& request) {
    if (request.bodyLength != sizeof(std::int32_t)) {
        throw NetError(std::string(rt::PacketSizeError));
    }
    const auto status = static_cast<std::int32_t>(platform::LoadLe32(m_request.Body()));
    m_core->Context().log.Write(
        LogSwitch::ChangeOnlineStatus,
        m_session->UserId() + " changed online status: " + std::to_string(m_session->Status()) +
            " -> " + std::to_string(status) + ".");
    m_session->SetStatus(status);
    return Next::Continue;
}

void SessionThread::QueryStatus(const protocol::PacketHeader& request) {
    int status = static_cast<int>(protocol::OnlineStatus::Offline);
    if (request.bodyLength == protocol::Size::UserId) {
        m_request.Body()[protocol::Size::UserId - 1] = 0;
        const std::string_view userId = protocol::BodyText(request, m_request.Body());
        if (protocol::IsValidUserId(userId)) {
            if (const auto other = m_core->Users().Find(userId)) {
                status = other->Status();
            }
        }
    }
    Reply(status);
}

SessionThread::Next SessionThread::Logout() {
    m_core->Context().log.Write(LogSwitch::Logout, m_session->UserId() + " logged out.");
    return Next::End;
}

SessionThread::Next SessionThread::UnknownRequest() {
    m_core->Context().log.Always("Error: Unknown request (" + m_session->UserId() + ").");
    Reply(pt::Failed, rt::UnknownRequest);
    return Next::End;
}

void SessionThread::EndSession() {
    // While stopping nothing is logged, and a thread that shutdown gave up on does not touch
    // the host's context at all.
    const bool quiet = m_core->Stopping();
    if (!quiet) {
        m_core->Context().log.Event(LogKind::ConsoleOnly(),
                                    "Closing connection to " + m_session->UserId() + " ...",
                                    LineEnd::No);
    }
    if (m_inOnlineUsers) {
        // Offline first, then out of the map: a new login of the same user can only get in
        // after this, so its "online" is never overwritten by this session's "offline".
        if (!m_session->Abandoned()) {
            m_core->Context().database.SetOnline(m_session->UserId(), false);
        }
        m_core->Users().Remove(*m_session);
        m_inOnlineUsers = false;
    }
    m_session->CloseConnections();
    if (!quiet) {
        m_core->Context().log.Text(LogKind::ConsoleOnly(), "OK.");
    }
}

void SessionThread::Reply(int type) {
    protocol::SendPacket(m_session->Request(), type, protocol::Timeout::Default);
}

void SessionThread::Reply(int type, std::string_view text) {
    protocol::SendTextPacket(m_session->Request(), type, text, protocol::Timeout::Default);
}

void SessionThread::ReplyAndEnd(int type, std::string_view text) {
    ReplyAndEnd(type, text, text);
}

void SessionThread::ReplyAndEnd(int type, std::string_view text, std::string_view reason) {
    Reply(type, text);
    throw NetError(std::string(reason));
}

}  // namespace talvorine::server
