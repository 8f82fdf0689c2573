#include "talvorine/server/server_host.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "signal_watcher.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/process.h"
#include "talvorine/platform/program_folders.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/session_server.h"

namespace talvorine::server {

namespace {

constexpr int StartWaitHintMs = 3000;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Refusals of the stop event are reported through the log of the running host.
ServerLog* g_refusalLog = nullptr;
void LogRefusal(const std::string& message) {
    if (g_refusalLog != nullptr) {
        g_refusalLog->Always("Warning: stop event " + message + ".");
    }
}

std::string Trim(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

using platform::RunProgram;

}  // namespace

std::string StopEventName() {
    const char* name = std::getenv("TALVORINE_STOP_EVENT");
    return name != nullptr && *name != '\0' ? std::string(name) : std::string(DefaultStopEventName);
}

Command ParseCommandLine(const std::vector<std::string_view>& arguments) {
    if (arguments.empty()) {
        return Command::Service;
    }
    std::string_view first = arguments.front();
    if (first.empty() || (first.front() != '-' && first.front() != '/')) {
        return Command::Service;
    }
    first.remove_prefix(1);
    if (EqualsNoCase(first, "install")) {
        return Command::Install;
    }
    if (EqualsNoCase(first, "remove")) {
        return Command::Remove;
    }
    if (EqualsNoCase(first, "console")) {
        return Command::Console;
    }
    return Command::Service;
}

ServerSettings ReadServerSettings() {
    ServerSettings settings;
    auto key = platform::RegistryKey::Open(platform::Hive::LocalMachine, ServerSettingsKey);
    if (!key) {
        settings.registryError =
            "the key \"" + std::string(ServerSettingsKey) + "\" does not exist";
        return settings;
    }
    std::string dsn = key->GetString("DSN", DefaultDataSourceName);
    settings.dataSourceName = dsn.substr(0, 259);
    std::uint32_t port = key->GetDword("Port", DefaultPort);
    // The account port is port + 1, so both must fit into 16 bits.
    settings.port = port >= 1 && port < 65535 ? static_cast<std::uint16_t>(port) : DefaultPort;
    settings.plainPasswords = key->GetDword("Plain passwords", 0) != 0;
    if (auto logKey = platform::RegistryKey::Open(platform::Hive::LocalMachine, LogSettingsKey)) {
        settings.log = LogSettings::Read(*logKey);
    }
    return settings;
}

std::string ServiceUnitText(const std::filesystem::path& executable) {
    std::string home(ServiceHome);
    std::string text;
    text += "[Unit]\n";
    text += "Description=Talvorine Messenger Server\n";
    text += "After=network.target\n\n";
    text += "[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + executable.string() + "\n";
    text += "StateDirectory=talvorine-messenger-server\n";
    text += "WorkingDirectory=" + home + "\n";
    text += "Environment=TALVORINE_SERVER_HOME=" + home + "\n";
    text += "Environment=ODBCINI=" + home + "/odbc.ini\n";
    // Each session holds two sockets and one thread: room for 10,000 sessions.
    text += "LimitNOFILE=65536\n";
    text += "TasksMax=32768\n";
    // Shutdown waits up to 30 s for a session that does not end.
    text += "TimeoutStopSec=90\n\n";
    text += "[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

bool RecordInstallation(bool asService, const std::filesystem::path& programFolder) {
    std::vector<platform::RegistryChange> changes = {
        {std::string(RunningAsKey),
         "Service",
         {platform::RegistryValueType::Dword, {}, asService ? 1u : 0u, {}}},
        {std::string(ProgramPathKey),
         "Path",
         {platform::RegistryValueType::String, programFolder.string(), 0, {}}},
    };
    try {
        platform::RegistryStore::ForHive(platform::Hive::LocalMachine).SetValues(changes);
        return true;
    } catch (const platform::RegistryError& e) {
        std::fprintf(stderr, "Failed to record the installation in the registry: %s\n", e.what());
        return false;
    }
}

int InstallService(const std::filesystem::path& executable) {
    std::string unitFile(UnitFile);
    {
        std::ofstream out(unitFile, std::ios::trunc);
        out << ServiceUnitText(executable);
        out.close();
        if (!out) {
            std::fprintf(stderr, "Failed to install the service: cannot write %s.\n",
                         unitFile.c_str());
            return 1;
        }
    }
    if (RunProgram({"systemctl", "daemon-reload"}) != 0 ||
        RunProgram({"systemctl", "enable", std::string(UnitName)}) != 0) {
        std::fprintf(stderr, "Failed to install the service: systemctl failed.\n");
        return 1;
    }
    // The administration program learns from these two values how to start and stop us.
    if (!RecordInstallation(true, executable.parent_path())) {
        return 1;
    }
    std::printf("%s installed.\n", std::string(ServiceName).c_str());
    return 0;
}

int RemoveService() {
    std::string unit(UnitName);
    if (RunProgram({"systemctl", "stop", "--no-block", unit}) == 0) {
        for (;;) {
            std::string state;
            RunProgram({"systemctl", "is-active", unit}, &state);
            if (Trim(state) != "deactivating") {
                break;
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    RunProgram({"systemctl", "disable", unit});
    std::error_code error;
    std::filesystem::remove(std::string(UnitFile), error);
    RunProgram({"systemctl", "daemon-reload"});
    // From now on the administration program runs the server in console form.
    std::error_code self;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", self);
    RecordInstallation(false, self ? std::filesystem::path() : executable.parent_path());
    std::printf("%s removed.\n", std::string(ServiceName).c_str());
    return 0;
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// ------------------------------------------------------------------------------ ServerHost

ServerHost::ServerHost(ServerSettings settings, std::filesystem::path folder, bool consoleMode)
    : m_settings(std::move(settings)),
      m_folder(std::move(folder)),
      m_consoleMode(consoleMode),
      m_log(m_folder, m_settings.log, consoleMode ? stdout : nullptr),
      m_events(!consoleMode),
      m_database(m_log, m_events) {
    g_refusalLog = &m_log;
}

ServerHost::~ServerHost() {
    g_refusalLog = nullptr;
}

void ServerHost::ReportServiceStatus(ServiceState state, int exitCode, int waitHintMs) {
    if (m_consoleMode) {
        return;
    }
    std::string message;
    switch (state) {
        case ServiceState::StartPending:
            ++m_checkPoint;
            message = "STATUS=Starting (check point " + std::to_string(m_checkPoint) + ")";
            if (waitHintMs > 0) {
                message += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(waitHintMs * 1000LL);
            }
            break;
        case ServiceState::Running:
            m_checkPoint = 0;
            message = "READY=1\nSTATUS=Running";
            break;
        case ServiceState::StopPending:
            ++m_checkPoint;
            message =
                "STOPPING=1\nSTATUS=Stopping (check point " + std::to_string(m_checkPoint) + ")";
            break;
        case ServiceState::Stopped:
            m_checkPoint = 0;
            message = "STATUS=Stopped\nEXIT_STATUS=" + std::to_string(exitCode);
            break;
    }
    if (sd_notify(0, message.c_str()) < 0) {
        m_log.Always("Error: SetServiceStatus() failed.");
        m_events.Error("SetServiceStatus() failed");
    }
}

void ServerHost::SetStopEvent() {
    std::lock_guard lock(m_stopMutex);
    m_stopRequested = true;
    if (m_stopEvent != nullptr) {
        m_stopEvent->Wake();
    }
}

bool ServerHost::OnConsoleControl() {
    if (!m_started || m_stopping) {
        return false;
    }
    // A second control that arrives before the main thread has begun stopping is the same
    // request: it is handled, not logged again.
    if (m_consoleStopRequested.exchange(true)) {
        return true;
    }
    m_log.Write(LogSwitch::ServerStartStop, "Stopping server ...");
    SetStopEvent();
    return true;
}

void ServerHost::OnServiceStop() {
    ReportServiceStatus(ServiceState::StopPending);
    SetStopEvent();
}

bool ServerHost::OpenDatabase() {
    m_log.Event(LogKind::Always(), "Connecting to database ...", LineEnd::No);
    m_database.SetPlainPasswords(m_settings.plainPasswords);
    if (!m_database.Open(m_settings.dataSourceName)) {
        std::string error = m_database.LastError();
        m_events.Error("Failed to open database - " + error);
        m_log.Text(LogKind::Always(), "Failed - " + error);
        return false;
    }
    if (!m_database.ResetOnlineFlags()) {
        return false;  // reported by the database
    }
    m_log.Text(LogKind::Always(), "OK.");
    return true;
}

bool ServerHost::StartSocketLibrary() {
    m_log.Event(LogKind::Always(), "Initialize socket ...", LineEnd::No);
    if (protocol::StartSockets() != 0) {
        std::string error = protocol::LastSocketErrorText();
        m_events.Error("Failed to initializa socket. (" + error + ")");
        m_log.Text(LogKind::Always(), "Error: " + error);
        return false;
    }
    m_log.Text(LogKind::Always(), "OK.");
    return true;
}

bool ServerHost::ListenOnBoth(protocol::SocketHandle& sessionListener,
                              protocol::SocketHandle& accountListener) {
    m_log.Event(LogKind::Always(), "Listening ...", LineEnd::No);
    int ports[2] = {m_settings.port, m_settings.port + 1};
    protocol::SocketHandle* sockets[2] = {&sessionListener, &accountListener};
    for (int i = 0; i < 2; ++i) {
        if (protocol::ListenOn(*sockets[i], static_cast<std::uint16_t>(ports[i])) != 0) {
            std::string error = protocol::LastSocketErrorText();
            std::string port = std::to_string(ports[i]);
            m_events.Error("Failed to listen on port " + port + ". (" + error + ")");
            m_log.Text(LogKind::Always(), "Failed(" + port + "). (" + error + ")");
            return false;
        }
    }
    m_log.Text(LogKind::Always(), "OK.");
    return true;
}

void ServerHost::WaitForStopEvent(std::optional<platform::ChannelListener>& listener) {
    if (!listener) {
        return;
    }
    // Any line from an allowed peer sets the event; a wake ends the wait as well.
    listener->WaitLine();
    std::lock_guard lock(m_stopMutex);
    m_stopEvent = nullptr;
}

std::optional<platform::ChannelListener> ServerHost::CreateStopEvent() {
    auto listener =
        platform::ChannelListener::TryCreate(StopEventName(), platform::PeerPolicy::RootOrSameUser);
    if (!listener) {
        std::string text = "Failed to create the stop event \"" + StopEventName() +
                           "\". (another process holds it)";
        m_events.Error(text);
        m_log.Always("Error: " + text);
        return listener;
    }
    listener->SetRefusalHandler(&LogRefusal);
    std::lock_guard lock(m_stopMutex);
    m_stopEvent = &*listener;
    if (m_stopRequested) {
        listener->Wake();  // a stop that came before the event existed
    }
    return listener;
}

int ServerHost::Run() {
    m_log.ClearOldLogs();
    m_log.OpenLogFile();
    m_log.Write(LogSwitch::ServerStartStop, "Starting Talvorine(R) Messenger Server ...");
    ReportServiceStatus(ServiceState::StartPending, 0, StartWaitHintMs);
    ReportServiceStatus(ServiceState::Running);

    ServerContext context{m_database, m_log,         m_events,       m_folder,
                          {false},    m_consoleMode, m_settings.port};
    protocol::Socket sessionListener;
    protocol::Socket accountListener;
    bool socketsStarted = false;
    std::optional<SessionServer> sessions;

    if (OpenDatabase() && (socketsStarted = StartSocketLibrary()) &&
        ListenOnBoth(sessionListener.Ref(), accountListener.Ref())) {
        context.stopping = false;
        sessions.emplace(context);
        sessions->Start(sessionListener.Get(), accountListener.Get());
        // The event exists and the started flag is set before the line announces the start,
        // so whoever reads the line can stop the server at once.
        auto stopEvent = CreateStopEvent();
        m_started = true;
        m_events.Information("Talvorine(R) Messenger Server started");
        m_log.Write(LogSwitch::ServerStartStop, "Talvorine(R) Messenger Server started.");
        WaitForStopEvent(stopEvent);

        m_stopping = true;
        context.stopping = true;
        sessions->StopListeners();
    }
    m_stopping = true;
    context.stopping = true;
    sessionListener.Close();
    accountListener.Close();

    if (sessions) {
        sessions->CloseSessions();
    }
    m_database.Close();
    m_events.Information("Talvorine(R) Messenger Server stopped");
    m_log.Write(LogSwitch::ServerStartStop, "Talvorine(R) Messenger Server stopped.");
    if (socketsStarted) {
        protocol::StopSockets();
    }
    sessions.reset();
    if (m_consoleMode) {
        m_log.CloseLogFile();
    }
    return 0;
}

// ---------------------------------------------------------------------------- Program entry

namespace {

// glibc gives every thread a cache of the blocks it freed (up to seven of each size) that only
// that thread can reuse and that is kept while the thread lives. With a thread per session that
// is about 11 KiB of every idle session: what its login freed. The cache is configured from the
// environment when the program is loaded, so the server starts itself again, once, with it
// turned off (the session path allocates next to nothing per message). Tunables an operator
// set are left as they are; nothing happens when the program cannot be started again.
void TurnOffThreadCaches(char** argv) {
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer brings its own allocator
    if (std::getenv("GLIBC_TUNABLES") != nullptr) {
        return;
    }
    if (::setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1) != 0) {
        return;
    }
    ::execv("/proc/self/exe", argv);
    ::unsetenv("GLIBC_TUNABLES");  // still here: go on as loaded
#else
    (void)argv;
#endif
}

int RunConsole(const ServerSettings& settings, const std::filesystem::path& folder) {
    SignalWatcher signals;  // blocks the console control signals before any thread starts
    ServerHost host(settings, folder, true);
    signals.Start([&host](int signal) {
        if (!host.OnConsoleControl()) {
            SignalWatcher::DefaultAction(signal);
        }
    });
    int code = host.Run();
    signals.Stop();
    return code;
}

int RunService(const ServerSettings& settings, const std::filesystem::path& folder) {
    EventLog startEvents(true);
    if (!settings.registryError.empty()) {
        startEvents.Error("Failed to connect to registry. (" + settings.registryError + ")");
    }
    const char* notifySocket = std::getenv("NOTIFY_SOCKET");
    if (notifySocket == nullptr || *notifySocket == '\0') {
        std::string reason = "not started as a service";
        startEvents.Error("Failed to start service. (" + reason + ")");
        ServerLog log(folder, settings.log, stdout);
        log.Always("Error: Failed to start service. (" + reason + ")");
        return 1;
    }
    SignalWatcher signals;
    ServerHost host(settings, folder, false);
    signals.Start([&host](int signal) {
        if (signal == SIGHUP) {
            return;  // only the stop control is accepted
        }
        host.OnServiceStop();
    });
    int code = host.Run();
    signals.Stop();
    host.ReportServiceStatus(ServerHost::ServiceState::Stopped, code);
    return code;
}

}  // namespace

int ServerMain(int argc, char** argv) {
    TurnOffThreadCaches(argv);
    std::filesystem::path folder = platform::ServerHome();
    ServerSettings settings = ReadServerSettings();
    std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    RaiseOpenFileLimit();
    switch (ParseCommandLine(arguments)) {
        case Command::Install: {
            std::error_code error;
            auto self = std::filesystem::read_symlink("/proc/self/exe", error);
            return InstallService(error ? std::filesystem::path(argv[0]) : self);
        }
        case Command::Remove:
            return RemoveService();
        case Command::Console:
            return RunConsole(settings, folder);
        case Command::Service:
            break;
    }
    return RunService(settings, folder);
}

}  // namespace talvorine::server
