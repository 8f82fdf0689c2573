#include "talvorine/server/server_setup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "talvorine/db/odbc.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/platform/program_folders.h"

namespace talvorine::server {

namespace {

constexpr std::string_view DatabaseFileName = "talvorine-messenger.db";
constexpr std::string_view SqliteDriverLibrary = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
// A second connection (the administration program) waits this long for a lock.
constexpr std::string_view BusyTimeoutMs = "5000";

const char* Usage =
    "Usage: TalvorineMessengerServerSetup [--home DIR] [--odbcini FILE] [--schema FILE] "
    "[--dsn NAME]\n"
    "Writes the ODBC data source of the Talvorine Messenger Server for the embedded SQLite\n"
    "database (file "
    "talvorine-messenger.db"
    " in the server folder) and creates its tables.\n"
    "  --home DIR      server folder (default: $TALVORINE_SERVER_HOME, else the program's folder)\n"
    "  --odbcini FILE  data-source file (default: $ODBCINI, else ~/.odbc.ini)\n"
    "  --schema FILE   schema to run (default: the installed sqlite.sql)\n"
    "  --dsn NAME      data source name (default: \"Talvorine Messenger Server\")\n";

std::optional<std::string> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteDataSource(const SetupOptions& options, const std::filesystem::path& iniFile,
                     const std::filesystem::path& databaseFile) {
    std::error_code error;
    if (iniFile.has_parent_path()) {
        std::filesystem::create_directories(iniFile.parent_path(), error);
    }
    platform::PrivateProfile ini(iniFile);
    std::vector<std::string> lines = {
        "Description=Talvorine Messenger Server account database",
        "Driver=" + SqliteDriver(),
        "Database=" + databaseFile.string(),
        "Timeout=" + std::string(BusyTimeoutMs),
        "JournalMode=WAL",
        "SyncPragma=NORMAL",
        "StepAPI=0",
        "NoTXN=0",
        "LongNames=0",
        "FKSupport=0",
    };
    if (!ini.WriteSection(options.dataSourceName, lines)) {
        std::fprintf(stderr, "Error: cannot write the data source to %s (%s).\n", iniFile.c_str(),
                     std::strerror(errno));
        return false;
    }
    // The driver manager lists user data sources under [ODBC Data Sources].
    ini.Write("ODBC Data Sources", options.dataSourceName, "SQLite3");
    return true;
}

}  // namespace

std::filesystem::path DefaultOdbcIni() {
    const char* file = std::getenv("ODBCINI");
    if (file != nullptr && *file != '\0') {
        return file;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".odbc.ini";
}

std::string SqliteDriver() {
    std::error_code error;
    if (std::filesystem::exists(std::string(SqliteDriverLibrary), error)) {
        return std::string(SqliteDriverLibrary);
    }
    return "SQLite3";
}

std::optional<std::filesystem::path> FindSqliteSchema() {
    std::filesystem::path exe = platform::ExecutableFolder();
    std::vector<std::filesystem::path> candidates = {
        exe / "../share/talvorine-messenger/schema/sqlite.sql",
        exe / "schema/sqlite.sql",
#ifdef TALVORINE_SOURCE_SCHEMA_DIR
        std::filesystem::path(TALVORINE_SOURCE_SCHEMA_DIR) / "sqlite.sql",
#endif
    };
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return std::filesystem::weakly_canonical(candidate, error);
        }
    }
    return std::nullopt;
}

std::vector<std::string> SplitStatements(const std::string& script) {
    std::vector<std::string> statements;
    std::string current;
    std::istringstream in(script);
    std::string line;
    while (std::getline(in, line)) {
        auto comment = line.find("--");
        if (comment != std::string::npos) {
            line.erase(comment);
        }
        current += line + "\n";
        std::size_t end;
        while ((end = current.find(';')) != std::string::npos) {
            std::string statement = current.substr(0, end);
            current.erase(0, end + 1);
            if (statement.find_first_not_of(" \t\r\n") != std::string::npos) {
                statements.push_back(statement);
            }
        }
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos) {
        statements.push_back(current);
    }
    return statements;
}

std::optional<SetupOptions> ParseSetupArguments(int argc, char** argv) {
    SetupOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(Usage, stdout);
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "Error: %s needs a value.\n%s", argv[i], Usage);
            return std::nullopt;
        }
        std::string value = argv[++i];
        if (argument == "--home") {
            options.serverFolder = value;
        } else if (argument == "--odbcini") {
            options.odbcIni = value;
        } else if (argument == "--schema") {
            options.schemaFile = value;
        } else if (argument == "--dsn") {
            options.dataSourceName = value;
        } else {
            std::fprintf(stderr, "Error: unknown argument %s.\n%s", argv[i - 1], Usage);
            return std::nullopt;
        }
    }
    return options;
}

int RunServerSetup(const SetupOptions& options) {
    std::filesystem::path folder = options.serverFolder.value_or(platform::ServerHome());
    std::filesystem::path iniFile = options.odbcIni.value_or(DefaultOdbcIni());
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "Error: cannot create the server folder %s (%s).\n", folder.c_str(),
                     error.message().c_str());
        return 1;
    }
    folder = std::filesystem::absolute(folder, error);
    std::filesystem::path databaseFile = folder / DatabaseFileName;

    auto schemaFile = options.schemaFile ? options.schemaFile : FindSqliteSchema();
    if (!schemaFile) {
        std::fprintf(stderr,
                     "Error: the schema file sqlite.sql was not found; give it with --schema.\n");
        return 1;
    }
    auto script = ReadFile(*schemaFile);
    if (!script) {
        std::fprintf(stderr, "Error: cannot read the schema file %s.\n", schemaFile->c_str());
        return 1;
    }
    if (!WriteDataSource(options, iniFile, databaseFile)) {
        return 1;
    }
    std::printf("Data source \"%s\" written to %s (database %s).\n", options.dataSourceName.c_str(),
                iniFile.c_str(), databaseFile.c_str());

    // The driver manager must read the file just written, whatever ODBCINI said before.
    ::setenv("ODBCINI", iniFile.c_str(), 1);
    try {
        db::Environment environment;
        db::Connection connection(environment);
        connection.ConnectDsn(options.dataSourceName, "", "");
        // WAL lets readers (the administration program) work while the server writes; the
        // mode is kept in the database file.
        {
            db::Statement pragma(connection);
            pragma.ExecDirect("PRAGMA journal_mode=WAL");
            while (pragma.Fetch()) {
            }
        }
        for (const auto& statement : SplitStatements(*script)) {
            connection.Execute(statement);
        }
    } catch (const db::OdbcError& e) {
        std::fprintf(stderr, "Error: cannot set up the database through \"%s\": %s\n",
                     options.dataSourceName.c_str(), e.what());
        return 1;
    }
    std::printf("Tables USERS and OFFLINEMSG are ready (schema %s).\n", schemaFile->c_str());
    return 0;
}

}  // namespace talvorine::server
