// Chat and file transfer between two engines over loopback; the server's relay of the request
// is played by LoopRelay, which fills in the requester's address and id as the server does.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <thread>

#include "account_files.h"
#include "loop_relay.h"
#include "recording_chat_events.h"
#include "talvorine/client/session/chat.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/session/messaging.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/protocol/packet.h"

namespace talvorine::client::session {
namespace {

using namespace std::chrono_literals;
using testing::LoopRelay;
using testing::RecordingChatEvents;
using testing::StoredChats;
using testing::TempClientHome;
using testing::TransferKey;
namespace fs = std::filesystem;
namespace pt = protocol::PacketType;

// --- chat ----------------------------------------------------------------------------------

// The requester is 00000001 and invites 00000002; both keep their chat files in one home.
struct ChatPair {
    TempClientHome home{"peer-chat"};
    AccountChatFiles filesA{"00000001"}, filesB{"00000002"};
    LoopRelay relay{"00000001"};
    std::optional<ChatAnswerer> answerer;
    std::promise<protocol::ChatRequest> received;

    ChatPair() {
        relay.onChat = [this](const protocol::ChatRequest& request) {
            received.set_value(request);
        };
    }
};

TEST(Chat, AcceptedLinesBothWaysQuitShownAndTranscriptsSaved) {
    ChatPair pair;
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "shall we talk?");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });

    const auto request = pair.received.get_future().get();
    EXPECT_EQ(request.userId, "00000001");
    ChatAnswerer answerer(pair.filesB, IncomingChatRequest::From(request));
    EXPECT_EQ(answerer.Request().text, "shall we talk?");
    auto answered = answerer.Answer(true, "sure");
    auto asked = requested.get();
    ASSERT_TRUE(answered.link) << answered.failure;
    ASSERT_TRUE(asked.link) << asked.failure;

    RecordingChatEvents eventsA, eventsB;
    ChatSession a(std::move(*asked.link), pair.filesA, "Alice", "Bob", eventsA);
    ChatSession b(std::move(*answered.link), pair.filesB, "Bob", "Alice", eventsB);
    a.Start();
    b.Start();

    EXPECT_EQ(a.Send("hello Bob").status, ChatSendResult::Status::Sent);
    ASSERT_TRUE(eventsB.WaitFor([&] { return !eventsB.Lines().empty(); }));
    EXPECT_EQ(eventsB.Lines()[0], "Alice: hello Bob\r\n");
    EXPECT_EQ(b.Send("hi Alice").status, ChatSendResult::Status::Sent);
    ASSERT_TRUE(eventsA.WaitFor([&] { return eventsA.Lines().size() == 2; }));
    EXPECT_EQ(eventsA.Lines()[1], "Bob: hi Alice\r\n");
    EXPECT_EQ(a.Send(" \t \r\n").status, ChatSendResult::Status::Empty);

    EXPECT_FALSE(a.RequestClose([](std::string_view question) {
        EXPECT_EQ(question, Text::ConfirmQuitChat);
        return false;
    }));
    EXPECT_TRUE(a.RequestClose([](std::string_view) { return true; }));
    ASSERT_TRUE(eventsB.WaitFor([&] { return !eventsB.Left().empty(); }));
    EXPECT_EQ(eventsB.Left(), "Alice has quit.");
    EXPECT_FALSE(b.Connected());
    const auto afterQuit = b.Send("are you there?");
    EXPECT_EQ(afterQuit.status, ChatSendResult::Status::Failed);
    EXPECT_EQ(afterQuit.error, Text::NotConnected);
    b.Close();

    const std::string transcript = "Alice: hello Bob\r\nBob: hi Alice\r\n";
    const auto askerFiles = StoredChats("00000001", "00000002");
    const auto askedFiles = StoredChats("00000002", "00000001");
    for (const auto* chats : {&askerFiles, &askedFiles}) {
        ASSERT_EQ(chats->size(), 1u);
        const auto& chat = chats->front();
        EXPECT_TRUE(chat.header.accepted);
        EXPECT_EQ(chat.header.requestText, "shall we talk?");
        EXPECT_EQ(chat.header.reason, "");
        EXPECT_EQ(chat.header.transcriptLength, transcript.size());
        EXPECT_EQ(chat.transcript, transcript);
        EXPECT_EQ(chat.fileSize, data::ChatFileHeaderSize + transcript.size());
    }
    EXPECT_EQ(askerFiles[0].header.direction, data::ChatDirection::Sent);
    EXPECT_EQ(askedFiles[0].header.direction, data::ChatDirection::Received);
    EXPECT_EQ(askerFiles[0].file.filename().string().rfind("00000002-", 0), 0u);
}

