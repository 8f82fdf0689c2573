#include "server_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "talvorine/db/odbc.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/server/server_setup.h"

namespace talvorine::server::testing {

namespace {

constexpr std::string_view ServerSettingsPath =
    "Software\\Talvorine\\Messenger Server\\Server Settings";
constexpr std::string_view LogSettingsPath = "Software\\Talvorine\\Messenger Server\\Log Settings";
constexpr std::string_view StartedLine = "Talvorine(R) Messenger Server started.";

bool CanBind(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

std::uint16_t BoundEphemeralPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

protocol::Socket ConnectLoopback(std::uint16_t port) {
    protocol::Socket socket;
    if (protocol::ConnectTo(socket.Ref(), "127.0.0.1", port) != 0) {
        throw protocol::NetError(protocol::LastSocketErrorText());
    }
    return socket;
}

}  // namespace

TempFolder::TempFolder(std::string_view prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::uint16_t FindFreePortPair() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::uint16_t port = BoundEphemeralPort();
        if (port != 0 && port < 65534 && CanBind(static_cast<std::uint16_t>(port + 1)) &&
            CanBind(port)) {
            return port;
        }
    }
    throw std::runtime_error("no free port pair");
}

ServerHarness::ServerHarness() : m_root("talvorine-server"), m_port(FindFreePortPair()) {
    std::filesystem::create_directories(ServerFolder());
    std::filesystem::create_directories(RegistryFolder());
    m_stopEvent = "Talvorine Messenger Server Stop Event/test-" + Root().filename().string();
    ::setenv("TALVORINE_REGISTRY_DIR", RegistryFolder().c_str(), 1);
    ::setenv("TALVORINE_SERVER_HOME", ServerFolder().c_str(), 1);
    ::setenv("ODBCINI", OdbcIni().c_str(), 1);
    ::setenv("TALVORINE_STOP_EVENT", m_stopEvent.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Root() / "config").c_str(), 1);
}

ServerHarness::~ServerHarness() {
    if (IsRunning()) {
        Stop();
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
    if (m_mariaDb && !m_mariaDbDatabase.empty()) {
        try {
            db::Environment environment;
            db::Connection connection(environment);
            connection.Connect(m_mariaDb->ConnectionString(m_mariaDb->database));
            connection.Execute("DROP DATABASE IF EXISTS `" + m_mariaDbDatabase + "`");
        } catch (const db::OdbcError&) {
            // The instance may be down; its folder is thrown away with it.
        }
    }
}

std::optional<MariaDbInstance> MariaDbInstance::FromEnvironment() {
    auto get = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value != nullptr ? value : "";
    };
    MariaDbInstance instance;
    std::string port = get("TALVORINE_TEST_MARIADB_PORT");
    instance.user = get("TALVORINE_TEST_MARIADB_USER");
    instance.password = get("TALVORINE_TEST_MARIADB_PASSWORD");
    instance.database = get("TALVORINE_TEST_MARIADB_DATABASE");
    instance.socket = get("TALVORINE_TEST_MARIADB_SOCKET");
    instance.control = get("TALVORINE_TEST_MARIADB_CONTROL");
    instance.folder = get("TALVORINE_TEST_MARIADB_DIR");
    if (std::string host = get("TALVORINE_TEST_MARIADB_HOST"); !host.empty()) {
        instance.host = host;
    }
    if (port.empty() || instance.user.empty() || instance.database.empty()) {
        return std::nullopt;
    }
    instance.port = static_cast<std::uint16_t>(std::stoul(port));
    return instance;
}

std::string MariaDbInstance::ConnectionString(std::string_view databaseName) const {
    return "Driver=" + MariaDbDriver() + ";Server=" + host + ";Port=" + std::to_string(port) +
           ";User=" + user + ";Password=" + password + ";Database=" + std::string(databaseName) +
           ";CHARSET=utf8mb4";
}

int MariaDbInstance::Control(std::string_view command) const {
    if (control.empty() || folder.empty()) {
        return -1;
    }
    std::string line = "TALVORINE_MARIADB_DIR='" + folder + "' bash '" + control + "' " +
                       std::string(command) + " > /dev/null 2>&1";
    return DecodeStatus(std::system(line.c_str()));
}

