#include "signal_watcher.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace talvorine::server {

namespace {
// Sent by Stop to end the watching thread.
constexpr int QuitSignal = SIGUSR2;
}  // namespace

SignalWatcher::SignalWatcher() {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigaddset(&m_set, SIGHUP);
    sigaddset(&m_set, QuitSignal);
    pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
}

SignalWatcher::~SignalWatcher() {
    Stop();
}

void SignalWatcher::Start(std::function<void(int)> onSignal) {
    m_onSignal = std::move(onSignal);
    m_thread = std::thread([this] { Loop(); });
}

void SignalWatcher::Stop() {
    if (m_thread.joinable()) {
        pthread_kill(m_thread.native_handle(), QuitSignal);
        m_thread.join();
    }
}

void SignalWatcher::Loop() {
    for (;;) {
        int signal = 0;
        if (sigwait(&m_set, &signal) != 0) {
            continue;
        }
        if (signal == QuitSignal) {
            return;
        }
        m_onSignal(signal);
    }
}

void SignalWatcher::DefaultAction(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
    _exit(128 + signal);
}

}  // namespace talvorine::server
