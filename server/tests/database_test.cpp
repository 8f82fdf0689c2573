// The account database against the real SQLite ODBC driver and the real MariaDB ODBC driver
// (a private MariaDB instance, see scripts/mariadb-test-instance.sh), through the data source
// the set-up program writes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server_harness.h"
#include "session_client.h"
#include "talvorine/db/odbc.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/event_log.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server::testing {
namespace {

using protocol::SearchField;
using protocol::SearchMatch;

enum class Backend { Sqlite, MariaDb };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "MariaDb";
}

class AccountDatabaseTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::MariaDb) {
            TALVORINE_MARIADB_OR_SKIP(m_instance);
            m_server.UseMariaDb(m_instance);
        } else {
            m_server.UseOwnDataSourceName();
        }
        ASSERT_EQ(m_server.RunSetup(), 0) << m_server.SetupOutput();
        ASSERT_TRUE(m_database.Open(m_server.DataSourceName())) << m_database.LastError();
        ASSERT_EQ(m_database.Backend(), GetParam() == Backend::Sqlite ? DatabaseBackend::Sqlite
                                                                      : DatabaseBackend::MariaDb);
    }

    bool OnMariaDb() const { return GetParam() == Backend::MariaDb; }

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

    MariaDbInstance m_instance;
    ServerHarness m_server;
    ServerLog m_log{m_server.ServerFolder(), LogSettings(), nullptr};
    EventLog m_events{false};
    AccountDatabase m_database{m_log, m_events};
};

TEST_P(AccountDatabaseTest, NewAccountsCountUpFromTheLargestId) {
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

TEST_P(AccountDatabaseTest, TheLastIdIsNeverExceeded) {
    m_log.OpenLogFile();
    AddUser("99999999", "x");
    EXPECT_FALSE(m_database.CreateAccount());
    EXPECT_NE(LogText().find("Error: Failed to create new account ID. ("), std::string::npos);
}

TEST_P(AccountDatabaseTest, PasswordCheckResults) {
    AddUser("00000001", "Secret");
    AddUser("00000002", "pw", "1");
    // A boolean column on MariaDB cannot hold an empty value; on SQLite it can.
    AddUser("00000003", "pw", OnMariaDb() ? "2" : "''");
    EXPECT_EQ(m_database.CheckPassword("00000001", "Secret"), PasswordCheck::Accepted);
    EXPECT_EQ(m_database.CheckPassword("00000001", "secret"), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000001", ""), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000001", std::string(17, 'a')), PasswordCheck::Refused);
    EXPECT_EQ(m_database.CheckPassword("00000002", "pw"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000003", "pw"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000009", "pw"), PasswordCheck::Refused);
}

