// Load benchmark of the messenger server: creates accounts, holds many logged-in sessions (each
// with its notification connection), relays live messages between pairs of sessions, stores
// offline messages for absent users and delivers them at their login, then prints one table.
//
// By default it starts its own server on the embedded SQLite data source in a temporary folder
// (server folder, settings folder, data-source file), on a free port pair of 127.0.0.1, and
// stops it at the end. With --port it drives a server that is already running instead.
//
// The generator keeps every socket blocking, as the suite's clients do, and uses the packet
// layer for every packet; a few epoll workers own the established sessions and only read a
// socket once it is readable, so a handful of threads can drive ten thousand sessions.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/perf_event.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"

namespace {

namespace pt = talvorine::protocol::PacketType;
namespace proto = talvorine::protocol;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view StartedLine = "Talvorine(R) Messenger Server started.";
constexpr std::string_view ServerSettingsPath =
    "Software\\Talvorine\\Messenger Server\\Server Settings";
constexpr std::string_view DataSourceName = "Talvorine Messenger Server";

// ---------------------------------------------------------------------------------------------
// Options

struct Options {
    int sessions = 10000;
    std::vector<int> pairs = {100, 1000};
    int rate = 5000;             // offered live messages per second of the paced phases (0: none)
    int messages = 20000;        // live messages per pair phase
    int absentUsers = 100;       // accounts that stay offline until the delivery phase
    int offlineMessages = 5000;  // offline messages stored for them
    int offlineSenders = 100;    // sessions storing offline messages at once
    int loginThreads = 8;        // logins (and account requests) in flight at once
    int workers = 2;             // epoll threads owning the established sessions
    int bodyBytes = 100;         // message body length
    int phaseSeconds = 60;       // cap of every phase
    int maxSeconds = 900;        // cap of the whole run
    std::string host = "127.0.0.1";
    int port = 0;       // 0: start a server of our own
    int serverPid = 0;  // for the memory figure of a server started elsewhere
    std::string serverProgram;
    std::string setupProgram;
    int listenFirst = 10000;  // notification listener ports
    int listenLast = 32000;
    int requestedSessions = 0;       // before the cap of the open-file limit
    std::string backend = "sqlite";  // the server's database: sqlite or mariadb
    int outageSeconds = 5;           // MariaDB stopped this long mid-run (0: no outage)
    int outageUsers = 20;            // absent users who get offline messages across the outage
    bool outage = false;             // decided in main: MariaDB, own server, control script
};

const char* Usage =
    "Usage: server_load_bench [options]\n"
    "  --sessions N         sessions to log in and hold (default 10000)\n"
    "  --pairs A,B,...      live-message phases with that many pairs sending at once\n"
    "                       (default 100,1000; capped at sessions / 2)\n"
    "  --messages N         live messages per phase (default 20000)\n"
    "  --rate N             also offer N live messages/s at each pair count, paced evenly over\n"
    "                       the senders, for the latency at that load (default 5000; 0: off)\n"
    "  --absent N           absent users who get offline messages (default 100)\n"
    "  --offline N          offline messages to store and deliver (default 5000)\n"
    "  --offline-senders N  sessions storing offline messages at once (default 100)\n"
    "  --login-threads N    logins in flight at once (default 8)\n"
    "  --workers N          generator threads owning the sessions (default 2)\n"
    "  --body-bytes N       message body length (default 100)\n"
    "  --phase-seconds N    time cap of each phase (default 60)\n"
    "  --max-seconds N      time cap of the whole run (default 900)\n"
    "  --listen-ports A-B   ports for the notification listeners (default 10000-32000)\n"
    "  --host H --port P    drive a running server at H:P (account port P + 1) instead of\n"
    "                       starting one; --server-pid PID gives its memory figure\n"
    "  --server FILE        server program (default: ../server/TalvorineMessengerServer\n"
    "  --setup FILE         and ../server/TalvorineMessengerServerSetup beside this program)\n"
    "  --backend NAME       database of the server started here: sqlite (default) or mariadb,\n"
    "                       a fresh database on the MariaDB server that TALVORINE_TEST_MARIADB_*\n"
    "                       name (eval \"$(bash scripts/mariadb-test-instance.sh start)\")\n"
    "  --outage-seconds N   with mariadb: stop the database this long while sessions are\n"
    "                       held and messages flow, then start it again (default 5; 0: off;\n"
    "                       needs TALVORINE_TEST_MARIADB_CONTROL and _DIR)\n"
    "  --outage-users N     absent users who get offline messages across it (default 20)\n"
    "Quick run: server_load_bench --sessions 1000 --pairs 100,500 --messages 5000\n";

bool ParseInt(std::string_view text, int& value) {
    try {
        std::size_t used = 0;
        const long parsed = std::stol(std::string(text), &used);
        if (used != text.size() || parsed < 0 || parsed > 10'000'000) {
            return false;
        }
        value = static_cast<int>(parsed);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseList(std::string_view text, std::vector<int>& values) {
    values.clear();
    while (!text.empty()) {
        const auto comma = text.find(',');
        int value = 0;
        if (!ParseInt(text.substr(0, comma), value) || value == 0) {
            return false;
        }
        values.push_back(value);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return !values.empty();
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(Usage, stdout);
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "Error: %s needs a value.\n%s", argv[i], Usage);
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (name == "--sessions") {
            ok = ParseInt(value, options.sessions);
        } else if (name == "--pairs") {
            ok = ParseList(value, options.pairs);
        } else if (name == "--rate") {
            ok = ParseInt(value, options.rate);
        } else if (name == "--messages") {
            ok = ParseInt(value, options.messages);
        } else if (name == "--absent") {
            ok = ParseInt(value, options.absentUsers);
        } else if (name == "--offline") {
            ok = ParseInt(value, options.offlineMessages);
        } else if (name == "--offline-senders") {
            ok = ParseInt(value, options.offlineSenders) && options.offlineSenders > 0;
        } else if (name == "--login-threads") {
            ok = ParseInt(value, options.loginThreads) && options.loginThreads > 0;
        } else if (name == "--workers") {
            ok = ParseInt(value, options.workers) && options.workers > 0;
        } else if (name == "--body-bytes") {
            ok = ParseInt(value, options.bodyBytes) &&
                 options.bodyBytes + proto::Size::MessageMin <= proto::Size::MessageMax;
        } else if (name == "--phase-seconds") {
            ok = ParseInt(value, options.phaseSeconds) && options.phaseSeconds > 0;
        } else if (name == "--max-seconds") {
            ok = ParseInt(value, options.maxSeconds) && options.maxSeconds > 0;
        } else if (name == "--host") {
            options.host = std::string(value);
        } else if (name == "--port") {
            ok = ParseInt(value, options.port) && options.port > 0 && options.port < 65535;
        } else if (name == "--server-pid") {
            ok = ParseInt(value, options.serverPid);
        } else if (name == "--server") {
            options.serverProgram = std::string(value);
        } else if (name == "--listen-ports") {
            const auto dash = value.find('-');
            ok = dash != std::string_view::npos &&
                 ParseInt(value.substr(0, dash), options.listenFirst) &&
                 ParseInt(value.substr(dash + 1), options.listenLast) && options.listenFirst > 0 &&
                 options.listenFirst <= options.listenLast && options.listenLast < 65536;
        } else if (name == "--setup") {
            options.setupProgram = std::string(value);
        } else if (name == "--outage-seconds") {
            ok = ParseInt(value, options.outageSeconds);
        } else if (name == "--outage-users") {
            ok = ParseInt(value, options.outageUsers) && options.outageUsers > 0;
        } else if (name == "--backend") {
            options.backend = std::string(value);
            ok = value == "sqlite" || value == "mariadb";
        } else {
            std::fprintf(stderr, "Error: unknown option %s.\n%s", argv[i - 1], Usage);
            return std::nullopt;
        }
        if (!ok) {
            std::fprintf(stderr, "Error: bad value for %s: %s\n", argv[i - 1], argv[i]);
            return std::nullopt;
        }
    }
    return options;
}

// ---------------------------------------------------------------------------------------------
// Small helpers

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A number from /proc/<pid>/status, or of one thread's status (0 when unknown).
long StatusValue(int pid, std::string_view key, int tid = 0) {
    std::ifstream in("/proc/" + std::to_string(pid) +
                     (tid > 0 ? "/task/" + std::to_string(tid) : std::string()) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
            line[key.size()] == ':') {
            return std::atol(line.c_str() + key.size() + 1);
        }
    }
    return 0;
}

// Every session holds two descriptors on each side; raise the limit (a privileged run may
// raise the hard limit too, and the server started from here inherits it).
void RaiseOpenFileLimit(int sessions) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const rlim_t wanted = static_cast<rlim_t>(sessions) * 2 + 4096;
    if (limit.rlim_max < wanted) {
        rlimit raised{wanted, wanted};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            return;
        }
    }
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// CPU seconds (user + system) a process has used, from /proc/<pid>/stat (0 when unknown).
double CpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields are counted after its closing ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {  // utime, stime
            ticks += std::atof(field.c_str());
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// CPU seconds the whole machine was busy, from /proc/stat (everything but idle and iowait).
double MachineBusySeconds() {
    std::ifstream in("/proc/stat");
    std::string cpu;
    in >> cpu;
    double total = 0, idle = 0, value = 0;
    for (int i = 0; i < 8 && in >> value; ++i) {
        total += value;
        if (i == 3 || i == 4) {
            idle += value;
        }
    }
    return (total - idle) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long OpenDescriptors(int pid) {
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error)) {
        ++count;
    }
    return count;
}

