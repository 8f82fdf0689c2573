#include "talvorine/mailpoll/testing/scripted_pop3_peer.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace talvorine::mailpoll::testing {

namespace {

using protocol::InvalidSocket;
using protocol::SocketHandle;

constexpr int SendTimeoutSeconds = 5;

std::string Word(const std::string& line) {
    std::string word = line.substr(0, line.find(' '));
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return word;
}

std::uint32_t Argument(const std::string& line) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos) {
        return 0;
    }
    try {
        return static_cast<std::uint32_t>(std::stoul(line.substr(blank + 1)));
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

PeerMessage MakeMessage(const std::string& from, const std::string& subject,
                        const std::string& date, std::uint32_t size) {
    PeerMessage message;
    message.header = "Return-Path: <" + from + ">\r\nFrom: " + from +
                     "\r\nTo: user@example.org\r\n" + "Subject: " + subject + "\r\nDate: " + date +
                     "\r\n";
    message.size = size;
    return message;
}

ScriptedPop3Peer::ScriptedPop3Peer(std::vector<PeerMessage> mailbox, PeerScript script)
    : m_script(std::move(script)), m_mailbox(std::move(mailbox)) {
    protocol::StartSockets();
    if (protocol::ListenOn(m_listener.Ref(), 0) != 0) {
        throw std::runtime_error("the scripted POP3 peer cannot listen: " +
                                 protocol::LastSocketErrorText());
    }
    m_port = protocol::LocalPort(m_listener.Get());
    m_acceptor = std::thread(&ScriptedPop3Peer::AcceptLoop, this);
}

ScriptedPop3Peer::~ScriptedPop3Peer() {
    m_stopping = true;
    protocol::ShutdownSocket(m_listener.Get());
    m_acceptor.join();
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(m_mutex);
        for (const SocketHandle socket : m_open) {
            protocol::ShutdownSocket(socket);
        }
        threads.swap(m_threads);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::vector<std::string> ScriptedPop3Peer::Commands() const {
    const std::lock_guard lock(m_mutex);
    return m_commands;
}

std::size_t ScriptedPop3Peer::MessageCount() const {
    const std::lock_guard lock(m_mutex);
    return m_mailbox.size();
}

void ScriptedPop3Peer::AcceptLoop() {
    while (!m_stopping) {
        const SocketHandle socket = protocol::AcceptOn(m_listener.Get(), nullptr);
        if (socket == InvalidSocket) {
            if (m_stopping) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const std::lock_guard lock(m_mutex);
        if (m_stopping) {
            protocol::Socket closing(socket);
            return;
        }
        ++m_connections;
        m_open.insert(socket);
        m_threads.emplace_back(&ScriptedPop3Peer::Serve, this, socket);
    }
}

bool ScriptedPop3Peer::Send(SocketHandle socket, const std::string& text) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return protocol::SendRaw(socket, bytes, SendTimeoutSeconds) == static_cast<long>(text.size());
}

void ScriptedPop3Peer::Serve(SocketHandle handle) {
    protocol::Socket socket(handle);
    for (std::size_t i = 0; i < m_script.greeting.size(); ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(m_script.pieceDelay);
        }
        if (!Send(handle, m_script.greeting[i])) {
            break;
        }
    }
    std::vector<bool> deleted;
    {
        const std::lock_guard lock(m_mutex);
        deleted.assign(m_mailbox.size(), false);
    }
    std::string pending;
    std::uint8_t buffer[4096];
    bool quit = false;
    while (!quit && !m_stopping) {
        const long received = protocol::ReceiveRaw(handle, buffer, 0, 0);
        if (received <= 0) {
            break;
        }
        pending.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(received));
        for (std::size_t end = pending.find("\r\n"); end != std::string::npos && !quit;
             end = pending.find("\r\n")) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            if (!Answer(handle, line, deleted, quit)) {
                quit = true;
            }
        }
    }
    const std::lock_guard lock(m_mutex);
    m_open.erase(handle);
}

bool ScriptedPop3Peer::Answer(SocketHandle socket, const std::string& line,
                              std::vector<bool>& deleted, bool& quit) {
    const std::string word = Word(line);
    std::ostringstream reply;
    {
        const std::lock_guard lock(m_mutex);
        m_commands.push_back(line);
        if (word == "QUIT") {
            quit = true;
            // Deletions take effect when QUIT is answered.
            std::vector<PeerMessage> kept;
            for (std::size_t i = 0; i < m_mailbox.size(); ++i) {
                if (i >= deleted.size() || !deleted[i]) {
                    kept.push_back(std::move(m_mailbox[i]));
                }
            }
            m_mailbox = std::move(kept);
        }
        if (m_script.silent.contains(word)) {
            return true;
        }
        if (m_script.endless.contains(word)) {
            reply << "+OK ";  // and then never a line end
        } else if (const auto it = m_script.replies.find(word); it != m_script.replies.end()) {
            reply << it->second;
        } else if (word == "USER" || word == "PASS" || word == "NOOP") {
            reply << "+OK\r\n";
        } else if (word == "STAT") {
            std::uint64_t count = 0;
            std::uint64_t total = 0;
            for (std::size_t i = 0; i < m_mailbox.size(); ++i) {
                if (!deleted[i]) {
                    ++count;
                    total += m_mailbox[i].size;
                }
            }
            reply << "+OK " << count << ' ' << total << "\r\n";
        } else if (word == "LIST") {
            reply << "+OK scan listing follows\r\n";
            for (std::size_t i = 0; i < m_mailbox.size(); ++i) {
                if (!deleted[i]) {
                    reply << i + 1 << ' ' << m_mailbox[i].size << "\r\n";
                }
            }
            reply << ".\r\n";
        } else if (word == "TOP" || word == "DELE") {
            const std::uint32_t number = Argument(line);
            if (number < 1 || number > m_mailbox.size() || deleted[number - 1]) {
                reply << "-ERR no such message\r\n";
            } else if (word == "TOP") {
                reply << "+OK top of message follows\r\n"
                      << m_mailbox[number - 1].header << "\r\n.\r\n";
            } else {
                deleted[number - 1] = true;
                reply << "+OK message deleted\r\n";
            }
        } else if (word == "QUIT") {
            reply << "+OK bye\r\n";
        } else {
            reply << "-ERR unknown command\r\n";
        }
    }
    if (!Send(socket, reply.str())) {
        return false;
    }
    if (m_script.endless.contains(word)) {
        const std::string flood(64 * 1024, 'x');
        while (!m_stopping && Send(socket, flood)) {
        }
        return false;
    }
    return true;
}

}  // namespace talvorine::mailpoll::testing
