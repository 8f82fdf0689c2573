// The account database against the real SQLite ODBC driver, through the data source the
// set-up program writes.
#include <gtest/gtest.h>

#include "server_harness.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/event_log.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server::testing {
namespace {

using protocol::SearchField;
using protocol::SearchMatch;

class AccountDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_server.RunSetup(), 0);
        ASSERT_TRUE(m_database.Open("Talvorine Messenger Server")) << m_database.LastError();
    }

    void AddUser(std::string_view id, std::string_view password, std::string_view disabled = "0",
                 std::string_view nickname = "") {
        m_server.Execute("INSERT INTO USERS (ID, Password, Disabled, Nickname) VALUES ('" +
                         std::string(id) + "', '" + std::string(password) + "', " +
                         std::string(disabled) + ", '" + std::string(nickname) + "')");
    }

    std::string LogText() {
        m_log.CloseLogFile();
        return m_server.LogText();
    }

    ServerHarness m_server;
    ServerLog m_log{m_server.ServerFolder(), LogSettings(), nullptr};
    EventLog m_events{false};
    AccountDatabase m_database{m_log, m_events};
};

TEST_F(AccountDatabaseTest, NewAccountsCountUpFromTheLargestId) {
    auto first = m_database.CreateAccount();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->userId, "00000001");
    EXPECT_EQ(first->password, "00000001");
    auto second = m_database.CreateAccount();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->userId, "00000002");
    EXPECT_EQ(m_database.CheckPassword("00000002", "00000002"), PasswordCheck::Accepted);

    AddUser("00000041", "x");
    EXPECT_EQ(m_database.CreateAccount()->userId, "00000042");
}

TEST_F(AccountDatabaseTest, TheLastIdIsNeverExceeded) {
    m_log.OpenLogFile();
    AddUser("99999999", "x");
    EXPECT_FALSE(m_database.CreateAccount());
    EXPECT_NE(LogText().find("Error: Failed to create new account ID. ("), std::string::npos);
}

TEST_F(AccountDatabaseTest, PasswordCheckResults) {
    AddUser("00000001", "Secret");
    AddUser("00000002", "pw", "1");
    AddUser("00000003", "pw", "''");
    EXPECT_EQ(m_database.CheckPassword("00000001", "Secret"), PasswordCheck::Accepted);
    EXPECT_EQ(m_database.CheckPassword("00000001", "secret"), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000001", ""), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000001", std::string(17, 'a')), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000002", "pw"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000003", "pw"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000009", "pw"), PasswordCheck::Refused);
}

TEST_F(AccountDatabaseTest, CraftedIdsNeverMatchOrRewriteAStatement) {
    AddUser("00000001", "pw");
    for (std::string_view id : {"1' OR '1", "' OR 1=1", "0000001'", "1234567", "../../x"}) {
        EXPECT_EQ(m_database.CheckPassword(id, "pw"), PasswordCheck::Refused) << id;
        EXPECT_FALSE(m_database.ReadProfile(id)) << id;
        EXPECT_FALSE(m_database.SetOnline(id, true)) << id;
        EXPECT_FALSE(m_database.StoreOfflineMessage("00000001", id, false, "b", "x")) << id;
        EXPECT_FALSE(m_database.FetchOfflineMessages(id)) << id;
    }
    EXPECT_EQ(m_server.Query("SELECT Online FROM USERS")[0][0], "0");
    EXPECT_TRUE(m_server.Query("SELECT * FROM OFFLINEMSG").empty());
}

TEST_F(AccountDatabaseTest, OnlineFlagsAreSetAndReset) {
    AddUser("00000001", "pw");
    AddUser("00000002", "pw");
    EXPECT_TRUE(m_database.SetOnline("00000001", true));
    EXPECT_TRUE(m_database.SetOnline("00000002", true));
    EXPECT_TRUE(m_database.SetOnline("00000002", false));
    auto rows = m_server.Query("SELECT ID, Online FROM USERS ORDER BY ID");
    EXPECT_EQ(rows[0][1], "1");
    EXPECT_EQ(rows[1][1], "0");
    EXPECT_TRUE(m_database.ResetOnlineFlags());
    EXPECT_EQ(m_server.Query("SELECT count(*) FROM USERS WHERE Online")[0][0], "0");
}

TEST_F(AccountDatabaseTest, OfflineMessagesSurviveByteForByteAndAreDeletedOnce) {
    // Quotes, a backslash, UTF-8 text, trailing blanks and a body far beyond 4059 characters.
    std::string body = "It's \"quoted\" \\ 'twice'' — Grüße, 你好 ";
    body += std::string(32731 - body.size() - 3, 'r') + "   ";
    ASSERT_EQ(body.size(), 32731u);
    ASSERT_TRUE(m_database.StoreOfflineMessage("00000001", "00000002", true, "It's a brief", body));
    ASSERT_TRUE(m_database.StoreOfflineMessage("00000003", "00000002", false, "second", "2"));
    ASSERT_TRUE(m_database.StoreOfflineMessage("00000001", "00000009", false, "other", "3"));

    auto messages = m_database.FetchOfflineMessages("00000002");
    ASSERT_TRUE(messages) << messages.error;
    ASSERT_EQ(messages.value->size(), 2u);
    const OfflineMessage& first = messages.value->at(0);
    EXPECT_EQ(first.sender, "00000001");
    EXPECT_TRUE(first.richText);
    EXPECT_EQ(first.brief, "It's a brief");
    EXPECT_EQ(first.body, body);
    EXPECT_NEAR(static_cast<double>(first.recvTime), static_cast<double>(std::time(nullptr)), 60);
    EXPECT_FALSE(messages.value->at(1).richText);

    EXPECT_TRUE(m_database.DeleteOfflineMessage(first.msgId));
    auto rest = m_database.FetchOfflineMessages("00000002");
    ASSERT_EQ(rest.value->size(), 1u);
    EXPECT_EQ(rest.value->at(0).body, "2");
    EXPECT_EQ(m_database.FetchOfflineMessages("00000009").value->size(), 1u);
}

