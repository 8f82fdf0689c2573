#pragma once
// The console control events (SIGINT, SIGTERM, SIGHUP) and the service stop (SIGTERM),
// taken by one thread with sigwait so that the reaction runs as ordinary code, never inside
// a signal handler.

#include <csignal>
#include <functional>
#include <thread>

namespace talvorine::server {

class SignalWatcher {
public:
    // Blocks the watched signals in the calling thread; threads started later inherit that.
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    void Start(std::function<void(int)> onSignal);
    void Stop();

    // The system's default handling of `signal` (which ends the process).
    [[noreturn]] static void DefaultAction(int signal);

private:
    void Loop();

    sigset_t m_set{};
    std::function<void(int)> m_onSignal;
    std::thread m_thread;
};

}  // namespace talvorine::server
