// Two real TalvorineMessenger programs logged in to the real server on a desktop of their
// own, driven through their controls as a screen reader or an outside tool would: a chat
// denied and then accepted (a stranger at the requester's port turned away), lines both ways
// until one side quits; a file refused, cancelled half-way and finally sent whole. The chat
// files and transfer records both programs leave are checked byte by byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "talvorine/protocol/socket.h"
#include "two_clients_support.h"

namespace talvorine::client::ui::testing {
namespace {

// --- what the programs leave on disk ---

struct ChatFile {
    std::uint32_t direction = 0;
    std::uint32_t time = 0;
    std::string request;
    std::uint32_t accepted = 0;
    std::string reason;
    std::uint32_t length = 0;
    std::string transcript;
    std::uintmax_t size = 0;
};

std::uint32_t Number(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::string Field(const std::string& bytes, std::size_t at, std::size_t width) {
    const std::string field = bytes.substr(at, width);
    return field.substr(0, field.find('\0'));
}

// The files of one correspondent in a history folder, oldest first (by the number in the
// name).
std::vector<fs::path> HistoryFiles(const fs::path& folder, const std::string& peerId) {
    std::vector<std::pair<unsigned long, fs::path>> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(peerId + "-", 0) == 0 && entry.path().extension() == ".dat") {
            found.emplace_back(std::stoul(name.substr(peerId.size() + 1)), entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> files;
    for (auto& [number, path] : found) {
        files.push_back(path);
    }
    return files;
}

std::vector<ChatFile> ChatFiles(const Client& client, const std::string& peerId) {
    std::vector<ChatFile> files;
    for (const auto& path : HistoryFiles(client.AccountFolder("Chat"), peerId)) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        ChatFile file;
        file.size = bytes.size();
        if (bytes.size() >= 536) {
            file.direction = Number(bytes, 0);
            file.time = Number(bytes, 4);
            file.request = Field(bytes, 8, 257);
            file.accepted = Number(bytes, 268);
            file.reason = Field(bytes, 272, 257);
            file.length = Number(bytes, 532);
            file.transcript = bytes.substr(536);
        }
        files.push_back(file);
    }
    return files;
}

using Record = std::map<std::string, std::string>;

std::vector<Record> TransferRecords(const Client& client, const std::string& peerId) {
    std::vector<Record> records;
    for (const auto& path : HistoryFiles(client.AccountFolder("File Transfer"), peerId)) {
        std::ifstream in(path);
        Record record;
        std::string line;
        bool parameters = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty() && line.front() == '[') {
                parameters = line == "[Parameters]";
            } else if (parameters && line.find('=') != std::string::npos) {
                record[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
            }
        }
        records.push_back(record);
    }
    return records;
}

std::string Value(const Record& record, const std::string& key) {
    const auto found = record.find(key);
    return found == record.end() ? "(missing)" : found->second;
}

bool StrangerTurnedAway(std::uint16_t port) {
    protocol::Socket stranger;
    stranger.Ref() = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(stranger.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(stranger.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return false;
    }
    const unsigned char accepted[] = {0xAA, 1, 0, 0, 1, 0, 0, 0, 0};
    ::send(stranger.Get(), accepted, sizeof accepted, MSG_NOSIGNAL);
    pollfd wait{stranger.Get(), POLLIN, 0};
    if (::poll(&wait, 1, 20000) <= 0) {
        return false;  // still held open: the stranger got in
    }
    char byte = 0;
    return ::recv(stranger.Get(), &byte, 1, 0) <= 0;
}

TEST_F(TwoClients, ChatDeniedWithAReasonThenAcceptedLinesBothWaysAndOneSideQuits) {
    ASSERT_TRUE(bob->Start()) << bob->Trace();
    ASSERT_TRUE(alice->Start({"--open", "chat:" + bob->Id()})) << alice->Trace();

    // Denied with a reason.
    Node request = AwaitWindow(*alice, "Chat Request", "Request:");
    ASSERT_TRUE(request) << alice->Trace();
    ASSERT_TRUE(Type(request.get(), "Request:", "Lunch talk?"));
    ASSERT_TRUE(Press(request.get(), "OK"));
    Node incoming = AwaitWindow(*bob, "Incoming Chat Request", "Type your reply here:");
    ASSERT_TRUE(incoming) << bob->Trace();
    EXPECT_EQ(Read(incoming.get(), "Request:"), "Lunch talk?");
    ASSERT_TRUE(Type(incoming.get(), "Type your reply here:", "In a meeting"));
    ASSERT_TRUE(Press(incoming.get(), "Deny"));
    ASSERT_TRUE(Answer(*alice, "In a meeting")) << alice->Trace();
    EXPECT_TRUE(alice->WaitTrace(
        "box: Your request is not accepted due to the following reason:  In a meeting"))
        << alice->Trace();
    ASSERT_TRUE(WindowGone(*bob, "Incoming Chat Request"));

    // Asked again from the same window: a stranger at the port first, then the real peer.
    ASSERT_TRUE(Type(request.get(), "Request:", "Chat now?"));
    ASSERT_TRUE(Press(request.get(), "OK"));
    incoming = AwaitWindow(*bob, "Incoming Chat Request", "Type your reply here:");
    ASSERT_TRUE(incoming) << bob->Trace();
    EXPECT_EQ(Read(incoming.get(), "Request:"), "Chat now?");
    const std::string address = Read(incoming.get(), "Address:");
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
    EXPECT_TRUE(StrangerTurnedAway(static_cast<std::uint16_t>(std::stoi(address.substr(10)))));
    ASSERT_TRUE(Press(incoming.get(), "Accept"));

    Node aliceChat = AwaitWindow(*alice, "Chat", "Input");
    Node bobChat = AwaitWindow(*bob, "Chat", "Input");
    ASSERT_TRUE(aliceChat && bobChat) << alice->Trace() << bob->Trace();
    EXPECT_TRUE(WindowGone(*alice, "Chat Request"));
    ASSERT_TRUE(Type(aliceChat.get(), "Input", "Hello Bob"));
    ASSERT_TRUE(Press(aliceChat.get(), "Send"));
    ASSERT_TRUE(Shows(bobChat.get(), "Alice: Hello Bob")) << Read(bobChat.get(), "Transcript");
    ASSERT_TRUE(Type(bobChat.get(), "Input", "Hi Alice"));
    ASSERT_TRUE(Press(bobChat.get(), "Send"));
    ASSERT_TRUE(Shows(aliceChat.get(), "Bob: Hi Alice")) << Read(aliceChat.get(), "Transcript");
    EXPECT_EQ(Read(aliceChat.get(), "Input"), "");

    // Bob closes his window: asked first, then Alice is told.
    ASSERT_TRUE(CloseWindow(*bob, "Chat", "Are you sure to quit?")) << bob->Trace();
    ASSERT_TRUE(Answer(*alice, "Bob has quit.")) << alice->Trace();
    EXPECT_TRUE(alice->WaitTrace("box: Bob has quit."));
    ASSERT_TRUE(Type(aliceChat.get(), "Input", "Still there?"));
    ASSERT_TRUE(Press(aliceChat.get(), "Send"));
    ASSERT_TRUE(Answer(*alice, "Not connected")) << alice->Trace();
    ASSERT_TRUE(CloseWindow(*alice, "Chat", "Are you sure to quit?")) << alice->Trace();
    ASSERT_TRUE(WindowGone(*alice, "Chat"));
    ASSERT_TRUE(WindowGone(*bob, "Chat"));

    const std::string transcript = "Alice: Hello Bob\r\nBob: Hi Alice\r\n";
    const auto aliceFiles = ChatFiles(*alice, bob->Id());
    const auto bobFiles = ChatFiles(*bob, alice->Id());
    ASSERT_EQ(aliceFiles.size(), 2u);
    ASSERT_EQ(bobFiles.size(), 2u);
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    for (const auto* files : {&aliceFiles, &bobFiles}) {
        const ChatFile& denied = (*files)[0];
        const ChatFile& accepted = (*files)[1];
        const std::uint32_t direction = files == &aliceFiles ? 0 : 1;
        EXPECT_EQ(denied.direction, direction);
        EXPECT_EQ(denied.request, "Lunch talk?");
        EXPECT_EQ(denied.accepted, 0u);
        EXPECT_EQ(denied.reason, "In a meeting");
        EXPECT_EQ(denied.length, 0u);
        EXPECT_EQ(denied.size, 536u);  // the head alone
        EXPECT_LE(denied.time, now);
        EXPECT_GT(denied.time, now - 600);
        EXPECT_EQ(accepted.direction, direction);
        EXPECT_EQ(accepted.request, "Chat now?");
        EXPECT_EQ(accepted.accepted, 1u);
        EXPECT_EQ(accepted.reason, "");
        EXPECT_EQ(accepted.length, transcript.size());
        EXPECT_EQ(accepted.transcript, transcript);  // the same on both sides
    }
}

// A file of `size` bytes that no pattern of the transfer could fake.
void WritePayload(const fs::path& file, std::size_t size) {
    std::mt19937_64 random(20261208);
    std::vector<std::uint64_t> chunk(1 << 17);
    std::ofstream out(file, std::ios::binary);
    for (std::size_t written = 0; written < size;) {
        for (auto& word : chunk) {
            word = random();
        }
        const std::size_t part = std::min(size - written, chunk.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(part));
        written += part;
    }
}

bool SameBytes(const fs::path& first, const fs::path& second) {
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    while (a && b) {
        a.read(x.data(), static_cast<std::streamsize>(x.size()));
        b.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (a.gcount() != b.gcount() || !std::equal(x.begin(), x.begin() + a.gcount(), y.begin())) {
            return false;
        }
    }
    return a.eof() && b.eof();
}

std::uintmax_t SizeOr0(const fs::path& file) {
    std::error_code ignored;
    const auto size = fs::file_size(file, ignored);
    return ignored ? 0 : size;
}

TEST_F(TwoClients, FileRefusedThenCancelledHalfWayThenSentWhole) {
    constexpr std::size_t PayloadSize = 50u * 1000 * 1000;
    const fs::path payload = server->Root() / "payload.bin";
    WritePayload(payload, PayloadSize);
    ASSERT_EQ(SizeOr0(payload), PayloadSize);

    ASSERT_TRUE(bob->Start()) << bob->Trace();
    ASSERT_TRUE(alice->Start({"--open", "send-file:" + bob->Id()})) << alice->Trace();
    // "File Transfer..." asks for the file first.
    Node open = AwaitWindow(*alice, "Send File", "File name:");
    ASSERT_TRUE(open) << alice->Trace();
    ASSERT_TRUE(Type(open.get(), "File name:", payload.string()));
    ASSERT_TRUE(Press(open.get(), "Open"));
    Node sending = AwaitWindow(*alice, "Send File", "Description:");
    ASSERT_TRUE(sending);
    ASSERT_TRUE(AwaitTrue([&] { return Read(sending.get(), "File:") == "payload.bin"; }, Patience))
        << Read(sending.get(), "File:");
    EXPECT_EQ(Read(sending.get(), "Size:"), "50,000,000 bytes");
    ASSERT_TRUE(Type(sending.get(), "Description:", "The figures"));

    // Refused.
    ASSERT_TRUE(Press(sending.get(), "Send"));
    Node receiving = AwaitWindow(*bob, "Receive File", "Receive");
    ASSERT_TRUE(receiving) << bob->Trace();
    EXPECT_EQ(Read(receiving.get(), "File:"), "payload.bin");
    EXPECT_EQ(Read(receiving.get(), "Description:"), "The figures");
    ASSERT_TRUE(Press(receiving.get(), "Refuse"));
    ASSERT_TRUE(Answer(*alice, "Failed: Your request is not accepted")) << alice->Trace();
    ASSERT_TRUE(WindowGone(*bob, "Receive File"));

    // Cancelled half-way: Alice is held still while Bob takes the offer, then let go a moment
    // at a time until part of the file has arrived; Bob then closes his window.
    const fs::path folder = bob->Home() / "Received Files" / alice->Id();
    const fs::path partial = folder / ".payload.bin.part";
    ASSERT_TRUE(Press(sending.get(), "Send"));
    receiving = AwaitWindow(*bob, "Receive File", "Receive");
    ASSERT_TRUE(receiving) << bob->Trace();
    alice->Signal(SIGSTOP);
    ASSERT_TRUE(Press(receiving.get(), "Receive"));
    Node save = AwaitWindow(*bob, "Save As", "File name:");
    ASSERT_TRUE(save) << bob->Trace();
    ASSERT_TRUE(Press(save.get(), "Save"));
    ASSERT_TRUE(AwaitTrue([&] { return fs::exists(partial); }, Patience)) << bob->Trace();
    ASSERT_TRUE(talvorine::testing::WaitFor(
        [&] {
            alice->Signal(SIGCONT);
            std::this_thread::sleep_for(2ms);
            alice->Signal(SIGSTOP);
            std::this_thread::sleep_for(200ms);  // what was under way lands
            return SizeOr0(partial) > 0;
        },
        Patience));
    const auto arrived = SizeOr0(partial);
    EXPECT_LT(arrived, PayloadSize);
    ASSERT_TRUE(CloseWindow(*bob, "Receive File")) << bob->Trace();
    alice->Signal(SIGCONT);
    ASSERT_TRUE(Answer(*alice, "Failed: ")) << alice->Trace();
    EXPECT_FALSE(fs::exists(folder / "payload.bin"));
    EXPECT_FALSE(fs::exists(partial)) << arrived << " bytes had arrived";

    // Sent whole.
    ASSERT_TRUE(Press(sending.get(), "Send"));
    receiving = AwaitWindow(*bob, "Receive File", "Receive");
    ASSERT_TRUE(receiving) << bob->Trace();
    ASSERT_TRUE(Press(receiving.get(), "Receive"));
    save = AwaitWindow(*bob, "Save As", "File name:");
    ASSERT_TRUE(save) << bob->Trace();
    ASSERT_TRUE(Press(save.get(), "Save"));
    Node received = AwaitNode([&] { return bob->Ui().Window("File Received"); }, 120s);
    ASSERT_TRUE(received) << bob->Trace();
    EXPECT_EQ(Read(received.get(), "Saved as:"), (folder / "payload.bin").string());
    ASSERT_TRUE(WindowGone(*alice, "Send File"));
    EXPECT_TRUE(alice->WaitTrace("sound: 65006"));  // "File Sent"
    EXPECT_TRUE(SameBytes(payload, folder / "payload.bin"));
    EXPECT_FALSE(fs::exists(partial));
    ASSERT_TRUE(Press(received.get(), "Close"));

    const auto sent = TransferRecords(*alice, bob->Id());
    const auto got = TransferRecords(*bob, alice->Id());
    ASSERT_EQ(sent.size(), 3u);
    ASSERT_EQ(got.size(), 3u);
    for (const auto& record : sent) {
        EXPECT_EQ(Value(record, "Type"), "0");
        EXPECT_EQ(Value(record, "File Name"), payload.string());
        EXPECT_EQ(Value(record, "Size"), "50000000");
        EXPECT_EQ(Value(record, "Description"), "The figures");
    }
    for (const auto& record : got) {
        EXPECT_EQ(Value(record, "Type"), "1");
        EXPECT_EQ(Value(record, "File Name"), "payload.bin");
        EXPECT_EQ(Value(record, "Size"), "50000000");
        EXPECT_EQ(Value(record, "Description"), "The figures");
    }
    for (const auto* records : {&sent, &got}) {
        for (const auto& record : *records) {
            EXPECT_EQ(Value(record, "Time").size(), 19u) << Value(record, "Time");  // local time
        }
    }
    EXPECT_EQ(Value(sent[0], "Accepted"), "0");
    EXPECT_EQ(Value(sent[0], "Status"), "Failed: Your request is not accepted");
    EXPECT_EQ(Value(got[0], "Accepted"), "0");
    EXPECT_EQ(Value(sent[1], "Accepted"), "1");
    EXPECT_EQ(Value(sent[1], "Status").rfind("Failed: ", 0), 0u) << Value(sent[1], "Status");
    EXPECT_EQ(Value(got[1], "Accepted"), "1");
    EXPECT_EQ(Value(got[1], "Status"), "Canceled");
    EXPECT_EQ(Value(sent[2], "Accepted"), "1");
    EXPECT_EQ(Value(sent[2], "Status"), "Done");
    EXPECT_EQ(Value(got[2], "Accepted"), "1");
    EXPECT_EQ(Value(got[2], "Saved As"), (folder / "payload.bin").string());
    EXPECT_EQ(Value(got[2], "Done"), "1");
    EXPECT_EQ(Value(got[2], "Status"), "Done");
}

}  // namespace
}  // namespace talvorine::client::ui::testing