TEST_F(AccountDatabaseTest, ProfilesAreWrittenAndReadWithTheirWidths) {
    AddUser("00000005", "pw");
    protocol::UserProfile profile;
    profile.userId = "00000005";
    profile.password = "pw";
    profile.realName = "Seán O'Brien";
    profile.nickname = "obrien";
    profile.gender = "1";
    profile.email = "sean@example.org";
    profile.description = std::string(255, 'd');
    profile.city = "Zürich  ";
    ASSERT_TRUE(m_database.WriteProfile(profile));

    auto read = m_database.ReadProfile("00000005");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->userId, "00000005");
    EXPECT_EQ(read->password, "");
    EXPECT_EQ(read->realName, "Seán O'Brien");
    EXPECT_EQ(read->gender, "1");
    EXPECT_EQ(read->city, "Zürich");  // trailing blanks removed
    EXPECT_EQ(read->description, std::string(255, 'd'));

    // A wrong password changes nothing; an empty gender fails as the statement would.
    profile.password = "wrong";
    profile.nickname = "changed";
    EXPECT_TRUE(m_database.WriteProfile(profile));
    EXPECT_EQ(m_database.ReadProfile("00000005")->nickname, "obrien");
    profile.password = "pw";
    profile.gender = "";
    EXPECT_FALSE(m_database.WriteProfile(profile));
    EXPECT_FALSE(m_database.ReadProfile("00000006"));
}

TEST_F(AccountDatabaseTest, PasswordChangeNeedsTheOldPassword) {
    AddUser("00000001", "old", "1");
    EXPECT_FALSE(m_database.ChangePassword({"00000001", "wrong", "new"}));
    EXPECT_FALSE(m_database.ChangePassword({"00000001", "old", ""}));
    EXPECT_TRUE(m_database.ChangePassword({"00000001", "old", "n'ew"}));  // disabled may change
    EXPECT_EQ(m_database.CheckPassword("00000001", "n'ew"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000001", "old"), PasswordCheck::Refused);
}

TEST_F(AccountDatabaseTest, SearchFindsByEachFieldAndSkipsEmptyNicknames) {
    AddUser("00000001", "pw", "0", "Anna");
    AddUser("00000002", "pw", "0", "O''Brien");
    AddUser("00000003", "pw", "0", "");
    m_server.Execute("UPDATE USERS SET Email='anna@example.org' WHERE ID='00000001'");

    auto contains = m_database.SearchUsers(SearchField::Nickname, SearchMatch::Contains, "an");
    ASSERT_TRUE(contains) << contains.error;
    ASSERT_EQ(contains.value->size(), 1u);
    EXPECT_EQ(contains.value->at(0).userId, "00000001");
    EXPECT_EQ(contains.value->at(0).email, "anna@example.org");

    auto quote = m_database.SearchUsers(SearchField::Nickname, SearchMatch::Equals, "O'Brien");
    ASSERT_EQ(quote.value->size(), 1u);
    EXPECT_EQ(quote.value->at(0).userId, "00000002");
    EXPECT_EQ(
        m_database.SearchUsers(SearchField::Id, SearchMatch::Contains, "0000000").value->size(),
        2u);
    EXPECT_EQ(m_database.SearchUsers(SearchField::Email, SearchMatch::Equals, "anna@example.org")
                  .value->size(),
              1u);

    std::string quotes(255, '\'');
    auto none = m_database.SearchUsers(SearchField::Nickname, SearchMatch::Contains, quotes);
    ASSERT_TRUE(none) << none.error;
    EXPECT_TRUE(none.value->empty());
}

TEST(SearchStatementText, ShowsTheStatementWithQuotedValues) {
    EXPECT_EQ(AccountDatabase::SearchStatementText(SearchField::Nickname, SearchMatch::Contains,
                                                   "O'Brien"),
              "SELECT id, Nickname, Email FROM USERS WHERE Nickname <> '' AND Nickname LIKE "
              "'%O''Brien%'");
    EXPECT_EQ(AccountDatabase::SearchStatementText(SearchField::Id, SearchMatch::Equals, "1"),
              "SELECT id, Nickname, Email FROM USERS WHERE Nickname <> '' AND ID='1'");
    std::string text = AccountDatabase::SearchStatementText(
        SearchField::Email, SearchMatch::Contains, std::string(255, '\''));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\''), 2 + 510 + 2);
}

TEST(AccountDatabaseClosed, StatementsFailCleanlyWithoutAConnection) {
    TempFolder folder;
    ServerLog log(folder.Path(), LogSettings(), nullptr);
    EventLog events(false);
    AccountDatabase database(log, events);
    EXPECT_FALSE(database.Open("No Such Data Source"));
    EXPECT_FALSE(database.LastError().empty());
    EXPECT_EQ(database.CheckPassword("00000001", "pw"), PasswordCheck::Refused);
    EXPECT_FALSE(database.ResetOnlineFlags());
    EXPECT_FALSE(database.StoreOfflineMessage("00000001", "00000002", false, "", "x"));
}

}  // namespace
}  // namespace talvorine::server::testing
