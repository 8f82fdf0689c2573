#pragma once
// A POP3 server on 127.0.0.1 (a port of its own choosing) that serves a mailbox held in memory
// and can be scripted to misbehave: a greeting in pieces, replaced replies, silence, a reply
// without end. It records every command line it receives.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/protocol/socket.h"

namespace talvorine::mailpoll::testing {

struct PeerMessage {
    std::string header;  // header lines, each ending in "\r\n"
    std::uint32_t size = 0;
};

PeerMessage MakeMessage(const std::string& from, const std::string& subject,
                        const std::string& date, std::uint32_t size);

struct PeerScript {
    std::vector<std::string> greeting{"+OK POP3 server ready\r\n"};  // sent piece by piece
    std::chrono::milliseconds pieceDelay{100};
    std::map<std::string, std::string> replies;  // command word -> the whole raw reply
    std::set<std::string> silent;                // command words never answered
    std::set<std::string> endless;               // command words answered with bytes that never end
};

class ScriptedPop3Peer {
public:
    explicit ScriptedPop3Peer(std::vector<PeerMessage> mailbox, PeerScript script = {});
    ScriptedPop3Peer(const ScriptedPop3Peer&) = delete;
    ScriptedPop3Peer& operator=(const ScriptedPop3Peer&) = delete;
    ~ScriptedPop3Peer();

    std::uint16_t Port() const { return m_port; }
    // Every command line received (without "\r\n"), over all connections, in order.
    std::vector<std::string> Commands() const;
    // The messages left after the committed deletions.
    std::size_t MessageCount() const;
    int Connections() const { return m_connections; }

private:
    void AcceptLoop();
    void Serve(protocol::SocketHandle socket);
    bool Answer(protocol::SocketHandle socket, const std::string& line, std::vector<bool>& deleted,
                bool& quit);
    bool Send(protocol::SocketHandle socket, const std::string& text);

    PeerScript m_script;
    mutable std::mutex m_mutex;  // mailbox, commands, open sockets
    std::vector<PeerMessage> m_mailbox;
    std::vector<std::string> m_commands;
    std::set<protocol::SocketHandle> m_open;
    protocol::Socket m_listener;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::vector<std::thread> m_threads;  // under m_mutex
    std::thread m_acceptor;
};

}  // namespace talvorine::mailpoll::testing
