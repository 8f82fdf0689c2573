#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/platform/local_channel.h"

namespace talvorine::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Unique per process and per test, so parallel runs never share a name.
std::string TestName(const std::string& what) {
    return "talvorine-channel-test/" + std::to_string(::getpid()) + "/" + what;
}

// A raw connection to a channel, for peers that misbehave.
int RawConnect(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int WaitForChild(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(ChannelTest, SecondHolderInThisProcessIsRefused) {
    const std::string name = TestName("second-here");
    auto first = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Name(), name);
    EXPECT_FALSE(ChannelListener::TryCreate(name, PeerPolicy::SameUser));
    EXPECT_TRUE(ChannelExists(name));
}

TEST(ChannelTest, SecondHolderInAnotherProcessIsRefused) {
    const std::string name = TestName("second-child");
    auto first = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(first);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool refused = !ChannelListener::TryCreate(name, PeerPolicy::SameUser);
        const bool seen = ChannelExists(name);
        ::_exit(refused && seen ? 0 : 1);
    }
    const int status = WaitForChild(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ChannelTest, NameVanishesWhenTheHolderIsDestroyed) {
    const std::string name = TestName("vanish");
    {
        auto holder = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
        ASSERT_TRUE(holder);
        // Moving keeps the one name held.
        ChannelListener moved = std::move(*holder);
        EXPECT_TRUE(ChannelExists(name));
    }
    EXPECT_FALSE(ChannelExists(name));
    EXPECT_FALSE(SendChannelLine(name, "set"));
    EXPECT_TRUE(ChannelListener::TryCreate(name, PeerPolicy::SameUser));
}

TEST(ChannelTest, NameVanishesWhenTheHoldingProcessIsKilled) {
    const std::string name = TestName("killed");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        auto holder = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
        const char result = holder ? 'y' : 'n';
        (void)!::write(ready[1], &result, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char result = 0;
    ASSERT_EQ(::read(ready[0], &result, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(result, 'y');
    EXPECT_TRUE(ChannelExists(name));
    EXPECT_FALSE(ChannelListener::TryCreate(name, PeerPolicy::SameUser));

    ::kill(child, SIGKILL);
    const int status = WaitForChild(child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(ChannelExists(name));
    EXPECT_TRUE(ChannelListener::TryCreate(name, PeerPolicy::SameUser));
}

TEST(ChannelTest, LinesArriveInOrderAndProbesAreNoLines) {
    const std::string name = TestName("lines");
    auto listener = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    ASSERT_TRUE(SendChannelLine(name, "1"));
    ASSERT_TRUE(ChannelExists(name));  // a connection without a line
    ASSERT_TRUE(SendChannelLine(name, "2"));
    ASSERT_TRUE(SendChannelLine(name, "3"));
    EXPECT_EQ(listener->WaitLine(5s), "1");
    EXPECT_EQ(listener->WaitLine(5s), "2");
    EXPECT_EQ(listener->WaitLine(5s), "3");
    EXPECT_EQ(listener->WaitLine(100ms), std::nullopt);
}

TEST(ChannelTest, SenderRefusesLinesTheListenerWouldDrop) {
    const std::string name = TestName("refuse-lines");
    auto listener = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    EXPECT_FALSE(SendChannelLine(name, "1\n2"));
    EXPECT_FALSE(SendChannelLine(name, std::string(256, 'x')));
    EXPECT_TRUE(SendChannelLine(name, std::string(255, 'x')));
    EXPECT_EQ(listener->WaitLine(5s), std::string(255, 'x'));
    EXPECT_FALSE(SendChannelLine("", "set"));
    EXPECT_FALSE(ChannelExists(std::string(200, 'n')));
    EXPECT_THROW(ChannelListener::TryCreate(std::string(200, 'n'), PeerPolicy::SameUser),
                 std::invalid_argument);
}

TEST(ChannelTest, SilentOrOverlongPeersDoNotStallTheListener) {
    const std::string name = TestName("silent");
    auto listener = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    const int silent = RawConnect(name);
    ASSERT_GE(silent, 0);
    const int flood = RawConnect(name);
    ASSERT_GE(flood, 0);
    const std::string noNewline(300, 'a');
    ASSERT_EQ(::send(flood, noNewline.data(), noNewline.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(noNewline.size()));
    ASSERT_TRUE(SendChannelLine(name, "2"));
    EXPECT_EQ(listener->WaitLine(10s), "2");
    ::close(silent);
    ::close(flood);
}

TEST(ChannelTest, WaitLineTimesOut) {
    auto listener = ChannelListener::TryCreate(TestName("timeout"), PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    const auto start = Clock::now();
    EXPECT_EQ(listener->WaitLine(300ms), std::nullopt);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 5s);
    EXPECT_EQ(listener->WaitLine(0ms), std::nullopt);
}

TEST(ChannelTest, WakeFromAnotherThreadEndsABlockedWait) {
    const std::string name = TestName("wake");
    auto listener = ChannelListener::TryCreate(name, PeerPolicy::RootOrSameUser);
    ASSERT_TRUE(listener);
    std::optional<std::string> result = "not woken";
    std::thread waiter([&] { result = listener->WaitLine(); });
    std::this_thread::sleep_for(200ms);
    listener->Wake();
    waiter.join();
    EXPECT_EQ(result, std::nullopt);

    // Later waits end at once; the name is still held but takes no connections.
    const auto start = Clock::now();
    EXPECT_EQ(listener->WaitLine(), std::nullopt);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(ChannelExists(name));
    EXPECT_FALSE(ChannelListener::TryCreate(name, PeerPolicy::SameUser));
}

TEST(ChannelTest, PeerCredentialPolicies) {
    EXPECT_TRUE(IsPeerAllowed(PeerPolicy::SameUser, 1000, 1000));
    EXPECT_FALSE(IsPeerAllowed(PeerPolicy::SameUser, 1001, 1000));
    EXPECT_FALSE(IsPeerAllowed(PeerPolicy::SameUser, 0, 1000));
    EXPECT_TRUE(IsPeerAllowed(PeerPolicy::SameUser, 0, 0));
    EXPECT_FALSE(IsPeerAllowed(PeerPolicy::SameUser, 1000, 0));

    EXPECT_TRUE(IsPeerAllowed(PeerPolicy::RootOrSameUser, 1000, 1000));
    EXPECT_TRUE(IsPeerAllowed(PeerPolicy::RootOrSameUser, 0, 1000));
    EXPECT_FALSE(IsPeerAllowed(PeerPolicy::RootOrSameUser, 1001, 1000));
    EXPECT_FALSE(IsPeerAllowed(PeerPolicy::RootOrSameUser, 65534, 0));
}

TEST(ChannelTest, DesktopNameCarriesTheUserId) {
    EXPECT_EQ(DesktopChannelName("Talvorine PostSentry"),
              "Talvorine PostSentry/" + std::to_string(::getuid()));
}

TEST(ChannelTest, ProgramChannelsFollowTheirEnvironmentOverrides) {
    ::unsetenv(ClientChannelVariable);
    ::setenv(PostSentryChannelVariable, "", 1);
    EXPECT_EQ(ClientChannelName(), "Talvorine Messenger/" + std::to_string(::getuid()));
    EXPECT_EQ(PostSentryChannelName(), "Talvorine PostSentry/" + std::to_string(::getuid()));
    ::setenv(ClientChannelVariable, "test-client/1", 1);
    ::setenv(PostSentryChannelVariable, "test-poller/1", 1);
    EXPECT_EQ(ClientChannelName(), "test-client/1");
    EXPECT_EQ(PostSentryChannelName(), "test-poller/1");
    ::unsetenv(ClientChannelVariable);
    ::unsetenv(PostSentryChannelVariable);
}

TEST(ChannelTest, ReaderHandsOverEveryLineInOrderAndStopsWhenDestroyed) {
    auto listener = ChannelListener::TryCreate(TestName("reader"), PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    std::mutex mutex;
    std::vector<std::string> lines;
    {
        const ChannelReader reader(*listener, [&](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
        EXPECT_TRUE(SendChannelLine(listener->Name(), "1"));
        EXPECT_TRUE(SendChannelLine(listener->Name(), "3"));
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard lock(mutex);
                if (lines.size() == 2) {
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }  // the reader blocked in its wait is woken and joined here
    EXPECT_EQ(lines, (std::vector<std::string>{"1", "3"}));
}

std::vector<std::string> g_refusals;
void RecordRefusal(const std::string& message) {
    g_refusals.push_back(message);
}

// Needs a second user id: a root test run drops a child to "nobody" (65534).
TEST(ChannelTest, PeerOfAnotherUserIsRefusedAndReported) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    const std::string name = TestName("other-user");
    auto listener = ChannelListener::TryCreate(name, PeerPolicy::SameUser);
    ASSERT_TRUE(listener);
    g_refusals.clear();
    listener->SetRefusalHandler(RecordRefusal);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        ::_exit(SendChannelLine(name, "1") ? 0 : 1);
    }
    const int status = WaitForChild(child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(SendChannelLine(name, "2"));

    EXPECT_EQ(listener->WaitLine(5s), "2");
    ASSERT_EQ(g_refusals.size(), 1u);
    EXPECT_EQ(g_refusals[0], "refused a connection from uid 65534 on \"" + name + "\"");
}

}  // namespace
}  // namespace talvorine::platform
