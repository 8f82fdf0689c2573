// The mailbox poller against a scripted POP3 server on loopback: how many headers a check
// lists per second, and how each step scales with the mailbox (1,000 against 5,000 messages
// should take about five times as long, never twenty-five).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "talvorine/mailpoll/mail_checker.h"
#include "talvorine/mailpoll/pop3_session.h"
#include "talvorine/mailpoll/testing/scripted_pop3_peer.h"

namespace {

using namespace talvorine::mailpoll;

std::vector<testing::PeerMessage> Mailbox(std::int64_t count) {
    std::vector<testing::PeerMessage> messages;
    messages.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 1; i <= count; ++i) {
        messages.push_back(testing::MakeMessage(
            "Sender " + std::to_string(i) + " <sender" + std::to_string(i) + "@example.org>",
            "Report number " + std::to_string(i), "Mon, 1 Jan 2024 10:00:00 +0000",
            static_cast<std::uint32_t>(2000 + i % 5000)));
    }
    return messages;
}

// Counts the headers handed over and wakes the benchmark when the check ends.
class CountingObserver : public CheckObserver {
public:
    void StatusChanged(std::size_t) override {}
    void CountChanged(std::size_t) override {}
    void HeaderFetched(std::size_t, const MailHeaderItem&) override { ++m_headers; }
    void CheckFinished(std::size_t) override {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
        m_done.notify_all();
    }
    void WaitFinished() {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_finished; });
        m_finished = false;
    }
    std::int64_t Headers() const { return m_headers; }

private:
    std::atomic<std::int64_t> m_headers{0};
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
};

// A whole header-fetching check: connect, STAT, LIST, one TOP per message, QUIT.
void BM_CheckListingHeaders(benchmark::State& state) {
    testing::ScriptedPop3Peer peer(Mailbox(state.range(0)));
    CountingObserver observer;
    MailChecker checker(observer);
    checker.Add({"Bench", "127.0.0.1", "user", "secret", peer.Port(), 30});
    for (auto _ : state) {
        checker.StartCheck(0, true);
        observer.WaitFinished();
        while (checker.IsRunning(0)) {  // the thread ends just after its last hand-over
            std::this_thread::yield();
        }
    }
    if (checker.Status(0) != CheckStatus::Done) {
        state.SkipWithError(checker.Status(0).c_str());
    }
    state.SetItemsProcessed(observer.Headers());
    state.counters["headers/s"] =
        benchmark::Counter(static_cast<double>(observer.Headers()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CheckListingHeaders)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The LIST step alone: one multi-line reply growing with the mailbox.
void BM_ListSizes(benchmark::State& state) {
    testing::ScriptedPop3Peer peer(Mailbox(state.range(0)));
    for (auto _ : state) {
        Pop3Session session;
        session.Connect("127.0.0.1", "user", "secret", peer.Port());
        benchmark::DoNotOptimize(session.MessageSize(static_cast<std::uint32_t>(state.range(0))));
        session.Disconnect();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListSizes)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Header field extraction over a realistic header.
void BM_HeaderFields(benchmark::State& state) {
    const std::string header = Mailbox(1).front().header + "Received: from a\r\n\tby b\r\n";
    for (auto _ : state) {
        benchmark::DoNotOptimize(Pop3Session::HeaderField(header, "From"));
        benchmark::DoNotOptimize(Pop3Session::HeaderField(header, "Subject"));
        benchmark::DoNotOptimize(Pop3Session::HeaderField(header, "Date"));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeaderFields);

}  // namespace

BENCHMARK_MAIN();
