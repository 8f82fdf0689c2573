#pragma once
// The account list with its check jobs: one worker thread per running check, reporting to the
// window through a CheckObserver (called on the job's thread, expected to hand over
// synchronously), and the timer rule of the automatic check.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/mailpoll/mail_store.h"

namespace talvorine::mailpoll {

class Pop3Session;

// One message's header as the mail list shows it.
struct MailHeaderItem {
    std::uint32_t number = 0;  // the message number in the mailbox of the check that found it
    std::string from;
    std::string subject;
    std::string date;
    std::uint32_t size = 0;  // bytes
};

// Status texts of a check.
namespace CheckStatus {
inline constexpr std::string_view Connecting = "Connecting ...";
inline constexpr std::string_view ConnectionFailed = "Connection failed";
inline constexpr std::string_view Counting = "Counting ...";
inline constexpr std::string_view Disconnecting = "Disconnecting ...";
inline constexpr std::string_view Cancelled = "Cancled";
inline constexpr std::string_view Done = "Done.";
std::string Retrieving(std::size_t fetched);  // "Retrieving #%d ..."
}  // namespace CheckStatus

// Called on a job's thread; each call returns once the window has taken the change over.
class CheckObserver {
public:
    virtual ~CheckObserver() = default;
    virtual void StatusChanged(std::size_t index) = 0;                              // code 1
    virtual void CountChanged(std::size_t index) = 0;                               // code 2
    virtual void CheckFinished(std::size_t index) = 0;                              // code 3
    virtual void HeaderFetched(std::size_t index, const MailHeaderItem& item) = 0;  // code 4
};

// The timer period for the settings, or nullopt when the automatic check is off.
std::optional<std::chrono::milliseconds> TimerPeriod(const PostSentrySettings& settings);

class MailChecker {
public:
    // While the window thread waits for a job it calls `pump` repeatedly so that the job's
    // synchronous hand-overs are served; the default only sleeps briefly.
    using WaitPump = std::function<void()>;

    explicit MailChecker(CheckObserver& observer, WaitPump pump = {});
    MailChecker(const MailChecker&) = delete;
    MailChecker& operator=(const MailChecker&) = delete;
    // Stops every job; a job that does not end within its grace is given up and never calls
    // the observer again.
    ~MailChecker();

    std::size_t Size() const { return m_records.size(); }
    const MailAccount& Account(std::size_t index) const;
    std::vector<MailAccount> Accounts() const;

    // Changing the list is refused (false) while any job runs.
    bool SetAccounts(std::vector<MailAccount> accounts);
    bool Add(MailAccount account);
    bool Replace(std::size_t index, MailAccount account);
    bool Remove(std::size_t index);
    bool Move(std::size_t index, bool up);

    // The index of another account with the same title, compared without regard to case.
    std::optional<std::size_t> FindTitle(std::string_view title,
                                         std::optional<std::size_t> except = {}) const;

    std::string Status(std::size_t index) const;
    std::optional<std::uint32_t> Count(std::size_t index) const;

    bool IsRunning(std::size_t index) const;
    bool AnyRunning() const;

    // Starts a check unless one runs for the account; returns once the job's session exists.
    void StartCheck(std::size_t index, bool fetchHeaders);
    // Cancels the account's job and waits for it up to `grace`.
    void StopCheck(std::size_t index, std::chrono::milliseconds grace = std::chrono::seconds(10));
    void StopAll();

    // A timer tick: starts a count-only check of every account unless a job runs or the mail
    // list is open. True when it started them.
    bool TimerTick(bool mailListOpen);

private:
    struct Job;
    struct Record;
    struct Relay;

    static void RunJob(std::shared_ptr<Job> job);
    void WaitWhile(const std::function<bool()>& busy,
                   std::optional<std::chrono::milliseconds> limit);
    void ReapFinished();

    std::shared_ptr<Relay> m_relay;
    WaitPump m_pump;
    std::vector<std::shared_ptr<Record>> m_records;
};

}  // namespace talvorine::mailpoll
