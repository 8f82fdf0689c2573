#include "talvorine/db/odbc.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace talvorine::db {

namespace {

bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

OdbcError MakeError(std::string_view what, SQLSMALLINT type, SQLHANDLE handle) {
    auto diagnostics = CollectDiagnostics(type, handle);
    std::string text = DiagnosticsText(diagnostics);
    if (text.empty()) {
        text = std::string(what) + " failed";
    }
    return OdbcError(std::move(text), std::move(diagnostics));
}

[[noreturn]] void Throw(std::string_view what, SQLSMALLINT type, SQLHANDLE handle) {
    throw MakeError(what, type, handle);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

OdbcError::OdbcError(std::string text, std::vector<Diagnostic> diagnostics)
    : std::runtime_error(std::move(text)), m_diagnostics(std::move(diagnostics)) {}

std::string OdbcError::SqlState() const {
    return m_diagnostics.empty() ? std::string() : m_diagnostics.front().sqlState;
}

bool OdbcError::IsConnectionLost() const {
    // MariaDB Connector/C: 2002/2003 cannot connect, 2006 server gone away, 2013 and 2055
    // lost during a query; server error 1927 connection killed.
    static constexpr std::int32_t LinkErrors[] = {2002, 2003, 2006, 2013, 2055, 1927};
    return std::ranges::any_of(m_diagnostics, [](const Diagnostic& d) {
        return d.sqlState.starts_with("08") ||
               std::ranges::find(LinkErrors, d.nativeError) != std::end(LinkErrors);
    });
}

std::vector<Diagnostic> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<Diagnostic> result;
    if (handle == SQL_NULL_HANDLE) {
        return result;
    }
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message,
                                     sizeof(message), &length);
        if (!Succeeded(rc)) {
            break;
        }
        std::size_t used =
            std::min<std::size_t>(std::max<SQLSMALLINT>(length, 0), sizeof(message) - 1);
        result.push_back({reinterpret_cast<const char*>(state), native,
                          std::string(reinterpret_cast<const char*>(message), used)});
    }
    return result;
}

std::string DiagnosticsText(const std::vector<Diagnostic>& diagnostics) {
    std::string text;
    for (const auto& d : diagnostics) {
        if (!text.empty()) {
            text += "; ";
        }
        text += d.message.empty() ? "[" + d.sqlState + "]" : d.message;
    }
    return text;
}

std::string QuoteLiteral(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out;
}

std::string_view TrimTrailing(std::string_view text) {
    auto end = text.find_last_not_of(" \t\r\n");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// ---------------------------------------------------------------------------------- Handle

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
    SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!Succeeded(rc)) {
        m_handle = SQL_NULL_HANDLE;
        SQLSMALLINT parentType = type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
        Throw("SQLAllocHandle", parentType, parent);
    }
}

Handle::Handle(Handle&& other) noexcept
    : m_type(other.m_type), m_handle(std::exchange(other.m_handle, SQLHANDLE{})) {}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        Reset();
        m_type = other.m_type;
        m_handle = std::exchange(other.m_handle, SQLHANDLE{});
    }
    return *this;
}

Handle::~Handle() {
    Reset();
}

void Handle::Reset() {
    if (m_handle != SQL_NULL_HANDLE) {
        SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
}

// ----------------------------------------------------------------------------- Environment

Environment::Environment() : m_handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    SQLRETURN rc = SQLSetEnvAttr(m_handle.Get(), SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Succeeded(rc)) {
        Throw("SQLSetEnvAttr", SQL_HANDLE_ENV, m_handle.Get());
    }
}

// ------------------------------------------------------------------------------ Connection

Connection::Connection(Environment& environment) : m_environment(environment) {}

Connection::~Connection() {
    Disconnect();
}

void Connection::ConnectDsn(std::string_view dataSourceName, std::string_view user,
                            std::string_view password) {
    std::string text = "DSN=";
    text += dataSourceName;
    text += ";UID=";
    text += user;
    text += ";PWD=";
    text += password;
    Connect(text);
}

