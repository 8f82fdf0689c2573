#pragma once
// The administration program's settings record: the server's settings and log switches in the
// machine hive (shared with the server), loaded once at start and written only when the sheet
// closes with OK; and the program's own profile (the user list's column widths) in the user
// hive under the maker key.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvorine::admin {

inline constexpr std::string_view ServerSettingsKey =
    "software\\Talvorine\\Messenger Server\\Server Settings";
inline constexpr std::string_view LogSettingsKey =
    "software\\Talvorine\\Messenger Server\\Log Settings";
inline constexpr std::string_view RunningAsKey = "software\\Talvorine\\Messenger Server\\RunningAS";
inline constexpr std::string_view ProgramPathKey =
    "software\\Talvorine\\Messenger Server\\Program Path";
// The program's profile: the maker key "Talvorine", then the program's name.
inline constexpr std::string_view ColumnWidthKey =
    "Software\\Talvorine\\TalvorMessengerAdmin\\Column Width";

inline constexpr std::string_view DefaultDataSourceName = "Talvorine Messenger Server";
inline constexpr std::uint32_t DefaultPort = 8000;
// The account port is the port + 1, so both must be 16-bit port numbers.
inline constexpr std::uint32_t HighestPort = 65534;

// The 16 values of "Log Settings" in the order the record keeps them: the three switches of
// the log page, then the 13 events in the order of its check list.
inline constexpr std::size_t LogValueCount = 16;
inline constexpr std::size_t EnableLog = 0, AutoClearLog = 1, OlderThanDays = 2, FirstEvent = 3;
inline constexpr std::size_t EventCount = 13;
struct LogValueInfo {
    std::string_view name;
    std::uint32_t initial;
};
extern const std::array<LogValueInfo, LogValueCount> LogValues;
// The check list's texts (the first with its trailing space).
extern const std::array<std::string_view, EventCount> EventLabels;

struct ServerSettings {
    bool runsAsService = false;  // "RunningAS"/"Service" = 1 (read only)
    std::string programPath;     // "Program Path"/"Path" (read only)
    std::uint32_t port = DefaultPort;
    std::string dataSourceName{DefaultDataSourceName};
    std::array<std::uint32_t, LogValueCount> log{};

    ServerSettings();  // the initial values

    // Reads every value present; a missing value keeps its initial value.
    static ServerSettings Load();
    // Writes "Port", "DSN" and the 16 log values in one change of the machine hive. Returns
    // the failure text ("" on success): writing the machine hive needs the right to.
    std::string Save() const;

    // The text that refuses a port outside 1..65534 or a day count below 1; "" when valid.
    std::string Validate() const;

    // The server program this record names: "Path" + "/TalvorineMessengerServer"; with no
    // "Path", the one beside this program.
    std::filesystem::path ServerProgram() const;
    // The server's folder, whose "Log" folder holds its log files: $TALVORINE_SERVER_HOME when
    // set, the service's state folder in service form, else the program's folder.
    std::filesystem::path ServerFolder() const;
};

inline constexpr std::string_view PortRangeText =
    "The port must be a number from 1 to 65534 (the server also listens on the port after it).";
inline constexpr std::string_view OlderThanDaysText =
    "Auto clear log files older than: the number of days must be at least 1.";

// Column widths of the user list ("0" to "5"); a missing or unusable one gives its default.
std::array<int, 6> LoadColumnWidths(const std::array<int, 6>& defaults);
// "" on success, else the failure text.
std::string SaveColumnWidths(const std::array<int, 6>& widths);

// The stop event's name: $TALVORINE_STOP_EVENT when set (as the server reads it), else
// "Talvorine Messenger Server Stop Event".
std::string StopEventName();

}  // namespace talvorine::admin
