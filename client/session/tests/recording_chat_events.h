#pragma once
// A chat window side that records what the chat reader reported, for tests to wait on.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/client/session/chat.h"

namespace talvorine::client::session::testing {

class RecordingChatEvents : public ChatEvents {
public:
    void LineAdded(std::string_view line) override {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    void PeerLeft(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_left = text;
    }
    void ConnectionFailed(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_failed = text;
    }
    // Waits up to ten seconds for `done`, which reads through the accessors below.
    static bool WaitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::string Left() const {
        std::lock_guard lock(m_mutex);
        return m_left;
    }
    std::string Failed() const {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::string m_left, m_failed;
};

}  // namespace talvorine::client::session::testing
