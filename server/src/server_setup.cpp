#include "talvorine/server/server_setup.h"

#include <cerrno>
#include <charconv>
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
constexpr std::string_view MariaDbDriverLibrary = "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so";
// A statement that waits longer than three times this for the network fails, so a database
// host that vanished never holds the server's connection for long.
constexpr std::string_view MariaDbNetTimeout = "10";
// A second connection (the administration program) waits this long for a lock.
constexpr std::string_view BusyTimeoutMs = "5000";

const char* Usage =
    "Usage: TalvorineMessengerServerSetup [--home DIR] [--odbcini FILE] [--schema FILE] "
    "[--dsn NAME]\n"
    "       TalvorineMessengerServerSetup --driver mariadb [--server HOST] [--port N] "
    "[--socket PATH]\n"
    "           [--database NAME] [--user USER] [--password PASSWORD] [--odbcini FILE] ...\n"
    "Writes the ODBC data source of the Talvorine Messenger Server and creates its tables.\n"
    "By default the data source is the embedded SQLite database (file "
    "talvorine-messenger.db"
    " in the server folder).\n"
    "  --home DIR      server folder (default: $TALVORINE_SERVER_HOME, else the program's folder)\n"
    "  --odbcini FILE  data-source file (default: $ODBCINI, else ~/.odbc.ini)\n"
    "  --schema FILE   schema to run (default: the installed sqlite.sql or mariadb.sql)\n"
    "  --dsn NAME      data source name (default: \"Talvorine Messenger Server\")\n"
    "  --driver NAME   sqlite (default) or mariadb (the MariaDB ODBC driver)\n"
    "MariaDB (the database must exist; its user needs CREATE on it for the first run):\n"
    "  --server HOST   server host (default: localhost)\n"
    "  --port N        TCP port (default: the driver's, 3306)\n"
    "  --socket PATH   unix socket of a local server instead of TCP\n"
    "  --database NAME database (default: talvorine)\n"
    "  --user USER     user name\n"
    "  --password PW   password (the data-source file is then readable by its owner only)\n";

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
    if (!ini.WriteSection(options.dataSourceName, DataSourceLines(options, databaseFile))) {
        std::fprintf(stderr, "Error: cannot write the data source to %s (%s).\n", iniFile.c_str(),
                     std::strerror(errno));
        return false;
    }
    // The driver manager lists user data sources under [ODBC Data Sources].
    bool mariaDb = options.driver == SetupDriver::MariaDb;
    ini.Write("ODBC Data Sources", options.dataSourceName, mariaDb ? "MariaDB" : "SQLite3");
    if (mariaDb && !options.mariaDb.password.empty()) {
        // The file now holds a password.
        std::filesystem::permissions(
            iniFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            error);
    }
    return true;
}

