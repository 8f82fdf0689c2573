#pragma once
// Deletes listed messages of one account on a worker thread with a session of its own; the
// closing QUIT commits the deletions.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/mailpoll/mail_store.h"

namespace talvorine::mailpoll {

namespace DeleteStatus {
inline constexpr std::string_view Connecting = "Connecting ...";
inline constexpr std::string_view ConnectionFailed = "Connection failed.";
inline constexpr std::string_view Failed = "Failed to delete mail";
std::string Deleting(std::size_t deleted, std::size_t total);  // "Deleting %d/%d"
// The server answered the greeting or the login with a refusal (`reply`, its own line).
std::string LoginRefused(const std::string& reply);
}  // namespace DeleteStatus

// Called on the worker's thread; each call returns once the window has taken it over.
class DeleteObserver {
public:
    virtual ~DeleteObserver() = default;
    virtual void DeleteProgress(const std::string& text) = 0;
    // The message at `position` of the numbers handed to Start was deleted.
    virtual void MessageDeleted(std::size_t position) = 0;
    // `ok` is false when a DELE or the committing QUIT failed; `text` says why (empty when ok
    // or when the connection failed, which DeleteProgress has shown).
    virtual void DeleteFinished(bool ok, const std::string& text) = 0;
};

class DeleteWorker {
public:
    using WaitPump = std::function<void()>;

    explicit DeleteWorker(DeleteObserver& observer, WaitPump pump = {});
    DeleteWorker(const DeleteWorker&) = delete;
    DeleteWorker& operator=(const DeleteWorker&) = delete;
    ~DeleteWorker();  // cancels and waits, like Stop

    // Deletes the messages with these numbers, in this order. False when a run is going on.
    bool Start(const MailAccount& account, std::vector<std::uint32_t> numbers);
    bool IsRunning() const;
    // Asks the run to stop after the current message; the deletions so far are committed.
    void Cancel();
    // Cancels the run (the messages deleted so far are committed if QUIT still gets through)
    // and waits for it up to `grace`.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(10));
    // Waits for the run to end by itself.
    void Wait();

private:
    struct Run;
    static void Execute(std::shared_ptr<Run> run);
    void Reap();

    std::shared_ptr<Run> m_run;
    std::thread m_thread;
    DeleteObserver& m_observer;
    WaitPump m_pump;
};

}  // namespace talvorine::mailpoll
