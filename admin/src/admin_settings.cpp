#include "talvorine/admin/admin_settings.h"

#include <cstdlib>
#include <vector>

#include "talvorine/platform/program_folders.h"
#include "talvorine/platform/registry_store.h"

namespace talvorine::admin {

namespace {

using platform::Hive;
using platform::RegistryChange;
using platform::RegistryKey;
using platform::RegistryValue;
using platform::RegistryValueType;

constexpr std::string_view ServiceStateFolder = "/var/lib/talvorine-messenger-server";
constexpr std::string_view ServerProgramName = "TalvorineMessengerServer";

RegistryValue Dword(std::uint32_t value) {
    RegistryValue v;
    v.type = RegistryValueType::Dword;
    v.number = value;
    return v;
}

RegistryValue Text(std::string_view value) {
    RegistryValue v;
    v.type = RegistryValueType::String;
    v.text = std::string(value);
    return v;
}

}  // namespace

const std::array<LogValueInfo, LogValueCount> LogValues = {{
    {"Enable log", 1},
    {"Auto clear log", 1},
    {"Older than days", 30},
    {"Server start/stop", 1},
    {"Login", 1},
    {"Logout", 1},
    {"Send message", 0},
    {"Send offline message through server", 0},
    {"Chat request", 0},
    {"File transfer", 0},
    {"Apply/Import new account ID", 1},
    {"Search for users", 0},
    {"View user information", 0},
    {"Modify user information", 1},
    {"Change password", 1},
    {"Change online status", 0},
}};

const std::array<std::string_view, EventCount> EventLabels = {
    "Server start/stop ",
    "Login",
    "Logout",
    "Send message",
    "Send offline message through server",
    "Chat request",
    "File transfer",
    "Apply/Import new account ID",
    "Search for users",
    "View user information",
    "Modify user information",
    "Change password",
    "Change online status",
};

ServerSettings::ServerSettings() {
    for (std::size_t i = 0; i < LogValueCount; ++i) {
        log[i] = LogValues[i].initial;
    }
}

ServerSettings ServerSettings::Load() {
    ServerSettings s;
    if (auto key = RegistryKey::Open(Hive::LocalMachine, RunningAsKey)) {
        s.runsAsService = key->GetDword("Service", 0) == 1;
    }
    if (auto key = RegistryKey::Open(Hive::LocalMachine, ProgramPathKey)) {
        s.programPath = key->GetString("Path", "");
    }
    if (auto key = RegistryKey::Open(Hive::LocalMachine, ServerSettingsKey)) {
        s.port = key->GetDword("Port", s.port);
        s.dataSourceName = key->GetString("DSN", s.dataSourceName);
    }
    if (auto key = RegistryKey::Open(Hive::LocalMachine, LogSettingsKey)) {
        for (std::size_t i = 0; i < LogValueCount; ++i) {
            s.log[i] = key->GetDword(LogValues[i].name, s.log[i]);
        }
    }
    return s;
}

std::string ServerSettings::Validate() const {
    if (port < 1 || port > HighestPort) {
        return std::string(PortRangeText);
    }
    if (log[OlderThanDays] < 1) {
        return std::string(OlderThanDaysText);
    }
    return {};
}

std::string ServerSettings::Save() const {
    std::vector<RegistryChange> changes;
    changes.push_back({std::string(ServerSettingsKey), "Port", Dword(port)});
    changes.push_back({std::string(ServerSettingsKey), "DSN", Text(dataSourceName)});
    for (std::size_t i = 0; i < LogValueCount; ++i) {
        changes.push_back(
            {std::string(LogSettingsKey), std::string(LogValues[i].name), Dword(log[i])});
    }
    try {
        platform::RegistryStore::ForHive(Hive::LocalMachine).SetValues(changes);
        return {};
    } catch (const platform::RegistryError& e) {
        return e.what();
    }
}

std::filesystem::path ServerSettings::ServerProgram() const {
    std::filesystem::path folder =
        programPath.empty() ? platform::ExecutableFolder() : std::filesystem::path(programPath);
    return folder / ServerProgramName;
}

std::filesystem::path ServerSettings::ServerFolder() const {
    const char* home = std::getenv("TALVORINE_SERVER_HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    if (runsAsService) {
        return std::filesystem::path(ServiceStateFolder);
    }
    return ServerProgram().parent_path();
}

std::array<int, 6> LoadColumnWidths(const std::array<int, 6>& defaults) {
    std::array<int, 6> widths = defaults;
    if (auto key = RegistryKey::Open(Hive::CurrentUser, ColumnWidthKey)) {
        for (std::size_t i = 0; i < widths.size(); ++i) {
            std::uint32_t value = key->GetDword(std::to_string(i), 0);
            // A width no list could show is a damaged value, not a choice.
            if (value >= 1 && value <= 10000) {
                widths[i] = static_cast<int>(value);
            }
        }
    }
    return widths;
}

std::string SaveColumnWidths(const std::array<int, 6>& widths) {
    std::vector<RegistryChange> changes;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        changes.push_back({std::string(ColumnWidthKey), std::to_string(i),
                           Dword(static_cast<std::uint32_t>(std::max(widths[i], 0)))});
    }
    try {
        platform::RegistryStore::ForHive(Hive::CurrentUser).SetValues(changes);
        return {};
    } catch (const platform::RegistryError& e) {
        return e.what();
    }
}

std::string StopEventName() {
    const char* name = std::getenv("TALVORINE_STOP_EVENT");
    return name != nullptr && *name != '\0' ? std::string(name)
                                            : std::string("Talvorine Messenger Server Stop Event");
}

}  // namespace talvorine::admin
