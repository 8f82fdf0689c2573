#include "talvorine/client/session/worker.h"

#include <algorithm>

namespace talvorine::client::session {

void Worker::Start(std::function<void()> body) {
    Join();
    m_running = true;
    try {
        m_thread = std::thread([this, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // A worker reports through its owner; nothing may escape the thread.
            }
            m_running = false;
        });
    } catch (...) {
        m_running = false;
        throw;
    }
}

void Worker::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

void Worker::Abandon() {
    if (m_thread.joinable()) {
        m_thread.detach();
    }
}

bool Worker::WaitDispatching(const std::function<void()>& dispatch,
                             std::chrono::milliseconds timeout) {
    const auto start = std::chrono::steady_clock::now();
    while (m_running.load()) {
        if (dispatch) {
            dispatch();
        }
        if (timeout != std::chrono::milliseconds::max() &&
            std::chrono::steady_clock::now() - start >= timeout) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Join();
    return true;
}

void SocketWaker::Add(protocol::SocketHandle socket) {
    if (socket == protocol::InvalidSocket) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_sockets.push_back(socket);
    if (m_woken) {
        protocol::ShutdownSocket(socket);
    }
}

void SocketWaker::Remove(protocol::SocketHandle socket) {
    std::lock_guard lock(m_mutex);
    std::erase(m_sockets, socket);
}

void SocketWaker::Wake() {
    std::lock_guard lock(m_mutex);
    m_woken = true;
    for (const auto socket : m_sockets) {
        protocol::ShutdownSocket(socket);
    }
}

bool SocketWaker::Woken() const {
    std::lock_guard lock(m_mutex);
    return m_woken;
}

void SocketWaker::Reset() {
    std::lock_guard lock(m_mutex);
    m_woken = false;
}

void WakeableSocket::Register() {
    if (!m_registered && m_socket.IsOpen()) {
        m_waker.Add(m_socket.Get());
        m_registered = true;
    }
}

protocol::Socket WakeableSocket::Release() {
    if (m_registered) {
        m_waker.Remove(m_socket.Get());
        m_registered = false;
    }
    return protocol::Socket(m_socket.Release());
}

void WakeableSocket::Close() {
    if (m_registered) {
        m_waker.Remove(m_socket.Get());
        m_registered = false;
    }
    m_socket.Close();
}

}  // namespace talvorine::client::session
