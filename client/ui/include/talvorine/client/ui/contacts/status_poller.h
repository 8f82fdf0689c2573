#pragma once
// The StatusPoller thread: every pass copies the contact ids (under the ListMutex) and asks
// the server for each one's status with request 30 on the request connection under the
// RequestMutex; each answer is handed to the window and waited for. Between passes it waits
// up to 30 s for a wake (login, "Refresh User Status", the user wizard).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/server_session.h"

namespace talvorine::client::ui::contacts {

class StatusPoller {
public:
    // Called on the poller's thread; returns once the window has handled the report.
    using Report = std::function<void(const std::string& contactId, int status)>;

    struct Timing {
        std::chrono::milliseconds requestWait{5000};  // for the RequestMutex
        std::chrono::milliseconds passWait{30000};    // between passes
    };

    StatusPoller(data::ContactList& list, std::mutex& listMutex, session::ServerSession& session,
                 Report report, Timing timing);
    StatusPoller(data::ContactList& list, std::mutex& listMutex, session::ServerSession& session,
                 Report report)
        : StatusPoller(list, listMutex, session, std::move(report), Timing{}) {}
    ~StatusPoller();
    StatusPoller(const StatusPoller&) = delete;
    StatusPoller& operator=(const StatusPoller&) = delete;

    void Start();
    // A pass starts at once.
    void Wake();
    // Sets the quit flag, wakes the thread and joins it. `pump` runs while waiting, so that a
    // report the thread is handing over meanwhile is served (the window's event loop).
    void Stop(const std::function<void()>& pump = {});
    bool Running() const { return m_thread.joinable(); }
    // Completed passes (for tests and the benchmark).
    int Passes() const { return m_passes.load(); }

    // One exchange of request 30: the status, 1 when not connected or on any failure; nullopt
    // when the RequestMutex could not be had in time.
    static std::optional<int> QueryStatus(session::ServerSession& session,
                                          const std::string& contactId,
                                          std::chrono::milliseconds requestWait);

private:
    void Run();

    data::ContactList& m_list;
    std::mutex& m_listMutex;
    session::ServerSession& m_session;
    Report m_report;
    Timing m_timing;

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_wakeSignalled = false;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_passes{0};
    std::thread m_thread;
};

}  // namespace talvorine::client::ui::contacts