TEST(Chat, DenialWithEmptyReasonSaysNoReasonGivenAndBothFilesRecordIt) {
    ChatPair pair;
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "talk?");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    ChatAnswerer answerer(pair.filesB, IncomingChatRequest::From(pair.received.get_future().get()));
    const auto answered = answerer.Answer(false, "");
    const auto asked = requested.get();
    EXPECT_FALSE(answered.link);
    EXPECT_TRUE(answered.failure.empty());
    EXPECT_FALSE(asked.link);
    EXPECT_EQ(asked.failure,
              "Your request is not accepted due to the following reason:\n\nNo reason given");
    for (const auto& chats :
         {StoredChats("00000001", "00000002"), StoredChats("00000002", "00000001")}) {
        ASSERT_EQ(chats.size(), 1u);
        EXPECT_FALSE(chats[0].header.accepted);
        EXPECT_EQ(chats[0].header.reason, "");
        EXPECT_EQ(chats[0].fileSize, data::ChatFileHeaderSize);  // no transcript
    }
}

TEST(Chat, DenialReasonReachesTheRequesterAndItsChatFile) {
    ChatPair pair;
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "talk?");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    ChatAnswerer answerer(pair.filesB, IncomingChatRequest::From(pair.received.get_future().get()));
    answerer.Answer(false, "in a meeting");
    EXPECT_EQ(requested.get().failure,
              "Your request is not accepted due to the following reason:\n\nin a meeting");
    EXPECT_EQ(StoredChats("00000001", "00000002").at(0).header.reason, "in a meeting");
    EXPECT_EQ(StoredChats("00000002", "00000001").at(0).header.reason, "in a meeting");
}

TEST(Chat, ServerRefusalShowsItsTextAndCancelWakesAWaitingRequester) {
    ChatPair pair;
    pair.relay.refusal = Reply{1, "User is not on-line"};
    ChatRequester refused(pair.relay, pair.filesA, "00000002", "x");
    EXPECT_EQ(refused.Run().failure, "User is not on-line");

    ChatPair waiting;
    ChatRequester requester(waiting.relay, waiting.filesA, "00000002", "x");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    waiting.received.get_future().get();  // the request is out; nobody answers
    requester.Cancel();
    ASSERT_EQ(requested.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(requested.get().cancelled);
}

TEST(Chat, OverlongLinesAreRefusedWholeAndTheLongestLineGoesAsItIs) {
    ChatPair pair;
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "x");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    ChatAnswerer answerer(pair.filesB, IncomingChatRequest::From(pair.received.get_future().get()));
    auto answered = answerer.Answer(true, "");
    auto asked = requested.get();
    ASSERT_TRUE(asked.link && answered.link);

    RecordingChatEvents eventsA, eventsB;
    ChatSession a(std::move(*asked.link), pair.filesA, "A", "B", eventsA);
    a.Start();
    ChatSession b(std::move(*answered.link), pair.filesB, "B", "A", eventsB);
    b.Start();
    // One byte over the peer's buffer: nothing goes out, and the chat goes on.
    const std::string tooLong = std::string(4094, 'x') + "\xE2\x82\xAC";
    const auto refused = b.Send(tooLong);
    EXPECT_EQ(refused.status, ChatSendResult::Status::TooLong);
    EXPECT_EQ(refused.error, Text::ChatLineTooLong);
    EXPECT_TRUE(b.Transcript().empty());
    const std::string longest = std::string(4092, 'y') + "\xE2\x82\xAC";
    ASSERT_EQ(longest.size(), 4095u);
    EXPECT_EQ(b.Send(longest).status, ChatSendResult::Status::Sent);
    ASSERT_TRUE(eventsA.WaitFor([&] { return eventsA.Lines().size() == 1; }));
    EXPECT_EQ(eventsA.Lines()[0], "B: " + longest + "\r\n");
    EXPECT_TRUE(a.Connected());
    b.Close();
    ASSERT_TRUE(eventsA.WaitFor([&] { return !eventsA.Left().empty(); }));
    a.Close();
}

