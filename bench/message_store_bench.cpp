// Message history store of one correspondent with 100,000 stored messages: appends per
// second (as the client appends: open, append, close), listing the newest 1,000 briefs and
// counting unread messages. "bytes_read" is what the kernel counted as read per iteration
// (/proc/self/io), which shows that a listing reads only what it shows.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "talvorine/client/data/message_store.h"
#include "talvorine/protocol/catalogue.h"

namespace {

using talvorine::client::data::MessageStore;
using talvorine::client::data::StoreMode;
using talvorine::client::data::StorePaths;

constexpr int StoredMessages = 100000;

std::vector<std::uint8_t> SampleBody(std::uint32_t n) {
    talvorine::protocol::MessageRecord record;
    record.time = 1700000000 + n;
    record.richText = true;
    record.brief = "Message number " + std::to_string(n);
    record.body = "{\\rtf1 Message number " + std::to_string(n) +
                  ": the quick brown fox jumps over the lazy dog.}";
    return record.Encode();
}

std::uint64_t BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

std::filesystem::path& Folder() {
    static std::filesystem::path folder;
    return folder;
}

// A store of 100,000 messages, every third one read.
StorePaths MakeStore(std::string_view correspondent) {
    StorePaths paths = StorePaths::InFolder(Folder(), correspondent);
    MessageStore store = MessageStore::Open(paths, StoreMode::ReadWrite, true);
    for (int i = 0; i < StoredMessages; ++i) {
        store.AppendMessage(SampleBody(static_cast<std::uint32_t>(i)), i % 3 == 0 ? 1 : 0);
    }
    return paths;
}

// Appends grow this one; the listing and counting use one that stays at 100,000.
StorePaths g_appendStore;
StorePaths g_readStore;

const StorePaths& AppendStore() {
    return g_appendStore;
}
const StorePaths& ReadStore() {
    return g_readStore;
}

void BM_AppendOpenAndClose(benchmark::State& state) {
    const auto body = SampleBody(7);
    for (auto _ : state) {
        MessageStore store = MessageStore::Open(AppendStore(), StoreMode::ReadWrite, true);
        store.AppendMessage(body);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendOpenAndClose)->Unit(benchmark::kMicrosecond);

void BM_AppendToOpenStore(benchmark::State& state) {
    const auto body = SampleBody(8);
    MessageStore store = MessageStore::Open(AppendStore(), StoreMode::ReadWrite, true);
    for (auto _ : state) {
        store.AppendMessage(body);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendToOpenStore)->Unit(benchmark::kMicrosecond);

void BM_ListNewest1000Briefs(benchmark::State& state) {
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const std::uint64_t before = BytesReadSoFar();
        MessageStore store = MessageStore::Open(ReadStore(), StoreMode::Read, false);
        auto rows = store.ReadNewestBriefs(1000);
        benchmark::DoNotOptimize(rows);
        state.PauseTiming();
        bytes = BytesReadSoFar() - before;
        state.ResumeTiming();
    }
    state.counters["bytes_read"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ListNewest1000Briefs)->Unit(benchmark::kMillisecond);

void BM_CountUnread(benchmark::State& state) {
    std::uint32_t unread = 0;
    std::uint32_t messages = 0;
    for (auto _ : state) {
        MessageStore store = MessageStore::Open(ReadStore(), StoreMode::Read, false);
        unread = store.CountUnread();
        messages = store.Count();
    }
    state.counters["messages"] = messages;
    state.counters["unread"] = unread;
}
BENCHMARK(BM_CountUnread)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvorine-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    Folder() = pattern;
    g_appendStore = MakeStore("10000002");
    g_readStore = MakeStore("10000003");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