TEST_P(AccountDatabaseTest, CraftedIdsNeverMatchOrRewriteAStatement) {
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

TEST_P(AccountDatabaseTest, OnlineFlagsAreSetAndReset) {
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

TEST_P(AccountDatabaseTest, OfflineMessagesSurviveByteForByteAndAreDeletedOnce) {
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

TEST_P(AccountDatabaseTest, ProfilesAreWrittenAndReadWithTheirWidths) {
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

TEST_P(AccountDatabaseTest, PasswordChangeNeedsTheOldPassword) {
    AddUser("00000001", "old", "1");
    EXPECT_FALSE(m_database.ChangePassword({"00000001", "wrong", "new"}));
    EXPECT_FALSE(m_database.ChangePassword({"00000001", "old", ""}));
    EXPECT_TRUE(m_database.ChangePassword({"00000001", "old", "n'ew"}));  // disabled may change
    EXPECT_EQ(m_database.CheckPassword("00000001", "n'ew"), PasswordCheck::AcceptedDisabled);
    EXPECT_EQ(m_database.CheckPassword("00000001", "old"), PasswordCheck::Refused);
}

TEST_P(AccountDatabaseTest, SearchFindsByEachFieldAndSkipsEmptyNicknames) {
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

TEST_P(AccountDatabaseTest, SearchTextsKeepBackslashesAndQuotesAsTheyAre) {
    AddUser("00000001", "pw");
    AddUser("00000002", "pw", "0", "backslash");
    protocol::UserProfile profile;
    profile.userId = "00000001";
    profile.password = "pw";
    profile.gender = "0";
    profile.nickname = "back\\slash O'Neil";
    ASSERT_TRUE(m_database.WriteProfile(profile));
    EXPECT_EQ(m_database.ReadProfile("00000001")->nickname, "back\\slash O'Neil");

    // A backslash is an ordinary character, in LIKE as well as in '=' (no escape character).
    auto found = m_database.SearchUsers(SearchField::Nickname, SearchMatch::Contains, "k\\s");
    ASSERT_TRUE(found) << found.error;
    ASSERT_EQ(found.value->size(), 1u);
    EXPECT_EQ(found.value->at(0).userId, "00000001");
    found =
        m_database.SearchUsers(SearchField::Nickname, SearchMatch::Equals, "back\\slash O'Neil");
    ASSERT_TRUE(found) << found.error;
    EXPECT_EQ(found.value->size(), 1u);
}

TEST_P(AccountDatabaseTest, TextThatIsNotUtf8IsStoredWholeOrRefusedNeverCut) {
    const std::string body = "before \xff\xfe after";
    auto stored = m_database.StoreOfflineMessage("00000001", "00000002", false, "b", body);
    auto messages = m_database.FetchOfflineMessages("00000002");
    ASSERT_TRUE(messages) << messages.error;
    if (OnMariaDb()) {
        // utf8mb4 columns in strict mode refuse the bytes; the sender is told it failed.
        EXPECT_FALSE(stored);
        EXPECT_FALSE(stored.error.empty());
        EXPECT_TRUE(messages.value->empty());
    } else {
        ASSERT_TRUE(stored) << stored.error;
        ASSERT_EQ(messages.value->size(), 1u);
        EXPECT_EQ(messages.value->at(0).body, body);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, AccountDatabaseTest,
                         ::testing::Values(Backend::Sqlite, Backend::MariaDb), BackendName);

// A link that the database server ends (a restart, wait_timeout, a killed connection).
class MariaDbLinkTest : public AccountDatabaseTest {
protected:
    void KillLink() { ASSERT_GE(m_server.KillDatabaseConnections(), 1); }
    std::size_t StoredFor(const std::string& recipient) {
        return m_server.Query("SELECT MsgId FROM OFFLINEMSG WHERE Recipient='" + recipient + "'")
            .size();
    }
};

TEST_P(MariaDbLinkTest, EveryCallAfterALostLinkConnectsAgainAndRunsOnce) {
    m_log.OpenLogFile();
    AddUser("00000001", "pw");

    KillLink();
    EXPECT_EQ(m_database.CheckPassword("00000001", "pw"), PasswordCheck::Accepted);
    KillLink();
    ASSERT_TRUE(m_database.StoreOfflineMessage("00000001", "00000002", false, "b", "It's one"));
    EXPECT_EQ(StoredFor("00000002"), 1u);
    KillLink();
    auto messages = m_database.FetchOfflineMessages("00000002");
    ASSERT_TRUE(messages) << messages.error;
    ASSERT_EQ(messages.value->size(), 1u);
    EXPECT_EQ(messages.value->at(0).body, "It's one");
    KillLink();
    EXPECT_TRUE(m_database.DeleteOfflineMessage(messages.value->at(0).msgId));
    EXPECT_EQ(StoredFor("00000002"), 0u);
    KillLink();
    EXPECT_TRUE(m_database.SetOnline("00000001", true));
    EXPECT_EQ(m_server.Query("SELECT Online FROM USERS WHERE ID='00000001'")[0][0], "1");
    KillLink();
    auto created = m_database.CreateAccount();
    ASSERT_TRUE(created);
    EXPECT_EQ(created->userId, "00000002");
    EXPECT_EQ(m_server.Query("SELECT ID FROM USERS").size(), 2u);

    // The new connection has the server's session settings again: a backslash stays text.
    KillLink();
    AddUser("00000003", "pw", "0", "a");
    protocol::UserProfile profile;
    profile.userId = "00000003";
    profile.password = "pw";
    profile.gender = "0";
    profile.nickname = "x\\y";
    ASSERT_TRUE(m_database.WriteProfile(profile));
    EXPECT_EQ(
        m_database.SearchUsers(SearchField::Nickname, SearchMatch::Contains, "x\\y").value->size(),
        1u);
    EXPECT_EQ(LogText().find("Error"), std::string::npos) << LogText();
}

TEST_P(MariaDbLinkTest, AnOfflineMessageCutOffWhileItIsBeingStoredIsNotRepeated) {
    // Hold the table so the server's INSERT waits inside the database, then end its link.
    db::Environment environment;
    db::Connection holder(environment);
    holder.Connect("DSN=" + m_server.DataSourceName());
    holder.Execute("LOCK TABLES OFFLINEMSG WRITE");

    DbResult<bool> stored;
    std::thread sender([&] {
        stored = m_database.StoreOfflineMessage("00000001", "00000002", false, "b", "once");
    });
    std::string waiting;
    EXPECT_TRUE(Eventually([&] {
        db::Statement s(holder);
        s.ExecDirect(
            "SELECT ID FROM information_schema.PROCESSLIST WHERE DB=? AND ID<>CONNECTION_ID() "
            "AND STATE LIKE 'Waiting for table%'",
            {db::Parameter(std::string_view(m_server.MariaDbDatabase()))});
        if (s.Fetch()) {
            waiting = s.Value(0).value_or("");
        }
        return !waiting.empty();
    }));
    if (!waiting.empty()) {
        holder.Execute("KILL CONNECTION " + waiting);
    }
    sender.join();
    holder.Execute("UNLOCK TABLES");

    EXPECT_FALSE(stored);
    EXPECT_FALSE(stored.error.empty());
    EXPECT_EQ(StoredFor("00000002"), 0u);
    // The next message goes through on a new link, exactly once.
    ASSERT_TRUE(m_database.StoreOfflineMessage("00000001", "00000002", false, "b", "next"));
    EXPECT_EQ(StoredFor("00000002"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, MariaDbLinkTest, ::testing::Values(Backend::MariaDb),
                         BackendName);

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