// An odbc.ini value ends at the line's end; one with a line break cannot be written.
bool IsSingleLine(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

std::optional<unsigned> ParsePort(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    return value;
}

void PrepareSqlite(db::Connection& connection) {
    // WAL lets readers (the administration program) work while the server writes; the mode is
    // kept in the database file.
    db::Statement pragma(connection);
    pragma.ExecDirect("PRAGMA journal_mode=WAL");
    while (pragma.Fetch()) {
    }
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

std::string MariaDbDriver() {
    std::error_code error;
    if (std::filesystem::exists(std::string(MariaDbDriverLibrary), error)) {
        return std::string(MariaDbDriverLibrary);
    }
    return "MariaDB Unicode";
}

std::vector<std::string> DataSourceLines(const SetupOptions& options,
                                         const std::filesystem::path& databaseFile) {
    if (options.driver == SetupDriver::Sqlite) {
        return {
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
    }
    const MariaDbSource& m = options.mariaDb;
    std::vector<std::string> lines = {
        "Description=Talvorine Messenger Server account database (MariaDB)",
        "Driver=" + MariaDbDriver(),
        "Server=" + m.server,
    };
    if (m.port) {
        lines.push_back("Port=" + std::to_string(*m.port));
    }
    if (!m.socket.empty()) {
        lines.push_back("Socket=" + m.socket);
    }
    lines.push_back("Database=" + m.database);
    lines.push_back("User=" + m.user);
    lines.push_back("Password=" + m.password);
    lines.push_back("CHARSET=utf8mb4");
    lines.push_back("READ_TIMEOUT=" + std::string(MariaDbNetTimeout));
    lines.push_back("WRITE_TIMEOUT=" + std::string(MariaDbNetTimeout));
    return lines;
}

std::optional<std::filesystem::path> FindSqliteSchema() {
    return FindSchema("sqlite.sql");
}

std::optional<std::filesystem::path> FindSchema(std::string_view fileName) {
    std::filesystem::path exe = platform::ExecutableFolder();
    std::vector<std::filesystem::path> candidates = {
        exe / "../share/talvorine-messenger/schema" / fileName,
        exe / "schema" / fileName,
#ifdef TALVORINE_SOURCE_SCHEMA_DIR
        std::filesystem::path(TALVORINE_SOURCE_SCHEMA_DIR) / fileName,
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
        } else if (argument == "--driver") {
            if (value == "sqlite") {
                options.driver = SetupDriver::Sqlite;
            } else if (value == "mariadb") {
                options.driver = SetupDriver::MariaDb;
            } else {
                std::fprintf(stderr, "Error: --driver is sqlite or mariadb, not %s.\n%s",
                             value.c_str(), Usage);
                return std::nullopt;
            }
        } else if (argument == "--server") {
            options.mariaDb.server = value;
        } else if (argument == "--port") {
            options.mariaDb.port = ParsePort(value);
            if (!options.mariaDb.port) {
                std::fprintf(stderr, "Error: --port needs a number from 1 to 65535.\n%s", Usage);
                return std::nullopt;
            }
        } else if (argument == "--socket") {
            options.mariaDb.socket = value;
        } else if (argument == "--database") {
            options.mariaDb.database = value;
        } else if (argument == "--user") {
            options.mariaDb.user = value;
        } else if (argument == "--password") {
            options.mariaDb.password = value;
        } else {
            std::fprintf(stderr, "Error: unknown argument %s.\n%s", argv[i - 1], Usage);
            return std::nullopt;
        }
    }
    // The driver manager reads a value up to the line's end and cuts nothing else; a value
    // with a line break would write a second, unintended key.
    const MariaDbSource& m = options.mariaDb;
    for (std::string_view value :
         {std::string_view(options.dataSourceName), std::string_view(m.server),
          std::string_view(m.socket), std::string_view(m.database), std::string_view(m.user),
          std::string_view(m.password)}) {
        if (!IsSingleLine(value)) {
            std::fprintf(stderr, "Error: a value may not contain a line break.\n");
            return std::nullopt;
        }
    }
    // The driver manager refuses longer names (SQL_MAX_DSN_LENGTH).
    if (options.dataSourceName.empty() || options.dataSourceName.size() > SQL_MAX_DSN_LENGTH ||
        options.dataSourceName.find_first_of("[]") != std::string::npos) {
        std::fprintf(stderr,
                     "Error: the data source name must have 1 to %d characters and no [ or ].\n",
                     SQL_MAX_DSN_LENGTH);
        return std::nullopt;
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

    const bool mariaDb = options.driver == SetupDriver::MariaDb;
    const char* schemaName = mariaDb ? "mariadb.sql" : "sqlite.sql";
    auto schemaFile = options.schemaFile ? options.schemaFile : FindSchema(schemaName);
    if (!schemaFile) {
        std::fprintf(stderr, "Error: the schema file %s was not found; give it with --schema.\n",
                     schemaName);
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
    if (mariaDb) {
        std::printf("Data source \"%s\" written to %s (MariaDB database %s on %s).\n",
                    options.dataSourceName.c_str(), iniFile.c_str(),
                    options.mariaDb.database.c_str(),
                    options.mariaDb.socket.empty() ? options.mariaDb.server.c_str()
                                                   : options.mariaDb.socket.c_str());
    } else {
        std::printf("Data source \"%s\" written to %s (database %s).\n",
                    options.dataSourceName.c_str(), iniFile.c_str(), databaseFile.c_str());
    }

    // The driver manager must read the file just written, whatever ODBCINI said before.
    ::setenv("ODBCINI", iniFile.c_str(), 1);
    try {
        db::Environment environment;
        db::Connection connection(environment);
        // The data source holds the user name and password.
        connection.Connect("DSN=" + options.dataSourceName);
        if (!mariaDb) {
            PrepareSqlite(connection);
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
