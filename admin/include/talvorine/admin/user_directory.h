#pragma once
// The account table as the user page sees it: one ODBC connection opened by data source name
// at start, searches by id, name or e-mail, enabling, disabling and deleting an account, and
// reading one account's profile for the detail sheet. Every value reaches the database as a
// bound parameter; a typed search text matches literally, its LIKE wildcards escaped.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::admin {

enum class SearchCategory { Id, Name, Email };

// One row of the user list.
struct UserRow {
    std::string id, nickname, realName, email, department;
    bool disabled = false;
};

// "Disable" for a disabled account, "Enable" for an enabled one (the list's status column).
std::string_view StatusText(bool disabled);

// The WHERE clause of a search, with one "?" per value (two for the name category), and the
// LIKE pattern for a typed text.
std::string SearchCondition(SearchCategory category, bool onlineOnly);
std::string LikePattern(std::string_view text);

template <typename T>
struct DbOutcome {
    std::optional<T> value;  // set on success
    std::string error;       // the database's text on failure
};

class UserDirectory {
public:
    UserDirectory();
    ~UserDirectory();
    UserDirectory(const UserDirectory&) = delete;
    UserDirectory& operator=(const UserDirectory&) = delete;

    // Connects to the data source; false with LastError() set when it cannot.
    bool Open(std::string_view dataSourceName);
    bool IsOpen() const;
    const std::string& LastError() const { return m_lastError; }

    DbOutcome<std::vector<UserRow>> Search(SearchCategory category, std::string_view text,
                                           bool onlineOnly);
    // The statement's outcome: "" when it ran, else the database's text.
    std::string SetDisabled(std::string_view id, bool disabled);
    std::string Delete(std::string_view id);
    // The account's profile (without its password), each text cut to its record field;
    // nullopt inside the outcome when no account has that id.
    DbOutcome<std::optional<protocol::UserProfile>> Detail(std::string_view id);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_lastError;
};

}  // namespace talvorine::admin
