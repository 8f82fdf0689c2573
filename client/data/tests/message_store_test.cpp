#include "talvorine/client/data/message_store.h"

#include <sys/wait.h>
#include <unistd.h>

#include "talvorine/protocol/catalogue.h"
#include "test_folders.h"

namespace talvorine::client::data {
namespace {

using testing::Le32;
namespace fs = std::filesystem;

constexpr std::string_view Account = "10000001";
constexpr std::string_view Peer = "10000002";

std::vector<std::uint8_t> Body(std::uint32_t time, const std::string& text) {
    protocol::MessageRecord record;
    record.time = time;
    record.richText = true;
    record.brief = text.substr(0, 30);
    record.body = text;
    return record.Encode();
}

std::string TextOf(const StoredMessage& message) {
    return protocol::MessageRecord::Decode(message.body).body;
}

class MessageStoreTest : public testing::TempHome {
protected:
    StorePaths Paths() const { return StorePaths::For(Account, StoreKind::Received, Peer); }
    MessageStore OpenWritable() { return MessageStore::Open(Paths(), StoreMode::ReadWrite, true); }

    // Three messages, the middle one deleted.
    void FillThreeDeleteMiddle() {
        MessageStore store = OpenWritable();
        store.AppendMessage(Body(1, "first message"));
        store.AppendMessage(Body(2, "the second, longer message"));
        store.AppendMessage(Body(3, "third"));
        store.Delete(1);
    }

    std::vector<std::string> AllTexts() {
        MessageStore store = MessageStore::Open(Paths(), StoreMode::Read, false);
        std::vector<std::string> texts;
        for (std::uint32_t i = 0; i < store.Count(); ++i) {
            texts.push_back(TextOf(store.ReadMessage(i)));
        }
        return texts;
    }

    std::string ErrorOf(auto&& action) {
        try {
            action();
        } catch (const DataError& error) {
            return error.what();
        }
        return "no error";
    }
};

TEST_F(MessageStoreTest, NewStoreIsTwoHeadersOf38Bytes) {
    OpenWritable().Close();
    for (const fs::path& file : {Paths().data, Paths().index}) {
        auto bytes = ReadBytes(file);
        ASSERT_EQ(bytes.size(), 38u) << file;
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 18), "TALVORINEMESSENGER");
        EXPECT_TRUE(
            std::all_of(bytes.begin() + 18, bytes.begin() + 32, [](auto b) { return b == 0; }));
        EXPECT_EQ(bytes[32], 0x00);
        EXPECT_EQ(bytes[33], 0x01);
        EXPECT_EQ(Le32(bytes, 34), 0u);
    }
    EXPECT_EQ(Paths().data.parent_path(), Home() / "Users" / "10000001" / "Received Messages");
}

TEST_F(MessageStoreTest, DeleteMarksWipesAndDropsFromIndex) {
    FillThreeDeleteMiddle();
    auto data = ReadBytes(Paths().data);
    auto index = ReadBytes(Paths().index);
    ASSERT_EQ(index.size(), 46u);
    EXPECT_EQ(Le32(index, 34), 2u);
    EXPECT_EQ(Le32(data, 34), 3u);

    const std::uint32_t l0 = 20 + static_cast<std::uint32_t>(Body(1, "first message").size());
    const std::uint32_t l1 =
        20 + static_cast<std::uint32_t>(Body(2, "the second, longer message").size());
    const std::uint32_t l2 = 20 + static_cast<std::uint32_t>(Body(3, "third").size());
    EXPECT_EQ(data.size(), 38u + 5 + l0 + 5 + l1 + 5 + l2);
    const std::size_t second = 38 + 5 + l0;
    EXPECT_EQ(data[second], 1);
    EXPECT_EQ(Le32(data, second + 1), l1);
    EXPECT_TRUE(std::all_of(data.begin() + second + 5, data.begin() + second + 5 + l1,
                            [](auto b) { return b == 0; }));
    EXPECT_EQ(Le32(index, 38), 38u);
    EXPECT_EQ(Le32(index, 42), second + 5 + l1);

    MessageStore store = MessageStore::Open(Paths(), StoreMode::Read, false);
    EXPECT_EQ(store.WastedSpace(), 5u + l1);
    EXPECT_EQ(store.DataLength(), data.size());
    EXPECT_EQ(TextOf(store.ReadMessage(1)), "third");
}

