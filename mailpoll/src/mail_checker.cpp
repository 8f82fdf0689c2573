#include "talvorine/mailpoll/mail_checker.h"

#include <algorithm>
#include <cctype>

#include "pumped_wait.h"
#include "talvorine/mailpoll/header_text.h"
#include "talvorine/mailpoll/pop3_session.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::mailpoll {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string CheckStatus::Retrieving(std::size_t fetched) {
    return "Retrieving #" + std::to_string(fetched) + " ...";
}

std::optional<std::chrono::milliseconds> TimerPeriod(const PostSentrySettings& settings) {
    if (!settings.autoCheck || settings.intervalMinutes == 0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::uint64_t{settings.intervalMinutes} * 60000);
}

// The observer as the jobs reach it: cleared (under the exclusive lock) when the checker goes,
// so that a job that was given up never calls a window that no longer exists.
struct MailChecker::Relay {
    std::shared_mutex mutex;
    CheckObserver* observer = nullptr;
};

struct MailChecker::Record {
    MailAccount account;
    mutable std::mutex mutex;  // status and count, written by the job, read by the window
    std::string status;
    std::optional<std::uint32_t> count;
    std::shared_ptr<Job> job;  // the window thread's view of the running job
    std::thread thread;
};

struct MailChecker::Job {
    std::shared_ptr<Relay> relay;
    std::shared_ptr<Record> record;
    MailAccount account;
    std::size_t index = 0;
    bool fetchHeaders = false;
    std::atomic<bool> cancel{false};
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> abandoned{false};
    std::mutex sessionMutex;
    Pop3Session* session = nullptr;  // under sessionMutex; lives on the job's stack

    template <typename Call>
    void Notify(Call call) {
        const std::shared_lock lock(relay->mutex);
        if (relay->observer != nullptr && !abandoned) {
            call(*relay->observer);
        }
    }

    void SetStatus(std::string text) {
        {
            const std::lock_guard lock(record->mutex);
            record->status = std::move(text);
        }
        Notify([this](CheckObserver& observer) { observer.StatusChanged(index); });
    }
};

MailChecker::MailChecker(CheckObserver& observer, WaitPump pump)
    : m_relay(std::make_shared<Relay>()), m_pump(std::move(pump)) {
    m_relay->observer = &observer;
}

MailChecker::~MailChecker() {
    StopAll();
    // A job given up may be inside a hand-over; serve it until the relay can be cleared.
    const auto lock = detail::LockPumped(m_relay->mutex, m_pump);
    m_relay->observer = nullptr;
}

const MailAccount& MailChecker::Account(std::size_t index) const {
    return m_records.at(index)->account;
}

std::vector<MailAccount> MailChecker::Accounts() const {
    std::vector<MailAccount> accounts;
    accounts.reserve(m_records.size());
    for (const auto& record : m_records) {
        accounts.push_back(record->account);
    }
    return accounts;
}

bool MailChecker::SetAccounts(std::vector<MailAccount> accounts) {
    if (AnyRunning()) {
        return false;
    }
    ReapFinished();
    m_records.clear();
    for (MailAccount& account : accounts) {
        Add(std::move(account));
    }
    return true;
}

bool MailChecker::Add(MailAccount account) {
    if (AnyRunning()) {
        return false;
    }
    auto record = std::make_shared<Record>();
    record->account = std::move(account);
    m_records.push_back(std::move(record));
    return true;
}

bool MailChecker::Replace(std::size_t index, MailAccount account) {
    if (AnyRunning() || index >= m_records.size()) {
        return false;
    }
    m_records[index]->account = std::move(account);
    return true;
}

bool MailChecker::Remove(std::size_t index) {
    if (AnyRunning() || index >= m_records.size()) {
        return false;
    }
    ReapFinished();
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool MailChecker::Move(std::size_t index, bool up) {
    if (AnyRunning() || index >= m_records.size()) {
        return false;
    }
    const std::size_t other = up ? index - 1 : index + 1;
    if ((up && index == 0) || other >= m_records.size()) {
        return false;
    }
    std::swap(m_records[index], m_records[other]);
    return true;
}

std::optional<std::size_t> MailChecker::FindTitle(std::string_view title,
                                                  std::optional<std::size_t> except) const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (i != except && EqualNoCase(m_records[i]->account.title, title)) {
            return i;
        }
    }
    return std::nullopt;
}

std::string MailChecker::Status(std::size_t index) const {
    const auto& record = *m_records.at(index);
    const std::lock_guard lock(record.mutex);
    return record.status;
}

std::optional<std::uint32_t> MailChecker::Count(std::size_t index) const {
    const auto& record = *m_records.at(index);
    const std::lock_guard lock(record.mutex);
    return record.count;
}

bool MailChecker::IsRunning(std::size_t index) const {
    const auto& job = m_records.at(index)->job;
    return job && !job->finished;
}

bool MailChecker::AnyRunning() const {
    return std::any_of(m_records.begin(), m_records.end(),
                       [](const auto& record) { return record->job && !record->job->finished; });
}

void MailChecker::ReapFinished() {
    for (const auto& record : m_records) {
        if (record->job && record->job->finished) {
            if (record->thread.joinable()) {
                record->thread.join();
            }
            record->job.reset();
        }
    }
}

