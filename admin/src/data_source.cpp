#include "talvorine/admin/data_source.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace talvorine::admin {

namespace {

constexpr const char* OdbcIni = "odbc.ini";
constexpr int UserDataSources = 1;  // ODBC_USER_DSN

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The driver line for a newly chosen driver: its library where Debian installs it, else the
// name registered in odbcinst.ini.
std::string DriverLine(DataSourceDriver driver) {
    const char* library = driver == DataSourceDriver::Sqlite
                              ? "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"
                              : "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so";
    std::error_code error;
    if (std::filesystem::exists(library, error)) {
        return library;
    }
    return driver == DataSourceDriver::Sqlite ? "SQLite3" : "MariaDB Unicode";
}

DataSourceDriver DriverOf(std::string_view line) {
    std::string lower = Lower(line);
    return lower.find("maodbc") != std::string::npos ||
                   lower.find("mariadb") != std::string::npos ||
                   lower.find("mysql") != std::string::npos
               ? DataSourceDriver::MariaDb
               : DataSourceDriver::Sqlite;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::unique_ptr<OdbcInstaller> OdbcInstaller::Load(std::string_view library) {
    std::unique_ptr<OdbcInstaller> installer(new OdbcInstaller);
    installer->m_library = ::dlopen(std::string(library).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (installer->m_library == nullptr) {
        return nullptr;
    }
    installer->m_get = reinterpret_cast<decltype(m_get)>(
        ::dlsym(installer->m_library, "SQLGetPrivateProfileString"));
    installer->m_write = reinterpret_cast<decltype(m_write)>(
        ::dlsym(installer->m_library, "SQLWritePrivateProfileString"));
    installer->m_error =
        reinterpret_cast<decltype(m_error)>(::dlsym(installer->m_library, "SQLInstallerError"));
    auto setMode = reinterpret_cast<int (*)(unsigned short)>(
        ::dlsym(installer->m_library, "SQLSetConfigMode"));
    if (installer->m_get == nullptr || installer->m_write == nullptr || setMode == nullptr) {
        return nullptr;
    }
    setMode(UserDataSources);
    return installer;
}

OdbcInstaller::~OdbcInstaller() {
    if (m_library != nullptr) {
        ::dlclose(m_library);
    }
}

std::string OdbcInstaller::Get(std::string_view section, std::string_view key) {
    std::vector<char> buffer(1024, '\0');
    int length = m_get(std::string(section).c_str(), std::string(key).c_str(), "", buffer.data(),
                       static_cast<int>(buffer.size()), OdbcIni);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer.data(),
                       std::min<std::size_t>(std::strlen(buffer.data()), buffer.size()));
}

bool OdbcInstaller::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (m_write(std::string(section).c_str(), std::string(key).c_str(), std::string(value).c_str(),
                OdbcIni) != 0) {
        m_lastError.clear();
        return true;
    }
    m_lastError = "The data source could not be written.";
    if (m_error != nullptr) {
        unsigned int code = 0;
        char message[512] = {};
        unsigned short length = 0;
        if (m_error(1, &code, message, sizeof(message), &length) == 0 && message[0] != '\0') {
            m_lastError = message;
        }
    }
    return false;
}

DataSource ReadDataSource(OdbcInstaller& installer, std::string_view name) {
    DataSource source;
    source.driverValue = installer.Get(name, "Driver");
    source.driver = DriverOf(source.driverValue);
    source.database = installer.Get(name, "Database");
    source.server = installer.Get(name, "Server");
    source.port = installer.Get(name, "Port");
    source.user = installer.Get(name, "User");
    source.password = installer.Get(name, "Password");
    return source;
}

std::string CheckDataSource(std::string_view name, const DataSource& source) {
    if (name.empty() || name.find_first_of("[];{}=") != std::string_view::npos) {
        return "Please enter a data source name (without the characters [ ] ; { } =).";
    }
    for (std::string_view value :
         {name, std::string_view(source.database), std::string_view(source.server),
          std::string_view(source.port), std::string_view(source.user),
          std::string_view(source.password)}) {
        if (HasLineBreak(value)) {
            return "A data source value cannot hold a line break.";
        }
    }
    if (source.database.empty()) {
        return source.driver == DataSourceDriver::Sqlite ? "Please enter the database file."
                                                         : "Please enter the database name.";
    }
    if (source.driver == DataSourceDriver::MariaDb) {
        if (source.server.empty()) {
            return "Please enter the database server.";
        }
        if (!source.port.empty()) {
            unsigned port = 0;
            auto [end, error] =
                std::from_chars(source.port.data(), source.port.data() + source.port.size(), port);
            if (error != std::errc() || end != source.port.data() + source.port.size() ||
                port < 1 || port > 65535) {
                return "The port must be a number from 1 to 65535.";
            }
        }
    }
    return {};
}

std::string WriteDataSource(OdbcInstaller& installer, std::string_view name,
                            const DataSource& source) {
    std::string driverLine =
        !source.driverValue.empty() && DriverOf(source.driverValue) == source.driver
            ? source.driverValue
            : DriverLine(source.driver);
    std::vector<std::pair<std::string_view, std::string_view>> lines = {
        {"Driver", driverLine}, {"Database", source.database}};
    if (source.driver == DataSourceDriver::MariaDb) {
        lines.insert(lines.end(), {{"Server", source.server},
                                   {"Port", source.port},
                                   {"User", source.user},
                                   {"Password", source.password}});
    }
    for (const auto& [key, value] : lines) {
        if (!installer.Set(name, key, value)) {
            return installer.LastError();
        }
    }
    if (!source.password.empty()) {
        // The file now holds a password: readable by its owner only.
        const char* file = std::getenv("ODBCINI");
        const char* home = std::getenv("HOME");
        std::filesystem::path path =
            file != nullptr && *file != '\0'
                ? std::filesystem::path(file)
                : std::filesystem::path(home != nullptr ? home : ".") / ".odbc.ini";
        std::error_code error;
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
    }
    // The driver manager lists user data sources under [ODBC Data Sources].
    installer.Set("ODBC Data Sources", name,
                  source.driver == DataSourceDriver::Sqlite ? "SQLite3" : "MariaDB");
    return {};
}

}  // namespace talvorine::admin
