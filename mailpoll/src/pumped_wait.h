#pragma once
// Waits of the window thread for a worker: they keep calling the wait pump so that the
// worker's synchronous hand-overs to the window are served meanwhile.

#include <chrono>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <thread>

namespace talvorine::mailpoll::detail {

using WaitPump = std::function<void()>;

inline constexpr auto WaitSlice = std::chrono::milliseconds(2);

inline void PumpOnce(const WaitPump& pump) {
    if (pump) {
        pump();
    }
    std::this_thread::sleep_for(WaitSlice);
}

// True once `done`; false when `limit`, measured from the start of the wait, passed first.
inline bool WaitPumped(const std::function<bool()>& done, const WaitPump& pump,
                       std::optional<std::chrono::milliseconds> limit = std::nullopt) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (limit && std::chrono::steady_clock::now() - start >= *limit) {
            return false;
        }
        PumpOnce(pump);
    }
    return true;
}

// The exclusive lock of a mutex that workers hold shared while they hand something over.
inline std::unique_lock<std::shared_mutex> LockPumped(std::shared_mutex& mutex,
                                                      const WaitPump& pump) {
    for (;;) {
        std::unique_lock lock(mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            return lock;
        }
        PumpOnce(pump);
    }
}

}  // namespace talvorine::mailpoll::detail
