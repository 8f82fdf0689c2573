#include "talvorine/server/account_database.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>

#include "password_hash.h"
#include "talvorine/db/odbc.h"
#include "talvorine/platform/file_descriptor.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/server/event_log.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace {

using db::OdbcError;
using db::Parameter;
using db::Statement;
using protocol::IsValidUserId;

constexpr std::size_t MaxErrorText = 255;
constexpr std::size_t MaxPassword = 16;
constexpr std::string_view InvalidUserIdText = "invalid user ID";

std::string ErrorText(std::string_view text) {
    return std::string(platform::CutUtf8(text, MaxErrorText));
}

// A column value as the server reads every value: text with trailing blanks removed.
std::string Trimmed(const Statement& statement, std::string_view column) {
    return std::string(db::TrimTrailing(statement.Text(column)));
}

std::string Cut(std::string_view text, std::size_t width) {
    return std::string(platform::CutUtf8(text, width - 1));
}

// Leading decimal digits as a number; empty or non-numeric text gives 0.
std::uint64_t LeadingNumber(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    text = db::TrimTrailing(text);
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view SearchColumn(protocol::SearchField field) {
    switch (field) {
        case protocol::SearchField::Id:
            return "ID";
        case protocol::SearchField::Nickname:
            return "Nickname";
        case protocol::SearchField::Email:
            return "Email";
    }
    return "ID";
}

std::string DoubleBackslashes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '\\') {
            out += c;
        }
    }
    return out;
}

constexpr std::string_view SearchHead =
    "SELECT id, Nickname, Email FROM USERS WHERE Nickname <> '' AND ";

// Settings every MariaDB session of the server needs. Values travel as bound parameters; should
// a statement ever carry a value as literal text, quoted as designed (single quotes doubled),
// NO_BACKSLASH_ESCAPES makes that quoting complete, as it is on SQLite. Strict mode refuses a
// value the column cannot hold (bytes that are not UTF-8, for one) instead of storing it cut
// short.
constexpr std::string_view MariaDbSqlMode =
    "SET SESSION sql_mode='STRICT_TRANS_TABLES,NO_BACKSLASH_ESCAPES,NO_ZERO_IN_DATE,"
    "NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'";
// The MariaDB driver must know the character set itself (it refuses SET NAMES), so it is
// asked for in the connection string when the data source does not name it.
constexpr std::string_view MariaDbCharset = ";CHARSET=utf8mb4";

// A connect to an unreachable host gives up after this; while the database stays away the
// server tries again at most this often, so a session is never held up long.
constexpr unsigned LoginTimeoutSeconds = 5;
constexpr auto ReconnectInterval = std::chrono::seconds(2);

bool ContainsNoCase(std::string_view text, std::string_view part) {
    auto lower = [](std::string_view t) {
        std::string out(t);
        for (char& c : out) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return out;
    };
    return lower(text).find(lower(part)) != std::string::npos;
}

}  // namespace

// How a lost link is handled (the reconnect rule):
// - Before every call, a connection that is known to be down is opened again (at most once
//   per call, and not more often than every ReconnectInterval while the database stays away).
// - A statement that may safely run twice (every query, the UPDATEs, the DELETE by key) that
//   fails because the link is lost is repeated once on a new connection.
// - The two INSERTs (an offline message, a new account) are never repeated once they may have
//   reached the database: first the link is checked (the driver pings), and if it is gone it
//   is opened again before the INSERT is sent. When the link breaks while the INSERT is under
//   way, the call fails and the caller answers its failure text, because the row may or may
//   not have been stored; repeating it could store a message twice. Nothing is lost: either
//   the row is there or the sender was told it was not sent.
struct AccountDatabase::Impl {
    db::Environment environment;
    db::Connection connection{environment};
    std::string dataSourceName;
    std::string connectionSuffix;  // attributes added to "DSN=<name>" after the first connect
    std::string lastError;
    bool opened = false;  // from a successful Open to Close, whether or not the link is up
    DatabaseBackend backend = DatabaseBackend::Other;
    std::chrono::steady_clock::time_point nextConnect{};
    // Online flags that could not be written while the link was away, written after the
    // next successful connect so the table again says who is online.
    std::map<std::string, bool, std::less<>> pendingOnline;
    // An SQLite database file, held open to notice when it is deleted under the server
    // (its link count drops to 0): from then on every statement fails, since what it wrote
    // would be acknowledged into a file nobody will read again.
    std::string databaseFile;
    platform::FileDescriptor databaseFileHandle;
    bool deletionReported = false;
    ServerLog* log = nullptr;

