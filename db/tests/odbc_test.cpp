// The ODBC layer against the real SQLite3 ODBC driver through a data source in a temporary
// ODBCINI file.
#include "talvorine/db/odbc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace talvorine::db {
namespace {

class OdbcTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "talvorine-odbc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        std::ofstream ini(m_folder / "odbc.ini");
        ini << "[Test Source]\nDriver=SQLite3\nDatabase=" << (m_folder / "test.db").string()
            << "\nTimeout=5000\n";
        ini.close();
        ::setenv("ODBCINI", (m_folder / "odbc.ini").c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::filesystem::path m_folder;
    Environment m_environment;
};

TEST_F(OdbcTest, BoundParametersRoundTripWithNullsDistinguished) {
    Connection connection(m_environment);
    connection.ConnectDsn("Test Source");
    ASSERT_TRUE(connection.IsConnected());
    connection.Execute("CREATE TABLE T (A VARCHAR(20), B INTEGER, C TEXT)");

    std::string tricky = "O'Brien'); DROP TABLE T; -- Grüße";
    std::string longText(100000, 'x');
    longText += "end";
    Statement insert(connection);
    insert.ExecDirect("INSERT INTO T (A, B, C) VALUES (?, ?, ?)",
                      {Parameter(std::string_view(tricky)), Parameter(std::int64_t{-42}),
                       Parameter(std::string_view(longText))});
    EXPECT_EQ(insert.RowCount(), 1);
    insert.ExecDirect("INSERT INTO T (A, B, C) VALUES (?, ?, ?)",
                      {Parameter(std::string_view("")), Parameter(), Parameter()});

    Statement query(connection);
    query.ExecDirect("SELECT a, B, C FROM T ORDER BY rowid");
    ASSERT_EQ(query.ColumnCount(), 3);
    EXPECT_EQ(query.FindColumn("A"), 0);
    EXPECT_EQ(query.FindColumn("c"), 2);
    EXPECT_FALSE(query.FindColumn("D"));
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.Value(0), tricky);
    EXPECT_EQ(query.Value(1), "-42");
    EXPECT_EQ(query.Text("C"), longText);
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.Value(0), std::string());  // empty text is not NULL
    EXPECT_FALSE(query.Value(1).has_value());
    EXPECT_EQ(query.Text("C"), "");
    EXPECT_FALSE(query.Fetch());
    EXPECT_FALSE(query.Fetch());
}

TEST_F(OdbcTest, FailuresCarryTheDriversTextAndTheConnectionKeepsIt) {
    Connection connection(m_environment);
    connection.ConnectDsn("Test Source");
    try {
        connection.Execute("SELECT * FROM NoSuchTable");
        FAIL() << "no error";
    } catch (const OdbcError& error) {
        EXPECT_NE(std::string(error.what()).find("NoSuchTable"), std::string::npos) << error.what();
        EXPECT_FALSE(error.SqlState().empty());
        EXPECT_FALSE(error.IsConnectionLost());
        EXPECT_EQ(connection.LastDiagnostic(), error.what());
    }
    // The connection goes on working after a failed statement.
    EXPECT_EQ(connection.Execute("CREATE TABLE U (X INTEGER)"), 0);
}

TEST_F(OdbcTest, UnknownDataSourceIsRefusedWithAText) {
    Connection connection(m_environment);
    EXPECT_THROW(connection.ConnectDsn("No Such Source"), OdbcError);
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_FALSE(connection.LastDiagnostic().empty());
    EXPECT_THROW(Statement{connection}, OdbcError);
}

TEST_F(OdbcTest, ReconnectKeepsTheData) {
    Connection connection(m_environment);
    connection.ConnectDsn("Test Source");
    connection.Execute("CREATE TABLE V (X INTEGER)");
    connection.Execute("INSERT INTO V VALUES (7)");
    connection.Reconnect();
    Statement query(connection);
    query.ExecDirect("SELECT X FROM V");
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.Value(0), "7");
}

TEST_F(OdbcTest, TheSchemaCreatesBothTablesAndCanRunTwice) {
    std::ifstream in(TALVORINE_SQLITE_SCHEMA);
    std::stringstream text;
    text << in.rdbuf();
    Connection connection(m_environment);
    connection.ConnectDsn("Test Source");
    for (int run = 0; run < 2; ++run) {
        std::string script = text.str();
        std::size_t start = 0;
        for (std::size_t end; (end = script.find(';', start)) != std::string::npos;
             start = end + 1) {
            std::string statement = script.substr(start, end - start);
            std::string code;
            std::istringstream lines(statement);
            for (std::string line; std::getline(lines, line);) {
                code += line.substr(0, line.find("--")) + "\n";
            }
            if (code.find_first_not_of(" \n") != std::string::npos) {
                connection.Execute(code);
            }
        }
    }
    connection.Execute("INSERT INTO USERS (ID, Password) VALUES ('00000001', 'pw')");
    Statement query(connection);
    query.ExecDirect("SELECT Disabled, Online, Nickname FROM USERS");
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.Value(0), "0");  // new accounts rely on the default
    EXPECT_EQ(query.Value(1), "0");
    EXPECT_EQ(query.Value(2), "");
    connection.Execute(
        "INSERT INTO OFFLINEMSG (Sender, Recipient, RecvTime, Richtext, Brief, Body) "
        "VALUES ('1', '2', 3, 1, 'b', 'x')");
    Statement messages(connection);
    messages.ExecDirect("SELECT MsgId, RichText FROM OFFLINEMSG");
    ASSERT_TRUE(messages.Fetch());
    EXPECT_EQ(messages.Value(0), "1");
    EXPECT_EQ(messages.Value(1), "1");
}

TEST(OdbcText, QuotingAndTrimming) {
    EXPECT_EQ(QuoteLiteral("O'Brien''"), "O''Brien''''");
    EXPECT_EQ(QuoteLiteral(""), "");
    EXPECT_EQ(TrimTrailing("abc \t\r\n"), "abc");
    EXPECT_EQ(TrimTrailing("   "), "");
    EXPECT_EQ(TrimTrailing(" a b"), " a b");
}

}  // namespace
}  // namespace talvorine::db