TEST_F(MessageStoreTest, CompactionKeepsLiveRecordsAtNewPositions) {
    FillThreeDeleteMiddle();
    MessageStore::Compact(Paths());
    auto data = ReadBytes(Paths().data);
    auto index = ReadBytes(Paths().index);
    const std::uint32_t l0 = 20 + static_cast<std::uint32_t>(Body(1, "first message").size());
    const std::uint32_t l2 = 20 + static_cast<std::uint32_t>(Body(3, "third").size());
    EXPECT_EQ(data.size(), 38u + 5 + l0 + 5 + l2);
    EXPECT_EQ(Le32(data, 34), 2u);
    ASSERT_EQ(index.size(), 46u);
    EXPECT_EQ(Le32(index, 38), 38u);
    EXPECT_EQ(Le32(index, 42), 38u + 5 + l0);
    EXPECT_EQ(AllTexts(), (std::vector<std::string>{"first message", "third"}));
    for (const auto& entry : fs::directory_iterator(Paths().data.parent_path())) {
        EXPECT_EQ(entry.path().filename().string().rfind("~IF", 0), std::string::npos)
            << entry.path();
    }

    // Nothing dead: the same bytes again.
    MessageStore::Compact(Paths());
    EXPECT_EQ(ReadBytes(Paths().data), data);
    EXPECT_EQ(ReadBytes(Paths().index), index);
}

TEST_F(MessageStoreTest, LostOrDamagedIndexIsRebuiltFromTheDataFile) {
    FillThreeDeleteMiddle();
    const auto index = ReadBytes(Paths().index);
    fs::remove(Paths().index);
    EXPECT_EQ(AllTexts(), (std::vector<std::string>{"first message", "third"}));
    EXPECT_EQ(ReadBytes(Paths().index), index);

    // An index cut in the middle of an entry does not fit its count: kept aside, rebuilt.
    auto cut = index;
    cut.resize(44);
    WriteBytes(Paths().index, cut);
    EXPECT_EQ(AllTexts(), (std::vector<std::string>{"first message", "third"}));
    EXPECT_EQ(ReadBytes(Paths().index), index);
    EXPECT_EQ(ReadBytes(fs::path(Paths().index.string() + ".damaged")), cut);
}

TEST_F(MessageStoreTest, ReadStatesAndUnreadCount) {
    MessageStore store = OpenWritable();
    for (std::uint32_t i = 0; i < 4; ++i) {
        store.AppendMessage(Body(i, "message " + std::to_string(i)));
    }
    store.SetReadState(1, 1);
    store.SetReadState(3, 1);
    store.SetReadState(3, 0);
    EXPECT_FALSE(store.IsRead(0));
    EXPECT_TRUE(store.IsRead(1));
    EXPECT_EQ(store.CountUnread(), 3u);
    EXPECT_EQ(store.ReadHeader(1).bodyLength, Body(1, "message 1").size());
    EXPECT_EQ(store.PayloadLength(1), 20 + Body(1, "message 1").size());
    store.Close();
    EXPECT_EQ(CountUnreadMessages(Account, Peer), 3u);
    EXPECT_EQ(CountUnreadMessages(Account, "10000009"), 0u);
}

TEST_F(MessageStoreTest, BriefsListNewestFirstAndFlagShortBodies) {
    MessageStore store = OpenWritable();
    for (std::uint32_t i = 0; i < 5; ++i) {
        store.AppendMessage(Body(100 + i, "brief " + std::to_string(i)));
    }
    store.AppendMessage(std::vector<std::uint8_t>(30, 'x'));  // a 30-byte body cannot be listed
    auto rows = store.ReadNewestBriefs(3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].index, 5u);
    EXPECT_FALSE(rows[0].readable);
    EXPECT_EQ(rows[1].index, 4u);
    EXPECT_TRUE(rows[1].readable);
    EXPECT_EQ(rows[1].brief, "brief 4");
    EXPECT_EQ(rows[1].time, 104u);
    EXPECT_TRUE(rows[1].richText);
    EXPECT_EQ(rows[2].brief, "brief 3");
    EXPECT_EQ(store.ReadNewestBriefs(100).size(), 6u);
    EXPECT_TRUE(store.ReadBriefs(10, 5).empty());
}