    void Connect() {
        connection.SetLoginTimeout(LoginTimeoutSeconds);
        // The data source carries any user name and password: an empty UID= or PWD= in the
        // connection string would override those of a MariaDB data source.
        connection.Connect("DSN=" + dataSourceName + connectionSuffix);
        try {
            DetectBackend();
            if (backend == DatabaseBackend::MariaDb && connectionSuffix.empty() &&
                QueryText("SELECT @@character_set_client") != "utf8mb4") {
                connectionSuffix = MariaDbCharset;
                connection.Connect("DSN=" + dataSourceName + connectionSuffix);
            }
            if (backend == DatabaseBackend::MariaDb) {
                connection.Execute(MariaDbSqlMode);
            }
            if (backend == DatabaseBackend::Sqlite) {
                // Freed space is zeroed, so a password replaced by its hash does not linger
                // in the file.
                connection.Execute("PRAGMA secure_delete=ON");
                if (!databaseFileHandle.IsOpen()) {
                    WatchDatabaseFile();
                }
            }
        } catch (const OdbcError&) {
            connection.Disconnect();
            throw;
        }
    }

    void WatchDatabaseFile() {
        Statement s(connection);
        s.ExecDirect("PRAGMA database_list");
        while (s.Fetch()) {
            if (s.Value(1).value_or("") == "main") {
                databaseFile = s.Value(2).value_or("");
            }
        }
        s.CloseCursor();
        if (!databaseFile.empty()) {
            databaseFileHandle =
                platform::FileDescriptor(::open(databaseFile.c_str(), O_RDONLY | O_CLOEXEC));
        }
    }

    // Raises when the database file was deleted; the log says so once.
    void CheckDatabaseFile() {
        struct stat status {};
        if (!databaseFileHandle.IsOpen() || ::fstat(databaseFileHandle.Get(), &status) != 0 ||
            status.st_nlink > 0) {
            return;
        }
        const std::string text = "the database file " + databaseFile + " has been deleted";
        if (!deletionReported && log != nullptr) {
            deletionReported = true;
            log->Always("Error: " + text +
                        "; nothing is stored until the server is started on a database file.");
        }
        throw OdbcError(text, {});
    }

    std::string QueryText(std::string_view sql) {
        Statement s(connection);
        s.ExecDirect(sql);
        std::string value;
        if (s.Fetch()) {
            value = s.Value(0).value_or("");
        }
        s.CloseCursor();
        return value;
    }

    void DetectBackend() {
        std::string dbms = connection.DbmsName();
        if (ContainsNoCase(dbms, "mariadb") || ContainsNoCase(dbms, "mysql")) {
            backend = DatabaseBackend::MariaDb;
        } else if (ContainsNoCase(dbms, "sqlite")) {
            backend = DatabaseBackend::Sqlite;
        } else {
            backend = DatabaseBackend::Other;
        }
    }

    // Opens the connection again when it is down; one attempt, throttled while it fails.
    void Reopen() {
        auto now = std::chrono::steady_clock::now();
        if (now < nextConnect) {
            throw OdbcError(lastError.empty() ? "the database is not reachable" : lastError,
                            {{"08001", 0, lastError}});
        }
        try {
            Connect();
        } catch (const OdbcError& error) {
            nextConnect = now + ReconnectInterval;
            lastError = ErrorText(error.what());
            throw;
        }
        nextConnect = {};
        WritePendingOnlineFlags();
    }

    void WritePendingOnlineFlags() {
        auto pending = std::move(pendingOnline);
        pendingOnline.clear();
        for (const auto& [userId, online] : pending) {
            try {
                Statement s(connection);
                s.ExecDirect(online ? "UPDATE USERS SET Online=TRUE WHERE ID=?"
                                    : "UPDATE USERS SET Online=FALSE WHERE ID=?",
                             {Parameter(std::string_view(userId))});
            } catch (const OdbcError&) {
                pendingOnline.emplace(userId, online);  // next time
            }
        }
    }

