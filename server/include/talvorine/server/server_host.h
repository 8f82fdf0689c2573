#pragma once
// The server program: command line, settings, the service and console forms, the start-up
// and shutdown order around the log, the database, the listeners and the sessions, and the
// stop event through which the service manager, a console signal or the administration
// program ends the run.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/platform/local_channel.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/event_log.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

inline constexpr std::string_view ServiceName = "Talvorine Messenger Server";
inline constexpr std::string_view DefaultStopEventName = "Talvorine Messenger Server Stop Event";
inline constexpr std::string_view DefaultDataSourceName = "Talvorine Messenger Server";
inline constexpr std::uint16_t DefaultPort = 8000;
inline constexpr std::string_view UnitName = "talvorine-messenger-server.service";
inline constexpr std::string_view UnitFile =
    "/etc/systemd/system/talvorine-messenger-server.service";
inline constexpr std::string_view ServiceHome = "/var/lib/talvorine-messenger-server";

// The stop event's name: $TALVORINE_STOP_EVENT when set (tests and servers run side by side
// on one machine), else "Talvorine Messenger Server Stop Event".
std::string StopEventName();

enum class Command { Install, Remove, Console, Service };
// The first argument, when it begins with "-" or "/", compared without regard to case;
// anything else (or nothing) is the service form.
Command ParseCommandLine(const std::vector<std::string_view>& arguments);

struct ServerSettings {
    std::string dataSourceName{DefaultDataSourceName};
    std::uint16_t port = DefaultPort;
    LogSettings log;
    // "Plain passwords" (a number, 0 by default): non-zero keeps new passwords as typed
    // instead of hashed, for a site whose own tools read the Password column.
    bool plainPasswords = false;
    // Empty when "Server Settings" could be opened; else why not.
    std::string registryError;
};
// Reads "Server Settings" and, when that key exists, "Log Settings" from the machine hive.
ServerSettings ReadServerSettings();

// The unit the install command writes for `executable`.
std::string ServiceUnitText(const std::filesystem::path& executable);
// Writes "RunningAS"/"Service" (1 for the service form, 0 for the console form) and
// "Program Path"/"Path" (the server program's folder) to the machine hive, where the
// administration program reads them. False (with a message on stderr) when it cannot.
bool RecordInstallation(bool asService, const std::filesystem::path& programFolder);
inline constexpr std::string_view RunningAsKey = "Software\\Talvorine\\Messenger Server\\RunningAS";
inline constexpr std::string_view ProgramPathKey =
    "Software\\Talvorine\\Messenger Server\\Program Path";
int InstallService(const std::filesystem::path& executable);  // 0 registered, 1 not
int RemoveService();                                          // 0

// Raises the open-files limit to its hard limit (each session holds two sockets).
void RaiseOpenFileLimit();

// One run of the server in either form.
class ServerHost {
public:
    ServerHost(ServerSettings settings, std::filesystem::path folder, bool consoleMode);
    ~ServerHost();
    ServerHost(const ServerHost&) = delete;
    ServerHost& operator=(const ServerHost&) = delete;

    // Start-up, wait for the stop event, shutdown. Returns the exit code.
    int Run();

    // Console control (SIGINT, SIGTERM, SIGHUP in console form): true when it led to an
    // orderly stop; false when the server has not started or is stopping already, in which
    // case the caller leaves the signal to its default action.
    bool OnConsoleControl();
    // The service manager's stop control: reports stop pending and sets the stop event.
    void OnServiceStop();
    // Sets the stop event from inside the process (remembered when it does not exist yet).
    void SetStopEvent();

    ServerLog& Log() { return m_log; }

    enum class ServiceState { StartPending, Running, StopPending, Stopped };
    void ReportServiceStatus(ServiceState state, int exitCode = 0, int waitHintMs = 0);

private:
    bool OpenDatabase();
    bool StartSocketLibrary();
    bool ListenOnBoth(protocol::SocketHandle& sessionListener,
                      protocol::SocketHandle& accountListener);
    std::optional<platform::ChannelListener> CreateStopEvent();
    void WaitForStopEvent(std::optional<platform::ChannelListener>& listener);

    ServerSettings m_settings;
    std::filesystem::path m_folder;
    bool m_consoleMode;
    ServerLog m_log;
    EventLog m_events;
    AccountDatabase m_database;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_consoleStopRequested{false};
    std::mutex m_stopMutex;  // guards the stop event listener and the pending request
    platform::ChannelListener* m_stopEvent = nullptr;
    bool m_stopRequested = false;
    int m_checkPoint = 0;
};

// The program entry: settings, command line, the chosen form. Returns the exit code.
int ServerMain(int argc, char** argv);

}  // namespace talvorine::server