TEST_F(MessageStoreTest, PayloadShorterThanAHeaderIsCrashed) {
    MessageStore store = OpenWritable();
    store.Append(std::vector<std::uint8_t>(12, 7));
    EXPECT_EQ(ErrorOf([&] { store.ReadMessage(0); }), "File is crashed.");
    EXPECT_EQ(ErrorOf([&] { store.ReadHeader(0); }), "File is crashed.");
    EXPECT_EQ(ErrorOf([&] { store.CountUnread(); }), "File is crashed.");
}

TEST_F(MessageStoreTest, ForeignOrTruncatedDataFilesAreRefusedAndKept) {
    fs::create_directories(Paths().data.parent_path());
    std::vector<std::uint8_t> foreign(38, 0);
    std::copy_n("SOMEOTHERPROGRAM", 16, foreign.begin());
    foreign[32] = 0x55;  // the format word is not what decides
    WriteBytes(Paths().data, foreign);
    EXPECT_EQ(ErrorOf([&] { OpenWritable(); }), IllegalStoreText(Paths().data));
    EXPECT_EQ(ReadBytes(Paths().data), foreign);
    EXPECT_FALSE(fs::exists(Paths().index));

    WriteBytes(Paths().data, {});
    EXPECT_EQ(ErrorOf([&] { OpenWritable(); }), IllegalStoreText(Paths().data));

    std::vector<std::uint8_t> cut(35, 0);
    std::copy_n("TALVORINEMESSENGER", 18, cut.begin());
    WriteBytes(Paths().data, cut);
    EXPECT_EQ(ErrorOf([&] { OpenWritable(); }), "File is crashed.");
    EXPECT_EQ(ReadBytes(Paths().data), cut);

    // The right magic but a different format word opens.
    std::vector<std::uint8_t> header(cut);
    header.resize(38);
    header[32] = 9;
    WriteBytes(Paths().data, header);
    EXPECT_EQ(MessageStore::Open(Paths(), StoreMode::Read, false).Count(), 0u);
}

TEST_F(MessageStoreTest, DamagedRecordsGiveTextsNotCrashes) {
    {
        MessageStore store = OpenWritable();
        store.AppendMessage(Body(1, "kept"));
        store.AppendMessage(Body(2, "torn at the end"));
    }
    auto data = ReadBytes(Paths().data);
    data.resize(data.size() - 10);  // the last record now runs past the end
    WriteBytes(Paths().data, data);
    {
        MessageStore store = MessageStore::Open(Paths(), StoreMode::ReadWrite, false);
        EXPECT_EQ(ErrorOf([&] { store.ReadMessage(1); }), "File is crashed.");
        EXPECT_EQ(ErrorOf([&] { store.Delete(1); }), "File is crashed.");
        auto rows = store.ReadBriefs(0, 2);
        EXPECT_TRUE(rows[0].readable);
        EXPECT_FALSE(rows[1].readable);
        EXPECT_EQ(ErrorOf([&] { store.ReadMessage(7); }).find("No message #7"), 0u);
    }
    EXPECT_EQ(ReadBytes(Paths().data), data);

    // Rebuilding leaves the torn record out; the complete one stays readable.
    fs::remove(Paths().index);
    EXPECT_EQ(AllTexts(), std::vector<std::string>{"kept"});

    // An index entry pointing outside the data file.
    auto index = ReadBytes(Paths().index);
    index[38] = 0xFF;
    index[39] = 0xFF;
    WriteBytes(Paths().index, index);
    MessageStore store = MessageStore::Open(Paths(), StoreMode::Read, false);
    EXPECT_EQ(ErrorOf([&] { store.ReadMessage(0); }), "File is crashed.");
    EXPECT_EQ(ErrorOf([&] { store.WastedSpace(); }), "File is crashed.");
}

TEST_F(MessageStoreTest, CompactingADamagedStoreChangesNothing) {
    FillThreeDeleteMiddle();
    auto index = ReadBytes(Paths().index);
    index[42] = 0xF0;  // the second live entry points past the end
    WriteBytes(Paths().index, index);
    const auto data = ReadBytes(Paths().data);
    EXPECT_EQ(ErrorOf([&] { MessageStore::Compact(Paths()); }), "File is crashed.");
    EXPECT_EQ(ReadBytes(Paths().data), data);
    EXPECT_EQ(ReadBytes(Paths().index), index);
    for (const auto& entry : fs::directory_iterator(Paths().data.parent_path())) {
        EXPECT_EQ(entry.path().filename().string().rfind("~IF", 0), std::string::npos)
            << entry.path();
    }
}