    // Runs work that may safely run twice: a lost link is opened again and the work repeated
    // once.
    template <class Work>
    auto Run(Work&& work) {
        CheckDatabaseFile();
        bool reopened = false;
        if (!connection.IsConnected()) {
            Reopen();
            reopened = true;
        }
        try {
            return work(connection);
        } catch (const OdbcError& error) {
            if (!error.IsConnectionLost()) {
                throw;
            }
            connection.Disconnect();
            if (reopened) {
                throw;
            }
        }
        Reopen();
        return work(connection);
    }

    // Runs work with an INSERT that must not run twice. The work sets `sent` just before the
    // INSERT; a lost link before that point is opened again and the work repeated once.
    template <class Work>
    auto RunOnce(Work&& work) {
        CheckDatabaseFile();
        bool reopened = false;
        if (connection.IsDead()) {
            connection.Disconnect();
            Reopen();
            reopened = true;
        }
        bool sent = false;
        try {
            return work(connection, sent);
        } catch (const OdbcError& error) {
            if (!error.IsConnectionLost()) {
                throw;
            }
            connection.Disconnect();
            if (reopened || sent) {
                throw;
            }
        }
        Reopen();
        sent = false;
        return work(connection, sent);
    }
};

AccountDatabase::AccountDatabase(ServerLog& log, EventLog& events)
    : m_log(log), m_events(events), m_impl(std::make_unique<Impl>()) {
    m_impl->log = &m_log;
}

AccountDatabase::~AccountDatabase() = default;

bool AccountDatabase::Open(std::string_view dataSourceName) {
    std::lock_guard lock(m_mutex);
    m_impl->dataSourceName = std::string(dataSourceName);
    m_impl->connectionSuffix.clear();
    try {
        m_impl->Connect();
        m_impl->lastError.clear();
        m_impl->opened = true;
        return true;
    } catch (const OdbcError& error) {
        m_impl->lastError = ErrorText(error.what());
        return false;
    }
}

bool AccountDatabase::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_impl->opened;
}

DatabaseBackend AccountDatabase::Backend() const {
    std::lock_guard lock(m_mutex);
    return m_impl->backend;
}

std::string AccountDatabase::LastError() const {
    std::lock_guard lock(m_mutex);
    return m_impl->lastError;
}

void AccountDatabase::Close() {
    if (!IsOpen()) {
        return;
    }
    ResetOnlineFlags();
    m_log.Event(LogKind::Always(), "Closing database ...", LineEnd::No);
    {
        std::lock_guard lock(m_mutex);
        m_impl->connection.Disconnect();
        m_impl->opened = false;
    }
    m_log.Text(LogKind::Always(), "OK.");
}

void AccountDatabase::ReportUpdateFailure(const std::string& text) {
    m_events.Error("Failed to update database - " + text);
    m_log.Always("Failed to update database - " + text);
}

bool AccountDatabase::UpdateOnline(std::string_view statement, std::string_view userId,
                                   bool online) {
    std::string error;
    {
        std::lock_guard lock(m_mutex);
        if (!userId.empty()) {
            if (auto pending = m_impl->pendingOnline.find(userId);
                pending != m_impl->pendingOnline.end()) {
                m_impl->pendingOnline.erase(pending);  // this write decides
            }
        }
        try {
            m_impl->Run([&](db::Connection& connection) {
                Statement s(connection);
                if (userId.empty()) {
                    s.ExecDirect(statement);
                } else {
                    s.ExecDirect(statement, {Parameter(userId)});
                }
                return 0;
            });
            return true;
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
            m_impl->lastError = error;
            if (!userId.empty() && e.IsConnectionLost()) {
                m_impl->pendingOnline.emplace(std::string(userId), online);
            }
        }
    }
    ReportUpdateFailure(error);
    return false;
}

bool AccountDatabase::ResetOnlineFlags() {
    return UpdateOnline("UPDATE USERS SET Online=FALSE", {}, false);
}

