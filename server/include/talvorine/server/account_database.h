#pragma once
// The server's account database: one ODBC connection for the whole process, guarded by a
// mutex, and one method per statement the server sends. Every value travels as a bound
// parameter; user IDs are checked to be 8 decimal digits before they reach a query.
// Failures are logged (always) with the database's own text as each method says.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::db {
class Environment;
class Connection;
}  // namespace talvorine::db

namespace talvorine::server {

class ServerLog;
class EventLog;

// The database product behind the data source, detected when the connection opens.
enum class DatabaseBackend { Sqlite, MariaDb, Other };

enum class PasswordCheck : int { Refused = 0, Accepted = 1, AcceptedDisabled = 2 };

struct OfflineMessage {
    std::string msgId;     // key for DeleteOfflineMessage
    std::int64_t key = 0;  // the same key as a number, for fetching the next batch
    std::string sender;
    std::uint32_t recvTime = 0;
    bool richText = false;  // stored flag "1"
    std::string brief;
    std::string body;  // exactly as stored
};

// A result that failed with the database's text (at most 255 characters).
template <class T>
struct DbResult {
    std::optional<T> value;
    std::string error;
    explicit operator bool() const { return value.has_value(); }
};

class AccountDatabase {
public:
    AccountDatabase(ServerLog& log, EventLog& events);
    ~AccountDatabase();
    AccountDatabase(const AccountDatabase&) = delete;
    AccountDatabase& operator=(const AccountDatabase&) = delete;

    // Opens the connection with "DSN=<name>" (the data source holds any user name and
    // password) and sets up the session: on MariaDB the sql_mode with NO_BACKSLASH_ESCAPES and
    // strict tables, and utf8mb4 names. On failure the text is in LastError().
    // A connection lost later is opened again by the next statement (see the reconnect rule
    // in the source); while the database is away, statements fail with its error text.
    bool Open(std::string_view dataSourceName);
    // True from a successful Open until Close, also while the link is being re-established.
    bool IsOpen() const;
    DatabaseBackend Backend() const;
    // At shutdown: resets the online flags, logs "Closing database ..." and "OK.", closes.
    void Close();
    std::string LastError() const;

    // Failures log (always) and report "Failed to update database - %s". A flag that could
    // not be written because the link was lost is written once the link is back.
    bool ResetOnlineFlags();
    bool SetOnline(std::string_view userId, bool online);

    // Refused for an empty or over-long password, an ID that is not 8 digits, a missing
    // account, a wrong password or a database error ("Error: GetPasswordError(). (%s)").
    PasswordCheck CheckPassword(std::string_view userId, std::string_view password);

    // Largest ID + 1 as "%08u", inserted with itself as password. nullopt on failure
    // ("Error: Failed to create new account ID. (%s)").
    std::optional<protocol::AccountCredentials> CreateAccount();

    // Checks the old password first; true also when no row changed.
    bool ChangePassword(const protocol::PasswordChange& change);

    // The profile of an account (password empty), nullopt when not found or failed.
    std::optional<protocol::UserProfile> ReadProfile(std::string_view userId);
    // Updates the twenty profile columns where ID and password match; true also when no row
    // matched. A gender that is not a number fails as the database would.
    bool WriteProfile(const protocol::UserProfile& profile);

    // The statement as the log shows it: values quoted with single quotes doubled.
    static std::string SearchStatementText(protocol::SearchField field, protocol::SearchMatch match,
                                           std::string_view text);
    // Users whose nickname is not empty and whose ID, nickname or e-mail contains or equals
    // the text; fields cut to their widths with trailing blanks removed.
    DbResult<std::vector<protocol::SearchRow>> SearchUsers(protocol::SearchField field,
                                                           protocol::SearchMatch match,
                                                           std::string_view text);
    // The same rows, in ID order, handed to `sink` as they are read: a page at a time, each
    // read under the database lock and handed on after it was let go, so `sink` may block on
    // a slow client (and may throw to end the search). The number of rows.
    using SearchSink = std::function<void(const protocol::SearchRow&)>;
    static constexpr std::size_t SearchPage = 100;
    DbResult<std::size_t> SearchUsers(protocol::SearchField field, protocol::SearchMatch match,
                                      std::string_view text, const SearchSink& sink);

    // Stores a message with the server clock as receive time. An ID that is not 8 digits is
    // refused with an error text and nothing is stored.
    DbResult<bool> StoreOfflineMessage(std::string_view sender, std::string_view recipient,
                                       bool richText, std::string_view brief,
                                       std::string_view body);
    // The stored messages for the user with a key above `afterKey`, oldest first, at most
    // `limit` of them (0: all). The result set is read and closed before this returns, so
    // delivery never holds the connection.
    DbResult<std::vector<OfflineMessage>> FetchOfflineMessages(std::string_view userId,
                                                               std::int64_t afterKey = 0,
                                                               std::size_t limit = 0);
    // Deletes one delivered message by its key.
    bool DeleteOfflineMessage(std::string_view msgId);

    // Passwords are stored as salted hashes unless this is set (the "Plain passwords"
    // setting, for a site whose own tools read the column). Either way both forms verify.
    void SetPlainPasswords(bool plain) { m_plainPasswords.store(plain); }

private:
    struct Impl;
    struct StoredCredentials {
        std::string password;  // a hash, or a password as typed
        bool disabled = false;
    };
    // The account's stored password and disabled flag; nullopt when there is no such account.
    // Raises OdbcError.
    std::optional<StoredCredentials> ReadCredentials(std::string_view userId);
    // The form in which a password is stored (hash or as typed); nullopt (logged) when no
    // hash could be made.
    std::optional<std::string> StoredForm(std::string_view password);
    // Replaces the stored value `current` of the account; false with the error text.
    bool ReplacePassword(std::string_view userId, std::string_view current,
                         std::string_view replacement, std::string& error);
    // After a successful check: a password kept as typed is replaced by its hash.
    void UpgradeToHash(std::string_view userId, std::string_view stored, std::string_view password);

    bool UpdateOnline(std::string_view statement, std::string_view userId, bool online);
    void ReportUpdateFailure(const std::string& text);

    ServerLog& m_log;
    EventLog& m_events;
    mutable std::mutex m_mutex;  // one statement at a time on the one connection
    std::atomic<bool> m_plainPasswords{false};
    std::unique_ptr<Impl> m_impl;
};

}  // namespace talvorine::server
