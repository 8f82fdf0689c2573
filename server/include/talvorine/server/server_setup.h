#pragma once
// The set-up step of the embedded database: writes the "Talvorine Messenger Server" data
// source for the SQLite3 ODBC driver (database file in the server folder, a busy time-out,
// WAL journal) and creates the tables from the schema file when they are missing. Running
// it again changes nothing but the data source's lines.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvorine::server {

struct SetupOptions {
    std::optional<std::filesystem::path> serverFolder;  // default: the server's folder
    std::optional<std::filesystem::path> odbcIni;       // default: $ODBCINI, else ~/.odbc.ini
    std::optional<std::filesystem::path> schemaFile;    // default: found beside the program
    std::string dataSourceName = "Talvorine Messenger Server";
};

// The user data-source file unixODBC reads: $ODBCINI, else ~/.odbc.ini.
std::filesystem::path DefaultOdbcIni();
// The SQLite3 ODBC driver: the registered "SQLite3" driver's library when it exists, else
// the name "SQLite3" for the driver manager to look up.
std::string SqliteDriver();
// The installed or source-tree schema file for SQLite; nullopt when none is found.
std::optional<std::filesystem::path> FindSqliteSchema();
// The statements of a schema file: comments dropped, split at ";".
std::vector<std::string> SplitStatements(const std::string& script);

// Parses the set-up program's arguments; nullopt (with a message on stderr) for bad ones.
std::optional<SetupOptions> ParseSetupArguments(int argc, char** argv);
// Runs the set-up; messages go to stdout, errors to stderr. 0 on success, 1 on failure.
int RunServerSetup(const SetupOptions& options);

}  // namespace talvorine::server