rlim_t OpenFileLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

// A listening socket on 127.0.0.1 (the benchmark stays on the loopback interface), on a port
// of the kernel's choice (0) or the given one; nullopt when that port is taken.
std::optional<proto::Socket> TryListenLoopback(std::uint16_t port) {
    proto::Socket socket;
    socket.Ref() = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!socket.IsOpen()) {
        throw proto::NetError(proto::SystemErrorText());
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EADDRINUSE) {
            return std::nullopt;
        }
        throw proto::NetError(proto::SystemErrorText());
    }
    if (::listen(socket.Get(), 4) != 0) {
        throw proto::NetError(proto::SystemErrorText());
    }
    return socket;
}

// The notification listeners take ports from a fixed range below the kernel's ephemeral
// range: with ten thousand ephemeral ports in use, every bind to port 0 searches the whole
// range, and that search would be most of what the benchmark measured for a login.
class ListenerPorts {
public:
    ListenerPorts(int first, int last) : m_first(first), m_count(last - first + 1) {}
    proto::Socket Listen() {
        for (int attempt = 0; attempt < m_count; ++attempt) {
            const int port = m_first + static_cast<int>(m_next.fetch_add(1) % m_count);
            if (auto socket = TryListenLoopback(static_cast<std::uint16_t>(port))) {
                return std::move(*socket);
            }
        }
        throw proto::NetError("no free port in the listener range");
    }

private:
    int m_first;
    int m_count;
    std::atomic<unsigned> m_next{0};
};

proto::Socket ListenLoopback() {
    auto socket = TryListenLoopback(0);
    if (!socket) {
        throw proto::NetError(proto::SocketErrorText(proto::SocketCode::AddressInUse));
    }
    return std::move(*socket);
}

proto::Socket Connect(const std::string& host, int port) {
    proto::Socket socket;
    if (proto::ConnectTo(socket.Ref(), host, static_cast<std::uint16_t>(port)) != 0) {
        throw proto::NetError(proto::LastSocketErrorText());
    }
    return socket;
}

struct Percentiles {
    std::size_t count = 0;
    double p50 = 0, p99 = 0, max = 0;  // milliseconds
};

Percentiles Summarise(std::vector<double> samples) {
    Percentiles result;
    result.count = samples.size();
    if (samples.empty()) {
        return result;
    }
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        const auto index = static_cast<std::size_t>(std::ceil(q * samples.size())) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    result.p50 = at(0.50);
    result.p99 = at(0.99);
    result.max = samples.back();
    return result;
}

// ---------------------------------------------------------------------------------------------
// A server of our own on the embedded SQLite default, in a temporary folder.

class LocalServer {
public:
    LocalServer(const Options& options, const std::filesystem::path& self);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    void Start();
    // Sets the stop event and waits; kills the server when it does not end in time.
    void Stop();
    int Pid() const { return m_pid; }
    int Port() const { return m_port; }
    std::string Console() const {
        std::lock_guard lock(m_mutex);
        return m_console;
    }

private:
    static int FreePortPair();
    void WriteSettings() const;
    void RunSetup();
    void ReadConsole(int fd);

    // MariaDB: the set-up arguments for a fresh database, created now and dropped at the end.
    std::string MariaDbSetupArguments();
    void DropMariaDbDatabase() const;

    std::filesystem::path m_root;
    std::string m_backend;
    std::string m_mariaDbClient;  // "mariadb ... " reaching the server, without a database
    std::string m_mariaDbDatabase;
    std::filesystem::path m_serverProgram;
    std::filesystem::path m_setupProgram;
    std::string m_stopEvent;
    int m_port = 0;
    int m_pid = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::string m_console;  // the first lines, then only the newest text
};

LocalServer::LocalServer(const Options& options, const std::filesystem::path& self)
    : m_backend(options.backend) {
    const auto folder = self.parent_path();
    m_serverProgram = options.serverProgram.empty() ? folder / "../server/TalvorineMessengerServer"
                                                    : std::filesystem::path(options.serverProgram);
    m_setupProgram = options.setupProgram.empty()
                         ? folder / "../server/TalvorineMessengerServerSetup"
                         : std::filesystem::path(options.setupProgram);
    for (const auto& program : {m_serverProgram, m_setupProgram}) {
        if (::access(program.c_str(), X_OK) != 0) {
            throw std::runtime_error("program not found: " + program.string() +
                                     " (build it, or give --server / --setup)");
        }
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "talvorine-load-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_root = pattern;
    std::filesystem::create_directories(m_root / "server");
    std::filesystem::create_directories(m_root / "registry");
    m_stopEvent = "Talvorine Messenger Server Stop Event/load-" + m_root.filename().string();
    // The server, the set-up program and the driver manager read these.
    ::setenv("TALVORINE_REGISTRY_DIR", (m_root / "registry").c_str(), 1);
    ::setenv("TALVORINE_SERVER_HOME", (m_root / "server").c_str(), 1);
    ::setenv("ODBCINI", (m_root / "odbc.ini").c_str(), 1);
    ::setenv("TALVORINE_STOP_EVENT", m_stopEvent.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
    m_port = FreePortPair();
}

LocalServer::~LocalServer() {
    Stop();
    if (m_reader.joinable()) {
        m_reader.join();
    }
    DropMariaDbDatabase();
    std::error_code error;
    std::filesystem::remove_all(m_root, error);
}

int LocalServer::FreePortPair() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        proto::Socket first = ListenLoopback();
        const int port = proto::LocalPort(first.Get());
        if (port <= 0 || port >= 65534) {
            continue;
        }
        proto::Socket second;
        if (proto::ListenOn(second.Ref(), static_cast<std::uint16_t>(port + 1), 1) == 0) {
            return port;
        }
    }
    throw std::runtime_error("no free port pair");
}

void LocalServer::WriteSettings() const {
    talvorine::platform::RegistryStore store(m_root / "registry" / "machine.reg");
    auto settings = talvorine::platform::RegistryKey::Create(store, ServerSettingsPath);
    settings.SetDword("Port", static_cast<std::uint32_t>(m_port));
}

std::string LocalServer::MariaDbSetupArguments() {
    auto get = [](const char* name) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') {
            throw std::runtime_error(std::string("--backend mariadb needs ") + name +
                                     " (eval \"$(bash scripts/mariadb-test-instance.sh start)\")");
        }
        return std::string(value);
    };
    const std::string host = get("TALVORINE_TEST_MARIADB_HOST");
    const std::string port = get("TALVORINE_TEST_MARIADB_PORT");
    const std::string user = get("TALVORINE_TEST_MARIADB_USER");
    const std::string password = get("TALVORINE_TEST_MARIADB_PASSWORD");
    m_mariaDbClient = "mariadb --no-defaults --protocol=tcp -h '" + host + "' -P '" + port +
                      "' -u '" + user + "' -p'" + password + "'";
    const std::string database = "talvorine_bench_" + std::to_string(::getpid());
    const std::string create = m_mariaDbClient + " -e 'CREATE DATABASE " + database +
                               " CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci'";
    if (std::system(create.c_str()) != 0) {
        throw std::runtime_error("cannot create the MariaDB database " + database);
    }
    m_mariaDbDatabase = database;
    return " --driver mariadb --server '" + host + "' --port '" + port + "' --database '" +
           database + "' --user '" + user + "' --password '" + password + "'";
}

void LocalServer::DropMariaDbDatabase() const {
    if (!m_mariaDbDatabase.empty()) {
        const std::string drop =
            m_mariaDbClient + " -e 'DROP DATABASE IF EXISTS " + m_mariaDbDatabase + "'";
        [[maybe_unused]] const int status = std::system(drop.c_str());
    }
}

void LocalServer::RunSetup() {
    const std::string backendArguments = m_backend == "mariadb" ? MariaDbSetupArguments() : "";
    const std::string command = "'" + m_setupProgram.string() + "' --home '" +
                                (m_root / "server").string() + "' --odbcini '" +
                                (m_root / "odbc.ini").string() + "' --dsn '" +
                                std::string(DataSourceName) + "'" + backendArguments + " > '" +
                                (m_root / "setup.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::ifstream in(m_root / "setup.txt");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        throw std::runtime_error("the set-up program failed:\n" + text);
    }
}

void LocalServer::Start() {
    RunSetup();
    WriteSettings();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        std::string program = m_serverProgram.string();
        std::string console = "-console";
        char* argv[] = {program.data(), console.data(), nullptr};
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    ::close(fds[1]);
    m_pid = child;
    const int readFd = fds[0];
    m_reader = std::thread([this, readFd] { ReadConsole(readFd); });
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        if (Console().find(StartedLine) != std::string::npos) {
            return;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("the server ended at start:\n" + Console());
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("the server did not start in 30 s:\n" + Console());
}

void LocalServer::ReadConsole(int fd) {
    // The console is drained all the time so the server never blocks on it; only the start
    // and the newest text are kept for error reports.
    constexpr std::size_t Keep = 64 * 1024;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard lock(m_mutex);
        m_console.append(buffer, static_cast<std::size_t>(n));
        if (m_console.size() > 2 * Keep) {
            m_console = m_console.substr(0, Keep / 2) + "\n[...]\n" +
                        m_console.substr(m_console.size() - Keep / 2);
        }
    }
    ::close(fd);
}

