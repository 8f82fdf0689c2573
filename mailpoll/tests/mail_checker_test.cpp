#include "talvorine/mailpoll/mail_checker.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <condition_variable>

#include "talvorine/mailpoll/delete_worker.h"
#include "talvorine/mailpoll/pop3_session.h"
#include "talvorine/mailpoll/testing/scripted_pop3_peer.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::mailpoll {
namespace {

using namespace std::chrono_literals;
using testing::MakeMessage;
using testing::PeerScript;
using testing::ScriptedPop3Peer;

std::vector<testing::PeerMessage> Messages(int count) {
    std::vector<testing::PeerMessage> messages;
    for (int i = 1; i <= count; ++i) {
        messages.push_back(MakeMessage("sender" + std::to_string(i) + "@example.org",
                                       "Subject " + std::to_string(i),
                                       "Mon, 1 Jan 2024 10:00:0" + std::to_string(i) + " +0000",
                                       static_cast<std::uint32_t>(1000 * i)));
    }
    return messages;
}

MailAccount AccountFor(const ScriptedPop3Peer& peer, std::string title = "Home") {
    return {std::move(title), "127.0.0.1", "user", "secret", peer.Port(), 5};
}

// Records what the jobs hand over, as the window would take it.
class RecordingObserver : public CheckObserver {
public:
    MailChecker* checker = nullptr;

    void StatusChanged(std::size_t index) override { Record(index, checker->Status(index)); }
    void CountChanged(std::size_t index) override {
        Record(index, "count " + std::to_string(checker->Count(index).value_or(0)));
    }
    void CheckFinished(std::size_t index) override {
        Record(index, "finished");
        m_changed.notify_all();
    }
    void HeaderFetched(std::size_t, const MailHeaderItem& item) override {
        const std::lock_guard lock(m_mutex);
        m_headers.push_back(item);
    }