// Connects to the asking side's listening port from another loopback address, as a third
// machine on the network would; true when the asking side closed that connection at once.
bool StrangerIsTurnedAway(std::uint16_t port) {
    const int stranger = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (stranger < 0 || ::bind(stranger, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(stranger, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return false;
    }
    timeval wait{5, 0};
    ::setsockopt(stranger, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte = 0;
    const long got = ::recv(stranger, &byte, 1, 0);
    ::close(stranger);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

TEST(Chat, AStrangerWhoConnectsFirstIsTurnedAwayAndTheInvitedUserGetsThrough) {
    ChatPair pair;
    pair.relay.invitedAddress = "127.0.0.1";
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "x");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    const auto request = pair.received.get_future().get();
    EXPECT_TRUE(StrangerIsTurnedAway(request.address.port));
    ChatAnswerer answerer(pair.filesB, IncomingChatRequest::From(request));
    auto answered = answerer.Answer(true, "");
    auto asked = requested.get();
    EXPECT_TRUE(asked.link.has_value()) << asked.failure;
    EXPECT_TRUE(answered.link.has_value()) << answered.failure;
}

// A chat with a hand-made peer that sends `bytes` (and, with `close`, ends the stream); the
// failure text the chat window is given.
std::string ChatFailureAfter(std::span<const std::uint8_t> bytes, bool close) {
    ChatPair pair;
    ChatRequester requester(pair.relay, pair.filesA, "00000002", "x");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    const auto request = pair.received.get_future().get();
    protocol::Socket peer;
    EXPECT_EQ(protocol::ConnectTo(peer.Ref(), "127.0.0.1", request.address.port), 0);
    protocol::SendTextPacket(peer.Get(), pt::Ok, "", 5);
    auto asked = requested.get();
    if (!asked.link) {
        return "no link: " + asked.failure;
    }
    RecordingChatEvents events;
    ChatSession a(std::move(*asked.link), pair.filesA, "A", "B", events);
    a.Start();
    EXPECT_EQ(protocol::SendRaw(peer.Get(), bytes, 5), static_cast<long>(bytes.size()));
    if (close) {
        protocol::ShutdownSocket(peer.Get());
    }
    EXPECT_TRUE(events.WaitFor([&] { return !events.Failed().empty(); }));
    EXPECT_FALSE(a.Connected());
    EXPECT_EQ(a.Send("hello").error, Text::NotConnected);
    a.Close();  // returns: the reader has ended
    return events.Failed();
}

TEST(Chat, GarbageOrAMidPacketCloseFromThePeerEndsTheChatWithTheFramingText) {
    const std::uint8_t garbage[8] = {0x55, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ChatFailureAfter(garbage, false), "packet error.");
    const std::uint8_t half[10] = {0xAA, 1, 0, 0, 20, 0, 0, 0, 'h', 'i'};
    EXPECT_EQ(ChatFailureAfter(half, true), "Connection is closed by remote computer.");
    const std::uint8_t oversized[8] = {0xAA, 1, 0, 0, 0x01, 0x10, 0, 0};  // 4097 bytes
    EXPECT_EQ(ChatFailureAfter(oversized, false), "packet error.");
}

// --- file transfer -------------------------------------------------------------------------

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_root / "send");
        options.acceptMode = 1;
        options.overwriteMode = 1;
        options.useUserName = true;
        options.receiveFolder = m_root / "Received Files";
        relay.onFile = [this](const protocol::FileRequest& request) { offers.set_value(request); };
    }

    fs::path MakeFile(const std::string& name, std::size_t size) {
        const auto path = m_root / "send" / name;
        std::ofstream out(path, std::ios::binary);
        std::mt19937 random(42);
        for (std::size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>(random()));
        }
        return path;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The sender is 00000001 (as the relay says) and sends to 00000002.
    TempClientHome m_home{"peer-transfer"};
    fs::path m_root = m_home.Path();
    FileReceiveOptions options;
    LoopRelay relay{"00000001"};
    AccountTransferRecords senderRecords{"00000001"}, receiverRecords{"00000002"};
    std::promise<protocol::FileRequest> offers;

    class NoDialog : public SavePrompt {
    public:
        std::optional<fs::path> AskSavePath(const fs::path& proposal) override {
            asked = proposal;
            return std::nullopt;
        }
        std::optional<fs::path> asked;
    } noDialog;
};