std::optional<MariaDbInstance> MariaDbInstance::StartPrivate(const std::string& control,
                                                             const std::filesystem::path& folder) {
    std::filesystem::path output = folder / "start.txt";
    std::string line = "TALVORINE_MARIADB_DIR='" + folder.string() + "' bash '" + control +
                       "' start > '" + output.string() + "' 2>&1";
    if (DecodeStatus(std::system(line.c_str())) != 0) {
        return std::nullopt;
    }
    // The script prints lines of the form export NAME='value'.
    std::map<std::string, std::string> values;
    std::ifstream in(output);
    std::string text;
    while (std::getline(in, text)) {
        auto equals = text.find('=');
        if (!text.starts_with("export ") || equals == std::string::npos ||
            text.size() < equals + 3) {
            continue;
        }
        values[text.substr(7, equals - 7)] = text.substr(equals + 2, text.size() - equals - 3);
    }
    MariaDbInstance instance;
    instance.host = values["TALVORINE_TEST_MARIADB_HOST"];
    instance.socket = values["TALVORINE_TEST_MARIADB_SOCKET"];
    instance.user = values["TALVORINE_TEST_MARIADB_USER"];
    instance.password = values["TALVORINE_TEST_MARIADB_PASSWORD"];
    instance.database = values["TALVORINE_TEST_MARIADB_DATABASE"];
    instance.control = control;
    instance.folder = folder.string();
    const std::string& port = values["TALVORINE_TEST_MARIADB_PORT"];
    if (port.empty() || instance.user.empty()) {
        return std::nullopt;
    }
    instance.port = static_cast<std::uint16_t>(std::stoul(port));
    return instance;
}

bool MariaDbRequired() {
    const char* value = std::getenv("TALVORINE_REQUIRE_MARIADB");
    return value != nullptr && std::string_view(value) == "1";
}

void ServerHarness::UseMariaDb(const MariaDbInstance& instance) {
    m_mariaDb = instance;
    // Named after this harness's folder: unique, and found again if a run was interrupted.
    m_mariaDbDatabase = "talvorine_" + Root().filename().string().substr(17);
    for (char& c : m_mariaDbDatabase) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    UseOwnDataSourceName();
    db::Environment environment;
    db::Connection connection(environment);
    connection.Connect(instance.ConnectionString(instance.database));
    connection.Execute("CREATE DATABASE `" + m_mariaDbDatabase +
                       "` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci");
}

void ServerHarness::UseOwnDataSourceName() {
    m_dataSourceName = "Talvorine Test " + Root().filename().string().substr(17);
    m_dsnSetting = m_dataSourceName;
}

int ServerHarness::KillDatabaseConnections() {
    db::Environment environment;
    db::Connection connection(environment);
    connection.Connect("DSN=" + m_dataSourceName);
    db::Statement list(connection);
    list.ExecDirect(
        "SELECT ID FROM information_schema.PROCESSLIST WHERE DB=? AND ID<>CONNECTION_ID()",
        {db::Parameter(std::string_view(m_mariaDbDatabase))});
    std::vector<std::string> ids;
    while (list.Fetch()) {
        ids.push_back(list.Value(0).value_or(""));
    }
    int killed = 0;
    for (const auto& id : ids) {
        try {
            connection.Execute("KILL CONNECTION " + std::to_string(std::stoll(id)));
            ++killed;
        } catch (const db::OdbcError&) {
            // It ended on its own meanwhile.
        }
    }
    return killed;
}

void ServerHarness::SetLogValue(std::string_view valueName, std::uint32_t value) {
    m_logValues[std::string(valueName)] = value;
}

void ServerHarness::SetServerValue(std::string_view valueName, std::uint32_t value) {
    m_serverValues[std::string(valueName)] = value;
}

void ServerHarness::WriteRegistry() {
    platform::RegistryStore store(RegistryFolder() / "machine.reg");
    auto settings = platform::RegistryKey::Create(store, ServerSettingsPath);
    settings.SetDword("Port", m_port);
    for (const auto& [name, value] : m_serverValues) {
        settings.SetDword(name, value);
    }
    if (m_dsnSetting) {
        settings.SetString("DSN", *m_dsnSetting);
    }
    auto log = platform::RegistryKey::Create(store, LogSettingsPath);
    for (const auto& [name, value] : m_logValues) {
        log.SetDword(name, value);
    }
}

int ServerHarness::RunSetup() {
    std::string command = std::string("'") + TALVORINE_SETUP_EXE + "' --home '" +
                          ServerFolder().string() + "' --odbcini '" + OdbcIni().string() +
                          "' --dsn '" + m_dataSourceName + "'";
    if (m_mariaDb) {
        command += " --driver mariadb --server '" + m_mariaDb->host + "' --port " +
                   std::to_string(m_mariaDb->port) + " --database '" + m_mariaDbDatabase +
                   "' --user '" + m_mariaDb->user + "' --password '" + m_mariaDb->password + "'";
    }
    command += " > '" + (Root() / "setup.txt").string() + "' 2>&1";
    int status = std::system(command.c_str());
    m_setupDone = true;
    return DecodeStatus(status);
}

