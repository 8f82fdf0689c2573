// The account table through the data source the server uses: SQLite always, MariaDB when the
// private test instance runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "server_harness.h"
#include "session_client.h"
#include "talvorine/admin/user_directory.h"

namespace talvorine::admin {
namespace {

using server::testing::ServerHarness;

std::vector<std::string> Ids(const DbOutcome<std::vector<UserRow>>& outcome) {
    std::vector<std::string> ids;
    EXPECT_TRUE(outcome.value) << outcome.error;
    if (outcome.value) {
        for (const auto& row : *outcome.value) {
            ids.push_back(row.id);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

enum class Backend { Sqlite, MariaDb };

class DirectoryTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::MariaDb) {
            server::testing::MariaDbInstance instance;
            TALVORINE_MARIADB_OR_SKIP(instance);
            m_server.UseMariaDb(instance);
        }
        ASSERT_EQ(m_server.RunSetup(), 0) << m_server.SetupOutput();
        auto add = [&](const char* id, const char* nick, const char* real, const char* mail,
                       int online, int disabled) {
            m_server.Execute(
                std::string("INSERT INTO USERS (ID, Password, Nickname, RealName, "
                            "Email, Department, Online, Disabled, Birthday) VALUES ('") +
                id + "', '" + id + "', '" + nick + "', '" + real + "', '" + mail + "', 'Sales', " +
                std::to_string(online) + ", " + std::to_string(disabled) + ", '1990/05/07')");
        };
        add("00000001", "anna", "Anna Berg", "anna@example.org", 1, 0);
        add("00000002", "bob", "Annabel Lee", "bob@example.org", 0, 0);
        add("00000003", "carol", "Carol King", "carol@corp.example", 1, 1);
        add("00000004", "100%_sure", "Dan O''Neil", "dan@example.org", 0, 0);
        add("00000005", "annex", "Eve", "eve@example.org", 0, 0);
        ASSERT_TRUE(m_directory.Open(m_server.DataSourceName())) << m_directory.LastError();
    }

    ServerHarness m_server;
    UserDirectory m_directory;
};

TEST_P(DirectoryTest, SearchesTheThreeCategoriesWithAndWithoutOnlineOnly) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "", false)).size(), 5u);
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "0003", false)), V{"00000003"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "", true)), (V{"00000001", "00000003"}));
    // Nickname or real name.
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "anna", false)),
              (V{"00000001", "00000002"}));
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Email, "corp", false)), V{"00000003"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Email, "example.org", true)), V{"00000001"});

    auto rows = m_directory.Search(SearchCategory::Id, "0003", false);
    ASSERT_TRUE(rows.value);
    const UserRow& carol = rows.value->front();
    EXPECT_EQ(carol.nickname, "carol");
    EXPECT_EQ(carol.realName, "Carol King");
    EXPECT_EQ(carol.email, "carol@corp.example");
    EXPECT_EQ(carol.department, "Sales");
    EXPECT_TRUE(carol.disabled);
    EXPECT_EQ(StatusText(carol.disabled), "Disable");
}

TEST_P(DirectoryTest, OnlineOnlyHoldsForBothNameColumns) {
    // "Annabel Lee" is offline and matches by real name only; without the parentheses round
    // the two name conditions she would be listed.
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "anna", true)),
              std::vector<std::string>{"00000001"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "ann", true)),
              std::vector<std::string>{"00000001"});
}

TEST_P(DirectoryTest, TypedTextsMatchLiterallyAndNeverBecomeSql) {
    using V = std::vector<std::string>;
    for (const char* crafted : {"x' or '1'='1", "' or 1=1 --", "'); DELETE FROM USERS; --"}) {
        for (auto category : {SearchCategory::Id, SearchCategory::Name, SearchCategory::Email}) {
            EXPECT_EQ(Ids(m_directory.Search(category, crafted, false)), V{}) << crafted;
        }
    }
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "", false)).size(), 5u);
    // Wildcards and quotes typed by the user are characters like any other.
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "%", false)), V{"00000004"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "0%_s", false)), V{"00000004"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "_", false)), V{});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "O'Neil", false)), V{"00000004"});
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Name, "!", false)), V{});

    // An id with a quote changes nothing.
    EXPECT_EQ(m_directory.SetDisabled("x' or '1'='1", true), "");
    EXPECT_EQ(m_directory.Delete("x' or '1'='1"), "");
    EXPECT_EQ(Ids(m_directory.Search(SearchCategory::Id, "", false)).size(), 5u);
    auto disabled = m_server.Query("SELECT ID FROM USERS WHERE Disabled = 1");
    EXPECT_EQ(disabled.size(), 1u);
}