void LocalServer::Stop() {
    if (m_pid <= 0) {
        return;
    }
    talvorine::platform::SendChannelLine(m_stopEvent, "set");
    const auto deadline = Clock::now() + 90s;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "The server did not stop in 90 s; killing it.\n");
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    m_pid = -1;
}

// System calls and context switches of the server, from kernel counters (the ones perf stat
// reads) opened on every thread the server has when the benchmark begins; the threads it
// starts later (every session thread) inherit them, so one read gives the whole process.
// Without counters (no permission), the context switches are summed from /proc instead.
class ServerCounters {
public:
    struct Reading {
        double syscalls = -1;  // -1: not known
        double switches = -1;
    };

    explicit ServerCounters(int pid) : m_pid(pid) {
        if (pid <= 0) {
            return;
        }
        const long tracepoint = SyscallTracepoint();
        for (const int tid : Threads(pid)) {
            if (tracepoint >= 0) {
                Open(m_syscalls, PERF_TYPE_TRACEPOINT, static_cast<std::uint64_t>(tracepoint), tid);
            }
            Open(m_switches, PERF_TYPE_SOFTWARE, PERF_COUNT_SW_CONTEXT_SWITCHES, tid);
        }
    }
    ~ServerCounters() {
        for (const auto* fds : {&m_syscalls, &m_switches}) {
            for (const int fd : *fds) {
                ::close(fd);
            }
        }
    }
    ServerCounters(const ServerCounters&) = delete;
    ServerCounters& operator=(const ServerCounters&) = delete;

    // Where the figures come from, for the table.
    std::string Source() const {
        if (!m_syscalls.empty()) {
            return "kernel counters";
        }
        return m_switches.empty() ? "/proc (no system call count)" : "kernel counters (switches)";
    }

    Reading Read() const {
        Reading reading;
        if (!m_syscalls.empty()) {
            reading.syscalls = Sum(m_syscalls);
        }
        reading.switches = m_switches.empty() ? ProcSwitches() : Sum(m_switches);
        return reading;
    }

private:
    static long SyscallTracepoint() {
        for (const char* path : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                                 "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"}) {
            std::ifstream in(path);
            long id = -1;
            if (in >> id) {
                return id;
            }
        }
        return -1;
    }

    void Open(std::vector<int>& into, std::uint32_t type, std::uint64_t config, int tid) {
        perf_event_attr attributes{};
        attributes.size = sizeof attributes;
        attributes.type = type;
        attributes.config = config;
        attributes.inherit = 1;  // threads started later count too
        const long fd = ::syscall(SYS_perf_event_open, &attributes, tid, -1, -1,
                                  static_cast<unsigned long>(PERF_FLAG_FD_CLOEXEC));
        if (fd >= 0) {
            into.push_back(static_cast<int>(fd));
        }
    }

    static double Sum(const std::vector<int>& fds) {
        double total = 0;
        for (const int fd : fds) {
            std::uint64_t value = 0;
            if (::read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
                total += static_cast<double>(value);
            }
        }
        return total;
    }

    static std::vector<int> Threads(int pid) {
        std::vector<int> threads;
        std::error_code error;
        for (std::filesystem::directory_iterator
                 it("/proc/" + std::to_string(pid) + "/task", error),
             end;
             !error && it != end; it.increment(error)) {
            threads.push_back(std::atoi(it->path().filename().c_str()));
        }
        return threads;
    }

    double ProcSwitches() const {
        double total = 0;
        for (const int tid : Threads(m_pid)) {
            total += static_cast<double>(StatusValue(m_pid, "voluntary_ctxt_switches", tid) +
                                         StatusValue(m_pid, "nonvoluntary_ctxt_switches", tid));
        }
        return total;
    }

    int m_pid;
    std::vector<int> m_syscalls;
    std::vector<int> m_switches;
};

// ---------------------------------------------------------------------------------------------
// Sessions and the workers that own them

struct Account {
    std::string userId, password;
};

enum class Step { Idle, AwaitGo, AwaitDone, AwaitStatus, Closed };

struct PhaseTally;

struct Session {
    Account account;
    proto::Socket request;
    proto::Socket notification;
    int worker = 0;
    // Sending state, touched only by the owning worker.
    Step step = Step::Idle;
    int messageType = pt::LiveMessage;
    std::string target;
    int remaining = 0;
    Clock::time_point sentAt{};
    Clock::duration interval{};  // paced sending: time between two starts (0: at once)
    Clock::time_point nextAt{};
    PhaseTally* tally = nullptr;  // of the phase the session sends in
    // The time-outs each connection was last given, so that the worker's calls set them only
    // when they change (the generator should cost less than the server it measures).
    proto::SocketTimeouts requestTimeouts;
    proto::SocketTimeouts notificationTimeouts;

    proto::SocketRef Request() { return {request.Get(), requestTimeouts}; }
    proto::SocketRef Notification() { return {notification.Get(), notificationTimeouts}; }
};

// Counters and samples of one sending phase.
struct PhaseTally {
    std::atomic<int> sendersLeft{0};
    std::atomic<long> ok{0};
    std::atomic<long> failed{0};
    std::atomic<bool> stop{false};
    std::mutex samplesMutex;
    std::vector<double> latencies;  // ms
    std::string firstFailure;
    std::map<std::string, long> failureTexts;  // how often each failure text came
    // When each message ended and whether it succeeded; kept only when asked for.
    bool keepOutcomes = false;
    std::vector<std::pair<Clock::time_point, bool>> outcomes;

    void Succeed(double ms) {
        ok.fetch_add(1);
        std::lock_guard lock(samplesMutex);
        latencies.push_back(ms);
        if (keepOutcomes) {
            outcomes.emplace_back(Clock::now(), true);
        }
    }
    void Fail(const std::string& text) {
        failed.fetch_add(1);
        std::lock_guard lock(samplesMutex);
        if (firstFailure.empty()) {
            firstFailure = text;
        }
        ++failureTexts[text];
        if (keepOutcomes) {
            outcomes.emplace_back(Clock::now(), false);
        }
    }
};

struct Totals {
    std::atomic<long> liveReceived{0};
    std::atomic<long> offlineReceived{0};
    std::atomic<long> sessionsLost{0};
    std::atomic<long> statusAnswers{0};
    std::mutex mutex;
    std::string firstLoss;
};

class Worker {
public:
    Worker(Totals& totals, int index);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs `task` on the worker's thread.
    void Post(std::function<void(Worker&)> task);
    // Worker thread: owns the session's sockets from now on.
    void Adopt(Session& session);
    // Worker thread: begins sending `count` messages of `type` to the session's target.
    void BeginSending(Session& session, int type, int count, Clock::duration interval,
                      PhaseTally& tally);
    // Worker thread: asks every idle owned session for its own status; the answers count in
    // Totals::statusAnswers. Returns how many were asked.
    long QueryStatusAll();
    // Worker thread: logs out and closes every owned session.
    void LogoutAll();
    void Quit();

    const std::vector<Session*>& Owned() const { return m_owned; }
    void SetRecord(std::vector<std::uint8_t> record) { m_record = std::move(record); }

private:
    struct Endpoint {
        Session* session;
        bool notification;
    };

    void Run();
    void RunTasks();
    void SendDue();
    void OnNotification(Session& session);
    void OnReply(Session& session);
    void SendFirstStep(Session& session);
    void FinishSender(Session& session);
    void Lose(Session& session, const std::string& why);
    void KeepAlive();

    Totals& m_totals;
    int m_epoll = -1;
    int m_wake = -1;
    std::mutex m_tasksMutex;
    std::vector<std::function<void(Worker&)>> m_tasks;
    std::vector<Session*> m_owned;
    std::vector<Session*> m_waiting;  // paced senders until their next start
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    // Replies, sender IDs and pushed records are received into buffers sized from their
    // headers, without zero-filling a whole capacity per packet.
    proto::PacketBuffer m_buffer;
    proto::PacketBuffer m_pushed;
    std::vector<std::uint8_t> m_record;
    bool m_quit = false;
    Clock::time_point m_lastKeepAlive = Clock::now();
    std::thread m_thread;
};

Worker::Worker(Totals& totals, int index) : m_totals(totals) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0) {
        throw std::runtime_error("epoll set-up failed");
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
    (void)index;
    m_thread = std::thread([this] { Run(); });
}

Worker::~Worker() {
    Quit();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ::close(m_wake);
    ::close(m_epoll);
}

void Worker::Post(std::function<void(Worker&)> task) {
    {
        std::lock_guard lock(m_tasksMutex);
        m_tasks.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
}

void Worker::Quit() {
    Post([](Worker& self) { self.m_quit = true; });
}

void Worker::Run() {
    std::array<epoll_event, 256> events;
    while (!m_quit) {
        const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()),
                                   m_waiting.empty() ? 500 : 1);
        for (int i = 0; i < n; ++i) {
            auto* endpoint = static_cast<Endpoint*>(events[i].data.ptr);
            if (endpoint == nullptr) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto got = ::read(m_wake, &count, sizeof count);
                continue;
            }
            Session& session = *endpoint->session;
            if (session.step == Step::Closed) {
                continue;
            }
            if (endpoint->notification) {
                OnNotification(session);
            } else {
                OnReply(session);
            }
        }
        RunTasks();
        SendDue();
        KeepAlive();
    }
}

void Worker::RunTasks() {
    std::vector<std::function<void(Worker&)>> tasks;
    {
        std::lock_guard lock(m_tasksMutex);
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) {
        task(*this);
    }
}

