#pragma once
// A minimal user-interface thread for programs and tests without windows: a queue of calls
// that worker threads post to (posted window messages) or send to and wait for
// (sent window messages), run by whichever thread calls Run... .

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace talvorine::client::session {

class EventLoop {
public:
    // Binds the loop to the calling thread (the thread that will run it).
    EventLoop();

    // Queues `call`; returns at once.
    void Post(std::function<void()> call);
    // Runs `call` on the loop's thread and waits for it; runs it at once when called there.
    void Send(const std::function<void()>& call);

    // Runs every queued call (also those queued while running).
    void ProcessPending();
    // Runs calls until `done()` is true or `timeout` has passed; returns done().
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs calls for `duration`.
    void RunFor(std::chrono::milliseconds duration);

    bool OnLoopThread() const { return std::this_thread::get_id() == m_owner; }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_calls;
    std::thread::id m_owner;
};

}  // namespace talvorine::client::session