TEST_P(DirectoryTest, EnableDisableDeleteAndDetail) {
    EXPECT_EQ(m_directory.SetDisabled("00000001", true), "");
    EXPECT_EQ(m_server.Query("SELECT Disabled FROM USERS WHERE ID = '00000001'")[0][0], "1");
    EXPECT_EQ(m_directory.SetDisabled("00000001", false), "");
    EXPECT_EQ(m_server.Query("SELECT Disabled FROM USERS WHERE ID = '00000001'")[0][0], "0");

    auto detail = m_directory.Detail("00000004");
    ASSERT_TRUE(detail.value) << detail.error;
    ASSERT_TRUE(*detail.value);
    const protocol::UserProfile& p = **detail.value;
    EXPECT_EQ(p.userId, "00000004");
    EXPECT_EQ(p.nickname, "100%_sure");
    EXPECT_EQ(p.realName, "Dan O'Neil");
    EXPECT_EQ(p.birthday, "1990/05/07");
    EXPECT_EQ(p.gender, "0");
    EXPECT_EQ(p.password, "");  // never copied

    EXPECT_EQ(m_directory.Delete("00000004"), "");
    auto gone = m_directory.Detail("00000004");
    ASSERT_TRUE(gone.value);
    EXPECT_FALSE(*gone.value);
}

TEST_P(DirectoryTest, AStatementTheDatabaseRefusesGivesItsText) {
    if (GetParam() == Backend::Sqlite) {
        m_server.Execute(
            "CREATE TRIGGER keep_users BEFORE UPDATE ON USERS BEGIN SELECT RAISE(ABORT, "
            "'accounts are frozen'); END");
        m_server.Execute(
            "CREATE TRIGGER keep_rows BEFORE DELETE ON USERS BEGIN SELECT RAISE(ABORT, "
            "'accounts are frozen'); END");
    } else {
        m_server.Execute(
            "CREATE TRIGGER keep_users BEFORE UPDATE ON USERS FOR EACH ROW SIGNAL SQLSTATE "
            "'45000' SET MESSAGE_TEXT = 'accounts are frozen'");
        m_server.Execute(
            "CREATE TRIGGER keep_rows BEFORE DELETE ON USERS FOR EACH ROW SIGNAL SQLSTATE "
            "'45000' SET MESSAGE_TEXT = 'accounts are frozen'");
    }
    EXPECT_NE(m_directory.SetDisabled("00000001", true).find("accounts are frozen"),
              std::string::npos);
    EXPECT_NE(m_directory.Delete("00000001").find("accounts are frozen"), std::string::npos);
    EXPECT_EQ(m_server.Query("SELECT COUNT(*) FROM USERS")[0][0], "5");

    m_server.Execute("DROP TABLE OFFLINEMSG");
    m_server.Execute("ALTER TABLE USERS RENAME TO USERS_AWAY");
    auto outcome = m_directory.Search(SearchCategory::Id, "", false);
    EXPECT_FALSE(outcome.value);
    EXPECT_NE(outcome.error, "");
}

INSTANTIATE_TEST_SUITE_P(Backends, DirectoryTest,
                         ::testing::Values(Backend::Sqlite, Backend::MariaDb),
                         [](const ::testing::TestParamInfo<Backend>& param) {
                             return param.param == Backend::Sqlite ? "Sqlite" : "MariaDb";
                         });

TEST(DisabledAccountTest, TheServerRefusesALoginTheAdministratorDisabled) {
    ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    protocol::AccountCredentials account = server::testing::NewAccount(server.AccountPort());
    UserDirectory directory;
    ASSERT_TRUE(directory.Open(server.DataSourceName())) << directory.LastError();
    ASSERT_EQ(directory.SetDisabled(account.userId, true), "");

    server::testing::SessionClient client(server.Port());
    server::testing::Packet reply = client.Login(account.userId, account.password);
    EXPECT_EQ(reply.type, protocol::PacketType::LoginDisabled);
    EXPECT_EQ(reply.Text(), protocol::ReplyText::LoginDisabled);

    ASSERT_EQ(directory.SetDisabled(account.userId, false), "");
    server::testing::SessionClient again(server.Port());
    EXPECT_EQ(again.Login(account.userId, account.password).type,
              protocol::PacketType::LoginAccepted);
}

}  // namespace
}  // namespace talvorine::admin