TEST_F(TransferTest, FiveMegabytesArriveByteIdenticalWithProgress) {
    const auto file = MakeFile("report.bin", 5 * 1024 * 1024 + 123);
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(file));
    std::vector<std::uint64_t> sentSteps;
    auto sending = std::async(std::launch::async, [&] {
        return sender.Run([&](std::uint64_t done, std::uint32_t) { sentSteps.push_back(done); },
                          "the figures");
    });

    FileReceiver receiver(receiverRecords, options, FileOffer::From(offers.get_future().get()));
    EXPECT_EQ(receiver.Offer().fileName, "report.bin");
    EXPECT_EQ(receiver.Offer().description, "the figures");
    EXPECT_EQ(receiver.Decision(), ReceiveDecision::Accept);
    const auto target = receiver.ChooseTarget(noDialog);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, options.receiveFolder / "00000001" / "report.bin");
    ASSERT_FALSE(receiver.OpenTarget(*target));
    std::uint64_t lastDone = 0;
    int lastPercent = -1;
    bool steady = true;
    const auto received = receiver.Receive([&](std::uint64_t done, std::uint32_t size) {
        const int percent = TransferPercent(done, size);
        steady = steady && done > lastDone && percent >= lastPercent;
        lastDone = done;
        lastPercent = percent;
    });
    const auto sent = sending.get();
    EXPECT_EQ(received.end, TransferResult::End::Done) << received.reason;
    EXPECT_EQ(sent.end, TransferResult::End::Done) << sent.reason;
    EXPECT_TRUE(steady);
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(lastDone, fs::file_size(file));
    EXPECT_EQ(sentSteps.back(), fs::file_size(file));
    EXPECT_GT(sentSteps.size(), 1000u);  // chunks of at most 4096 bytes
    EXPECT_EQ(Read(*target), Read(file));

    EXPECT_EQ(TransferKey(sent.record, "Type"), "0");
    EXPECT_EQ(TransferKey(sent.record, "File Name"), fs::absolute(file).string());
    EXPECT_EQ(TransferKey(sent.record, "Accepted"), "1");
    EXPECT_EQ(TransferKey(sent.record, "Status"), "Done");
    EXPECT_EQ(TransferKey(received.record, "Type"), "1");
    EXPECT_EQ(TransferKey(received.record, "File Name"), "report.bin");
    EXPECT_EQ(TransferKey(received.record, "Size"), std::to_string(fs::file_size(file)));
    EXPECT_EQ(TransferKey(received.record, "Accepted"), "1");
    EXPECT_EQ(TransferKey(received.record, "Saved As"), target->string());
    EXPECT_EQ(TransferKey(received.record, "Done"), "1");
    EXPECT_EQ(TransferKey(received.record, "Status"), "Done");
}

TEST_F(TransferTest, RefusalIsRecordedOnBothSides) {
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(MakeFile("a.txt", 10)));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    options.acceptMode = 2;
    FileReceiver receiver(receiverRecords, options, FileOffer::From(offers.get_future().get()));
    EXPECT_EQ(receiver.Decision(), ReceiveDecision::Refuse);
    const auto refused = receiver.Refuse();
    const auto sent = sending.get();
    EXPECT_EQ(refused.end, TransferResult::End::Refused);
    EXPECT_EQ(sent.end, TransferResult::End::Refused);
    EXPECT_EQ(sent.reason, "Failed: Your request is not accepted");
    EXPECT_EQ(TransferKey(sent.record, "Accepted"), "0");
    EXPECT_EQ(TransferKey(sent.record, "Status"), "Failed: Your request is not accepted");
    EXPECT_EQ(TransferKey(refused.record, "Accepted"), "0");
}

