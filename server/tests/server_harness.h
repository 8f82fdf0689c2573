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

    // Runs the set-up program (once; Start calls it when it has not run). Its exit code.
    int RunSetup();

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