void Worker::Adopt(Session& session) {
    m_owned.push_back(&session);
    for (bool notification : {false, true}) {
        m_endpoints.push_back(std::make_unique<Endpoint>(Endpoint{&session, notification}));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = m_endpoints.back().get();
        const int fd = notification ? session.notification.Get() : session.request.Get();
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }
}

void Worker::Lose(Session& session, const std::string& why) {
    if (session.step == Step::AwaitGo || session.step == Step::AwaitDone) {
        session.tally->Fail(why);
        FinishSender(session);
    }
    session.step = Step::Closed;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, session.request.Get(), nullptr);
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, session.notification.Get(), nullptr);
    session.request.Close();
    session.notification.Close();
    m_totals.sessionsLost.fetch_add(1);
    std::lock_guard lock(m_totals.mutex);
    if (m_totals.firstLoss.empty()) {
        m_totals.firstLoss = session.account.userId + ": " + why;
    }
}

// A push on the notification connection: the sender's ID, then the record (live messages are
// answered with an empty type-0 packet, offline deliveries are not answered).
void Worker::OnNotification(Session& session) {
    try {
        const auto first =
            proto::ReceivePacket(session.Notification(), m_buffer,
                                 proto::Capacity::ClientNotification, proto::Timeout::Default);
        if (first.type != pt::LiveMessage && first.type != pt::OfflineMessage) {
            return;  // chat and file requests carry no follow-up
        }
        proto::ReceivePacket(session.Notification(), m_pushed, proto::Size::MessageMax,
                             proto::Timeout::Default);
        if (first.type == pt::LiveMessage) {
            proto::SendPacket(session.Notification(), pt::Ok, proto::Timeout::Default);
            m_totals.liveReceived.fetch_add(1);
        } else {
            m_totals.offlineReceived.fetch_add(1);
        }
    } catch (const proto::NetError& error) {
        Lose(session, std::string("notification connection: ") + error.what());
    }
}

void Worker::SendFirstStep(Session& session) {
    session.sentAt = Clock::now();
    proto::SendTextPacket(session.Request(), session.messageType, session.target,
                          proto::Timeout::Default);
    session.step = Step::AwaitGo;
}

void Worker::SendDue() {
    const auto now = Clock::now();
    auto due = [&](Session* session) { return session->nextAt <= now; };
    std::vector<Session*> ready;
    for (Session* session : m_waiting) {
        if (due(session)) {
            ready.push_back(session);
        }
    }
    std::erase_if(m_waiting, due);
    for (Session* session : ready) {
        if (session->step != Step::Idle) {
            continue;  // lost meanwhile
        }
        try {
            SendFirstStep(*session);
        } catch (const proto::NetError& error) {
            session->step = Step::AwaitGo;  // so that the loss ends this sender
            Lose(*session, error.what());
        }
    }
}

void Worker::BeginSending(Session& session, int type, int count, Clock::duration interval,
                          PhaseTally& tally) {
    if (session.step == Step::Closed || count <= 0) {
        tally.sendersLeft.fetch_sub(1);
        return;
    }
    session.tally = &tally;
    session.messageType = type;
    session.remaining = count;
    session.interval = interval;
    if (interval > Clock::duration::zero()) {
        // Spread the first starts over one interval so the load is even from the start.
        session.nextAt = Clock::now() + interval * (std::rand() % 1000) / 1000;
        session.step = Step::Idle;
        m_waiting.push_back(&session);
        return;
    }
    try {
        SendFirstStep(session);
    } catch (const proto::NetError& error) {
        Lose(session, error.what());
    }
}

void Worker::FinishSender(Session& session) {
    session.step = Step::Idle;
    session.tally->sendersLeft.fetch_sub(1);
}

void Worker::OnReply(Session& session) {
    try {
        const auto reply = proto::ReceivePacket(
            session.Request(), m_buffer, proto::Capacity::ClientReply, proto::Timeout::Default);
        if (session.step == Step::AwaitStatus) {
            session.step = Step::Idle;
            m_totals.statusAnswers.fetch_add(1);
            return;
        }
        if (session.step != Step::AwaitGo && session.step != Step::AwaitDone) {
            return;  // nothing is expected on an idle request connection
        }
        PhaseTally& tally = *session.tally;
        if (session.step == Step::AwaitGo) {
            if (reply.type != pt::Ok) {
                tally.Fail(std::string(proto::BodyText(reply, m_buffer.Body())));
            } else {
                proto::SendPacket(session.Request(), session.messageType, m_record,
                                  proto::Timeout::Default);
                session.step = Step::AwaitDone;
                return;
            }
        } else if (session.step == Step::AwaitDone) {
            if (reply.type == pt::Ok) {
                tally.Succeed(Seconds(Clock::now() - session.sentAt) * 1000.0);
            } else {
                tally.Fail(std::string(proto::BodyText(reply, m_buffer.Body())));
            }
        }
        if (--session.remaining > 0 && !tally.stop.load()) {
            if (session.interval > Clock::duration::zero()) {
                session.nextAt += session.interval;
                session.step = Step::Idle;
                m_waiting.push_back(&session);
                return;
            }
            SendFirstStep(session);
        } else {
            FinishSender(session);
        }
    } catch (const proto::NetError& error) {
        Lose(session, std::string("request connection: ") + error.what());
    }
}

// The server drops a session that sends nothing for 60 s.
void Worker::KeepAlive() {
    if (Clock::now() - m_lastKeepAlive < 20s) {
        return;
    }
    m_lastKeepAlive = Clock::now();
    for (Session* session : m_owned) {
        if (session->step != Step::Idle) {
            continue;
        }
        try {
            proto::SendPacket(session->Request(), pt::KeepAlive, proto::Timeout::Default);
        } catch (const proto::NetError& error) {
            Lose(*session, std::string("keep-alive: ") + error.what());
        }
    }
}

long Worker::QueryStatusAll() {
    long asked = 0;
    for (Session* session : m_owned) {
        if (session->step != Step::Idle) {
            continue;
        }
        try {
            proto::SendTextPacket(session->Request(), pt::QueryStatus, session->account.userId,
                                  proto::Timeout::Default);
            session->step = Step::AwaitStatus;
            ++asked;
        } catch (const proto::NetError& error) {
            Lose(*session, std::string("status query: ") + error.what());
        }
    }
    return asked;
}

void Worker::LogoutAll() {
    for (Session* session : m_owned) {
        if (session->step == Step::Closed) {
            continue;
        }
        try {
            proto::SendPacket(session->request.Get(), pt::Logout, proto::Timeout::Default);
        } catch (const proto::NetError&) {
        }
        session->step = Step::Closed;
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, session->request.Get(), nullptr);
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, session->notification.Get(), nullptr);
        session->request.Close();
        session->notification.Close();
    }
}

// ---------------------------------------------------------------------------------------------
// The benchmark

struct Row {
    std::string figure, value, target, verdict;
};

class LoadBench {
public:
    LoadBench(const Options& options, int port, int serverPid);
    ~LoadBench();
    LoadBench(const LoadBench&) = delete;
    LoadBench& operator=(const LoadBench&) = delete;

    void Run();
    void Print() const;

private:
    std::optional<Account> CreateAccount();
    void CreateAccounts(int count, std::vector<Account>& into);
    // Logs the session in, accepts the connect-back, optionally fetches offline messages.
    void Login(Session& session, bool fetchOffline);
    // Logs the sessions in with the login threads, giving each to a worker as soon as it is in;
    // latencies of each login.
    double LoginAll(std::vector<std::unique_ptr<Session>>& sessions, bool fetchOffline,
                    std::vector<double>& latencies, long& failures, std::string& firstFailure);
    // Waits until the workers own every session that LoginAll logged in.
    void HandOver(std::vector<std::unique_ptr<Session>>& sessions);
    void OnWorkers(const std::function<void(Worker&)>& task);
    // Runs one sending phase: sessions[i] sends to targets[i]; returns the elapsed time.
    double SendPhase(const std::vector<Session*>& senders, const std::vector<std::string>& targets,
                     int type, int perSender, PhaseTally& tally,
                     Clock::duration interval = Clock::duration::zero());
    void LivePhase(int pairs, int rate);
    void OfflinePhases();
    // Asks every held session for a status at once; the sessions that answered.
    long AnsweringSessions();
    // Every session of `fetchers` asks for its offline messages at once; waits until
    // `expected` were delivered, then `settle` longer for any beyond them (or the phase cap).
    // Returns the deliveries and the seconds until the expected ones were in.
    std::pair<long, double> FetchAll(const std::vector<Session*>& fetchers, long expected,
                                     Clock::duration settle);
    // One login outside the held sessions: the reply's type and text. An accepted login takes
    // the connect-back and logs out at once.
    std::pair<int, std::string> TryLogin(const Account& account);
    // Stops the database for a while under held sessions and flowing messages.
    void OutagePhase();
    long ServerRssKiB() const;
    void Add(std::string figure, std::string value, std::string target = "",
             std::optional<bool> met = std::nullopt);

    Options m_options;
    int m_port;
    int m_serverPid;
    Totals m_totals;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<Account> m_accounts;     // the sessions' accounts
    std::vector<Account> m_absent;       // users who get offline messages
    std::vector<Account> m_outageUsers;  // users who get offline messages across the outage
    std::vector<Account> m_outageLogin;  // one account for logins while the database is away
    std::vector<std::unique_ptr<Session>> m_outageSessions;
    std::vector<std::unique_ptr<Session>> m_sessions;
    std::vector<std::unique_ptr<Session>> m_absentSessions;
    std::vector<std::uint8_t> m_record;
    std::vector<Row> m_rows;
    ListenerPorts m_ports;
    ServerCounters m_counters;
};

