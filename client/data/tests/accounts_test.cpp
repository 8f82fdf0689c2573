#include "talvorine/client/data/accounts.h"

#include <algorithm>

#include "talvorine/platform/password_cipher.h"
#include "talvorine/platform/registry_store.h"
#include "test_folders.h"

namespace talvorine::client::data {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegistryKey;

class AccountsTest : public testing::TempHome {
protected:
    static protocol::UserProfile Profile(const std::string& id, const std::string& nickname) {
        protocol::UserProfile profile;
        profile.userId = id;
        profile.password = "secret";
        profile.nickname = nickname;
        profile.realName = "Real " + nickname;
        profile.gender = "1";
        profile.description = "likes tea";
        profile.zip = "12345";
        return profile;
    }
    static std::vector<std::string> Sorted(std::vector<std::string> ids) {
        std::sort(ids.begin(), ids.end());
        return ids;
    }
};

TEST_F(AccountsTest, FoldersAreCreatedUnderTheProgramFolder) {
    EXPECT_EQ(AccountRoot(), Home());
    EXPECT_EQ(SentFolder("12345678"), Home() / "Users" / "12345678" / "Sent Messages");
    EXPECT_EQ(ReceivedFolder("12345678"), Home() / "Users" / "12345678" / "Received Messages");
    EXPECT_EQ(ChatFolder("12345678"), Home() / "Users" / "12345678" / "Chat");
    EXPECT_EQ(FileTransferFolder("12345678"), Home() / "Users" / "12345678" / "File Transfer");
    EXPECT_TRUE(fs::is_directory(Home() / "Users" / "12345678" / "File Transfer"));
    EXPECT_FALSE(AccountFolder("1234567"));
    EXPECT_FALSE(ChatFolder("../../../x"));

    // A file in the way makes the folder operation fail.
    WriteText(Home() / "blocker", "x");
    EXPECT_FALSE(EnsureFolder(Home() / "blocker" / "inner"));
    EXPECT_TRUE(EnsureFolder(Home() / "a" / "b" / "c"));
}

TEST_F(AccountsTest, OnlyEightDigitProfileFilesAreAccounts) {
    ASSERT_TRUE(WriteProfile("10000001", Profile("10000001", "ann")));
    ASSERT_TRUE(WriteProfile("10000002", Profile("10000002", "bob")));
    const fs::path users = Home() / "Users";
    WriteText(users / "1234567.UID", "[1234567]\nid=1234567\n");
    WriteText(users / "1234567a.UID", "[1234567a]\nid=1234567a\n");
    WriteText(users / "123456789.UID", "");
    WriteText(users / "10000003.txt", "");
    fs::create_directories(users / "87654321.UID");
    fs::create_directories(users / "87654321");
    EXPECT_EQ(Sorted(ListAccounts()), (std::vector<std::string>{"10000001", "10000002"}));
    EXPECT_TRUE(IsInList("10000002", ListAccounts()));
    EXPECT_FALSE(IsInList("1000000", ListAccounts()));
}

TEST_F(AccountsTest, ProfileWritesKeysInOrderAndReadsBack) {
    ASSERT_TRUE(WriteProfile("10000001", Profile("10000001", "ann")));
    const std::string text = ReadText(Home() / "Users" / "10000001.UID");
    EXPECT_EQ(text.find("secret"), std::string::npos);  // the password is never written
    std::vector<std::size_t> positions;
    for (const char* key : {"[10000001]", "id=", "RealName=", "Nickname=", "Birthday=", "Gender=",
                            "Email=", "Address=", "Zip=", "Description="}) {
        positions.push_back(text.find(key));
        EXPECT_NE(positions.back(), std::string::npos) << key;
    }
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));

    auto read = ReadProfile("10000001");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->userId, "10000001");
    EXPECT_EQ(read->nickname, "ann");
    EXPECT_EQ(read->realName, "Real ann");
    EXPECT_EQ(read->gender, "1");
    EXPECT_EQ(read->zip, "12345");
    EXPECT_EQ(read->description, "likes tea");
    EXPECT_EQ(read->password, "");
    EXPECT_EQ(ProfileKeys().size(), 21u);
    EXPECT_EQ(ProfileKeys()[1].width, 65u);
}

TEST_F(AccountsTest, ProfileWhoseIdDiffersIsInvalid) {
    fs::create_directories(Home() / "Users");
    WriteText(Home() / "Users" / "10000001.UID", "[10000001]\nid=10000002\nNickname=x\n");
    EXPECT_FALSE(ReadProfile("10000001"));
    WriteText(Home() / "Users" / "10000001.UID", "[10000001]\nNickname=x\n");
    EXPECT_FALSE(ReadProfile("10000001"));
    WriteText(Home() / "Users" / "10000001.UID", "[10000001]\nid=10000001\n");
    auto sparse = ReadProfile("10000001");
    ASSERT_TRUE(sparse);
    EXPECT_EQ(sparse->gender, "0");
    EXPECT_EQ(sparse->nickname, "");
    EXPECT_FALSE(ReadProfile("20000000"));  // no file at all

    // Over-long values are cut to their field width.
    WriteText(Home() / "Users" / "10000001.UID",
              "[10000001]\nid=10000001\nZip=" + std::string(40, '9') + "\n");
    EXPECT_EQ(ReadProfile("10000001")->zip, std::string(16, '9'));
}

