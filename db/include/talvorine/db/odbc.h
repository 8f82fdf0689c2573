#pragma once
// A small RAII layer over the ODBC call-level interface (unixODBC): an environment, a
// connection by data source name that can reconnect, and statements executed directly with
// bound parameters whose forward-only result rows are read column by column as text.
// Every failure raises OdbcError with the driver's diagnostics collected into one text.

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace talvorine::db {

struct Diagnostic {
    std::string sqlState;  // five characters, e.g. "08S01"
    std::int32_t nativeError = 0;
    std::string message;
};

class OdbcError : public std::runtime_error {
public:
    OdbcError(std::string text, std::vector<Diagnostic> diagnostics);
    const std::vector<Diagnostic>& Diagnostics() const { return m_diagnostics; }
    // The first SQLSTATE, or empty.
    std::string SqlState() const;
    // True when the link to the database is gone: SQLSTATE class "08", or a MariaDB/MySQL
    // client error for a lost or refused link (2002, 2003, 2006, 2013, 2055) or a killed
    // connection (1927) reported under another state.
    bool IsConnectionLost() const;

private:
    std::vector<Diagnostic> m_diagnostics;
};

// Every diagnostic record of a handle ("[state] message" joined by "; " in ErrorText).
std::vector<Diagnostic> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
std::string DiagnosticsText(const std::vector<Diagnostic>& diagnostics);

// Doubles each single quote, as a literal inside '...' needs it.
std::string QuoteLiteral(std::string_view text);
// The text without trailing blanks, tabs, carriage returns and line feeds.
std::string_view TrimTrailing(std::string_view text);

// One owned ODBC handle of any type; freed when destroyed.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent);  // allocates; throws OdbcError
    Handle(Handle&& other) noexcept;
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle();

    SQLHANDLE Get() const { return m_handle; }
    SQLSMALLINT Type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
    void Reset();

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// The ODBC 3 environment. One per process is enough; connections keep a reference to it.
class Environment {
public:
    Environment();
    SQLHENV Get() const { return m_handle.Get(); }

private:
    Handle m_handle;
};

// A parameter value: text (bound as SQL_C_CHAR / SQL_VARCHAR), a 64-bit integer, or NULL.
using Parameter = std::variant<std::monostate, std::string_view, std::int64_t>;

class Connection;

// One statement handle. ExecDirect binds the parameters for "?" markers in order, executes,
// and leaves a result set (if any) open for Fetch. Not thread-safe; one thread at a time.
class Statement {
public:
    explicit Statement(Connection& connection);

    // Throws OdbcError.
    void ExecDirect(std::string_view sql, std::span<const Parameter> parameters = {});
    void ExecDirect(std::string_view sql, std::initializer_list<Parameter> parameters) {
        ExecDirect(sql, std::span<const Parameter>(parameters.begin(), parameters.size()));
    }

    // Rows changed by the last INSERT/UPDATE/DELETE (-1 when the driver cannot tell).
    std::int64_t RowCount() const;

    // Result columns of the open result set.
    int ColumnCount() const;
    std::string ColumnName(int index) const;  // 0-based
    // 0-based index of a column, compared without regard to case; nullopt when absent.
    std::optional<int> FindColumn(std::string_view name) const;

    // Moves to the next row and reads all its columns as text; false after the last row.
    bool Fetch();
    // The current row's value; nullopt for NULL.
    const std::optional<std::string>& Value(int index) const;
    // The value as text, NULL as empty; throws std::out_of_range for an unknown name.
    std::string Text(std::string_view columnName) const;

    void CloseCursor();

private:
    void Check(SQLRETURN rc, std::string_view what) const;
    std::string ReadColumn(int column, bool& isNull) const;

    Connection* m_connection;
    Handle m_handle;
    std::vector<std::string> m_columnNames;
    std::vector<std::optional<std::string>> m_row;
    bool m_cursorOpen = false;
};

class Connection {
public:
    explicit Connection(Environment& environment);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // "DSN=<name>;UID=<user>;PWD=<password>". Throws OdbcError; the text is also kept.
    void ConnectDsn(std::string_view dataSourceName, std::string_view user = {},
                    std::string_view password = {});
    // Any connection string (SQLDriverConnect without prompting).
    void Connect(std::string_view connectionString);
    // Drops the link and connects again with the last connection string.
    void Reconnect();
    void Disconnect();
    bool IsConnected() const { return m_connected; }
    // Asks the driver whether the link is gone (SQL_ATTR_CONNECTION_DEAD; the MariaDB driver
    // pings the server). True when not connected; false when the driver cannot tell.
    bool IsDead() const;
    // Seconds a connect may take before it fails (0: the driver's default). Applies to the
    // next Connect.
    void SetLoginTimeout(unsigned seconds) { m_loginTimeout = seconds; }

    // SQLGetInfo texts of the open connection: the database product ("MariaDB", "SQLite")
    // and the driver's file name.
    std::string DbmsName() const;
    std::string DriverName() const;

    // The text of the last failure on this connection or its statements ("" when none).
    const std::string& LastDiagnostic() const { return m_lastDiagnostic; }
    void SetLastDiagnostic(std::string text) { m_lastDiagnostic = std::move(text); }

    // A statement without parameters or results (DDL, PRAGMA); returns the row count.
    std::int64_t Execute(std::string_view sql, std::span<const Parameter> parameters = {});

    SQLHDBC Get() const { return m_handle.Get(); }

private:
    Environment& m_environment;
    Handle m_handle;
    std::string m_connectionString;
    std::string m_lastDiagnostic;
    unsigned m_loginTimeout = 0;
    bool m_connected = false;
};

}  // namespace talvorine::db
