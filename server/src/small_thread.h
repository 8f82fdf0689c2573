#pragma once
// A thread with a small stack. The server runs one thread per session and per account
// connection, so the default 8 MiB of address space per thread would not let it hold ten
// thousand sessions; every buffer larger than a few KiB lives on the heap instead.

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace talvorine::server {

class SmallThread {
public:
#if defined(__SANITIZE_ADDRESS__)
    // Instrumented frames are several times larger.
    static constexpr std::size_t DefaultStackSize = 1024 * 1024;
#else
    static constexpr std::size_t DefaultStackSize = 128 * 1024;
#endif

    SmallThread() = default;
    // Starts `body` on a new thread; throws std::system_error when the thread cannot start.
    explicit SmallThread(std::function<void()> body, std::size_t stackSize = DefaultStackSize);
    SmallThread(SmallThread&& other) noexcept;
    SmallThread& operator=(SmallThread&& other) noexcept;
    SmallThread(const SmallThread&) = delete;
    SmallThread& operator=(const SmallThread&) = delete;
    // Joins a thread that was neither joined nor detached.
    ~SmallThread();

    bool Joinable() const {
        return m_joinable;
    }
    void Join();
    // The thread frees its own resources when it ends.
    void Detach();

private:
    pthread_t m_thread{};
    bool m_joinable = false;
};

}  // namespace talvorine::server