LoadBench::LoadBench(const Options& options, int port, int serverPid)
    : m_options(options),
      m_port(port),
      m_serverPid(serverPid),
      m_ports(options.listenFirst, options.listenLast),
      m_counters(serverPid) {
    proto::MessageRecord record;
    record.time = static_cast<std::uint32_t>(std::time(nullptr));
    record.brief = "Load test message";
    record.body.assign(static_cast<std::size_t>(options.bodyBytes), 'x');
    record.body.replace(0, std::min<std::size_t>(17, record.body.size()), "Load test message");
    m_record = record.Encode();
    for (int i = 0; i < options.workers; ++i) {
        m_workers.push_back(std::make_unique<Worker>(m_totals, i));
    }
    OnWorkers([record = m_record](Worker& worker) { worker.SetRecord(record); });
}

LoadBench::~LoadBench() {
    OnWorkers([](Worker& worker) { worker.LogoutAll(); });
    m_workers.clear();
}

void LoadBench::OnWorkers(const std::function<void(Worker&)>& task) {
    std::atomic<int> left{static_cast<int>(m_workers.size())};
    for (auto& worker : m_workers) {
        worker->Post([&](Worker& self) {
            task(self);
            left.fetch_sub(1);
        });
    }
    while (left.load() > 0) {
        std::this_thread::sleep_for(1ms);
    }
}

long LoadBench::ServerRssKiB() const {
    return m_serverPid > 0 ? StatusValue(m_serverPid, "VmRSS") : 0;
}

void LoadBench::Add(std::string figure, std::string value, std::string target,
                    std::optional<bool> met) {
    m_rows.push_back({std::move(figure), std::move(value), std::move(target),
                      met ? (*met ? "met" : "MISSED") : ""});
}