std::string ServerHarness::SetupOutput() const {
    std::ifstream in(Root() / "setup.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void ServerHarness::Launch(const std::vector<std::string>& arguments) {
    if (!m_setupDone && RunSetup() != 0) {
        throw std::runtime_error("the set-up program failed: " + SetupOutput());
    }
    WriteRegistry();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
        if (::getppid() != parent) {
            ::_exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        if (m_openFileLimit) {
            // Both limits, so the server cannot raise its soft limit past it.
            const rlimit limit{*m_openFileLimit, *m_openFileLimit};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        std::vector<char*> argv;
        std::string program = TALVORINE_SERVER_EXE;
        argv.push_back(program.data());
        std::vector<std::string> copies(arguments);
        for (auto& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    m_pid = child;
    m_exitCode.reset();
    {
        std::lock_guard lock(m_outputMutex);
        m_output.clear();
        m_outputClosed = false;
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
    int readFd = pipeFds[0];
    m_reader = std::thread([this, readFd] { ReadConsole(readFd); });
}

void ServerHarness::ReadConsole(int fd) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        std::lock_guard lock(m_outputMutex);
        if (n <= 0) {
            m_outputClosed = true;
            m_outputChanged.notify_all();
            break;
        }
        m_output.append(buffer, static_cast<std::size_t>(n));
        m_outputChanged.notify_all();
    }
    ::close(fd);
}

bool ServerHarness::Start(std::chrono::milliseconds timeout) {
    Launch();
    return WaitForConsole(StartedLine, timeout);
}

std::string ServerHarness::ConsoleOutput() const {
    std::lock_guard lock(m_outputMutex);
    return m_output;
}

bool ServerHarness::WaitForConsole(std::string_view text, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_outputMutex);
    return m_outputChanged.wait_for(lock, timeout, [&] {
        return m_output.find(text) != std::string::npos || m_outputClosed;
    }) && m_output.find(text) != std::string::npos;
}

std::optional<int> ServerHarness::WaitForExit(std::chrono::milliseconds timeout) {
    if (m_exitCode) {
        return m_exitCode;
    }
    if (m_pid < 0) {
        return std::nullopt;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exitCode = DecodeStatus(status);
            if (m_reader.joinable()) {
                m_reader.join();
            }
            return m_exitCode;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool ServerHarness::IsRunning() const {
    if (m_pid < 0 || m_exitCode) {
        return false;
    }
    int status = 0;
    pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
        m_exitCode = DecodeStatus(status);
        return false;
    }
    return true;
}

int ServerHarness::Stop(std::chrono::milliseconds timeout) {
    if (!IsRunning()) {
        return m_exitCode.value_or(-1);
    }
    // Retried until it arrives: the server may still be creating its stop event.
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!platform::SendChannelLine(m_stopEvent, "set") && IsRunning() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    if (auto code = WaitForExit(timeout)) {
        return *code;
    }
    ::kill(m_pid, SIGKILL);
    WaitForExit(10s);
    return -1;
}

int ServerHarness::StopWithSignal(int signal, std::chrono::milliseconds timeout) {
    if (!IsRunning()) {
        return m_exitCode.value_or(-1);
    }
    ::kill(m_pid, signal);
    if (auto code = WaitForExit(timeout)) {
        return *code;
    }
    ::kill(m_pid, SIGKILL);
    WaitForExit(10s);
    return -1;
}

std::vector<std::filesystem::path> ServerHarness::LogFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(LogFolder(), error)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ServerHarness::LogText() const {
    auto files = LogFiles();
    if (files.empty()) {
        return {};
    }
    std::ifstream in(files.back(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The data source holds the credentials (an empty UID= would override a MariaDB one's).
void ServerHarness::Execute(const std::string& sql) {
    db::Environment environment;
    db::Connection connection(environment);
    connection.Connect("DSN=" + m_dataSourceName);
    connection.Execute(sql);
}

std::vector<Row> ServerHarness::Query(const std::string& sql) {
    db::Environment environment;
    db::Connection connection(environment);
    connection.Connect("DSN=" + m_dataSourceName);
    db::Statement statement(connection);
    statement.ExecDirect(sql);
    std::vector<Row> rows;
    while (statement.Fetch()) {
        Row row;
        for (int c = 0; c < statement.ColumnCount(); ++c) {
            row.push_back(statement.Value(c));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

protocol::Socket ServerHarness::ConnectSession() const {
    return ConnectLoopback(m_port);
}

protocol::Socket ServerHarness::ConnectAccount() const {
    return ConnectLoopback(AccountPort());
}

}  // namespace talvorine::server::testing
