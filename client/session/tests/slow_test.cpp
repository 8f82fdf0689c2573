// The reconnect timer waits out ConnectInterval (5 s) between attempts; shutdown waits 10 s
// for a worker before it leaves it running.

#include <gtest/gtest.h>

#include "engine_client.h"
#include "server_harness.h"
#include "talvorine/client/session/account_requests.h"

namespace talvorine::client::session {
namespace {

using namespace std::chrono_literals;
using server::testing::ServerHarness;
using server::testing::TempFolder;
using testing::EngineClient;

class Reconnect : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        ::setenv("TALVORINE_CLIENT_HOME", home.Path().c_str(), 1);
    }
    // The main window's 500 ms timer, for `duration`.
    void Tick(EngineClient& client, std::chrono::milliseconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end) {
            client.session->ReconnectTick();
            loop.RunFor(500ms);
        }
    }
    Account NewAccount() {
        const auto credentials = RequestNewAccount({"127.0.0.1", server.Port()});
        return {credentials.userId, credentials.password, "Nick"};
    }

    ServerHarness server;
    TempFolder home{"tlv-slow-home"};
    EventLoop loop;
};

TEST_F(Reconnect, ADroppedSessionIsRetriedAfterTheIntervalAndARejectedLoginIsNot) {
    EngineClient client(loop, NewAccount(), {"127.0.0.1", server.Port(), true, 5});
    ASSERT_TRUE(client.ConnectAndWait());
    {
        std::lock_guard lock(client.session->Locks().request);
        protocol::SendPacket(client.session->RequestSocket(), 99, 5);  // "Unknown request."
    }
    ASSERT_TRUE(loop.RunUntil([&] { return !client.session->Connected(); }, 10s));
    const auto lost = std::chrono::steady_clock::now();
    Tick(client, 3500ms);
    EXPECT_FALSE(client.session->Connected());  // not before the interval
    Tick(client, 4000ms);
    EXPECT_TRUE(client.session->Connected());
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - lost);
    EXPECT_LE(seconds.count(), 9);

    auto wrong = NewAccount();
    wrong.password = "nope";
    EngineClient rejected(loop, wrong, {"127.0.0.1", server.Port(), true, 5});
    EXPECT_FALSE(rejected.ConnectAndWait());
    Tick(rejected, 7000ms);
    EXPECT_EQ(rejected.loginFailures.size(), 1u);  // no second attempt
}

// A window whose login-failure box never closes: the ConnectWorker stays in that hand-over,
// out of reach of every shutdown() the session can do.
class StuckLoginWindow : public EngineClient {
public:
    using EngineClient::EngineClient;
    void ShowLoginFailed(const std::string& /*text*/) override {
        std::unique_lock lock(m_stuckMutex);
        entered = true;
        m_release.wait(lock, [this] { return m_released; });
    }
    void Release() {
        {
            std::lock_guard lock(m_stuckMutex);
            m_released = true;
        }
        m_release.notify_all();
    }
    std::atomic<bool> entered{false};

private:
    std::mutex m_stuckMutex;
    std::condition_variable m_release;
    bool m_released = false;
};

TEST_F(Reconnect, ShutdownLeavesAWorkerItCannotWakeRunningInsteadOfKillingOrWaitingForever) {
    auto wrong = NewAccount();
    wrong.password = "nope";
    StuckLoginWindow client(loop, wrong, {"127.0.0.1", server.Port(), true, 5});
    client.session->Connect();
    ASSERT_TRUE(loop.RunUntil([&] { return client.entered.load(); }, 20s));

    client.session->Shutdown();  // returns after the worker's wait limit
    EXPECT_TRUE(client.session->WorkersLeftBehind());
    EXPECT_TRUE(client.session->Quitting());
    EXPECT_TRUE(client.session->Connecting());  // the worker still runs, untouched

    // Left alone, it finishes its login attempt and ends normally, its locks released.
    client.Release();
    ASSERT_TRUE(loop.RunUntil([&] { return client.session->WorkersIdle(); }, 20s));
    EXPECT_FALSE(client.session->Connected());
    EXPECT_TRUE(client.session->Locks().session.try_lock());
    client.session->Locks().session.unlock();
}

}  // namespace
}  // namespace talvorine::client::session
