#include "talvorine/client/ui/contacts/status_poller.h"

#include <array>
#include <vector>

#include "talvorine/platform/text.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"

namespace talvorine::client::ui::contacts {

StatusPoller::StatusPoller(data::ContactList& list, std::mutex& listMutex,
                           session::ServerSession& session, Report report, Timing timing)
    : m_list(list),
      m_listMutex(listMutex),
      m_session(session),
      m_report(std::move(report)),
      m_timing(timing) {}

StatusPoller::~StatusPoller() {
    Stop();
}

void StatusPoller::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_quit = false;
    m_stopped = false;
    m_thread = std::thread([this] { Run(); });
}

void StatusPoller::Wake() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_wakeSignalled = true;
    }
    m_wakeCondition.notify_all();
}

void StatusPoller::Stop(const std::function<void()>& pump) {
    if (!m_thread.joinable()) {
        return;
    }
    m_quit = true;
    Wake();
    // The thread may be handing a report to this very thread: serve it until it has left.
    while (!m_stopped.load()) {
        if (pump) {
            pump();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    m_thread.join();
}

std::optional<int> StatusPoller::QueryStatus(session::ServerSession& session,
                                             const std::string& contactId,
                                             std::chrono::milliseconds requestWait) {
    if (!session.Connected()) {
        return 1;
    }
    std::unique_lock requestLock(session.Locks().request, std::defer_lock);
    if (!requestLock.try_lock_for(requestWait)) {
        return std::nullopt;
    }
    const auto socket = session.RequestSocket();
    if (socket == protocol::InvalidSocket) {
        return 1;
    }
    try {
        std::array<std::uint8_t, protocol::Size::UserId> idField{};
        platform::WriteTextField(idField, contactId);
        protocol::SendPacket(socket, protocol::PacketType::QueryStatus, idField,
                             protocol::Timeout::Default);
        std::vector<std::uint8_t> reply(protocol::Capacity::ClientReply);
        const auto header = protocol::ReceivePacket(socket, reply, protocol::Timeout::Default);
        return static_cast<int>(header.type);
    } catch (const std::exception&) {
        // A failed exchange counts the contact as offline for this pass.
        return 1;
    }
}

void StatusPoller::Run() {
    while (!m_quit) {
        std::vector<std::string> ids;
        {
            std::lock_guard listLock(m_listMutex);
            ids = m_list.ContactIds();
        }
        for (const std::string& id : ids) {
            if (m_quit) {
                break;
            }
            const auto status = QueryStatus(m_session, id, m_timing.requestWait);
            if (!status) {
                break;  // the request connection is busy: the rest of the pass is given up
            }
            if (m_quit) {
                break;
            }
            m_report(id, *status);
        }
        ++m_passes;
        std::unique_lock lock(m_wakeMutex);
        m_wakeCondition.wait_for(lock, m_timing.passWait,
                                 [this] { return m_wakeSignalled || m_quit.load(); });
        m_wakeSignalled = false;
    }
    m_stopped = true;
}

}  // namespace talvorine::client::ui::contacts
