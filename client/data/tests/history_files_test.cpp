#include "talvorine/client/data/history_files.h"

#include "test_folders.h"

namespace talvorine::client::data {
namespace {

namespace fs = std::filesystem;
using testing::Le32;

constexpr std::string_view Me = "10000001";
constexpr std::string_view Peer = "10000002";

class HistoryFilesTest : public testing::TempHome {
protected:
    fs::path ChatDir() const { return Home() / "Users" / std::string(Me) / "Chat"; }
    fs::path TransferDir() const { return Home() / "Users" / std::string(Me) / "File Transfer"; }
};

TEST_F(HistoryFilesTest, ChatFileHeadLayoutAndUniqueNames) {
    ChatFileHeader header;
    header.direction = ChatDirection::Received;
    header.requestText = "shall we talk?";
    const fs::path first = CreateChatFile(Me, Peer, header, 1700000000);
    const fs::path second = CreateChatFile(Me, Peer, header, 1700000000);
    const fs::path third = CreateChatFile(Me, Peer, header, 1700000001);
    EXPECT_EQ(first, ChatDir() / "10000002-1700000000.dat");
    EXPECT_EQ(second, ChatDir() / "10000002-1700000001.dat");
    EXPECT_EQ(third, ChatDir() / "10000002-1700000002.dat");

    const auto bytes = ReadBytes(first);
    ASSERT_EQ(bytes.size(), 536u);  // an empty transcript leaves only the head
    EXPECT_EQ(Le32(bytes, 0), 1u);
    EXPECT_EQ(Le32(bytes, 4), 1700000000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[8])), "shall we talk?");
    EXPECT_EQ(Le32(bytes, 268), 0u);
    EXPECT_EQ(Le32(bytes, 532), 0u);
    EXPECT_EQ(Le32(ReadBytes(second), 4), 1700000001u);
}

TEST_F(HistoryFilesTest, AnswerAndTranscriptUpdateTheHead) {
    ChatFileHeader header;
    header.requestText = std::string(300, 'r');  // cut to fit its field
    const fs::path file = CreateChatFile(Me, Peer, header, 1000);
    SetChatAnswer(file, false, "busy right now");
    auto read = ReadChatHeader(file);
    EXPECT_FALSE(read.accepted);
    EXPECT_EQ(read.reason, "busy right now");
    EXPECT_EQ(read.requestText, std::string(256, 'r'));

    SetChatAnswer(file, true, "ignored when accepted");
    SaveChatTranscript(file, "ann: hi\r\nbob: hello\r\n");
    read = ReadChatHeader(file);
    EXPECT_TRUE(read.accepted);
    EXPECT_EQ(read.reason, "busy right now");
    EXPECT_EQ(read.transcriptLength, 21u);
    EXPECT_EQ(ReadChatTranscript(file), "ann: hi\r\nbob: hello\r\n");
    SaveChatTranscript(file, "short");
    EXPECT_EQ(fs::file_size(file), 541u);
    EXPECT_EQ(ReadChatTranscript(file), "short");
}

TEST_F(HistoryFilesTest, DamagedChatFilesAreRefusedAndSkipped) {
    const fs::path good = CreateChatFile(Me, Peer, {}, 2000);
    WriteBytes(ChatDir() / "10000002-1.dat", std::vector<std::uint8_t>(100, 0));
    auto lying = ReadBytes(good);
    lying[532] = 0xFF;  // transcript length beyond the file
    WriteBytes(ChatDir() / "10000002-2.dat", lying);
    WriteBytes(ChatDir() / "10000003-3.dat", ReadBytes(good));  // another peer's

    EXPECT_THROW(ReadChatHeader(ChatDir() / "10000002-1.dat"), DataError);
    EXPECT_THROW(SetChatAnswer(ChatDir() / "10000002-1.dat", true, ""), DataError);
    EXPECT_EQ(ReadBytes(ChatDir() / "10000002-1.dat").size(), 100u);  // left as it was
    EXPECT_THROW(ReadChatTranscript(ChatDir() / "10000002-2.dat"), DataError);
    EXPECT_EQ(ListChatFiles(Me, Peer).size(), 3u);
    EXPECT_EQ(ReadChatHistory(Me, Peer).size(), 2u);
    EXPECT_THROW(CreateChatFile(Me, "../evil", {}, 1), DataError);
}

TEST_F(HistoryFilesTest, TransferRecordIsCreatedAndUpdated) {
    const fs::path file = CreateTransferRecord(Me, Peer, TransferType::Incoming, "report.pdf",
                                               12345, "the report", 5000);
    EXPECT_EQ(file, TransferDir() / "10000002-5000.dat");
    EXPECT_EQ(
        CreateTransferRecord(Me, Peer, TransferType::Outgoing, "/home/ann/a.txt", 0, "", 5000),
        TransferDir() / "10000002-5001.dat");

    TransferRecord record = TransferRecord::Read(file);
    EXPECT_EQ(record.type, 1);
    EXPECT_EQ(record.fileName, "report.pdf");
    EXPECT_EQ(record.size, "12345");
    EXPECT_EQ(record.time, FormatLocalTime(5000));
    EXPECT_EQ(record.description, "the report");
    EXPECT_TRUE(record.accepted);  // no "Accepted" yet
    EXPECT_EQ(record.StatusCell(), "");

    ASSERT_TRUE(SetTransferAccepted(file, true));
    ASSERT_TRUE(SetTransferSavedAs(file, "/home/ann/Received Files/10000002/report.pdf"));
    ASSERT_TRUE(SetTransferDone(file));
    ASSERT_TRUE(SetTransferStatus(file, TransferStatus::Done));
    record = TransferRecord::Read(file);
    EXPECT_TRUE(record.done);
    EXPECT_EQ(record.status, "Done");
    EXPECT_EQ(record.StatusCell(), "Saved As: /home/ann/Received Files/10000002/report.pdf");
    EXPECT_EQ(record.SizeCell(), "12345");

    TransferRecord outgoing = TransferRecord::Read(TransferDir() / "10000002-5001.dat");
    EXPECT_EQ(outgoing.NameCell(), "a.txt");
    EXPECT_EQ(outgoing.SizeCell(), "");  // 0 shows an empty cell
    ASSERT_TRUE(SetTransferAccepted(outgoing.file, false));
    ASSERT_TRUE(SetTransferStatus(outgoing.file, "Failed: Your request is not accepted"));
    EXPECT_EQ(TransferRecord::Read(outgoing.file).StatusCell(),
              "Failed: Your request is not accepted");
    EXPECT_FALSE(TransferRecord::Read(outgoing.file).accepted);

    WriteText(TransferDir() / "10000002-7.dat", "[Parameters]\nType=5\n");
    WriteText(TransferDir() / "10000002-8.dat", "garbage without sections\n\x01\x02");
    EXPECT_EQ(ReadTransferHistory(Me, Peer).size(), 2u);
    EXPECT_EQ(ReadTransferHistory(Me, Peer, false, true).size(), 1u);
    EXPECT_EQ(ReadTransferHistory(Me, Peer, true, false).size(), 1u);
}

}  // namespace
}  // namespace talvorine::client::data
