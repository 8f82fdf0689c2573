#include "talvorine/server/server_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "talvorine/platform/registry_store.h"
#include "talvorine/platform/text.h"

namespace talvorine::server {

namespace {

// "#" stands for any one character (the "?" of a file pattern).
constexpr std::string_view FilePattern = "####-##-## ##-##-##.txt";
constexpr std::int64_t SecondsPerDay = 86400;

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    if (name.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (pattern[i] != '#' && pattern[i] != name[i]) {
            return false;
        }
    }
    return true;
}

// The local midnight of the day a log file is named for, or nullopt when the name does not
// hold a plausible date.
std::optional<std::time_t> DayOfFileName(std::string_view name) {
    std::string head(name.substr(0, 10));
    int year = 0;
    int month = 0;
    int day = 0;
    if (std::sscanf(head.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3) {
        return std::nullopt;
    }
    if (year <= 1900 || month < 1 || month > 12 || day < 1 || day > 31) {
        return std::nullopt;
    }
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_isdst = -1;
    std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return when;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

const std::array<LogSwitchInfo, LogSwitchCount> LogSwitches = {{
    {LogSwitch::AutoClearLog, "Auto clear log", 1},
    {LogSwitch::OlderThanDays, "Older than days", 30},
    {LogSwitch::EnableLog, "Enable log", 1},
    {LogSwitch::ServerStartStop, "Server start/stop", 1},
    {LogSwitch::Login, "Login", 1},
    {LogSwitch::Logout, "Logout", 1},
    {LogSwitch::SendMessage, "Send message", 0},
    {LogSwitch::SendOfflineMessage, "Send offline message through server", 0},
    {LogSwitch::ChatRequest, "Chat request", 0},
    {LogSwitch::FileTransfer, "File transfer", 0},
    {LogSwitch::ApplyImportAccount, "Apply/Import new account ID", 1},
    {LogSwitch::SearchForUsers, "Search for users", 0},
    {LogSwitch::ViewUserInformation, "View user information", 0},
    {LogSwitch::ModifyUserInformation, "Modify user information", 1},
    {LogSwitch::ChangePassword, "Change password", 1},
    {LogSwitch::ChangeOnlineStatus, "Change online status", 0},
}};

const LogSwitchInfo& InfoOf(LogSwitch id) {
    return LogSwitches[static_cast<std::size_t>(id)];
}

LogSettings::LogSettings() {
    for (const auto& info : LogSwitches) {
        Set(info.id, info.defaultValue);
    }
}

LogSettings LogSettings::Read(const platform::RegistryKey& key) {
    LogSettings settings;
    for (const auto& info : LogSwitches) {
        settings.Set(info.id, key.GetDword(info.valueName, info.defaultValue));
    }
    return settings;
}

ServerLog::ServerLog(std::filesystem::path serverFolder, LogSettings settings, std::FILE* console)
    : m_serverFolder(std::move(serverFolder)), m_settings(settings), m_console(console) {}

ServerLog::~ServerLog() {
    CloseLogFile();
}

std::filesystem::path ServerLog::Folder() const {
    return m_serverFolder / "Log";
}

std::optional<std::filesystem::path> ServerLog::FilePath() const {
    std::lock_guard lock(m_lock);
    if (m_filePath.empty()) {
        return std::nullopt;
    }
    return m_filePath;
}

std::string ServerLog::FormatTime(std::chrono::system_clock::time_point when) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d %H-%M-%S", &local);
    return std::string(text, length);
}

void ServerLog::ClearOldLogs(std::chrono::system_clock::time_point now) {
    if (!m_settings.IsOn(LogSwitch::AutoClearLog)) {
        return;
    }
    std::error_code error;
    std::filesystem::directory_iterator it(Folder(), error);
    if (error) {
        return;  // no Log folder yet: nothing to clear
    }
    std::time_t nowSeconds = std::chrono::system_clock::to_time_t(now);
    auto limit = static_cast<std::int64_t>(m_settings.Value(LogSwitch::OlderThanDays));
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (!MatchesPattern(name, FilePattern) || !entry.is_regular_file(error)) {
            continue;
        }
        auto day = DayOfFileName(name);
        if (!day) {
            continue;
        }
        std::int64_t age = (static_cast<std::int64_t>(nowSeconds) - *day) / SecondsPerDay;
        if (age >= limit) {
            std::filesystem::remove(entry.path(), error);  // a file in use stays
        }
    }
}

void ServerLog::OpenLogFile(std::chrono::system_clock::time_point now) {
    if (!m_settings.IsOn(LogSwitch::EnableLog)) {
        return;
    }
    std::filesystem::path file = Folder() / (FormatTime(now) + ".txt");
    std::error_code error;
    std::filesystem::create_directories(Folder(), error);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::string reason = std::strerror(errno);
        ConsoleOnly("Warning: Failed to open log file " + file.string() + ". (" + reason + ")");
        return;
    }
    std::lock_guard lock(m_lock);
    m_fd = fd;
    m_filePath = file;
}

void ServerLog::CloseLogFile() {
    std::lock_guard lock(m_lock);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void ServerLog::Event(LogKind kind, std::string_view text, LineEnd end) {
    Emit(kind, true, text, end);
}

void ServerLog::Text(LogKind kind, std::string_view text, LineEnd end) {
    Emit(kind, false, text, end);
}

bool ServerLog::ToConsole(LogKind kind) const {
    if (m_console == nullptr) {
        return false;
    }
    if (kind.GetKind() != LogKind::Kind::Switched) {
        return true;
    }
    switch (kind.Switch()) {
        case LogSwitch::ServerStartStop:
        case LogSwitch::Login:
        case LogSwitch::Logout:
            return true;  // the console always shows the server's life and its users' sessions
        default:
            return m_settings.IsOn(kind.Switch());
    }
}

bool ServerLog::ToFile(LogKind kind) const {
    switch (kind.GetKind()) {
        case LogKind::Kind::Always:
            return true;
        case LogKind::Kind::ConsoleOnly:
            return false;
        case LogKind::Kind::Switched:
            return m_settings.IsOn(kind.Switch());
    }
    return false;
}

void ServerLog::Emit(LogKind kind, bool timePrefix, std::string_view text, LineEnd end) {
    bool console = ToConsole(kind);
    bool file = ToFile(kind);
    if (!console && !file) {
        return;
    }
    std::string message;
    if (timePrefix) {
        message = FormatTime(std::chrono::system_clock::now()) + " ";
    }
    message += platform::CutUtf8(text, MaxLogMessage);
    // The file first: whoever sees a line on the console finds it in the file already.
    if (file) {
        std::string line = message + (end == LineEnd::Yes ? "\r\n" : "");
        std::lock_guard lock(m_lock);
        if (m_fd >= 0) {
            WriteAll(m_fd, line);
        }
    }
    if (console) {
        // One write per call keeps a line whole on the console.
        std::string shown = message + (end == LineEnd::Yes ? "\n" : "");
        std::fwrite(shown.data(), 1, shown.size(), m_console);
        std::fflush(m_console);
    }
}

}  // namespace talvorine::server