TEST_F(TransferTest, ClosingTheSendWindowWhileWaitingRecordsCanceled) {
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(MakeFile("a.txt", 10)));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    offers.get_future().get();
    sender.Cancel();
    ASSERT_EQ(sending.wait_for(5s), std::future_status::ready);
    const auto sent = sending.get();
    EXPECT_EQ(sent.end, TransferResult::End::Canceled);
    EXPECT_EQ(TransferKey(sent.record, "Status"), "Canceled");
}

TEST_F(TransferTest, ReceiverCancelMidTransferRecordsCanceledAndSenderFails) {
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(MakeFile("big.bin", 8 * 1024 * 1024)));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    FileReceiver receiver(receiverRecords, options, FileOffer::From(offers.get_future().get()));
    ASSERT_FALSE(receiver.OpenTarget(*receiver.ChooseTarget(noDialog)));
    const auto received = receiver.Receive([&](std::uint64_t done, std::uint32_t) {
        if (done >= 100000) {
            receiver.Cancel();
        }
    });
    EXPECT_EQ(received.end, TransferResult::End::Canceled);
    EXPECT_EQ(TransferKey(received.record, "Status"), "Canceled");
    const auto sent = sending.get();
    EXPECT_EQ(sent.end, TransferResult::End::Failed);
    EXPECT_EQ(sent.reason.rfind("Failed: ", 0), 0u);
}

TEST_F(TransferTest, AutoAcceptWithRenameSkipsTwoEarlierCopies) {
    const auto folder = options.receiveFolder / "00000001";
    fs::create_directories(folder);
    std::ofstream(folder / "name.txt") << "first";
    std::ofstream(folder / "(1)name.txt") << "second";
    FileReceiver receiver(receiverRecords, options, FileOffer{"00000001", 0, 1, "name.txt", 5, ""});
    EXPECT_EQ(receiver.ChooseTarget(noDialog), folder / "(2)name.txt");
    EXPECT_FALSE(noDialog.asked);

    options.overwriteMode = 0;
    FileReceiver overwrite(receiverRecords, options,
                           FileOffer{"00000001", 0, 1, "name.txt", 5, ""});
    EXPECT_EQ(overwrite.ChooseTarget(noDialog), folder / "name.txt");

    options.overwriteMode = 2;
    FileReceiver ask(receiverRecords, options, FileOffer{"00000001", 0, 1, "name.txt", 5, ""});
    EXPECT_EQ(ask.ChooseTarget(noDialog), std::nullopt);
    EXPECT_EQ(noDialog.asked, folder / "name.txt");

    options.overwriteMode = 1;
    options.acceptMode = 0;
    options.useUserName = false;
    FileReceiver manual(receiverRecords, options, FileOffer{"00000001", 0, 1, "x.txt", 5, ""});
    EXPECT_EQ(manual.ChooseTarget(noDialog), std::nullopt);
    EXPECT_EQ(noDialog.asked, options.receiveFolder / "x.txt");
}

TEST_F(TransferTest, OfferedNamesNeverLeaveTheReceiveFolder) {
    EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
    EXPECT_EQ(SafeFileName("C:\\Windows\\win.ini"), "win.ini");
    EXPECT_EQ(SafeFileName(".."), "received file");
    EXPECT_EQ(SafeFileName(""), "received file");
    FileReceiver receiver(receiverRecords, options,
                          FileOffer{"../../x", 0, 1, "../../../evil.sh", 5, ""});
    const auto target = receiver.ChooseTarget(noDialog);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, options.receiveFolder / "x" / "evil.sh");
}

TEST_F(TransferTest, ZeroLengthAndMissingFilesCannotBeSent) {
    FileSender sender(relay, senderRecords, "00000002");
    EXPECT_EQ(sender.Open(m_root / "missing"), std::string(Text::FailedToOpenFile));
    EXPECT_EQ(sender.Open(m_root / "send"), std::string(Text::DirectoryNotSupported));
    ASSERT_FALSE(sender.Open(MakeFile("empty", 0)));
    EXPECT_EQ(sender.CheckSend(), std::string(Text::ZeroLengthFile));
}

