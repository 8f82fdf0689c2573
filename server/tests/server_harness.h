#pragma once
// Runs the real TalvorineMessengerServer for a test: a temporary server folder, registry
// folder (machine.reg with "Port" and the log switches) and ODBC data-source file with the
// SQLite database made by the set-up program, a free port pair P / P + 1 on 127.0.0.1, the
// server started with "-console" and its console output captured.
//
// The constructor points TALVORINE_REGISTRY_DIR, TALVORINE_SERVER_HOME, ODBCINI and
// TALVORINE_STOP_EVENT of the test process at the temporary folder too, so a test can read
// the database and the log the server writes.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "talvorine/protocol/socket.h"

namespace talvorine::server::testing {

using namespace std::chrono_literals;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "talvorine-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Two free TCP ports P and P + 1 (checked by binding both on 0.0.0.0).
std::uint16_t FindFreePortPair();

// A MariaDB server for the tests, from the variables scripts/mariadb-test-instance.sh prints
// (TALVORINE_TEST_MARIADB_HOST / _PORT / _SOCKET / _USER / _PASSWORD / _DATABASE / _CONTROL /
// _DIR). Its user may create databases named talvorine*.
struct MariaDbInstance {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string socket;
    std::string user;
    std::string password;
    std::string database;  // an existing database to connect to for administration
    std::string control;   // the instance script (start|stop), when known
    std::string folder;    // the instance's folder, when known

    // nullopt when the variables are not set.
    static std::optional<MariaDbInstance> FromEnvironment();
    // A connection string that reaches `databaseName` by TCP without a data source.
    std::string ConnectionString(std::string_view databaseName) const;
    // Runs the instance script with `command` (start, stop, destroy) for this instance's
    // folder; its exit code.
    int Control(std::string_view command) const;
    // Starts a further private instance of the script `control` in `folder` (a test that
    // stops its database must not stop the one other tests use). nullopt when it fails.
    static std::optional<MariaDbInstance> StartPrivate(const std::string& control,
                                                       const std::filesystem::path& folder);
};

// True when TALVORINE_REQUIRE_MARIADB=1 (CI): a test that needs MariaDB then fails instead of
// skipping.
bool MariaDbRequired();

// In a test or SetUp: the instance from the environment, or a skip (a failure when MariaDB is
// required) with the reason.
#define TALVORINE_MARIADB_OR_SKIP(instance)                                                      \
    do {                                                                                         \
        auto found_ = ::talvorine::server::testing::MariaDbInstance::FromEnvironment();          \
        if (!found_) {                                                                           \
            if (::talvorine::server::testing::MariaDbRequired()) {                               \
                FAIL() << "TALVORINE_REQUIRE_MARIADB=1 but TALVORINE_TEST_MARIADB_* is not set " \
                          "(start it with scripts/mariadb-test-instance.sh start)";              \
            }                                                                                    \
            GTEST_SKIP() << "MariaDB not configured: run eval \"$(bash "                         \
                            "scripts/mariadb-test-instance.sh start)\" first";                   \
        }                                                                                        \
        (instance) = *found_;                                                                    \
    } while (false)

// A database row read as text; nullopt for NULL.
using Row = std::vector<std::optional<std::string>>;

class ServerHarness {
public:
    ServerHarness();
    ~ServerHarness();  // stops a running server (stop event, then SIGKILL after 60 s)
    ServerHarness(const ServerHarness&) = delete;
    ServerHarness& operator=(const ServerHarness&) = delete;

    const std::filesystem::path& Root() const { return m_root.Path(); }
    std::filesystem::path ServerFolder() const { return Root() / "server"; }
    std::filesystem::path RegistryFolder() const { return Root() / "registry"; }
    std::filesystem::path OdbcIni() const { return Root() / "odbc.ini"; }
    std::filesystem::path LogFolder() const { return ServerFolder() / "Log"; }
    const std::string& StopEventName() const { return m_stopEvent; }

    std::uint16_t Port() const { return m_port; }
    std::uint16_t AccountPort() const { return static_cast<std::uint16_t>(m_port + 1); }

