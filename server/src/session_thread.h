#pragma once
// The thread of one session: login with the connect-back, the request loop and the end of the
// session. Messages and relayed requests go to the recipient's notification connection under
// the recipient's notification lock.

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"
#include "waiting_connections.h"

namespace talvorine::server {

class Session;
class SessionCore;
struct OfflineMessage;

class SessionThread {
public:
    SessionThread(std::shared_ptr<SessionCore> core, std::shared_ptr<Session> session,
                  WaitingConnections::Ticket waiting = {});
    SessionThread(const SessionThread&) = delete;
    SessionThread& operator=(const SessionThread&) = delete;

    // Serves the session from login to its end; never throws.
    void Run();

private:
    enum class Next { Continue, End };

    bool Login();
    void RequestLoop();
    Next Dispatch(const protocol::PacketHeader& request);
    void EndSession();

    Next SetStatus(const protocol::PacketHeader& request);
    void QueryStatus(const protocol::PacketHeader& request);
    Next Logout();
    Next UnknownRequest();
    void LiveMessage(const protocol::PacketHeader& request);
    void OfflineMessage(const protocol::PacketHeader& request);
    void DeliverOfflineMessages(const protocol::PacketHeader& request);
    // Pushes messages of one batch on the own notification connection; how many went.
    std::size_t PushOfflineBatch(const std::vector<server::OfflineMessage>& batch);
    // For a client that does not confirm: returns once the pushed messages count as taken,
    // raises (the session ends, the messages stay) when they do not.
    void AwaitDeliveryTaken();
    // A keep-alive that carries how many offline messages the client has taken.
    void ConfirmOffline(const protocol::PacketHeader& request);
    // Deletes the oldest `count` pushed messages.
    void RemoveConfirmed(std::size_t count);
    void RelayRequest(const protocol::PacketHeader& request);

    // The recipient ID of a message request; replies "packet size error" and raises when the
    // body is not exactly one UserId field.
    std::string RecipientOf(const protocol::PacketHeader& request);
    // Receives the message record that follows a message request into m_record; replies
    // "packet size error" and raises when it is shorter than a record. A record that does not
    // fit into memory is the out-of-memory case of `route`.
    protocol::PacketHeader ReceiveRecord(std::string_view what, const std::string& recipientId);
    // Gives back a record buffer that a large message grew.
    void ReleaseLargeRecord();
    // Pushes the live message in m_record to the recipient and returns the recipient's
    // answer text. No answer body gives nullopt.
    std::optional<std::string> PushLiveMessage(Session& recipient,
                                               const protocol::PacketHeader& header);
    // Out of memory for a message: logs `what`, replies "Server internal error" and ends.
    [[noreturn]] void OutOfMemory(int replyType, const std::string& what);

    void Reply(int type);
    void Reply(int type, std::string_view text);
    // Replies and raises `text` so that the session ends with it as the reason.
    [[noreturn]] void ReplyAndEnd(int type, std::string_view text);
    [[noreturn]] void ReplyAndEnd(int type, std::string_view text, std::string_view reason);

    std::shared_ptr<SessionCore> m_core;
    std::shared_ptr<Session> m_session;
    WaitingConnections::Ticket m_waiting;  // until the login is over
    bool m_inOnlineUsers = false;
    // Offline messages pushed in this session and not yet known to be taken, by key.
    struct OfflineDelivery {
        bool clientConfirms = false;  // the client announced confirmations with request 42
        std::int64_t lastSent = 0;    // key of the newest message pushed
        std::deque<std::int64_t> unconfirmed;
        std::uint32_t confirmed = 0;  // messages counted as taken since the login
    } m_offline;
    // Reused for every request and for the recipient's answer to a relayed message; sized
    // from each header and not zero-filled, since no request is read past its body. An idle
    // session's thread so touches no request buffer on its stack while it waits.
    protocol::PacketBuffer m_request;
    // The message record of a live or offline message, reused from message to message up to
    // RecordKeptBytes; allocated at the first message, so an idle session holds none.
    static constexpr std::size_t RecordKeptBytes = protocol::PacketChunkSize;
    protocol::PacketBuffer m_record;
};

// Drops what an earlier, timed-out exchange left unread on a notification connection, so a
// late answer is not taken for the answer to the next message.
void DiscardStaleAnswers(protocol::SocketHandle notification);

}  // namespace talvorine::server