bool AccountDatabase::SetOnline(std::string_view userId, bool online) {
    if (!IsValidUserId(userId)) {
        return false;  // no account can have this ID
    }
    return UpdateOnline(online ? "UPDATE USERS SET Online=TRUE WHERE ID=?"
                               : "UPDATE USERS SET Online=FALSE WHERE ID=?",
                        userId, online);
}

std::optional<AccountDatabase::StoredCredentials> AccountDatabase::ReadCredentials(
    std::string_view userId) {
    std::lock_guard lock(m_mutex);
    return m_impl->Run([&](db::Connection& connection) {
        Statement s(connection);
        s.ExecDirect("SELECT Password, Disabled FROM USERS WHERE ID=?", {Parameter(userId)});
        if (!s.Fetch()) {
            return std::optional<StoredCredentials>();
        }
        StoredCredentials stored;
        stored.password = Trimmed(s, "Password");
        const std::string disabled = Trimmed(s, "Disabled");
        stored.disabled = disabled.empty() || disabled.front() != '0';
        s.CloseCursor();
        return std::optional<StoredCredentials>(std::move(stored));
    });
}

std::optional<std::string> AccountDatabase::StoredForm(std::string_view password) {
    if (m_plainPasswords.load()) {
        return std::string(password);
    }
    auto hash = HashPassword(password);
    if (!hash) {
        m_log.Always("Error: Failed to hash a password. (" + protocol::SystemErrorText() + ")");
    }
    return hash;
}

bool AccountDatabase::ReplacePassword(std::string_view userId, std::string_view current,
                                      std::string_view replacement, std::string& error) {
    std::lock_guard lock(m_mutex);
    try {
        m_impl->Run([&](db::Connection& connection) {
            Statement s(connection);
            s.ExecDirect("UPDATE USERS SET Password=? WHERE ID=? AND Password=?",
                         {Parameter(replacement), Parameter(userId), Parameter(current)});
            return 0;
        });
        return true;
    } catch (const OdbcError& e) {
        error = ErrorText(e.what());
        return false;
    }
}

void AccountDatabase::UpgradeToHash(std::string_view userId, std::string_view stored,
                                    std::string_view password) {
    if (m_plainPasswords.load() || IsPasswordHash(stored)) {
        return;
    }
    const auto hash = StoredForm(password);
    std::string error;
    // Only the value that was checked is replaced; a change in between wins.
    if (hash && !ReplacePassword(userId, stored, *hash, error)) {
        m_log.Always("Error: Failed to store the password of " + std::string(userId) +
                     " as a hash. (" + error + ")");
    }
}

PasswordCheck AccountDatabase::CheckPassword(std::string_view userId, std::string_view password) {
    if (password.empty() || password.size() > MaxPassword || !IsValidUserId(userId)) {
        return PasswordCheck::Refused;
    }
    std::optional<StoredCredentials> stored;
    try {
        stored = ReadCredentials(userId);
    } catch (const OdbcError& e) {
        m_log.Always("Error: GetPasswordError(). (" + ErrorText(e.what()) + ")");
        return PasswordCheck::Refused;
    }
    // The slow hash runs without the database lock.
    if (!stored || !PasswordMatches(password, stored->password)) {
        return PasswordCheck::Refused;
    }
    UpgradeToHash(userId, stored->password, password);
    return stored->disabled ? PasswordCheck::AcceptedDisabled : PasswordCheck::Accepted;
}

