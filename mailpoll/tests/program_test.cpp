// The real TalvorinePostSentry program, started the way the client starts it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <thread>

#include "talvorine/mailpoll/client_link.h"
#include "talvorine/platform/local_channel.h"
#include "temp_registry.h"

extern char** environ;

namespace talvorine::mailpoll {
namespace {

using namespace std::chrono_literals;

class Program {
public:
    explicit Program(const char* argument) {
        char program[] = POST_SENTRY_PROGRAM;
        std::string arg = argument;
        char* argv[] = {program, arg.data(), nullptr};
        if (::posix_spawn(&m_pid, program, nullptr, nullptr, argv, environ) != 0) {
            m_pid = -1;
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (m_pid > 0 && !m_exit) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Started() const { return m_pid > 0; }

    // The exit code once the program ended within `limit`.
    std::optional<int> WaitExit(std::chrono::milliseconds limit) {
        const auto start = std::chrono::steady_clock::now();
        while (!m_exit && std::chrono::steady_clock::now() - start < limit) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        return m_exit;
    }

private:
    pid_t m_pid = -1;
    std::optional<int> m_exit;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (std::chrono::steady_clock::now() - start > limit) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(PostSentryProgramTest, SecondInstanceEndsAtOnceAndTheClientClosesTheFirst) {
    testing::TempRegistry registry;
    const std::string channel = PollerChannelName();
    ASSERT_TRUE(WaitFor([&] { return !platform::ChannelExists(channel); }, 30s))
        << "a poller already runs on this desktop";

    Program first("-Embedding");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return platform::ChannelExists(channel); }, 15s));

    Program second("-Embedding");
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitExit(10s), 0);
    EXPECT_FALSE(first.WaitExit(200ms)) << "the first instance must keep running";

    // The client's message 1: the poller closes.
    ASSERT_TRUE(platform::SendChannelLine(channel, "1"));
    EXPECT_EQ(first.WaitExit(15s), 0);
    EXPECT_FALSE(platform::ChannelExists(channel));
}

}  // namespace
}  // namespace talvorine::mailpoll