TEST_F(MessageStoreTest, SecondOpenForWritingIsRefusedWhileOpen) {
    MessageStore writer = OpenWritable();
    const std::string inUse = Paths().data.string() + ": " + std::string(StoreInUseText);
    EXPECT_EQ(ErrorOf([&] { OpenWritable(); }), inUse);
    EXPECT_EQ(ErrorOf([&] { MessageStore::Create(Paths(), StoreMode::ReadWrite); }), inUse);
    EXPECT_EQ(ErrorOf([&] { MessageStore::Compact(Paths()); }), inUse);
    writer.Close();

    MessageStore reader = MessageStore::Open(Paths(), StoreMode::Read, false);
    MessageStore secondReader = MessageStore::Open(Paths(), StoreMode::Read, false);
    EXPECT_EQ(ErrorOf([&] { OpenWritable(); }), inUse);
    EXPECT_EQ(ErrorOf([&] { reader.Delete(0); }).find(Paths().data.string()), 0u);
    reader.Close();
    secondReader.Close();
    EXPECT_NO_THROW(OpenWritable());
}

TEST_F(MessageStoreTest, CreateEmptiesTheStore) {
    FillThreeDeleteMiddle();
    MessageStore store = MessageStore::Create(Paths(), StoreMode::ReadWrite);
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.DataLength(), 38u);
    EXPECT_EQ(store.WastedSpace(), 0u);
    store.Close();
    EXPECT_EQ(fs::file_size(Paths().index), 38u);
}

TEST_F(MessageStoreTest, MissingStoreWithoutCreateIsAFileError) {
    const std::string text = ErrorOf([&] { MessageStore::Open(Paths(), StoreMode::Read, false); });
    EXPECT_NE(text.find(Paths().data.string()), std::string::npos);
    EXPECT_FALSE(fs::exists(Paths().data));
    EXPECT_THROW(StorePaths::For(Account, StoreKind::Sent, "../../x"), DataError);
}

class InterruptedCompaction : public MessageStoreTest,
                              public ::testing::WithParamInterface<CompactionStep> {
protected:
    void TearDown() override {
        MessageStore::SetCompactionHook({});
        MessageStoreTest::TearDown();
    }

    void ExpectEveryLiveMessage() {
        EXPECT_EQ(AllTexts(), (std::vector<std::string>{"first message", "third"}));
        MessageStore store = MessageStore::Open(Paths(), StoreMode::ReadWrite, false);
        EXPECT_EQ(store.CountUnread(), 2u);
        store.AppendMessage(Body(4, "after"));
        store.Close();
        EXPECT_EQ(AllTexts(), (std::vector<std::string>{"first message", "third", "after"}));
        for (const auto& entry : fs::directory_iterator(Paths().data.parent_path())) {
            EXPECT_EQ(entry.path().filename().string().rfind("~IF", 0), std::string::npos)
                << entry.path();
        }
    }
};

TEST_P(InterruptedCompaction, FailureLeavesAStoreWithEveryLiveMessage) {
    FillThreeDeleteMiddle();
    const CompactionStep failAt = GetParam();
    MessageStore::SetCompactionHook([failAt](CompactionStep step) {
        if (step == failAt) {
            throw DataError("injected failure");
        }
    });
    EXPECT_THROW(MessageStore::Compact(Paths()), DataError);
    MessageStore::SetCompactionHook({});
    ExpectEveryLiveMessage();
}

TEST_P(InterruptedCompaction, CrashLeavesAStoreWithEveryLiveMessage) {
    FillThreeDeleteMiddle();
    const CompactionStep crashAt = GetParam();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        MessageStore::SetCompactionHook([crashAt](CompactionStep step) {
            if (step == crashAt) {
                ::_exit(3);  // the process dies here: no clean-up runs
            }
        });
        try {
            MessageStore::Compact(Paths());
        } catch (...) {
            ::_exit(4);
        }
        ::_exit(5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 3);
    ExpectEveryLiveMessage();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, InterruptedCompaction,
    ::testing::Values(CompactionStep::TemporaryCreated, CompactionStep::RecordsCopied,
                      CompactionStep::TemporarySynced, CompactionStep::OldIndexRemoved,
                      CompactionStep::DataReplaced, CompactionStep::IndexReplaced));

}  // namespace
}  // namespace talvorine::client::data
