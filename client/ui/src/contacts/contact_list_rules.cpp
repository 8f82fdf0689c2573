#include "talvorine/client/ui/contacts/contact_list_rules.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "talvorine/client/data/contact_list_store.h"

namespace talvorine::client::ui::contacts {

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto arg = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string WithLastError(std::string_view lead) {
    const int error = errno;
    return std::string(lead) + (error != 0 ? std::strerror(error) : "Unknown error");
}

MenuShape ShapeContactMenu(bool onContact, bool groupUnderCursor, bool connected) {
    MenuShape shape;
    shape.contactCommands = onContact;
    shape.groupCommands = !onContact;
    shape.addUserEnabled = groupUnderCursor;
    shape.groupChangesEnabled = groupUnderCursor;
    shape.refreshEnabled = groupUnderCursor && connected;
    return shape;
}

PictureKind ChoosePicture(int unread, bool blinkOn, int status) {
    if (unread > 0) {
        return blinkOn ? PictureKind::Unread : PictureKind::None;
    }
    switch (status) {
        case 3:
            return PictureKind::Away;
        case 4:
            return PictureKind::NotAvailable;
        default:
            return PictureKind::Normal;
    }
}

StatusReportOutcome ApplyStatusReport(data::ContactEntry& entry, int status, bool connected) {
    StatusReportOutcome outcome;
    if (connected) {
        const int old = entry.status;
        entry.status = status;
        outcome.arrival = old == 1 && status != 1 && !entry.firstReport;
        // Only a report of the logged-in session counts as the first one: a pass made while
        // the login was still under way says nothing, and must not turn the contacts already
        // online into arrivals with their sound.
        entry.firstReport = false;
    }
    outcome.online = connected && entry.status != 1;
    return outcome;
}

int ArrivalTicks(std::string_view itemText) {
    return 7 * static_cast<int>(itemText.size()) + 8;
}

namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool HasControl(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

}  // namespace

GroupNameCheck CheckGroupName(const data::ContactList& list, std::string_view typed, int renaming) {
    GroupNameCheck check;
    check.name = std::string(Trim(typed));
    const std::string& name = check.name;
    if (name.empty()) {
        check.refusal = Text::GroupNameEmpty;
    } else if (name.find_first_of("]=\r\n") != std::string::npos || name.front() == '[' ||
               name.front() == ';' || HasControl(name)) {
        check.refusal = Text::GroupNameCharacters;
    } else if (name.size() > data::GroupNameMaxLength) {
        check.refusal = Text::GroupNameTooLong;
    } else if (data::IsStrangersGroup(name) &&
               !(renaming >= 0 && data::IsStrangersGroup(list.Group(renaming).name))) {
        check.refusal = Text::GroupNameBuiltIn;
    } else {
        const int other = list.FindGroup(name);
        if (other >= 0 && other != renaming) {
            check.refusal = data::ContactListText::GroupAlreadyExists;
        }
    }
    return check;
}

std::optional<std::string> MailTarget(std::string_view email) {
    const std::string_view address = Trim(email);
    // The address goes into a mailto: link as it stands: no blanks, controls or a second
    // query that could add recipients or bodies of somebody else's choosing.
    if (address.empty() || HasControl(address) ||
        address.find_first_of(" ?&#\"<>") != std::string_view::npos ||
        address.find('@') == std::string_view::npos) {
        return std::nullopt;
    }
    return FormatText("mailto:%s?subject=Hi!", {address});
}

std::optional<std::string> WebTarget(std::string_view homePage) {
    const std::string_view page = Trim(homePage);
    if (page.empty() || HasControl(page) || page.find(' ') != std::string_view::npos) {
        return std::nullopt;
    }
    if (StartsWithNoCase(page, "http://") || StartsWithNoCase(page, "https://")) {
        return std::string(page);
    }
    // Without a scheme: a host name (and path) is a web address; any other scheme is not.
    const auto colon = page.find(':');
    const auto slash = page.find('/');
    const bool portFollows = colon != std::string_view::npos && colon + 1 < page.size() &&
                             std::isdigit(static_cast<unsigned char>(page[colon + 1])) != 0;
    if (colon != std::string_view::npos && !portFollows &&
        (slash == std::string_view::npos || colon < slash)) {
        return std::nullopt;
    }
    if (page.front() == '/' || page.front() == '.') {
        return std::nullopt;
    }
    return "http://" + std::string(page);
}

}  // namespace talvorine::client::ui::contacts