// A number with `decimals` digits after the point.
std::string Format(int decimals, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::optional<Account> LoadBench::CreateAccount() {
    proto::Socket socket = Connect(m_options.host, m_port + 1);
    proto::SendPacket(socket.Get(), pt::NewAccount, proto::Timeout::Default);
    std::array<std::uint8_t, proto::Capacity::ClientReply> buffer{};
    const auto reply = proto::ReceivePacket(socket.Get(), buffer, proto::Timeout::Default);
    if (reply.type != pt::Ok || reply.bodyLength != proto::Size::AccountCredentials) {
        return std::nullopt;
    }
    const auto credentials =
        proto::AccountCredentials::Decode(std::span(buffer).first(proto::Size::AccountCredentials));
    // The server closes first, so the TIME_WAIT state stays on its side and the generator's
    // ephemeral ports are free again for the logins.
    std::array<std::uint8_t, 16> rest{};
    proto::ReceiveRaw(socket.Get(), rest, 0, proto::Timeout::Default);
    return Account{credentials.userId, credentials.password};
}

void LoadBench::CreateAccounts(int count, std::vector<Account>& into) {
    std::mutex mutex;
    std::atomic<int> next{0};
    std::atomic<long> failures{0};
    std::string firstFailure;
    std::vector<std::thread> threads;
    const auto deadline = Clock::now() + std::chrono::seconds(m_options.phaseSeconds * 3);
    for (int t = 0; t < m_options.loginThreads; ++t) {
        threads.emplace_back([&] {
            while (next.fetch_add(1) < count && Clock::now() < deadline) {
                std::optional<Account> account;
                std::string why = "refused";
                try {
                    account = CreateAccount();
                } catch (const proto::NetError& error) {
                    why = error.what();
                }
                std::lock_guard lock(mutex);
                if (account) {
                    into.push_back(std::move(*account));
                } else if (failures.fetch_add(1) == 0) {
                    firstFailure = why;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (failures.load() > 0) {
        std::fprintf(stderr, "%ld account requests failed (first: %s)\n", failures.load(),
                     firstFailure.c_str());
    }
}

void LoadBench::Login(Session& session, bool fetchOffline) {
    proto::Socket listener = m_ports.Listen();
    session.request = Connect(m_options.host, m_port);
    const proto::LoginRequest login{session.account.userId, session.account.password,
                                    proto::LocalPort(listener.Get())};
    proto::SendPacket(session.request.Get(), pt::Login, login.Encode(), proto::Timeout::Default);
    std::array<std::uint8_t, proto::Capacity::ClientReply> buffer{};
    const auto reply = proto::ReceivePacket(session.request.Get(), buffer, proto::Timeout::Default);
    if (reply.type != pt::LoginAccepted) {
        throw proto::NetError("login refused (" + std::to_string(reply.type) +
                              "): " + std::string(proto::BodyText(reply, buffer)));
    }
    pollfd entry{listener.Get(), POLLIN, 0};
    if (::poll(&entry, 1, proto::Timeout::Default * 1000) != 1) {
        throw proto::NetError("no connect-back within 30 s");
    }
    sockaddr_in peer{};
    session.notification = proto::Socket(proto::AcceptOn(listener.Get(), &peer));
    if (!session.notification.IsOpen()) {
        throw proto::NetError(proto::LastSocketErrorText());
    }
    if (fetchOffline) {
        proto::SendPacket(session.request.Get(), pt::FetchOfflineMessages, proto::Timeout::Default);
    }
}

double LoadBench::LoginAll(std::vector<std::unique_ptr<Session>>& sessions, bool fetchOffline,
                           std::vector<double>& latencies, long& failures,
                           std::string& firstFailure) {
    std::mutex mutex;
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(m_options.phaseSeconds);
    for (int t = 0; t < m_options.loginThreads; ++t) {
        threads.emplace_back([&] {
            for (std::size_t i = next.fetch_add(1); i < sessions.size() && Clock::now() < deadline;
                 i = next.fetch_add(1)) {
                Session& session = *sessions[i];
                const auto begun = Clock::now();
                std::string why;
                try {
                    Login(session, fetchOffline);
                } catch (const std::exception& error) {
                    why = error.what();
                    session.request.Close();
                    session.notification.Close();
                    session.step = Step::Closed;
                }
                const double ms = Seconds(Clock::now() - begun) * 1000.0;
                if (why.empty()) {
                    // A worker owns it at once, so its keep-alives flow while the others log
                    // in: the server drops a session that is silent for 60 s, and with hashed
                    // passwords ten thousand logins take minutes.
                    const std::size_t w = i % m_workers.size();
                    session.worker = static_cast<int>(w);
                    m_workers[w]->Post([&session](Worker& worker) { worker.Adopt(session); });
                }
                std::lock_guard lock(mutex);
                if (why.empty()) {
                    latencies.push_back(ms);
                } else if (failures++ == 0) {
                    firstFailure = why;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return Seconds(Clock::now() - start);
}

void LoadBench::HandOver(std::vector<std::unique_ptr<Session>>&) {
    // LoginAll gave each session to a worker as it logged in.
    OnWorkers([](Worker&) {});  // every adoption is done after this
}

double LoadBench::SendPhase(const std::vector<Session*>& senders,
                            const std::vector<std::string>& targets, int type, int perSender,
                            PhaseTally& tally, Clock::duration interval) {
    tally.sendersLeft.store(static_cast<int>(senders.size()));
    tally.latencies.reserve(
        std::min<std::size_t>(static_cast<std::size_t>(perSender) * senders.size(), 1 << 20));
    std::vector<std::vector<std::pair<Session*, std::string>>> perWorker(m_workers.size());
    for (std::size_t i = 0; i < senders.size(); ++i) {
        perWorker[static_cast<std::size_t>(senders[i]->worker)].emplace_back(senders[i],
                                                                             targets[i]);
    }
    const auto start = Clock::now();
    for (std::size_t w = 0; w < m_workers.size(); ++w) {
        m_workers[w]->Post(
            [list = perWorker[w], type, perSender, interval, &tally](Worker& worker) {
                for (const auto& [session, target] : list) {
                    session->target = target;
                    worker.BeginSending(*session, type, perSender, interval, tally);
                }
            });
    }
    const auto deadline = start + std::chrono::seconds(m_options.phaseSeconds);
    while (tally.sendersLeft.load() > 0) {
        if (Clock::now() > deadline && !tally.stop.exchange(true)) {
            std::fprintf(stderr, "phase time cap reached; finishing messages under way\n");
        }
        if (Clock::now() > deadline + 40s) {
            throw std::runtime_error("messages under way did not finish within 40 s");
        }
        std::this_thread::sleep_for(1ms);
    }
    return Seconds(Clock::now() - start);
}

void LoadBench::LivePhase(int pairs, int offered) {
    const int held = static_cast<int>(m_sessions.size());
    pairs = std::min(pairs, held / 2);
    if (pairs <= 0) {
        return;
    }
    std::vector<Session*> senders;
    std::vector<std::string> targets;
    for (int i = 0; i < pairs; ++i) {
        senders.push_back(m_sessions[static_cast<std::size_t>(i)].get());
        targets.push_back(m_sessions[static_cast<std::size_t>(i + pairs)]->account.userId);
    }
    const int perSender = std::max(1, m_options.messages / pairs);
    // Paced: each sender starts a message every pairs / offered seconds.
    const auto interval = offered > 0 ? std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(1.0 * pairs / offered))
                                      : Clock::duration::zero();
    const long receivedBefore = m_totals.liveReceived.load();
    PhaseTally tally;
    const double serverCpu = CpuSeconds(m_serverPid), ownCpu = CpuSeconds(::getpid());
    const double machineBusy = MachineBusySeconds();
    const auto countedBefore = m_counters.Read();
    const double elapsed = SendPhase(senders, targets, pt::LiveMessage, perSender, tally, interval);
    const auto countedAfter = m_counters.Read();
    const double serverUsed = CpuSeconds(m_serverPid) - serverCpu;
    const double ownUsed = CpuSeconds(::getpid()) - ownCpu;
    const double othersUsed = MachineBusySeconds() - machineBusy - serverUsed - ownUsed;
    const auto summary = Summarise(tally.latencies);
    const double rate = static_cast<double>(tally.ok.load()) / elapsed;
    const bool big = pairs >= 1000;
    // The throughput target is judged at full speed, the latency target at the offered load
    // (with every pair always busy, latency is pairs / rate by Little's law).
    const bool judgeRate = big && offered == 0;
    const bool judgeLatency = big && offered > 0;
    const std::string label =
        "live messages at " + std::to_string(pairs) + " pairs" +
        (offered > 0 ? ", " + std::to_string(offered) + "/s offered" : ", full speed");
    Add(label + " (per s)", Format(0, rate), judgeRate ? ">= 10000" : "",
        judgeRate ? std::optional<bool>(rate >= 10000) : std::nullopt);
    Add("  latency p50 / p99 / max (ms)",
        Format(2, summary.p50) + " / " + Format(2, summary.p99) + " / " + Format(2, summary.max),
        judgeLatency ? "p99 < 20" : "",
        judgeLatency ? std::optional<bool>(summary.p99 < 20.0) : std::nullopt);
    Add("  relayed / failed / pushes answered",
        std::to_string(tally.ok.load()) + " / " + std::to_string(tally.failed.load()) + " / " +
            std::to_string(m_totals.liveReceived.load() - receivedBefore));
    if (tally.ok.load() > 0 && m_serverPid > 0) {
        // Where the cores went: what one message costs the server and the generator, and the
        // rate both could reach together on every core of the machine.
        const double count = static_cast<double>(tally.ok.load());
        const double perMessage = (serverUsed + ownUsed) / count;
        // The server's cost per message is judged at full speed: 100 us at 1,000 pairs, 60 us
        // at 100.
        const double serverTarget = pairs >= 1000 ? 100 : pairs <= 100 ? 60 : 0;
        const bool judgeCpu = offered == 0 && serverTarget > 0;
        Add("  CPU us/message server / generator",
            Format(0, serverUsed / count * 1e6) + " / " + Format(0, ownUsed / count * 1e6) +
                "  (cores busy: server " + Format(2, serverUsed / elapsed) + ", generator " +
                Format(2, ownUsed / elapsed) + ", others " +
                Format(2, std::max(0.0, othersUsed) / elapsed) + "; bound " +
                Format(0, static_cast<double>(std::thread::hardware_concurrency()) / perMessage) +
                "/s on " + std::to_string(std::thread::hardware_concurrency()) + " cores)",
            judgeCpu ? "server <= " + Format(0, serverTarget) : "",
            judgeCpu ? std::optional<bool>(serverUsed / count * 1e6 <= serverTarget)
                     : std::nullopt);
    }
    if (tally.ok.load() > 0 && m_serverPid > 0) {
        const double count = static_cast<double>(tally.ok.load());
        auto per = [&](double before, double after) {
            return before < 0 || after < 0 ? std::string("n/a")
                                           : Format(1, (after - before) / count);
        };
        Add("  server per message: system calls / context switches",
            per(countedBefore.syscalls, countedAfter.syscalls) + " / " +
                per(countedBefore.switches, countedAfter.switches) + "  (" + m_counters.Source() +
                ")");
    }
    if (!tally.firstFailure.empty()) {
        std::fprintf(stderr, "%s: first failure: %s\n", label.c_str(), tally.firstFailure.c_str());
    }
}

void LoadBench::OfflinePhases() {
    if (m_absent.empty() || m_sessions.empty() || m_options.offlineMessages == 0) {
        return;
    }
    const int senderCount =
        std::min<int>(m_options.offlineSenders, static_cast<int>(m_sessions.size()));
    std::vector<Session*> senders;
    std::vector<std::string> targets;
    for (int i = 0; i < senderCount; ++i) {
        senders.push_back(m_sessions[static_cast<std::size_t>(i)].get());
        targets.push_back(m_absent[static_cast<std::size_t>(i) % m_absent.size()].userId);
    }
    const int perSender = std::max(1, m_options.offlineMessages / senderCount);
    PhaseTally tally;
    const double elapsed = SendPhase(senders, targets, pt::OfflineMessage, perSender, tally);
    const auto summary = Summarise(tally.latencies);
    Add("offline messages stored (per s)",
        Format(0, static_cast<double>(tally.ok.load()) / elapsed) + "  (" +
            std::to_string(tally.ok.load()) + " by " + std::to_string(senderCount) +
            " senders, p99 " + Format(1, summary.p99) + " ms)");
    if (!tally.firstFailure.empty()) {
        std::fprintf(stderr, "offline store: first failure: %s\n", tally.firstFailure.c_str());
    }

    // The absent users log in without fetching, then all fetch at once.
    for (const auto& account : m_absent) {
        m_absentSessions.push_back(std::make_unique<Session>());
        m_absentSessions.back()->account = account;
    }
    std::vector<double> logins;
    long failures = 0;
    std::string firstFailure;
    LoginAll(m_absentSessions, false, logins, failures, firstFailure);
    if (failures > 0) {
        std::fprintf(stderr, "%ld absent-user logins failed (first: %s)\n", failures,
                     firstFailure.c_str());
    }
    HandOver(m_absentSessions);
    // What the users who are logged in now should get (each sender wrote to one user).
    long expected = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const auto& session = m_absentSessions[i % m_absentSessions.size()];
        if (session->request.IsOpen() && session->account.userId == targets[i]) {
            expected += perSender;
        }
    }
    expected = std::min(expected, tally.ok.load());
    std::vector<Session*> fetchers;
    for (auto& session : m_absentSessions) {
        fetchers.push_back(session.get());
    }
    const auto [delivered, elapsed2] = FetchAll(fetchers, expected, Clock::duration::zero());
    Add("offline messages delivered (per s)", Format(0, static_cast<double>(delivered) / elapsed2) +
                                                  "  (" + std::to_string(delivered) + " of " +
                                                  std::to_string(expected) + " to " +
                                                  std::to_string(m_absent.size()) + " users)");
}

std::pair<long, double> LoadBench::FetchAll(const std::vector<Session*>& fetchers, long expected,
                                            Clock::duration settle) {
    const long before = m_totals.offlineReceived.load();
    const auto start = Clock::now();
    OnWorkers([&fetchers](Worker& worker) {
        for (Session* session : fetchers) {
            if (session->step != Step::Closed &&
                std::find(worker.Owned().begin(), worker.Owned().end(), session) !=
                    worker.Owned().end()) {
                try {
                    proto::SendPacket(session->request.Get(), pt::FetchOfflineMessages,
                                      proto::Timeout::Default);
                } catch (const proto::NetError& error) {
                    std::fprintf(stderr, "fetch offline messages: %s\n", error.what());
                }
            }
        }
    });
    const auto deadline = start + std::chrono::seconds(m_options.phaseSeconds);
    while (m_totals.offlineReceived.load() - before < expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    const double elapsed = Seconds(Clock::now() - start);
    std::this_thread::sleep_for(settle);
    return {m_totals.offlineReceived.load() - before, elapsed};
}

long LoadBench::AnsweringSessions() {
    m_totals.statusAnswers.store(0);
    const long lostBefore = m_totals.sessionsLost.load();
    std::atomic<long> asked{0};
    OnWorkers([&asked](Worker& worker) { asked.fetch_add(worker.QueryStatusAll()); });
    const auto deadline = Clock::now() + 40s;
    while (m_totals.statusAnswers.load() + m_totals.sessionsLost.load() - lostBefore <
               asked.load() &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    return m_totals.statusAnswers.load();
}

std::pair<int, std::string> LoadBench::TryLogin(const Account& account) {
    proto::Socket listener = m_ports.Listen();
    proto::Socket request = Connect(m_options.host, m_port);
    const proto::LoginRequest login{account.userId, account.password,
                                    proto::LocalPort(listener.Get())};
    proto::SendPacket(request.Get(), pt::Login, login.Encode(), proto::Timeout::Default);
    std::array<std::uint8_t, proto::Capacity::ClientReply> buffer{};
    const auto reply = proto::ReceivePacket(request.Get(), buffer, proto::Timeout::Default);
    std::string text(proto::BodyText(reply, buffer));
    if (reply.type == pt::LoginAccepted) {
        pollfd entry{listener.Get(), POLLIN, 0};
        if (::poll(&entry, 1, proto::Timeout::Default * 1000) == 1) {
            proto::Socket notification(proto::AcceptOn(listener.Get(), nullptr));
        }
        proto::SendPacket(request.Get(), pt::Logout, proto::Timeout::Default);
    }
    return {reply.type, std::move(text)};
}

namespace {

// Runs the MariaDB instance's control script (stop or start) on the instance the test
// variables name; the exit status.
int ControlDatabase(const std::string& command) {
    const char* control = std::getenv("TALVORINE_TEST_MARIADB_CONTROL");
    const char* folder = std::getenv("TALVORINE_TEST_MARIADB_DIR");
    if (control == nullptr || folder == nullptr) {
        return -1;
    }
    const std::string line = "TALVORINE_MARIADB_DIR='" + std::string(folder) + "' bash '" +
                             control + "' " + command + " > /dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Seconds from `from` to `to`, or "-" when `to` never came.
std::string SecondsText(Clock::time_point from, std::optional<Clock::time_point> to) {
    return to ? Format(2, Seconds(*to - from)) : std::string("-");
}

}  // namespace

void LoadBench::OutagePhase() {
    const int held = static_cast<int>(m_sessions.size());
    if (!m_options.outage || m_outageUsers.empty() || m_outageLogin.empty() || held < 4) {
        return;
    }
    const std::string title = "database outage: MariaDB stopped " +
                              std::to_string(m_options.outageSeconds) + " s under " +
                              std::to_string(held) + " sessions";
    std::fprintf(stderr, "%s ...\n", title.c_str());
    long open = 0;  // every session held here, the absent users' too
    for (const auto* list : {&m_sessions, &m_absentSessions}) {
        for (const auto& session : *list) {
            open += session->request.IsOpen() ? 1 : 0;
        }
    }
    const long answeringBefore = AnsweringSessions();
    const long descriptorsBefore = OpenDescriptors(m_serverPid);

    // Offline messages to the absent outage users and live messages between pairs, both
    // paced, flow from before the stop until after the database is back.
    const int offlineSenders = std::min(20, held / 4);
    const int livePairs = std::min(100, (held - offlineSenders) / 2);
    std::vector<Session*> offlineFrom, liveFrom;
    std::vector<std::string> offlineTo, liveTo;
    for (int i = 0; i < offlineSenders; ++i) {
        offlineFrom.push_back(m_sessions[static_cast<std::size_t>(i)].get());
        offlineTo.push_back(
            m_outageUsers[static_cast<std::size_t>(i) % m_outageUsers.size()].userId);
    }
    for (int i = 0; i < livePairs; ++i) {
        liveFrom.push_back(m_sessions[static_cast<std::size_t>(offlineSenders + i)].get());
        liveTo.push_back(
            m_sessions[static_cast<std::size_t>(offlineSenders + livePairs + i)]->account.userId);
    }
    constexpr int Unbounded = 1'000'000;  // the phases end by their stop flags
    PhaseTally offline, live;
    offline.keepOutcomes = live.keepOutcomes = true;
    auto run = [this](const std::vector<Session*>& from, const std::vector<std::string>& to,
                      int type, PhaseTally& tally, Clock::duration interval) {
        return std::thread([this, &from, &to, type, &tally, interval] {
            try {
                SendPhase(from, to, type, Unbounded, tally, interval);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "outage: %s\n", error.what());
            }
        });
    };
    // 10 offline messages and 10 live messages per second from every sender.
    std::thread offlineThread = run(offlineFrom, offlineTo, pt::OfflineMessage, offline, 100ms);
    std::thread liveThread = run(liveFrom, liveTo, pt::LiveMessage, live, 100ms);

    std::this_thread::sleep_for(2s);
    const auto stopBegun = Clock::now();
    const int stopStatus = ControlDatabase("stop");
    const auto down = Clock::now();
    // Logins while the database is away.
    std::map<std::string, long> awayLogins;
    long awayLoginCount = 0, awayLoginsDesigned = 0;
    const std::string designedRefusal = std::to_string(pt::LoginAuthorizationFailed) + " \"" +
                                        std::string(proto::ReplyText::LoginAuthorizationFailed) +
                                        "\"";
    while (Clock::now() < down + std::chrono::seconds(m_options.outageSeconds)) {
        std::string outcome;
        try {
            const auto [type, text] = TryLogin(m_outageLogin.front());
            outcome = std::to_string(type) + " \"" + text + "\"";
        } catch (const proto::NetError& error) {
            outcome = std::string("error: ") + error.what();
        }
        ++awayLogins[outcome];
        ++awayLoginCount;
        awayLoginsDesigned += outcome == designedRefusal ? 1 : 0;
        std::this_thread::sleep_for(500ms);
    }
    const auto startBegun = Clock::now();
    const int startStatus = ControlDatabase("start");
    const auto up = Clock::now();
    std::fprintf(stderr, "outage: database stopped in %.2f s, started in %.2f s\n",
                 Seconds(down - stopBegun), Seconds(up - startBegun));

    // Recovery: the first login accepted again, the first offline message stored again.
    std::optional<Clock::time_point> loginBack, storeBack;
    while (!loginBack && Clock::now() < up + 30s) {
        try {
            if (TryLogin(m_outageLogin.front()).first == pt::LoginAccepted) {
                loginBack = Clock::now();
                break;
            }
        } catch (const proto::NetError&) {
        }
        std::this_thread::sleep_for(50ms);
    }
    auto firstOkAfter = [](PhaseTally& tally, Clock::time_point from) {
        std::lock_guard lock(tally.samplesMutex);
        std::optional<Clock::time_point> first;
        for (const auto& [at, ok] : tally.outcomes) {
            if (ok && at >= from && (!first || at < *first)) {
                first = at;
            }
        }
        return first;
    };
    while (!(storeBack = firstOkAfter(offline, up)) && Clock::now() < up + 30s) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(2s);
    offline.stop = live.stop = true;
    offlineThread.join();
    liveThread.join();

    // What happened while the database was away: from the stop command until the first
    // message stored after the start.
    const auto awayEnd = storeBack.value_or(Clock::now());
    long awayStored = 0, awayRefused = 0, liveAwayOk = 0, liveAwayFailed = 0;
    std::optional<Clock::time_point> firstRefusal;
    for (const auto& [at, ok] : offline.outcomes) {
        if (at >= stopBegun && at < awayEnd) {
            (ok ? awayStored : awayRefused) += 1;
        }
        if (!ok && (!firstRefusal || at < *firstRefusal)) {
            firstRefusal = at;
        }
    }
    for (const auto& [at, ok] : live.outcomes) {
        if (at >= stopBegun && at < awayEnd) {
            (ok ? liveAwayOk : liveAwayFailed) += 1;
        }
    }
    const long designedStores =
        offline.failureTexts[std::string(proto::ReplyText::FailedToSendOffline)];
    const long otherStoreFailures = offline.failed.load() - designedStores;

    const long answeringAfter = AnsweringSessions();
    const long descriptorsAfter = OpenDescriptors(m_serverPid);

    // Every acknowledged offline message must reach its user, once.
    for (const auto& account : m_outageUsers) {
        m_outageSessions.push_back(std::make_unique<Session>());
        m_outageSessions.back()->account = account;
    }
    std::vector<double> logins;
    long loginFailures = 0;
    std::string firstLoginFailure;
    LoginAll(m_outageSessions, false, logins, loginFailures, firstLoginFailure);
    if (loginFailures > 0) {
        std::fprintf(stderr, "%ld outage-user logins failed (first: %s)\n", loginFailures,
                     firstLoginFailure.c_str());
    }
    HandOver(m_outageSessions);
    std::vector<Session*> fetchers;
    for (auto& session : m_outageSessions) {
        fetchers.push_back(session.get());
    }
    const long acknowledged = offline.ok.load();
    const long delivered = FetchAll(fetchers, acknowledged, 2s).first;

    Add(title, stopStatus == 0 && startStatus == 0
                   ? "stop took " + Format(2, Seconds(down - stopBegun)) + " s, start " +
                         Format(2, Seconds(up - startBegun)) + " s"
                   : "control script failed (stop " + std::to_string(stopStatus) + ", start " +
                         std::to_string(startStatus) + ")");
    Add("  sessions answering before / after",
        std::to_string(answeringBefore) + " / " + std::to_string(answeringAfter) +
            "  (server descriptors " + std::to_string(descriptorsBefore) + " / " +
            std::to_string(descriptorsAfter) + ")",
        "all kept", answeringBefore == open && answeringAfter == answeringBefore);
    Add("  live messages while away: relayed / failed",
        std::to_string(liveAwayOk) + " / " + std::to_string(liveAwayFailed) + "  (" +
            std::to_string(livePairs) + " pairs, 1000/s offered)",
        "none fail", liveAwayFailed == 0 && liveAwayOk > 0);
    Add("  offline stores while away: refused / stored",
        std::to_string(awayRefused) + " / " + std::to_string(awayStored) + "  (\"" +
            std::string(proto::ReplyText::FailedToSendOffline) +
            "\": " + std::to_string(designedStores) +
            ", other failures: " + std::to_string(otherStoreFailures) + "; first refusal " +
            SecondsText(stopBegun, firstRefusal) + " s after the stop)",
        "designed", designedStores > 0 && otherStoreFailures == 0);
    Add("  logins while away: designed refusals",
        std::to_string(awayLoginsDesigned) + " of " + std::to_string(awayLoginCount) + "  (type " +
            std::to_string(pt::LoginAuthorizationFailed) + " \"" +
            std::string(proto::ReplyText::LoginAuthorizationFailed).substr(0, 20) + "...\")",
        "designed", awayLoginCount > 0 && awayLoginsDesigned == awayLoginCount);
    Add("  offline messages acknowledged / delivered",
        std::to_string(acknowledged) + " / " + std::to_string(delivered) + "  (to " +
            std::to_string(m_outageUsers.size()) + " users after the return)",
        "equal", acknowledged > 0 && delivered == acknowledged);
    Add("  back after the start (s): store / login",
        SecondsText(up, storeBack) + " / " + SecondsText(up, loginBack));
    for (const auto& [outcome, count] : awayLogins) {
        if (outcome != designedRefusal) {
            std::fprintf(stderr, "outage: login while away: %ld x %s\n", count, outcome.c_str());
        }
    }
    for (const auto& [text, count] : offline.failureTexts) {
        std::fprintf(stderr, "outage: offline store failed %ld x \"%s\"\n", count, text.c_str());
    }
    if (!live.firstFailure.empty()) {
        std::fprintf(stderr, "outage: first live failure: %s\n", live.firstFailure.c_str());
    }
}

void LoadBench::Run() {
    const long rssStart = ServerRssKiB();
    const int outageAccounts = m_options.outage ? m_options.outageUsers + 1 : 0;
    const int total = m_options.sessions + m_options.absentUsers + outageAccounts;
    std::fprintf(stderr, "creating %d accounts ...\n", total);
    auto start = Clock::now();
    std::vector<Account> accounts;
    CreateAccounts(total, accounts);
    const double accountSeconds = Seconds(Clock::now() - start);
    std::sort(accounts.begin(), accounts.end(),
              [](const Account& a, const Account& b) { return a.userId < b.userId; });
    const auto split = std::min(accounts.size(), static_cast<std::size_t>(m_options.sessions));
    m_accounts.assign(accounts.begin(), accounts.begin() + static_cast<long>(split));
    const auto absentEnd =
        std::min(accounts.size(), split + static_cast<std::size_t>(m_options.absentUsers));
    m_absent.assign(accounts.begin() + static_cast<long>(split),
                    accounts.begin() + static_cast<long>(absentEnd));
    if (m_options.outage && accounts.size() > absentEnd + 1) {
        m_outageLogin.assign(accounts.begin() + static_cast<long>(absentEnd),
                             accounts.begin() + static_cast<long>(absentEnd) + 1);
        m_outageUsers.assign(accounts.begin() + static_cast<long>(absentEnd) + 1, accounts.end());
    }
    Add("accounts created (per s)",
        Format(0, static_cast<double>(accounts.size()) / accountSeconds) + "  (" +
            std::to_string(accounts.size()) + ")");

    for (const auto& account : m_accounts) {
        m_sessions.push_back(std::make_unique<Session>());
        m_sessions.back()->account = account;
    }
    std::this_thread::sleep_for(500ms);
    const long rssBefore = ServerRssKiB();
    std::fprintf(stderr, "logging %zu sessions in ...\n", m_sessions.size());
    std::vector<double> latencies;
    long failures = 0;
    std::string firstFailure;
    const double loginSeconds = LoginAll(m_sessions, true, latencies, failures, firstFailure);
    if (failures > 0) {
        std::fprintf(stderr, "%ld logins failed (first: %s)\n", failures, firstFailure.c_str());
    }
    HandOver(m_sessions);
    const auto loginSummary = Summarise(latencies);
    const double loginRate = static_cast<double>(latencies.size()) / loginSeconds;

    // Idle sessions settle (threads parked in their first receive) before memory is read.
    std::this_thread::sleep_for(2s);
    const long rssAfter = ServerRssKiB();
    const long held = static_cast<long>(latencies.size()) - m_totals.sessionsLost.load();
    std::string heldText = std::to_string(held) + " of " + std::to_string(m_options.sessions);
    if (m_options.sessions < m_options.requestedSessions) {
        heldText += " (" + std::to_string(m_options.requestedSessions) +
                    " asked; open-file limit " + std::to_string(OpenFileLimit()) + ")";
    }
    Add("sessions held", heldText, ">= 10000", held >= 10000);
    if (m_serverPid > 0 && held > 0) {
        const double perSession = static_cast<double>(rssAfter - rssBefore) / held;
        Add("server memory per idle session (KiB)",
            Format(1, perSession) + "  (VmRSS " + std::to_string(rssStart / 1024) + " -> " +
                std::to_string(rssBefore / 1024) + " -> " + std::to_string(rssAfter / 1024) +
                " MiB, " + std::to_string(StatusValue(m_serverPid, "Threads")) + " threads, " +
                std::to_string(OpenDescriptors(m_serverPid)) + " descriptors)",
            "<= 20", perSession <= 20.0);
    } else {
        Add("server memory per idle session (KiB)", "n/a (give --server-pid)");
    }
    Add("logins (per s)",
        Format(0, loginRate) + "  (p50 " + Format(1, loginSummary.p50) + " ms, p99 " +
            Format(1, loginSummary.p99) + " ms, " + std::to_string(m_options.loginThreads) +
            " at once)",
        // The login target is SQLite's; a MariaDB run reports the figure only.
        m_options.backend == "sqlite" ? ">= 1000" : "",
        m_options.backend == "sqlite" ? std::optional<bool>(loginRate >= 1000) : std::nullopt);

    for (int pairs : m_options.pairs) {
        std::fprintf(stderr, "live messages at %d pairs ...\n", pairs);
        LivePhase(pairs, 0);
        if (m_options.rate > 0) {
            std::fprintf(stderr, "live messages at %d pairs, %d offered per s ...\n", pairs,
                         m_options.rate);
            LivePhase(pairs, m_options.rate);
        }
    }
    std::fprintf(stderr, "offline messages ...\n");
    OfflinePhases();
    OutagePhase();

    long stillHeld = 0;
    OnWorkers([](Worker&) {});
    for (const auto& session : m_sessions) {
        stillHeld += session->request.IsOpen() ? 1 : 0;
    }
    Add("sessions still held at the end", std::to_string(stillHeld));
    if (m_totals.sessionsLost.load() > 0) {
        std::fprintf(stderr, "%ld sessions lost (first: %s)\n", m_totals.sessionsLost.load(),
                     m_totals.firstLoss.c_str());
    }
}

void LoadBench::Print() const {
    std::size_t width = 0, valueWidth = 0;
    for (const auto& row : m_rows) {
        width = std::max(width, row.figure.size());
        valueWidth = std::max(valueWidth, row.value.size());
    }
    std::printf("\n%-*s  %-*s  %-9s  %s\n", static_cast<int>(width), "Figure",
                static_cast<int>(valueWidth), "Value", "Target", "");
    std::printf("%s\n", std::string(width + valueWidth + 22, '-').c_str());
    for (const auto& row : m_rows) {
        std::printf("%-*s  %-*s  %-9s  %s\n", static_cast<int>(width), row.figure.c_str(),
                    static_cast<int>(valueWidth), row.value.c_str(), row.target.c_str(),
                    row.verdict.c_str());
    }
    std::fflush(stdout);
}

// The whole run is bounded: past --max-seconds the process ends, and the server it started
// with it (the server dies with its parent).
void ArmRunCap(int seconds) {
    std::signal(SIGALRM, [](int) {
        constexpr char text[] = "server_load_bench: time cap reached, stopping.\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text, sizeof text - 1);
        ::_exit(3);
    });
    ::alarm(static_cast<unsigned>(seconds));
}

}  // namespace

int main(int argc, char** argv) {
    auto options = ParseOptions(argc, argv);
    if (!options) {
        return argc > 1 &&
                       (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")
                   ? 0
                   : 2;
    }
    ArmRunCap(options->maxSeconds);
    proto::StartSockets();
    // The outage needs the MariaDB instance's control script and a server of our own on it.
    options->outage = options->backend == "mariadb" && options->outageSeconds > 0 &&
                      options->port == 0 && std::getenv("TALVORINE_TEST_MARIADB_CONTROL") &&
                      std::getenv("TALVORINE_TEST_MARIADB_DIR");
    if (options->backend == "mariadb" && options->outageSeconds > 0 && !options->outage) {
        std::fprintf(stderr,
                     "Warning: no database outage (it needs a server started here and "
                     "TALVORINE_TEST_MARIADB_CONTROL and _DIR).\n");
    }
    const int extraUsers = options->absentUsers + (options->outage ? options->outageUsers + 1 : 0);
    RaiseOpenFileLimit(options->sessions + extraUsers);
    // Both the generator and the server hold two descriptors per session (and a few more of
    // their own): the open-file limit caps the sessions either process can hold.
    options->requestedSessions = options->sessions;
    const long capacity = (static_cast<long>(OpenFileLimit()) - 64) / 2 - extraUsers;
    if (options->sessions > capacity) {
        std::fprintf(stderr,
                     "Warning: the open-file limit %lu (hard limit, not raisable here) allows "
                     "%ld sessions beside %d absent users; holding %ld instead of %d.\n",
                     static_cast<unsigned long>(OpenFileLimit()), capacity, extraUsers, capacity,
                     options->sessions);
        options->sessions = static_cast<int>(std::max(capacity, 2L));
    }
    try {
        std::unique_ptr<LocalServer> server;
        int port = options->port;
        int pid = options->serverPid;
        if (port == 0) {
            server = std::make_unique<LocalServer>(*options,
                                                   std::filesystem::read_symlink("/proc/self/exe"));
            server->Start();
            port = server->Port();
            pid = server->Pid();
            std::fprintf(stderr, "server %d started on 127.0.0.1:%d/%d (%s)\n", pid, port, port + 1,
                         options->backend == "mariadb" ? "MariaDB" : "SQLite");
        }
        {
            LoadBench bench(*options, port, pid);
            bench.Run();
            bench.Print();
        }
        if (server) {
            server->Stop();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "server_load_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
