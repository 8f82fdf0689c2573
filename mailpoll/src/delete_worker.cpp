#include "talvorine/mailpoll/delete_worker.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "pumped_wait.h"
#include "talvorine/mailpoll/pop3_session.h"

namespace talvorine::mailpoll {

std::string DeleteStatus::Deleting(std::size_t deleted, std::size_t total) {
    return "Deleting " + std::to_string(deleted) + "/" + std::to_string(total);
}

std::string DeleteStatus::LoginRefused(const std::string& reply) {
    return "The server refused the login: " + reply;
}

struct DeleteWorker::Run {
    MailAccount account;
    std::vector<std::uint32_t> numbers;
    std::shared_mutex observerMutex;
    DeleteObserver* observer = nullptr;  // cleared when the run is given up
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    std::mutex sessionMutex;
    Pop3Session* session = nullptr;

    template <typename Call>
    void Notify(Call call) {
        const std::shared_lock lock(observerMutex);
        if (observer != nullptr) {
            call(*observer);
        }
    }
};

DeleteWorker::DeleteWorker(DeleteObserver& observer, WaitPump pump)
    : m_observer(observer), m_pump(std::move(pump)) {}

DeleteWorker::~DeleteWorker() {
    Stop();
}

bool DeleteWorker::IsRunning() const {
    return m_run && !m_run->finished;
}

void DeleteWorker::Cancel() {
    if (m_run) {
        m_run->cancel = true;
    }
}

void DeleteWorker::Reap() {
    if (m_run && m_run->finished) {
        m_thread.join();
        m_run.reset();
    }
}

bool DeleteWorker::Start(const MailAccount& account, std::vector<std::uint32_t> numbers) {
    if (IsRunning()) {
        return false;
    }
    Reap();
    m_run = std::make_shared<Run>();
    m_run->account = account;
    m_run->numbers = std::move(numbers);
    m_run->observer = &m_observer;
    m_thread = std::thread(&DeleteWorker::Execute, m_run);
    return true;
}

void DeleteWorker::Wait() {
    detail::WaitPumped([this] { return !IsRunning(); }, m_pump);
    Reap();
}

void DeleteWorker::Stop(std::chrono::milliseconds grace) {
    if (!m_run) {
        return;
    }
    m_run->cancel = true;
    {
        const std::lock_guard lock(m_run->sessionMutex);
        if (m_run->session != nullptr) {
            m_run->session->Abort();
        }
    }
    if (detail::WaitPumped([this] { return !IsRunning(); }, m_pump, grace)) {
        Reap();
        return;
    }
    // Still inside a connect: silence it (serving a hand-over it may be in) and let it go.
    {
        const auto lock = detail::LockPumped(m_run->observerMutex, m_pump);
        m_run->observer = nullptr;
    }
    m_thread.detach();
    m_run.reset();
}

void DeleteWorker::Execute(std::shared_ptr<Run> run) {
    Pop3Session session;
    session.SetReplyTimeout(std::chrono::seconds(run->account.timeoutSeconds));
    {
        const std::lock_guard lock(run->sessionMutex);
        run->session = &session;
    }
    const MailAccount& account = run->account;
    run->Notify([](DeleteObserver& o) { o.DeleteProgress(std::string(DeleteStatus::Connecting)); });
    if (run->cancel ||
        !session.Connect(account.server, account.account, account.password, account.port)) {
        const bool refused =
            session.LastError() == Pop3Error::NegativeReply && !session.LastReplyText().empty();
        const std::string text = refused ? DeleteStatus::LoginRefused(session.LastReplyText())
                                         : std::string(DeleteStatus::ConnectionFailed);
        run->Notify([&text](DeleteObserver& o) {
            o.DeleteProgress(text);
            o.DeleteFinished(false, {});
        });
    } else {
        bool ok = true;
        const std::size_t total = run->numbers.size();
        for (std::size_t i = 0; i < total && !run->cancel; ++i) {
            run->Notify([i, total](DeleteObserver& o) {
                o.DeleteProgress(DeleteStatus::Deleting(i, total));
            });
            if (!session.Delete(run->numbers[i])) {
                ok = false;
                break;
            }
            run->Notify([i](DeleteObserver& o) { o.MessageDeleted(i); });
        }
        // Without an answered QUIT the server keeps every message.
        ok = session.Disconnect() && ok;
        run->Notify([ok](DeleteObserver& o) {
            o.DeleteFinished(ok, ok ? std::string() : std::string(DeleteStatus::Failed));
        });
    }
    {
        const std::lock_guard lock(run->sessionMutex);
        run->session = nullptr;
    }
    run->finished = true;
}

}  // namespace talvorine::mailpoll