    // Settings written to machine.reg before Start (Port is always written unless cleared).
    void SetPort(std::uint16_t port) { m_port = port; }
    void SetLogValue(std::string_view valueName, std::uint32_t value);
    void SetServerValue(std::string_view valueName, std::uint32_t value);
    void SetDataSourceName(std::string_view name) { m_dsnSetting = std::string(name); }
    // Starts the server with this open-file limit (soft and hard), set in the child only.
    void SetOpenFileLimit(unsigned long limit) { m_openFileLimit = limit; }

    // Puts the server's data source on a fresh database of a MariaDB instance instead of the
    // embedded SQLite file (before RunSetup). The database is dropped with the harness.
    void UseMariaDb(const MariaDbInstance& instance);
    bool UsesMariaDb() const { return m_mariaDb.has_value(); }
    // The data source the server uses: "Talvorine Messenger Server", or on MariaDB one named
    // after this harness. The driver manager keeps odbc.ini values in a per-process cache
    // for 20 s keyed by the section name, whatever file ODBCINI names, so two harnesses in one
    // test program must not share a name with different contents.
    const std::string& DataSourceName() const { return m_dataSourceName; }
    // Names the data source after this harness (a MariaDB one always is), for test programs
    // that run harnesses of both kinds (before RunSetup).
    void UseOwnDataSourceName();
    const std::string& MariaDbDatabase() const { return m_mariaDbDatabase; }

    // Runs the set-up program (once; Start calls it when it has not run). Its exit code.
    int RunSetup();
    // What the set-up program printed.
    std::string SetupOutput() const;

    // Starts the server with "-console" and waits for "Talvorine(R) Messenger Server started.".
    // False when the server ended or the time ran out first (the console output says why).
    bool Start(std::chrono::milliseconds timeout = 20s);
    // Starts the server without waiting for anything.
    void Launch(const std::vector<std::string>& arguments = {"-console"});

    // Sets the named stop event and waits for the exit; the exit code (-1: killed after the
    // time-out).
    int Stop(std::chrono::milliseconds timeout = 60s);
    // Sends a signal and waits for the exit; the exit code, or 128 + signal when the signal
    // ended it.
    int StopWithSignal(int signal, std::chrono::milliseconds timeout = 60s);
    // Waits for the process to end; nullopt on time-out.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    bool IsRunning() const;
    pid_t Pid() const { return m_pid; }

    // Everything the server wrote to its console so far (stdout and stderr).
    std::string ConsoleOutput() const;
    // Waits until the console output contains `text`.
    bool WaitForConsole(std::string_view text, std::chrono::milliseconds timeout = 20s) const;

    // The log files in the Log folder, and the text of the newest one ("" when none).
    std::vector<std::filesystem::path> LogFiles() const;
    std::string LogText() const;

    // Direct access to the server's database through the same data source.
    void Execute(const std::string& sql);
    std::vector<Row> Query(const std::string& sql);
    // MariaDB only: ends every other connection to the server's database (the server's own),
    // as a lost link does. The number ended.
    int KillDatabaseConnections();

    // A connected socket to 127.0.0.1 at the session port or the account port (throws NetError).
    protocol::Socket ConnectSession() const;
    protocol::Socket ConnectAccount() const;

private:
    void WriteRegistry();
    void ReadConsole(int fd);

    TempFolder m_root;
    std::uint16_t m_port;
    std::string m_stopEvent;
    std::map<std::string, std::uint32_t> m_logValues;
    std::map<std::string, std::uint32_t> m_serverValues;
    std::optional<std::string> m_dsnSetting;
    std::optional<unsigned long> m_openFileLimit;
    std::optional<MariaDbInstance> m_mariaDb;
    std::string m_dataSourceName = "Talvorine Messenger Server";
    std::string m_mariaDbDatabase;
    bool m_setupDone = false;

    pid_t m_pid = -1;
    mutable std::optional<int> m_exitCode;
    std::thread m_reader;
    mutable std::mutex m_outputMutex;
    mutable std::condition_variable m_outputChanged;
    std::string m_output;
    bool m_outputClosed = false;
};

}  // namespace talvorine::server::testing