TEST_F(TransferTest, SenderThatClosesEarlyFailsTheReceiver) {
    std::thread fakeSender;
    protocol::Socket listening;
    ASSERT_EQ(protocol::ListenOn(listening.Ref(), 0), 0);
    const auto port = protocol::LocalPort(listening.Get());
    fakeSender = std::thread([&] {
        protocol::Socket peer(protocol::AcceptOn(listening.Get(), nullptr));
        std::vector<std::uint8_t> answer(4095);
        protocol::ReceivePacket(peer.Get(), answer, 5);
        std::vector<std::uint8_t> half(500, 7);
        protocol::SendRaw(peer.Get(), half, 5);
    });
    FileReceiver receiver(
        receiverRecords, options,
        FileOffer{"00000001", htonl(INADDR_LOOPBACK), port, "half.bin", 1000, ""});
    ASSERT_FALSE(receiver.OpenTarget(*receiver.ChooseTarget(noDialog)));
    const auto received = receiver.Receive({});
    fakeSender.join();
    EXPECT_EQ(received.end, TransferResult::End::Failed);
    EXPECT_EQ(received.reason, "Failed: Connection is closed by remote");
    EXPECT_EQ(TransferKey(received.record, "Status"), "Failed: Connection is closed by remote");
}

TEST_F(TransferTest, AFailedOrCancelledTransferLeavesTheExistingFileAndNoPartOne) {
    options.overwriteMode = 0;  // overwrite without a question
    const auto folder = options.receiveFolder / "00000001";
    fs::create_directories(folder);
    const auto existing = folder / "plan.txt";
    std::ofstream(existing) << "precious";

    // A sender that stops half-way.
    protocol::Socket listening;
    ASSERT_EQ(protocol::ListenOn(listening.Ref(), 0), 0);
    const auto port = protocol::LocalPort(listening.Get());
    std::thread fakeSender([&] {
        protocol::Socket peer(protocol::AcceptOn(listening.Get(), nullptr));
        std::vector<std::uint8_t> answer(4095);
        protocol::ReceivePacket(peer.Get(), answer, 5);
        std::vector<std::uint8_t> half(500, 7);
        protocol::SendRaw(peer.Get(), half, 5);
    });
    {
        FileReceiver receiver(
            receiverRecords, options,
            FileOffer{"00000001", htonl(INADDR_LOOPBACK), port, "plan.txt", 1000, ""});
        const auto target = receiver.ChooseTarget(noDialog);
        ASSERT_EQ(target, existing);
        ASSERT_FALSE(receiver.OpenTarget(*target));
        EXPECT_EQ(Read(existing), "precious");  // nothing is touched before the bytes arrive
        EXPECT_EQ(receiver.Receive({}).end, TransferResult::End::Failed);
    }
    fakeSender.join();
    EXPECT_EQ(Read(existing), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // A window closed after the target was chosen but before the transfer started.
    {
        FileReceiver receiver(
            receiverRecords, options,
            FileOffer{"00000001", htonl(INADDR_LOOPBACK), port, "plan.txt", 1000, ""});
        ASSERT_FALSE(receiver.OpenTarget(existing));
    }
    EXPECT_EQ(Read(existing), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // A complete transfer replaces it.
    const auto file = MakeFile("plan.txt", 2000);
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(file));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    FileReceiver receiver(receiverRecords, options, FileOffer::From(offers.get_future().get()));
    ASSERT_FALSE(receiver.OpenTarget(*receiver.ChooseTarget(noDialog)));
    EXPECT_EQ(receiver.Receive({}).end, TransferResult::End::Done);
    EXPECT_EQ(sending.get().end, TransferResult::End::Done);
    EXPECT_EQ(Read(existing), Read(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(TransferTest, AStrangerCannotTakeTheFileBeforeTheReceiver) {
    relay.invitedAddress = "127.0.0.1";
    const auto file = MakeFile("private.bin", 10000);
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(file));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    const auto offer = FileOffer::From(offers.get_future().get());
    EXPECT_TRUE(StrangerIsTurnedAway(offer.port));
    FileReceiver receiver(receiverRecords, options, offer);
    ASSERT_FALSE(receiver.OpenTarget(*receiver.ChooseTarget(noDialog)));
    EXPECT_EQ(receiver.Receive({}).end, TransferResult::End::Done);
    EXPECT_EQ(sending.get().end, TransferResult::End::Done);
    EXPECT_EQ(Read(receiver.Target()), Read(file));
}

TEST_F(TransferTest, PercentagesStayRightAboveFortyTwoMillionBytes) {
    // 42,949,673 × 100 no longer fits 32 bits; zeros are enough for the count.
    const auto file = m_root / "send" / "large.bin";
    std::ofstream(file).close();
    fs::resize_file(file, 43'000'000);
    FileSender sender(relay, senderRecords, "00000002");
    ASSERT_FALSE(sender.Open(file));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, ""); });
    FileReceiver receiver(receiverRecords, options, FileOffer::From(offers.get_future().get()));
    ASSERT_FALSE(receiver.OpenTarget(*receiver.ChooseTarget(noDialog)));
    int last = 0;
    int atHalf = -1;
    bool steady = true;
    const auto received = receiver.Receive([&](std::uint64_t done, std::uint32_t size) {
        const int percent = TransferPercent(done, size);
        steady = steady && percent >= last && percent <= 100;
        last = percent;
        if (atHalf < 0 && done >= size / 2) {
            atHalf = percent;
        }
    });
    EXPECT_EQ(received.end, TransferResult::End::Done) << received.reason;
    EXPECT_EQ(sending.get().end, TransferResult::End::Done);
    EXPECT_TRUE(steady);
    EXPECT_EQ(atHalf, 50);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(fs::file_size(receiver.Target()), 43'000'000u);
    EXPECT_EQ(TransferKey(received.record, "Size"), "43000000");
}

