#pragma once
// The set-up step of the account database: writes the "Talvorine Messenger Server" data
// source and creates the tables from the schema file when they are missing. The embedded
// default is the SQLite3 ODBC driver (database file in the server folder, a busy time-out,
// WAL journal); with the MariaDB driver the data source names a server (host and port, or a
// unix socket), a database that exists already, and the user and password. Running it again
// changes nothing but the data source's lines.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::server {

enum class SetupDriver { Sqlite, MariaDb };

struct MariaDbSource {
    std::string server = "localhost";
    std::optional<unsigned> port;  // default: the driver's (3306)
    std::string socket;            // a unix socket instead of TCP when set
    std::string database = "talvorine";
    std::string user;
    std::string password;
};

struct SetupOptions {
    std::optional<std::filesystem::path> serverFolder;  // default: the server's folder
    std::optional<std::filesystem::path> odbcIni;       // default: $ODBCINI, else ~/.odbc.ini
    std::optional<std::filesystem::path> schemaFile;    // default: found beside the program
    std::string dataSourceName = "Talvorine Messenger Server";
    SetupDriver driver = SetupDriver::Sqlite;
    MariaDbSource mariaDb;
};

// The user data-source file unixODBC reads: $ODBCINI, else ~/.odbc.ini.
std::filesystem::path DefaultOdbcIni();
// The SQLite3 ODBC driver: the registered "SQLite3" driver's library when it exists, else
// the name "SQLite3" for the driver manager to look up.
std::string SqliteDriver();
// The MariaDB ODBC driver: its library when it exists, else the registered name
// "MariaDB Unicode".
std::string MariaDbDriver();
// The installed or source-tree schema file ("sqlite.sql", "mariadb.sql"); nullopt when none
// is found.
std::optional<std::filesystem::path> FindSchema(std::string_view fileName);
std::optional<std::filesystem::path> FindSqliteSchema();
// The data source's "key=value" lines for the options' driver.
std::vector<std::string> DataSourceLines(const SetupOptions& options,
                                         const std::filesystem::path& databaseFile);
// The statements of a schema file: comments dropped, split at ";".
std::vector<std::string> SplitStatements(const std::string& script);

// Parses the set-up program's arguments; nullopt (with a message on stderr) for bad ones.
std::optional<SetupOptions> ParseSetupArguments(int argc, char** argv);
// Runs the set-up; messages go to stdout, errors to stderr. 0 on success, 1 on failure.
int RunServerSetup(const SetupOptions& options);

}  // namespace talvorine::server