std::optional<protocol::AccountCredentials> AccountDatabase::CreateAccount() {
    std::string error;
    std::optional<protocol::AccountCredentials> credentials;
    {
        // Both statements under one lock, so two requests of this server never pick one ID.
        std::lock_guard lock(m_mutex);
        try {
            credentials = m_impl->RunOnce([&](db::Connection& connection, bool& sent) {
                Statement query(connection);
                query.ExecDirect("SELECT Max(ID) AS NewID FROM USERS");
                std::string largest;
                if (query.Fetch()) {
                    largest = Trimmed(query, "NewID");
                }
                query.CloseCursor();
                std::uint64_t next = LeadingNumber(largest) + 1;
                if (next > 99999999) {
                    throw OdbcError("every eight-digit account ID is taken", {});
                }
                char id[16];
                std::snprintf(id, sizeof(id), "%08u", static_cast<unsigned>(next));
                Statement insert(connection);
                sent = true;
                insert.ExecDirect(
                    "INSERT INTO USERS (ID, Password) VALUES (?, ?)",
                    {Parameter(std::string_view(id)), Parameter(std::string_view(id))});
                return std::optional<protocol::AccountCredentials>(
                    protocol::AccountCredentials{id, id});
            });
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
        }
    }
    if (credentials) {
        // The initial password is the ID, which is no secret; it is hashed after the insert
        // so that the slow hash never runs under the lock that keeps IDs unique.
        UpgradeToHash(credentials->userId, credentials->userId, credentials->userId);
        return credentials;
    }
    m_log.Always("Error: Failed to create new account ID. (" + error + ")");
    return std::nullopt;
}

bool AccountDatabase::ChangePassword(const protocol::PasswordChange& change) {
    if (CheckPassword(change.userId, change.oldPassword) == PasswordCheck::Refused) {
        return false;
    }
    // An empty password could never be used to log in again: refuse it rather than lock the
    // account out.
    if (change.newPassword.empty() || change.newPassword.size() > MaxPassword) {
        return false;
    }
    std::string error;
    try {
        // The value as it is now (the check may have just hashed it): only that is replaced.
        const auto stored = ReadCredentials(change.userId);
        const auto replacement = StoredForm(change.newPassword);
        if (!stored || !replacement) {
            return false;
        }
        if (ReplacePassword(change.userId, stored->password, *replacement, error)) {
            return true;
        }
    } catch (const OdbcError& e) {
        error = ErrorText(e.what());
    }
    m_log.Always("Error: Failed to change password. (" + error + ")");
    return false;
}

std::optional<protocol::UserProfile> AccountDatabase::ReadProfile(std::string_view userId) {
    if (!IsValidUserId(userId)) {
        return std::nullopt;
    }
    std::string error;
    {
        std::lock_guard lock(m_mutex);
        try {
            return m_impl->Run([&](db::Connection& connection) {
                Statement s(connection);
                s.ExecDirect("SELECT * FROM USERS WHERE ID=?", {Parameter(userId)});
                if (!s.Fetch()) {
                    return std::optional<protocol::UserProfile>();
                }
                protocol::UserProfile profile;
                profile.userId = std::string(userId);
                // The first two fields (ID and password) are the caller's, never the table's.
                for (std::size_t i = 2; i < protocol::ProfileFields.size(); ++i) {
                    const auto& field = protocol::ProfileFields[i];
                    auto column = s.FindColumn(field.name);
                    if (column && s.Value(*column)) {
                        profile.*field.member =
                            Cut(db::TrimTrailing(*s.Value(*column)), field.width);
                    }
                }
                s.CloseCursor();
                return std::optional<protocol::UserProfile>(std::move(profile));
            });
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
        }
    }
    m_log.Always("Error: Failed to get user (" + std::string(userId) + ") info. (" + error + ")");
    return std::nullopt;
}

