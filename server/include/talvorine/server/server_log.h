#pragma once
// The server's activity log: one file per run in the "Log" folder of the server folder and,
// in console mode, the same lines on the console. Every line is of one of three kinds:
// always written, console only, or governed by one of the switches under "Log Settings".

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace talvorine::platform {
class RegistryKey;
}

namespace talvorine::server {

// The values under "Software\\Talvorine\\Messenger Server\\Log Settings", named after their
// registry value names. OlderThanDays is a number (days), every other one an on/off switch.
enum class LogSwitch : std::uint8_t {
    AutoClearLog,           // "Auto clear log"
    OlderThanDays,          // "Older than days"
    EnableLog,              // "Enable log"
    ServerStartStop,        // "Server start/stop"
    Login,                  // "Login"
    Logout,                 // "Logout"
    SendMessage,            // "Send message"
    SendOfflineMessage,     // "Send offline message through server"
    ChatRequest,            // "Chat request"
    FileTransfer,           // "File transfer"
    ApplyImportAccount,     // "Apply/Import new account ID"
    SearchForUsers,         // "Search for users"
    ViewUserInformation,    // "View user information"
    ModifyUserInformation,  // "Modify user information"
    ChangePassword,         // "Change password"
    ChangeOnlineStatus,     // "Change online status"
};
inline constexpr std::size_t LogSwitchCount = 16;

inline constexpr std::string_view ServerSettingsKey =
    "Software\\Talvorine\\Messenger Server\\Server Settings";
inline constexpr std::string_view LogSettingsKey =
    "Software\\Talvorine\\Messenger Server\\Log Settings";

struct LogSwitchInfo {
    LogSwitch id;
    std::string_view valueName;
    std::uint32_t defaultValue;
};
// All sixteen values in registry order, with their defaults.
extern const std::array<LogSwitchInfo, LogSwitchCount> LogSwitches;
const LogSwitchInfo& InfoOf(LogSwitch id);

class LogSettings {
public:
    LogSettings();  // every value at its default
    // Reads every value present under the key; a missing value keeps its default.
    static LogSettings Read(const platform::RegistryKey& key);

    std::uint32_t Value(LogSwitch id) const { return m_values[static_cast<std::size_t>(id)]; }
    bool IsOn(LogSwitch id) const { return Value(id) != 0; }
    void Set(LogSwitch id, std::uint32_t value) { m_values[static_cast<std::size_t>(id)] = value; }

private:
    std::array<std::uint32_t, LogSwitchCount> m_values{};
};

// The kind of a log call: always, console only, or governed by a switch.
class LogKind {
public:
    constexpr LogKind(LogSwitch governedBy) : m_kind(Kind::Switched), m_switch(governedBy) {}
    static constexpr LogKind Always() { return LogKind(Kind::Always); }
    static constexpr LogKind ConsoleOnly() { return LogKind(Kind::ConsoleOnly); }

    enum class Kind : std::uint8_t { Always, ConsoleOnly, Switched };
    constexpr Kind GetKind() const { return m_kind; }
    constexpr LogSwitch Switch() const { return m_switch; }

private:
    constexpr explicit LogKind(Kind kind) : m_kind(kind), m_switch(LogSwitch::EnableLog) {}
    Kind m_kind;
    LogSwitch m_switch;
};

// Whether a text ends its line. A step announcement ("Connecting to database ...") does not;
// the continuation that follows ("OK.") does.
enum class LineEnd : std::uint8_t { Yes, No };

// Longest message text of one call (longer texts are cut, never half a character).
inline constexpr std::size_t MaxLogMessage = 511;

class ServerLog {
public:
    // `console` is where console-mode lines go (stdout by default); null in service mode.
    ServerLog(std::filesystem::path serverFolder, LogSettings settings, std::FILE* console);
    ~ServerLog();
    ServerLog(const ServerLog&) = delete;
    ServerLog& operator=(const ServerLog&) = delete;

    const LogSettings& Settings() const { return m_settings; }
    bool IsOn(LogSwitch id) const { return m_settings.IsOn(id); }
    // Whether a line of `kind` would be written anywhere: callers on a busy path build the
    // line's text only then.
    bool Wants(LogKind kind) const { return ToConsole(kind) || ToFile(kind); }
    std::filesystem::path Folder() const;                   // <server folder>/Log
    std::optional<std::filesystem::path> FilePath() const;  // this run's file, once opened

    // Deletes log files named for a day at least "Older than days" days before `now`
    // (only when "Auto clear log" is on). Files that cannot be deleted are left alone.
    void ClearOldLogs(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    // Opens this run's file (only when "Enable log" is on); on failure writes the warning
    // (console only) and runs without a file.
    void OpenLogFile(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    // Closes the file under the log lock.
    void CloseLogFile();

    // With the time prefix "%Y-%m-%d %H-%M-%S ".
    void Event(LogKind kind, std::string_view text, LineEnd end = LineEnd::Yes);
    // Without the time prefix: continuations ("OK.") and error details after a step.
    void Text(LogKind kind, std::string_view text, LineEnd end = LineEnd::Yes);

    // Shorthands for whole lines with the time prefix.
    void Write(LogSwitch governedBy, std::string_view line) { Event(governedBy, line); }
    void Always(std::string_view line) { Event(LogKind::Always(), line); }
    void ConsoleOnly(std::string_view line) { Event(LogKind::ConsoleOnly(), line); }

    // "%Y-%m-%d %H-%M-%S" of a local time.
    static std::string FormatTime(std::chrono::system_clock::time_point when);

private:
    void Emit(LogKind kind, bool timePrefix, std::string_view text, LineEnd end);
    bool ToConsole(LogKind kind) const;
    bool ToFile(LogKind kind) const;

    std::filesystem::path m_serverFolder;
    LogSettings m_settings;
    std::FILE* m_console;
    mutable std::mutex m_lock;  // makes each file write whole
    int m_fd = -1;
    std::filesystem::path m_filePath;
};

}  // namespace talvorine::server
