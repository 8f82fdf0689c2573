#include "talvorine/admin/user_directory.h"

#include "talvorine/db/odbc.h"
#include "talvorine/platform/text.h"

namespace talvorine::admin {

namespace {

// A typed text matches itself: "!" escapes the wildcards and itself, on SQLite and MariaDB
// alike (the backslash would need the backend's own rules).
constexpr std::string_view LikeEscape = " ESCAPE '!'";

constexpr std::string_view ListColumns =
    "SELECT USERS.id, USERS.Nickname, USERS.RealName, USERS.Email, USERS.Department, "
    "USERS.Disabled FROM USERS WHERE ";

constexpr std::string_view DetailColumns =
    "SELECT USERS.id, USERS.RealName, USERS.Nickname, USERS.Gender, USERS.Birthday, "
    "USERS.Email, USERS.HomePage, USERS.Address, USERS.City, USERS.State, USERS.Country, "
    "USERS.Zip, USERS.Phone, USERS.Fax, USERS.MobilePhone, USERS.BeepPager, USERS.Company, "
    "USERS.Department, USERS.Position, USERS.Occupation, USERS.Description FROM USERS "
    "WHERE USERS.id = ?";

std::string Column(const db::Statement& s, int index) {
    const auto& value = s.Value(index);
    return std::string(db::TrimTrailing(value ? *value : std::string()));
}

bool IsTrue(std::string_view text) {
    return !text.empty() && text != "0" && text != "false" && text != "FALSE";
}

std::string Cut(const std::string& text, std::size_t width) {
    return std::string(platform::CutUtf8(text, width - 1));
}

}  // namespace

std::string_view StatusText(bool disabled) {
    return disabled ? "Disable" : "Enable";
}

std::string LikePattern(std::string_view text) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '!' || c == '%' || c == '_') {
            pattern += '!';
        }
        pattern += c;
    }
    pattern += '%';
    return pattern;
}

std::string SearchCondition(SearchCategory category, bool onlineOnly) {
    std::string like = " like ?" + std::string(LikeEscape);
    std::string condition;
    switch (category) {
        case SearchCategory::Id:
            condition = " USERS.id" + like;
            break;
        case SearchCategory::Name:
            condition = "( USERS.Nickname" + like + " or USERS.RealName" + like + ")";
            break;
        case SearchCategory::Email:
            condition = " USERS.Email" + like;
            break;
    }
    if (onlineOnly) {
        condition += " and USERS.Online = 1 ";
    }
    return condition;
}

struct UserDirectory::Impl {
    db::Environment environment;
    db::Connection connection{environment};
};

UserDirectory::UserDirectory() = default;
UserDirectory::~UserDirectory() = default;

bool UserDirectory::Open(std::string_view dataSourceName) {
    try {
        auto impl = std::make_unique<Impl>();
        // The data source's own user and password apply: an empty UID would replace them.
        impl->connection.Connect("DSN=" + std::string(dataSourceName));
        m_impl = std::move(impl);
        m_lastError.clear();
        return true;
    } catch (const db::OdbcError& e) {
        m_lastError = e.what();
        m_impl.reset();
        return false;
    }
}

bool UserDirectory::IsOpen() const {
    return m_impl != nullptr;
}

DbOutcome<std::vector<UserRow>> UserDirectory::Search(SearchCategory category,
                                                      std::string_view text, bool onlineOnly) {
    DbOutcome<std::vector<UserRow>> outcome;
    if (!m_impl) {
        outcome.error = "The database is not open.";
        return outcome;
    }
    std::string pattern = LikePattern(text);
    std::vector<db::Parameter> parameters(category == SearchCategory::Name ? 2 : 1,
                                          db::Parameter(std::string_view(pattern)));
    try {
        db::Statement s(m_impl->connection);
        s.ExecDirect(std::string(ListColumns) + SearchCondition(category, onlineOnly), parameters);
        std::vector<UserRow> rows;
        while (s.Fetch()) {
            rows.push_back({Column(s, 0), Column(s, 1), Column(s, 2), Column(s, 3), Column(s, 4),
                            IsTrue(Column(s, 5))});
        }
        outcome.value = std::move(rows);
    } catch (const db::OdbcError& e) {
        outcome.error = e.what();
    }
    return outcome;
}

std::string UserDirectory::SetDisabled(std::string_view id, bool disabled) {
    if (!m_impl) {
        return "The database is not open.";
    }
    try {
        const db::Parameter value[] = {db::Parameter(id)};
        m_impl->connection.Execute(disabled ? "UPDATE USERS set Disabled = 1 where id = ?"
                                            : "UPDATE USERS set Disabled = 0 where id = ?",
                                   value);
        return {};
    } catch (const db::OdbcError& e) {
        return e.what();
    }
}

std::string UserDirectory::Delete(std::string_view id) {
    if (!m_impl) {
        return "The database is not open.";
    }
    try {
        const db::Parameter value[] = {db::Parameter(id)};
        m_impl->connection.Execute("DELETE FROM USERS where id = ?", value);
        return {};
    } catch (const db::OdbcError& e) {
        return e.what();
    }
}

DbOutcome<std::optional<protocol::UserProfile>> UserDirectory::Detail(std::string_view id) {
    DbOutcome<std::optional<protocol::UserProfile>> outcome;
    if (!m_impl) {
        outcome.error = "The database is not open.";
        return outcome;
    }
    try {
        db::Statement s(m_impl->connection);
        s.ExecDirect(DetailColumns, {db::Parameter(id)});
        if (!s.Fetch()) {
            outcome.value = std::optional<protocol::UserProfile>();
            return outcome;
        }
        protocol::UserProfile p;
        p.userId = Cut(Column(s, 0), 9);
        p.realName = Cut(Column(s, 1), 65);
        p.nickname = Cut(Column(s, 2), 65);
        p.gender = Cut(Column(s, 3), 2);
        p.birthday = Cut(Column(s, 4), 256);
        p.email = Cut(Column(s, 5), 256);
        p.homePage = Cut(Column(s, 6), 256);
        p.address = Cut(Column(s, 7), 256);
        p.city = Cut(Column(s, 8), 65);
        p.state = Cut(Column(s, 9), 65);
        p.country = Cut(Column(s, 10), 65);
        p.zip = Cut(Column(s, 11), 17);
        p.phone = Cut(Column(s, 12), 33);
        p.fax = Cut(Column(s, 13), 33);
        p.mobilePhone = Cut(Column(s, 14), 33);
        p.beepPager = Cut(Column(s, 15), 33);
        p.company = Cut(Column(s, 16), 129);
        p.department = Cut(Column(s, 17), 65);
        p.position = Cut(Column(s, 18), 65);
        p.occupation = Cut(Column(s, 19), 65);
        p.description = Cut(Column(s, 20), 256);
        s.CloseCursor();
        outcome.value = std::optional<protocol::UserProfile>(std::move(p));
    } catch (const db::OdbcError& e) {
        outcome.error = e.what();
    }
    return outcome;
}

}  // namespace talvorine::admin