bool AccountDatabase::WriteProfile(const protocol::UserProfile& profile) {
    std::string error;
    auto gender = ParseInteger(profile.gender);
    // The row is matched by ID and by the stored password, after the given one was checked
    // against it (through the hash): a wrong password changes no row, as before.
    std::string storedPassword;
    if (IsValidUserId(profile.userId) && gender) {
        try {
            const auto stored = ReadCredentials(profile.userId);
            if (!stored || !PasswordMatches(profile.password, stored->password)) {
                return true;  // no row matched
            }
            storedPassword = stored->password;
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
        }
    }
    if (!IsValidUserId(profile.userId)) {
        error = std::string(InvalidUserIdText);
    } else if (!gender) {
        error = "Gender is not a number";
    } else if (error.empty()) {
        // The profile fields in statement order (the table's, not the record's).
        static constexpr std::string_view Columns[] = {
            "RealName", "Nickname",   "Gender",   "Birthday",    "Email",
            "HomePage", "Address",    "City",     "State",       "Country",
            "Zip",      "Phone",      "Fax",      "MobilePhone", "BeepPager",
            "Company",  "Department", "Position", "Occupation",  "Description"};
        std::vector<std::string> texts;
        std::vector<Parameter> parameters;
        texts.reserve(std::size(Columns));
        std::string sql = "UPDATE USERS SET ";
        for (std::string_view name : Columns) {
            if (sql.size() > 17) {
                sql += ", ";
            }
            sql += std::string(name) + "=?";
            if (name == "Gender") {
                parameters.emplace_back(*gender);
                continue;
            }
            for (const auto& field : protocol::ProfileFields) {
                if (field.name == name) {
                    texts.push_back(Cut(profile.*field.member, field.width));
                    parameters.emplace_back(std::string_view(texts.back()));
                }
            }
        }
        sql += " WHERE ID=? AND Password=?";
        parameters.emplace_back(std::string_view(profile.userId));
        parameters.emplace_back(std::string_view(storedPassword));

        std::lock_guard lock(m_mutex);
        try {
            m_impl->Run([&](db::Connection& connection) {
                Statement s(connection);
                s.ExecDirect(sql, parameters);
                return 0;
            });
            return true;
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
        }
    }
    m_log.Always("Error: Failed to change user (" + std::string(profile.userId) + ") info. (" +
                 error + ")");
    return false;
}

std::string AccountDatabase::SearchStatementText(protocol::SearchField field,
                                                 protocol::SearchMatch match,
                                                 std::string_view text) {
    std::string sql(SearchHead);
    sql += SearchColumn(field);
    if (match == protocol::SearchMatch::Contains) {
        sql += " LIKE '%" + db::QuoteLiteral(text) + "%'";
    } else {
        sql += "='" + db::QuoteLiteral(text) + "'";
    }
    return sql;
}

DbResult<std::size_t> AccountDatabase::SearchUsers(protocol::SearchField field,
                                                   protocol::SearchMatch match,
                                                   std::string_view text, const SearchSink& sink) {
    std::string sql(SearchHead);
    sql += SearchColumn(field);
    std::string value(text);
    if (match == protocol::SearchMatch::Contains) {
        sql += " LIKE ?";
        // MariaDB keeps the backslash as LIKE's escape character even with
        // NO_BACKSLASH_ESCAPES; doubled, it matches itself, as it does on SQLite. The
        // wildcards % and _ stay wildcards on both.
        if (Backend() == DatabaseBackend::MariaDb) {
            value = DoubleBackslashes(value);
        }
        value = "%" + value + "%";
    } else {
        sql += "=?";
    }
    // A page at a time in ID order, each page read under the lock and handed on without it,
    // so a client that reads slowly holds neither memory nor the connection.
    sql += " AND ID>? ORDER BY ID LIMIT " + std::to_string(SearchPage);
    DbResult<std::size_t> result;
    std::size_t total = 0;
    std::string after;
    for (;;) {
        std::vector<protocol::SearchRow> page;
        {
            std::lock_guard lock(m_mutex);
            try {
                page = m_impl->Run([&](db::Connection& connection) {
                    Statement s(connection);
                    s.ExecDirect(sql, {Parameter(std::string_view(value)),
                                       Parameter(std::string_view(after))});
                    std::vector<protocol::SearchRow> rows;
                    while (s.Fetch()) {
                        auto column = [&](int index) {
                            const auto& v = s.Value(index);
                            return std::string(db::TrimTrailing(v ? *v : std::string()));
                        };
                        rows.push_back(
                            {Cut(column(0), 9), Cut(column(1), 65), Cut(column(2), 256)});
                        after = column(0);
                    }
                    return rows;
                });
            } catch (const OdbcError& e) {
                result.error = ErrorText(e.what());
                return result;
            }
        }
        for (const auto& row : page) {
            sink(row);
        }
        total += page.size();
        if (page.size() < SearchPage) {
            break;
        }
    }
    result.value = total;
    return result;
}