void MailChecker::WaitWhile(const std::function<bool()>& busy,
                            std::optional<std::chrono::milliseconds> limit) {
    detail::WaitPumped([&busy] { return !busy(); }, m_pump, limit);
}

void MailChecker::StartCheck(std::size_t index, bool fetchHeaders) {
    if (IsRunning(index)) {
        return;
    }
    ReapFinished();
    const auto& record = m_records.at(index);
    auto job = std::make_shared<Job>();
    job->relay = m_relay;
    job->record = record;
    job->account = record->account;
    job->index = index;
    job->fetchHeaders = fetchHeaders;
    record->job = job;
    record->thread = std::thread(&MailChecker::RunJob, job);
    WaitWhile([&job] { return !job->started; }, std::nullopt);
}

void MailChecker::StopCheck(std::size_t index, std::chrono::milliseconds grace) {
    const auto& record = m_records.at(index);
    const std::shared_ptr<Job> job = record->job;
    if (!job) {
        return;
    }
    if (!job->finished) {
        job->cancel = true;
        {
            const std::lock_guard lock(job->sessionMutex);
            if (job->session != nullptr) {
                job->session->Abort();
            }
        }
        WaitWhile([&job] { return !job->finished; }, grace);
    }
    if (job->finished) {
        record->thread.join();
    } else {
        // Stuck where shutdown cannot reach (a name look-up or a connect): let it end on its
        // own; it keeps its own data alive and stays silent from now on.
        job->abandoned = true;
        record->thread.detach();
    }
    record->job.reset();
}

void MailChecker::StopAll() {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        StopCheck(i);
    }
}

bool MailChecker::TimerTick(bool mailListOpen) {
    if (mailListOpen || AnyRunning() || m_records.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        StartCheck(i, false);
    }
    return true;
}

void MailChecker::RunJob(std::shared_ptr<Job> job) {
    Pop3Session session;
    session.SetReplyTimeout(std::chrono::seconds(job->account.timeoutSeconds));
    {
        const std::lock_guard lock(job->sessionMutex);
        job->session = &session;
    }
    job->started = true;

    const auto finish = [&job](std::string status) {
        job->SetStatus(std::move(status));
        job->Notify([&job](CheckObserver& observer) { observer.CheckFinished(job->index); });
    };

    job->SetStatus(std::string(CheckStatus::Connecting));
    const MailAccount& account = job->account;
    bool counted = false;
    bool failed = false;
    if (!job->cancel &&
        session.Connect(account.server, account.account, account.password, account.port)) {
        if (!job->cancel) {
            job->SetStatus(std::string(CheckStatus::Counting));
            if (const auto statistics = session.Statistics()) {
                counted = true;
                {
                    const std::lock_guard lock(job->record->mutex);
                    job->record->count = statistics->count;
                }
                job->Notify([&job](CheckObserver& observer) { observer.CountChanged(job->index); });
            }
        }
        if (counted && job->fetchHeaders) {
            const std::uint32_t count = session.MessageCount();
            for (std::uint32_t number = 1; number <= count && !job->cancel; ++number) {
                // Once the conversation is out of step every further command would only wait
                // out the time-out again.
                if (!session.IsUsable()) {
                    failed = true;
                    break;
                }
                job->SetStatus(CheckStatus::Retrieving(number - 1));
                const std::string header = session.MessageHeader(number).value_or(std::string());
                MailHeaderItem item;
                item.number = number;
                item.from = DecodeHeaderText(Pop3Session::HeaderField(header, "From"));
                item.subject = DecodeHeaderText(Pop3Session::HeaderField(header, "Subject"));
                item.date = Pop3Session::HeaderField(header, "Date");
                item.size = session.MessageSize(number).value_or(0);
                job->Notify([&job, &item](CheckObserver& observer) {
                    observer.HeaderFetched(job->index, item);
                });
            }
            failed = failed || (!job->cancel && !session.IsUsable());
        }
        // The server's own words when it answered; else what went wrong with the connection
        // (a header cut off by a time-out says nothing useful).
        const int code = session.LastError();
        const bool answered = code == Pop3Error::NegativeReply || code == Pop3Error::ReplyTooLong;
        std::string failure = session.LastReplyText();
        if (failure.empty() || (counted && !answered)) {
            failure = protocol::SocketErrorText(code);
        }
        job->SetStatus(std::string(CheckStatus::Disconnecting));
        session.Disconnect();
        if (counted && !failed) {
            finish(std::string(job->cancel ? CheckStatus::Cancelled : CheckStatus::Done));
        } else {
            finish(job->cancel && counted ? std::string(CheckStatus::Cancelled) : failure);
        }
    } else if (session.LastError() == Pop3Error::NegativeReply &&
               !session.LastReplyText().empty()) {
        // The server refused the greeting or the login: its own words say which (a wrong
        // password reads differently from a closed port).
        finish(session.LastReplyText());
    } else {
        finish(std::string(CheckStatus::ConnectionFailed));
    }

    {
        const std::lock_guard lock(job->sessionMutex);
        job->session = nullptr;
    }
    job->finished = true;
}

}  // namespace talvorine::mailpoll