void Connection::Connect(std::string_view connectionString) {
    Disconnect();
    m_connectionString = std::string(connectionString);
    m_handle = Handle(SQL_HANDLE_DBC, m_environment.Get());
    if (m_loginTimeout > 0) {
        SQLSetConnectAttr(m_handle.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_loginTimeout)), 0);
    }
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    std::string in = m_connectionString;
    SQLRETURN rc = SQLDriverConnect(m_handle.Get(), nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                    static_cast<SQLSMALLINT>(in.size()), out, sizeof(out),
                                    &outLength, SQL_DRIVER_NOPROMPT);
    if (!Succeeded(rc)) {
        auto diagnostics = CollectDiagnostics(SQL_HANDLE_DBC, m_handle.Get());
        m_lastDiagnostic = DiagnosticsText(diagnostics);
        if (m_lastDiagnostic.empty()) {
            m_lastDiagnostic = "SQLDriverConnect failed";
        }
        m_handle.Reset();
        throw OdbcError(m_lastDiagnostic, std::move(diagnostics));
    }
    m_connected = true;
    m_lastDiagnostic.clear();
}

void Connection::Reconnect() {
    std::string text = m_connectionString;
    Connect(text);
}

void Connection::Disconnect() {
    if (m_connected) {
        SQLDisconnect(m_handle.Get());
        m_connected = false;
    }
    m_handle.Reset();
}

bool Connection::IsDead() const {
    if (!m_connected) {
        return true;
    }
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLRETURN rc = SQLGetConnectAttr(m_handle.Get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return Succeeded(rc) && dead == SQL_CD_TRUE;
}

namespace {

std::string InfoText(SQLHDBC handle, SQLUSMALLINT type) {
    SQLCHAR text[256] = {};
    SQLSMALLINT length = 0;
    if (!Succeeded(SQLGetInfo(handle, type, text, sizeof(text), &length))) {
        return {};
    }
    return reinterpret_cast<const char*>(text);
}

}  // namespace

std::string Connection::DbmsName() const {
    return m_connected ? InfoText(m_handle.Get(), SQL_DBMS_NAME) : std::string();
}

std::string Connection::DriverName() const {
    return m_connected ? InfoText(m_handle.Get(), SQL_DRIVER_NAME) : std::string();
}

std::int64_t Connection::Execute(std::string_view sql, std::span<const Parameter> parameters) {
    Statement statement(*this);
    statement.ExecDirect(sql, parameters);
    return statement.RowCount();
}

// ------------------------------------------------------------------------------- Statement

Statement::Statement(Connection& connection) : m_connection(&connection) {
    if (!connection.IsConnected()) {
        // 08003: connection not open, so callers see a lost link and may connect again.
        std::string text = "not connected to the database";
        connection.SetLastDiagnostic(text);
        throw OdbcError(text, {{"08003", 0, text}});
    }
    try {
        m_handle = Handle(SQL_HANDLE_STMT, connection.Get());
    } catch (const OdbcError& error) {
        connection.SetLastDiagnostic(error.what());
        throw;
    }
}

void Statement::Check(SQLRETURN rc, std::string_view what) const {
    if (!Succeeded(rc)) {
        OdbcError error = MakeError(what, SQL_HANDLE_STMT, m_handle.Get());
        m_connection->SetLastDiagnostic(error.what());
        throw error;
    }
}

void Statement::ExecDirect(std::string_view sql, std::span<const Parameter> parameters) {
    CloseCursor();
    SQLFreeStmt(m_handle.Get(), SQL_RESET_PARAMS);
    m_columnNames.clear();
    m_row.clear();

    // Buffers stay alive until SQLExecDirect returns.
    std::vector<SQLLEN> indicators(parameters.size());
    std::vector<std::int64_t> integers(parameters.size());
    static char emptyText = '\0';
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        auto number = static_cast<SQLUSMALLINT>(i + 1);
        const Parameter& p = parameters[i];
        SQLRETURN rc;
        if (const auto* text = std::get_if<std::string_view>(&p)) {
            indicators[i] = static_cast<SQLLEN>(text->size());
            auto* data = text->empty() ? &emptyText : const_cast<char*>(text->data());
            rc = SQLBindParameter(m_handle.Get(), number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  std::max<SQLULEN>(text->size(), 1), 0, data,
                                  static_cast<SQLLEN>(text->size()), &indicators[i]);
        } else if (const auto* value = std::get_if<std::int64_t>(&p)) {
            integers[i] = *value;
            indicators[i] = 0;
            rc = SQLBindParameter(m_handle.Get(), number, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                                  SQL_BIGINT, 0, 0, &integers[i], 0, &indicators[i]);
        } else {
            indicators[i] = SQL_NULL_DATA;
            rc = SQLBindParameter(m_handle.Get(), number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  1, 0, &emptyText, 0, &indicators[i]);
        }
        Check(rc, "SQLBindParameter");
    }

    std::string text(sql);
    SQLRETURN rc = SQLExecDirect(m_handle.Get(), reinterpret_cast<SQLCHAR*>(text.data()),
                                 static_cast<SQLINTEGER>(text.size()));
    if (rc == SQL_NO_DATA) {
        SQLFreeStmt(m_handle.Get(), SQL_RESET_PARAMS);
        return;  // a searched UPDATE/DELETE that touched no row
    }
    Check(rc, "SQLExecDirect");  // before any other call clears the diagnostics
    SQLFreeStmt(m_handle.Get(), SQL_RESET_PARAMS);

    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(m_handle.Get(), &columns), "SQLNumResultCols");
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
        SQLCHAR name[256] = {};
        SQLSMALLINT nameLength = 0;
        Check(SQLColAttribute(m_handle.Get(), static_cast<SQLUSMALLINT>(c), SQL_DESC_LABEL, name,
                              sizeof(name), &nameLength, nullptr),
              "SQLColAttribute");
        m_columnNames.emplace_back(reinterpret_cast<const char*>(name));
    }
    m_cursorOpen = columns > 0;
}