DbResult<std::vector<protocol::SearchRow>> AccountDatabase::SearchUsers(protocol::SearchField field,
                                                                        protocol::SearchMatch match,
                                                                        std::string_view text) {
    DbResult<std::vector<protocol::SearchRow>> result;
    std::vector<protocol::SearchRow> rows;
    auto found = SearchUsers(field, match, text,
                             [&](const protocol::SearchRow& row) { rows.push_back(row); });
    if (found) {
        result.value = std::move(rows);
    } else {
        result.error = found.error;
    }
    return result;
}

DbResult<bool> AccountDatabase::StoreOfflineMessage(std::string_view sender,
                                                    std::string_view recipient, bool richText,
                                                    std::string_view brief, std::string_view body) {
    DbResult<bool> result;
    if (!IsValidUserId(sender) || !IsValidUserId(recipient)) {
        result.error = std::string(InvalidUserIdText);
        return result;
    }
    std::string shortBrief = Cut(brief, protocol::Size::MessageBrief);
    auto now = static_cast<std::int64_t>(std::time(nullptr));
    std::lock_guard lock(m_mutex);
    try {
        m_impl->RunOnce([&](db::Connection& connection, bool& sent) {
            Statement s(connection);
            sent = true;
            s.ExecDirect(
                "INSERT INTO OFFLINEMSG (Sender, Recipient, RecvTime, Richtext, Brief, Body) "
                "VALUES (?, ?, ?, ?, ?, ?)",
                {Parameter(sender), Parameter(recipient), Parameter(now),
                 Parameter(std::int64_t{richText ? 1 : 0}), Parameter(std::string_view(shortBrief)),
                 Parameter(body)});
            return 0;
        });
        result.value = true;
    } catch (const OdbcError& e) {
        result.error = ErrorText(e.what());
    }
    return result;
}

DbResult<std::vector<OfflineMessage>> AccountDatabase::FetchOfflineMessages(std::string_view userId,
                                                                            std::int64_t afterKey,
                                                                            std::size_t limit) {
    DbResult<std::vector<OfflineMessage>> result;
    if (!IsValidUserId(userId)) {
        result.error = std::string(InvalidUserIdText);
        return result;
    }
    // Oldest first, the order in which they were sent; a batch at a time keeps memory bounded
    // however many messages wait.
    std::string sql = "SELECT * FROM OFFLINEMSG WHERE Recipient=? AND MsgId>? ORDER BY MsgId";
    if (limit > 0) {
        sql += " LIMIT " + std::to_string(limit);
    }
    std::lock_guard lock(m_mutex);
    try {
        result.value = m_impl->Run([&](db::Connection& connection) {
            Statement s(connection);
            s.ExecDirect(sql, {Parameter(userId), Parameter(afterKey)});
            std::vector<OfflineMessage> messages;
            while (s.Fetch()) {
                OfflineMessage m;
                m.msgId = Trimmed(s, "MsgId");
                m.key = ParseInteger(m.msgId).value_or(0);
                m.sender = Trimmed(s, "Sender");
                m.recvTime = static_cast<std::uint32_t>(LeadingNumber(Trimmed(s, "RecvTime")));
                m.richText = Trimmed(s, "RichText") == "1";
                m.brief = Trimmed(s, "Brief");
                m.body = s.Text("Body");  // exactly as stored, trailing blanks included
                messages.push_back(std::move(m));
            }
            return messages;
        });
    } catch (const OdbcError& e) {
        result.error = ErrorText(e.what());
    }
    return result;
}

bool AccountDatabase::DeleteOfflineMessage(std::string_view msgId) {
    auto key = ParseInteger(msgId);
    std::string error;
    if (!key) {
        error = "invalid message key";
    } else {
        std::lock_guard lock(m_mutex);
        try {
            m_impl->Run([&](db::Connection& connection) {
                Statement s(connection);
                s.ExecDirect("DELETE FROM OFFLINEMSG WHERE MsgId=?", {Parameter(*key)});
                return 0;
            });
            return true;
        } catch (const OdbcError& e) {
            error = ErrorText(e.what());
        }
    }
    m_log.Always("Error: Failed to delete offline message " + std::string(msgId) + ". (" + error +
                 ")");
    return false;
}

}  // namespace talvorine::server