    std::vector<std::string> Events(std::size_t index) {
        const std::lock_guard lock(m_mutex);
        return m_events[index];
    }
    std::vector<MailHeaderItem> Headers() {
        const std::lock_guard lock(m_mutex);
        return m_headers;
    }
    // The last hand-over comes just before the job counts as ended.
    bool WaitFinished(std::size_t index, int times = 1) {
        std::unique_lock lock(m_mutex);
        const bool handedOver = m_changed.wait_for(lock, 20s, [&] {
            return std::count(m_events[index].begin(), m_events[index].end(), "finished") >= times;
        });
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        while (checker->IsRunning(index) && std::chrono::steady_clock::now() - start < 5s) {
            std::this_thread::sleep_for(1ms);
        }
        return handedOver && !checker->IsRunning(index);
    }

private:
    void Record(std::size_t index, std::string event) {
        const std::lock_guard lock(m_mutex);
        m_events[index].push_back(std::move(event));
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::size_t, std::vector<std::string>> m_events;
    std::vector<MailHeaderItem> m_headers;
};

class MailCheckerTest : public ::testing::Test {
protected:
    MailCheckerTest() { m_observer.checker = &m_checker; }
    RecordingObserver m_observer;
    MailChecker m_checker{m_observer};
};

TEST_F(MailCheckerTest, CountOnlyCheck) {
    ScriptedPop3Peer peer(Messages(2));
    ASSERT_TRUE(m_checker.Add(AccountFor(peer)));
    m_checker.StartCheck(0, false);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    EXPECT_EQ(m_observer.Events(0),
              (std::vector<std::string>{"Connecting ...", "Counting ...", "count 2",
                                        "Disconnecting ...", "Done.", "finished"}));
    EXPECT_EQ(m_checker.Count(0), 2u);
    EXPECT_TRUE(m_observer.Headers().empty());
    EXPECT_FALSE(m_checker.IsRunning(0));
}

TEST_F(MailCheckerTest, HeaderFetchingCheck) {
    ScriptedPop3Peer peer(Messages(3));
    ASSERT_TRUE(m_checker.Add(AccountFor(peer)));
    m_checker.StartCheck(0, true);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    const auto headers = m_observer.Headers();
    ASSERT_EQ(headers.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(headers[i].number, i + 1);
        EXPECT_EQ(headers[i].size, 1000 * (i + 1));
        EXPECT_EQ(headers[i].subject, "Subject " + std::to_string(i + 1));
    }
    EXPECT_EQ(headers[0].from, "sender1@example.org");
    const auto events = m_observer.Events(0);
    EXPECT_NE(std::find(events.begin(), events.end(), "Retrieving #0 ..."), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "Retrieving #2 ..."), events.end());
    EXPECT_EQ(m_checker.Status(0), "Done.");
}

TEST_F(MailCheckerTest, ConnectionFailureAndNegativeReply) {
    std::uint16_t closedPort = 0;
    {
        ScriptedPop3Peer gone({});
        closedPort = gone.Port();
    }
    PeerScript script;
    script.replies["STAT"] = "-ERR mailbox locked\r\n";
    ScriptedPop3Peer peer(Messages(1), script);
    ASSERT_TRUE(m_checker.Add({"Gone", "127.0.0.1", "u", "p", closedPort, 5}));
    ASSERT_TRUE(m_checker.Add(AccountFor(peer, "Locked")));
    m_checker.StartCheck(0, false);
    m_checker.StartCheck(1, false);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    ASSERT_TRUE(m_observer.WaitFinished(1));
    EXPECT_EQ(m_checker.Status(0), "Connection failed");
    EXPECT_EQ(m_checker.Status(1), "-ERR mailbox locked");
    EXPECT_FALSE(m_checker.Count(1));
}

TEST_F(MailCheckerTest, ReplyBeyondTheLimitFailsTheJob) {
    PeerScript script;
    script.endless = {"STAT"};
    ScriptedPop3Peer peer(Messages(1), script);
    ASSERT_TRUE(m_checker.Add(AccountFor(peer)));
    m_checker.StartCheck(0, false);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    EXPECT_EQ(m_checker.Status(0), ReplyTooLongText);
}

TEST_F(MailCheckerTest, HeaderReplyBeyondTheLimitFailsTheJob) {
    PeerScript script;
    script.endless = {"TOP"};
    ScriptedPop3Peer peer(Messages(3), script);
    ASSERT_TRUE(m_checker.Add(AccountFor(peer)));
    m_checker.StartCheck(0, true);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    EXPECT_EQ(m_checker.Status(0), ReplyTooLongText);
    // Fetching stopped at the first header instead of trying the others.
    EXPECT_EQ(m_observer.Headers().size(), 1u);
}

TEST_F(MailCheckerTest, HeaderTimeOutShowsTheConnectionError) {
    testing::PeerMessage partial;
    partial.header = "Subject: cut";  // and then silence: the reply never ends
    partial.size = 100;
    PeerScript script;
    script.replies["TOP"] = "+OK\r\nSubject: cut";
    ScriptedPop3Peer peer({partial, partial}, script);
    MailAccount account = AccountFor(peer);
    account.timeoutSeconds = 1;
    ASSERT_TRUE(m_checker.Add(account));
    m_checker.StartCheck(0, true);
    ASSERT_TRUE(m_observer.WaitFinished(0));
    EXPECT_EQ(m_checker.Status(0), protocol::SocketErrorText(Pop3Error::TimedOut));
    EXPECT_EQ(m_observer.Headers().size(), 1u);  // no second TOP into a stream out of step
}

TEST_F(MailCheckerTest, StopCheckCancelsAPendingRead) {
    PeerScript script;
    script.silent = {"TOP"};
    ScriptedPop3Peer peer(Messages(2), script);
    MailAccount account = AccountFor(peer);
    account.timeoutSeconds = 60;
    ASSERT_TRUE(m_checker.Add(account));
    m_checker.StartCheck(0, true);
    EXPECT_TRUE(m_checker.IsRunning(0));
    // The list cannot change while the job runs.
    EXPECT_FALSE(m_checker.Add(account));
    EXPECT_FALSE(m_checker.Remove(0));
    EXPECT_FALSE(m_checker.TimerTick(false));
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    m_checker.StopCheck(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(m_checker.IsRunning(0));
    EXPECT_EQ(m_checker.Status(0), "Cancled");
    EXPECT_TRUE(m_checker.Remove(0));
}

// A listener whose accept queue is full: a further connect hangs where shutdown cannot reach.
class FullListener {
public:
    FullListener() {
        protocol::ListenOn(m_listener.Ref(), 0, 0);
        m_port = protocol::LocalPort(m_listener.Get());
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (auto& filler : m_fillers) {
            filler = protocol::Socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(filler.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        std::this_thread::sleep_for(200ms);
    }
    std::uint16_t Port() const { return m_port; }

private:
    protocol::Socket m_listener;
    std::array<protocol::Socket, 4> m_fillers;
    std::uint16_t m_port = 0;
};

TEST(MailCheckerGiveUpTest, JobStuckInConnectIsGivenUpAndStaysSilent) {
    FullListener full;
    RecordingObserver observer;
    auto checker = std::make_unique<MailChecker>(observer);
    observer.checker = checker.get();
    ASSERT_TRUE(checker->Add({"Stuck", "127.0.0.1", "u", "p", full.Port(), 5}));
    checker->StartCheck(0, false);
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    checker->StopCheck(0, 300ms);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 5s);
    EXPECT_FALSE(checker->IsRunning(0));
    // The list may change again, and the checker can go while the thread still hangs.
    EXPECT_TRUE(checker->Remove(0));
    checker.reset();
    const auto events = observer.Events(0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "finished"), 0);
}

TEST_F(MailCheckerTest, TimerTickRule) {
    ScriptedPop3Peer peer(Messages(1));
    ASSERT_TRUE(m_checker.Add(AccountFor(peer, "One")));
    ASSERT_TRUE(m_checker.Add(AccountFor(peer, "Two")));
    EXPECT_FALSE(m_checker.TimerTick(true));  // the mail list window is open
    EXPECT_TRUE(m_checker.TimerTick(false));
    ASSERT_TRUE(m_observer.WaitFinished(0));
    ASSERT_TRUE(m_observer.WaitFinished(1));
    EXPECT_EQ(m_checker.Count(0), 1u);
    EXPECT_EQ(m_checker.Count(1), 1u);

    EXPECT_EQ(TimerPeriod({true, 15, false}), std::chrono::milliseconds(15 * 60000));
    EXPECT_FALSE(TimerPeriod({false, 15, false}));
    EXPECT_FALSE(TimerPeriod({true, 0, false}));
}

TEST_F(MailCheckerTest, TitlesCompareWithoutCase) {
    ASSERT_TRUE(m_checker.Add({"Home", "s", "a", ""}));
    ASSERT_TRUE(m_checker.Add({"Work", "s", "a", ""}));
    EXPECT_EQ(m_checker.FindTitle("HOME"), 0u);
    EXPECT_FALSE(m_checker.FindTitle("home", 0));
    EXPECT_EQ(m_checker.FindTitle("work", 0), 1u);
    EXPECT_TRUE(m_checker.Move(1, true));
    EXPECT_EQ(m_checker.Account(0).title, "Work");
    EXPECT_FALSE(m_checker.Move(0, true));
    EXPECT_FALSE(m_checker.Move(1, false));
}

class RecordingDeletes : public DeleteObserver {
public:
    void DeleteProgress(const std::string& text) override { Push(text); }
    void MessageDeleted(std::size_t position) override {
        Push("deleted " + std::to_string(position));
    }
    void DeleteFinished(bool ok, const std::string& text) override {
        Push(ok ? "ok" : "failed: " + text);
    }
    std::vector<std::string> Events() {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    void Push(std::string event) {
        const std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_events;
};

TEST(DeleteWorkerTest, DeletingAllOfThreeSendsDeleteThreeTwoOneThenQuit) {
    ScriptedPop3Peer peer(Messages(3));
    RecordingDeletes observer;
    DeleteWorker worker(observer);
    ASSERT_TRUE(worker.Start(AccountFor(peer), {3, 2, 1}));
    worker.Wait();
    std::vector<std::string> tail;
    for (const std::string& command : peer.Commands()) {
        if (command.starts_with("DELE") || command == "QUIT") {
            tail.push_back(command);
        }
    }
    EXPECT_EQ(tail, (std::vector<std::string>{"DELE 3", "DELE 2", "DELE 1", "QUIT"}));
    EXPECT_EQ(peer.MessageCount(), 0u);
    EXPECT_EQ(observer.Events(), (std::vector<std::string>{"Connecting ...", "Deleting 0/3",
                                                           "deleted 0", "Deleting 1/3", "deleted 1",
                                                           "Deleting 2/3", "deleted 2", "ok"}));
}

TEST(DeleteWorkerTest, FailedDeleteStopsTheRun) {
    ScriptedPop3Peer peer(Messages(2));
    RecordingDeletes observer;
    DeleteWorker worker(observer);
    ASSERT_TRUE(worker.Start(AccountFor(peer), {2, 5, 1}));
    worker.Wait();
    const auto events = observer.Events();
    EXPECT_EQ(events.back(), "failed: Failed to delete mail");
    EXPECT_EQ(std::count(events.begin(), events.end(), "deleted 0"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "deleted 2"), 0);
    // The deletion before the failure was still committed by QUIT.
    EXPECT_EQ(peer.MessageCount(), 1u);
}

TEST(DeleteWorkerTest, ConnectionFailure) {
    std::uint16_t closedPort = 0;
    {
        ScriptedPop3Peer gone({});
        closedPort = gone.Port();
    }
    RecordingDeletes observer;
    DeleteWorker worker(observer);
    ASSERT_TRUE(worker.Start({"Gone", "127.0.0.1", "u", "p", closedPort, 5}, {1}));
    worker.Wait();
    EXPECT_EQ(observer.Events(),
              (std::vector<std::string>{"Connecting ...", "Connection failed.", "failed: "}));
}

}  // namespace
}  // namespace talvorine::mailpoll