std::int64_t Statement::RowCount() const {
    SQLLEN count = -1;
    if (!Succeeded(SQLRowCount(m_handle.Get(), &count))) {
        return -1;
    }
    return count;
}

int Statement::ColumnCount() const {
    return static_cast<int>(m_columnNames.size());
}

std::string Statement::ColumnName(int index) const {
    return m_columnNames.at(index);
}

std::optional<int> Statement::FindColumn(std::string_view name) const {
    for (std::size_t i = 0; i < m_columnNames.size(); ++i) {
        if (EqualsNoCase(m_columnNames[i], name)) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::string Statement::ReadColumn(int column, bool& isNull) const {
    std::string value;
    isNull = false;
    char buffer[4096];
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(m_handle.Get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_CHAR,
                                  buffer, sizeof(buffer), &indicator);
        if (rc == SQL_NO_DATA) {
            break;  // every piece has been read
        }
        Check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA) {
            isNull = true;
            return {};
        }
        // The buffer holds at most sizeof - 1 bytes and a NUL; a shorter rest ends the value.
        std::size_t piece = sizeof(buffer) - 1;
        if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) < piece) {
            piece = static_cast<std::size_t>(indicator);
        }
        value.append(buffer, piece);
        if (rc == SQL_SUCCESS) {
            break;
        }
        // SQL_SUCCESS_WITH_INFO: 01004 means more data follows.
        auto diagnostics = CollectDiagnostics(SQL_HANDLE_STMT, m_handle.Get());
        bool truncated = std::ranges::any_of(
            diagnostics, [](const Diagnostic& d) { return d.sqlState == "01004"; });
        if (!truncated) {
            break;
        }
    }
    return value;
}

bool Statement::Fetch() {
    if (!m_cursorOpen) {
        return false;
    }
    SQLRETURN rc = SQLFetch(m_handle.Get());
    if (rc == SQL_NO_DATA) {
        CloseCursor();
        return false;
    }
    Check(rc, "SQLFetch");
    m_row.assign(m_columnNames.size(), std::nullopt);
    for (int c = 0; c < ColumnCount(); ++c) {
        bool isNull = false;
        std::string value = ReadColumn(c, isNull);
        if (!isNull) {
            m_row[static_cast<std::size_t>(c)] = std::move(value);
        }
    }
    return true;
}

const std::optional<std::string>& Statement::Value(int index) const {
    return m_row.at(static_cast<std::size_t>(index));
}

std::string Statement::Text(std::string_view columnName) const {
    auto index = FindColumn(columnName);
    if (!index) {
        throw std::out_of_range("no column " + std::string(columnName));
    }
    const auto& value = Value(*index);
    return value ? *value : std::string();
}

void Statement::CloseCursor() {
    if (m_cursorOpen) {
        SQLCloseCursor(m_handle.Get());
        m_cursorOpen = false;
    }
}

}  // namespace talvorine::db