TEST(TransferPercent, RightAboveFortyTwoMillionBytes) {
    // 42,949,673 × 100 no longer fits 32 bits.
    EXPECT_EQ(TransferPercent(42949673, 42949673), 100);
    EXPECT_EQ(TransferPercent(21474836, 42949673), 49);
    EXPECT_EQ(TransferPercent(3000000000u, 4000000000u), 75);
    EXPECT_EQ(TransferPercent(4294967295u, 4294967295u), 100);
}

// --- messaging helpers ---------------------------------------------------------------------

TEST(Brief, FirstLineCutToThirtyBytesOnCharacterBoundaries) {
    EXPECT_EQ(MakeBrief("hello\r\nworld"), "hello");
    EXPECT_EQ(MakeBrief(std::string(40, 'a')), std::string(30, 'a'));
    EXPECT_EQ(MakeBrief("tab\there\x01"), "tab here ");
    // 29 ASCII bytes then a two-byte character: the half character is dropped.
    EXPECT_EQ(MakeBrief(std::string(29, 'b') + "\xC3\xA9"
                                               "x"),
              std::string(29, 'b'));
    EXPECT_EQ(MakeBrief(std::string("ab\0cd", 5)), "ab");
}

TEST(OutgoingCheck, EmptyAndOversizedMessagesAreRefusedWithTheDesignedTexts) {
    EXPECT_EQ(CheckOutgoing({"", "", true}), std::string(Text::EmptyMessage));
    const std::string huge(32768, 'x');
    EXPECT_EQ(CheckOutgoing({"x", huge, true}), "Message size (32768) exceeds limit (32767).\r\n");
    EXPECT_EQ(CheckOutgoing({"x", std::string(32732, 'x'), true}),
              "Message size (32732) exceeds limit (32731).\r\n");
    EXPECT_EQ(CheckOutgoing({"x", std::string(32731, 'x'), true}), std::nullopt);
    const auto record = BuildRecord({"line one\rline two", "{\\rtf1 body}", true}, 77).Encode();
    EXPECT_EQ(record.size(), 37 + std::string("{\\rtf1 body}").size());
    EXPECT_EQ(protocol::MessageRecord::Decode(record).brief, "line one");
}

}  // namespace
}  // namespace talvorine::client::session
