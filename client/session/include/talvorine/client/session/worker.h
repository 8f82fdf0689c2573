#pragma once
// Thread helpers of the engine: a worker thread that can be waited for while the caller keeps
// serving its own queue, and the set of sockets a worker may block on, so that another thread
// can wake it with shutdown() (only the owner ever closes a descriptor).

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "talvorine/protocol/socket.h"

namespace talvorine::client::session {

class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { Join(); }

    // Joins a finished earlier run, then starts `body` on a new thread. Throws
    // std::system_error when the thread cannot be created.
    void Start(std::function<void()> body);
    bool Running() const { return m_running.load(); }
    bool Joinable() const { return m_thread.joinable(); }
    void Join();
    // Waits until the body has returned, calling `dispatch` every few milliseconds meanwhile
    // (the caller's queue keeps being served). Joins and returns true when it ended in time.
    bool WaitDispatching(const std::function<void()>& dispatch,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
    // Lets a thread that did not end in time go on alone (it is never killed: a killed thread
    // would leave its locks held). Its owner must then outlive it, and the Worker too.
    void Abandon();

private:
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};

// Sockets that another thread may have to wake. Wake() shuts every registered socket down and
// every socket added afterwards at once, so a cancel that races a socket's creation still wins.
class SocketWaker {
public:
    void Add(protocol::SocketHandle socket);
    void Remove(protocol::SocketHandle socket);
    void Wake();
    bool Woken() const;
    void Reset();  // forget the wake (a new connection attempt)

private:
    mutable std::mutex m_mutex;
    std::vector<protocol::SocketHandle> m_sockets;
    bool m_woken = false;
};

// A socket owned by one worker and registered with a waker for its whole life; closed (by its
// owner) only after it has been taken off the waker's list.
class WakeableSocket {
public:
    explicit WakeableSocket(SocketWaker& waker) : m_waker(waker) {}
    WakeableSocket(const WakeableSocket&) = delete;
    WakeableSocket& operator=(const WakeableSocket&) = delete;
    ~WakeableSocket() { Close(); }

    // Registers the descriptor that a helper stored into `Ref()`.
    void Register();
    protocol::SocketHandle& Ref() { return m_socket.Ref(); }
    protocol::SocketHandle Get() const { return m_socket.Get(); }
    bool IsOpen() const { return m_socket.IsOpen(); }
    // Unregisters and hands the open socket to the caller.
    protocol::Socket Release();
    void Close();

private:
    SocketWaker& m_waker;
    protocol::Socket m_socket;
    bool m_registered = false;
};

}  // namespace talvorine::client::session
