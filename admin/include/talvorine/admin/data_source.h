#pragma once
// The server's ODBC data source as the data source dialog edits it, through unixODBC's
// installer library (libodbcinst), loaded at run time as the platform's data source
// administrator is: SQLGetPrivateProfileString and SQLWritePrivateProfileString on the user's
// data-source file ($ODBCINI, else ~/.odbc.ini). Keys the dialog does not know are kept.

#include <memory>
#include <string>
#include <string_view>

namespace talvorine::admin {

inline constexpr std::string_view OdbcInstallerLibrary = "libodbcinst.so.2";
inline constexpr std::string_view OdbcInstallerErrorCaption = "ODBC Installer Error";
inline constexpr std::string_view OdbcInstallerErrorText =
    "The ODBC installer DLL (ODBCCP32.DLL) is not installed on this system.";

class OdbcInstaller {
public:
    // nullptr when the library or one of its functions cannot be loaded.
    static std::unique_ptr<OdbcInstaller> Load(std::string_view library = OdbcInstallerLibrary);
    ~OdbcInstaller();
    OdbcInstaller(const OdbcInstaller&) = delete;
    OdbcInstaller& operator=(const OdbcInstaller&) = delete;

    std::string Get(std::string_view section, std::string_view key);
    // False when the installer refused (its error text in LastError()).
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    const std::string& LastError() const { return m_lastError; }

private:
    OdbcInstaller() = default;
    void* m_library = nullptr;
    int (*m_get)(const char*, const char*, const char*, char*, int, const char*) = nullptr;
    int (*m_write)(const char*, const char*, const char*, const char*) = nullptr;
    int (*m_error)(unsigned short, unsigned int*, char*, unsigned short, unsigned short*) = nullptr;
    std::string m_lastError;
};

enum class DataSourceDriver { Sqlite, MariaDb };

struct DataSource {
    DataSourceDriver driver = DataSourceDriver::Sqlite;
    std::string driverValue;  // the "Driver" line as found ("" for a new data source)
    std::string database;     // SQLite: the database file; MariaDB: the database name
    std::string server;
    std::string port;
    std::string user;
    std::string password;
};

DataSource ReadDataSource(OdbcInstaller& installer, std::string_view name);
// The text that refuses the values ("" when they can be written): a name, a database, and
// for MariaDB a server, a port from 1 to 65535 when given; no line breaks anywhere.
std::string CheckDataSource(std::string_view name, const DataSource& source);
// Writes the data source; "" on success, else the installer's text.
std::string WriteDataSource(OdbcInstaller& installer, std::string_view name,
                            const DataSource& source);

}  // namespace talvorine::admin