TEST_F(AccountsTest, CurrentIdIsCutToEightCharacters) {
    EXPECT_EQ(GetCurrentId(), "");
    ASSERT_TRUE(SetCurrentId("12345678901"));
    EXPECT_EQ(GetCurrentId(), "12345678");
    ASSERT_TRUE(SetCurrentId("10000001"));
    EXPECT_EQ(GetCurrentId(), "10000001");
}

TEST_F(AccountsTest, RememberedPasswordsRoundTrip) {
    EXPECT_FALSE(LoadPassword("10000001"));
    ASSERT_TRUE(SavePassword("10000001", "abcdefghijklmnop"));  // 16: no terminator in the blocks
    EXPECT_EQ(LoadPassword("10000001"), "abcdefghijklmnop");

    auto key =
        RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine\\Messenger\\Users\\10000001");
    ASSERT_TRUE(key);
    auto stored = key->QueryBinary("Password");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 16u);
    EXPECT_EQ(std::search(stored->begin(), stored->end(), "abcd", "abcd" + 4), stored->end());

    ASSERT_TRUE(SavePassword("10000001", ""));  // "&Save password" cleared
    auto cleared = key->QueryBinary("Password");
    const auto zeros = platform::EncipherPassword("");
    EXPECT_TRUE(std::equal(cleared->begin(), cleared->end(), zeros.begin(), zeros.end()));
    EXPECT_EQ(LoadPassword("10000001"), "");
    EXPECT_FALSE(RememberedPassword("10000001"));

    EXPECT_FALSE(SavePassword("10000001", "abcdefghijklmnopq"));
    // A value of the wrong size counts as none.
    key->SetBinary("Password", std::vector<std::uint8_t>(8, 1));
    EXPECT_FALSE(LoadPassword("10000001"));
}

TEST_F(AccountsTest, StartupCheckTellsTheWindowWhatToDo) {
    CurrentAccount current;
    EXPECT_EQ(StartAccountCheck(current, "").next, AccountCheckStep::RunAccountWizard);

    ASSERT_TRUE(WriteProfile("10000001", Profile("10000001", "ann")));
    EXPECT_EQ(StartAccountCheck(current, "").next,
              AccountCheckStep::SelectAccount);  // no CurrentID

    // The select dialog: nothing chosen, a bad password, then a good one that is remembered.
    EXPECT_EQ(AcceptSelectAccount(std::nullopt, "pw", true, current),
              SelectAccountOutcome::NoAccountSelected);
    EXPECT_EQ(AcceptSelectAccount("10000001", "", true, current),
              SelectAccountOutcome::InvalidPassword);
    EXPECT_EQ(AcceptSelectAccount("10000001", std::string(17, 'p'), true, current),
              SelectAccountOutcome::InvalidPassword);
    EXPECT_EQ(AcceptSelectAccount("10000001", "pw", true, current), SelectAccountOutcome::Accepted);
    EXPECT_EQ(GetCurrentId(), "10000001");
    auto result = ContinueAccountCheck(current, "");
    EXPECT_EQ(result.next, AccountCheckStep::Ready);
    EXPECT_TRUE(result.accountChanged);
    EXPECT_EQ(current.nickname, "ann");

    // Next start: CurrentID and the remembered password make it ready at once.
    CurrentAccount next;
    EXPECT_EQ(StartAccountCheck(next, "").next, AccountCheckStep::Ready);
    EXPECT_EQ(next.password, "pw");
    EXPECT_FALSE(StartAccountCheck(next, "10000001").accountChanged);  // already shown

    // Not remembering the password sends the next start to the dialog.
    EXPECT_EQ(AcceptSelectAccount("10000001", "pw", false, current),
              SelectAccountOutcome::Accepted);
    CurrentAccount third;
    EXPECT_EQ(StartAccountCheck(third, "").next, AccountCheckStep::SelectAccount);

    // A damaged profile.
    WriteText(Home() / "Users" / "10000001.UID", "[10000001]\nid=99999999\n");
    EXPECT_EQ(ContinueAccountCheck(current, "").next, AccountCheckStep::InvalidProfile);
}

TEST_F(AccountsTest, OptionsGuardAndAccountChoices) {
    CurrentAccount current;
    EXPECT_EQ(CheckOptionsGuard(current), OptionsGuardStep::RunAccountWizard);
    ASSERT_TRUE(WriteProfile("10000001", Profile("10000001", "ann")));
    fs::create_directories(Home() / "Users");
    WriteText(Home() / "Users" / "10000002.UID", "[10000002]\nid=broken\n");
    EXPECT_EQ(CheckOptionsGuard(current), OptionsGuardStep::AskSelectAccount);
    current.userId = "10000001";
    EXPECT_EQ(CheckOptionsGuard(current), OptionsGuardStep::OpenOptions);

    auto choices = AccountChoices();
    std::sort(choices.begin(), choices.end(), [](auto& a, auto& b) { return a.userId < b.userId; });
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[0].label, "ann (10000001)");
    EXPECT_EQ(choices[1].label, "10000002");
}

}  // namespace
}  // namespace talvorine::client::data
