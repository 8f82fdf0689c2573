#pragma once
// The session side of the server: the listener on the session port and the listener on the
// account port, one thread per session and per account connection, the map of online users
// and the relay of messages and requests between sessions.

#include <cstddef>
#include <memory>

#include "talvorine/protocol/socket.h"

namespace talvorine::server {

struct ServerContext;

class SessionServer {
public:
    explicit SessionServer(ServerContext& context);
    // Calls StopListeners and CloseSessions if the host has not done so.
    ~SessionServer();
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;

    // Starts the session listener (port P) and the account listener (port P + 1) on the two
    // listening sockets. The caller keeps them: it closes them after StopListeners returned.
    void Start(protocol::SocketHandle sessionListener, protocol::SocketHandle accountListener);

    // Wakes both accept loops (shutdown of the listening sockets) and joins the listener
    // threads. Sets nothing else; the host has set ServerContext::stopping before.
    void StopListeners();

    // Ends every session: wakes its thread (shutdown of both of its connections), waits up to
    // 30 s for it, marks its user offline; then waits for the account threads still running.
    // Console lines as the shutdown writes them.
    void CloseSessions();

    // Number of sessions whose thread is still running (logged in or not).
    std::size_t SessionCount() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace talvorine::server
