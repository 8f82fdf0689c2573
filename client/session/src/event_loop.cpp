#include "talvorine/client/session/event_loop.h"

#include <future>

namespace talvorine::client::session {

EventLoop::EventLoop() : m_owner(std::this_thread::get_id()) {}

void EventLoop::Post(std::function<void()> call) {
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_wake.notify_all();
}

void EventLoop::Send(const std::function<void()>& call) {
    if (OnLoopThread()) {
        call();
        return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    Post([&call, &done] {
        call();
        done.set_value();
    });
    future.wait();
}

void EventLoop::ProcessPending() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_calls.empty()) {
                return;
            }
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        ProcessPending();
        if (done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        std::unique_lock lock(m_mutex);
        m_wake.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(10)),
                          [this] { return !m_calls.empty(); });
    }
}

void EventLoop::RunFor(std::chrono::milliseconds duration) {
    RunUntil([] { return false; }, duration);
}

}  // namespace talvorine::client::session
