#pragma once
// The contact list window's rules that need no widget: the context menu's shape, the picture
// an item shows, a status report's effect, the targets E-mail and HomePage may open, and the
// texts of the group and contact commands.

#include <optional>
#include <string>
#include <string_view>

#include "talvorine/client/data/contact_list.h"

namespace talvorine::client::ui::contacts {

namespace Text {
inline constexpr std::string_view EmailUnavailable = "%s's E-mail address is not available.";
inline constexpr std::string_view HomePageUnavailable = "%s's HomePage is not available.";
inline constexpr std::string_view ConfirmDeleteUser = "Delete user %s from your contact list?";
inline constexpr std::string_view FailedToChangeNickname = "Failed to change nickname:\r\n";
inline constexpr std::string_view NicknameEmpty = "Nickname must not be empty";
inline constexpr std::string_view FailedToRemoveUserInGroup =
    "Failed to remove user %s (%s) while deleting group:\r\n%s";
inline constexpr std::string_view StorageFailed =
    "You have received a message, but the following error occured while saving the "
    "message:\r\n%s\r\n\r\nPlease check if you have enough rights to access that file/folder.";
inline constexpr std::string_view Tooltip =
    "%s (%s)\n\nEmail: %s\nPhone: %s\nPager: %s\nCell Phone: %s";
// Refusals of ours: names the list files cannot hold, full groups, unsafe link targets.
inline constexpr std::string_view GroupNameEmpty = "Please type a name for the group.";
inline constexpr std::string_view GroupNameCharacters =
    "A group name can not contain \"]\", \"=\" or a line break, nor begin with \"[\" or \";\".";
inline constexpr std::string_view GroupNameTooLong = "A group name can have at most 32 characters.";
inline constexpr std::string_view GroupNameBuiltIn =
    "\"Strangers\" is the name of a built-in group.";
inline constexpr std::string_view GroupFull =
    "The group %s is full: a group can hold at most 1638 users.";
inline constexpr std::string_view UnsafeLink =
    "%s\r\n\r\nThis address was not opened: only e-mail (mailto:) and web (http:, https:) "
    "addresses are opened from the contact list.";
inline constexpr std::string_view FloatingOn = "Floating on";
}  // namespace Text

// "%s" replaced in order by the arguments.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);
// The text with the platform's last error text appended (failures of the list files).
std::string WithLastError(std::string_view lead);

// Where the context menu was opened and what it then offers.
struct MenuShape {
    bool contactCommands = false;  // "Contact" and "History" headings and their commands,
                                   // "Delete User", "Rename User", "Info...", "Floating on",
                                   // "User Icons"
    bool groupCommands =
        false;  // "Group" heading, "Add Group...", "Delete Group", "Rename Group..."
    bool addUserEnabled = false;
    bool groupChangesEnabled = false;  // "Delete Group", "Rename Group..."
    bool refreshEnabled = false;
    bool operator==(const MenuShape&) const = default;
};
MenuShape ShapeContactMenu(bool onContact, bool groupUnderCursor, bool connected);

// The picture an item shows.
enum class PictureKind { None, Normal, Away, NotAvailable, Unread };
// Unread messages blink the unread picture ("on" phase) with nothing ("off" phase); else the
// status picks Away (3), N/A (4) or Normal.
PictureKind ChoosePicture(int unread, bool blinkOn, int status);

// A status report's effect on the entry (the caller has found it).
struct StatusReportOutcome {
    bool arrival = false;  // start the arrival animation and play the "Online" sound
    bool online = false;   // the item's online drawing flag
};
// Connected: the status is stored and an offline-to-online change that is not the first report
// after login is an arrival. Not connected: the stored status stays and the item is drawn
// offline. The first-report flag is cleared either way.
StatusReportOutcome ApplyStatusReport(data::ContactEntry& entry, int status, bool connected);
// The arrival animation's ticks for an item text.
int ArrivalTicks(std::string_view itemText);

// A group name as typed: trimmed; the refusal text when the list files cannot hold it or it
// names the built-in group. `renaming` is the group being renamed (-1 for a new group); the
// same group in other capitals is not a clash.
struct GroupNameCheck {
    std::string name;
    std::string refusal;  // empty when accepted
};
GroupNameCheck CheckGroupName(const data::ContactList& list, std::string_view typed,
                              int renaming = -1);

// The address E-mail or HomePage opens, or nullopt when it is not a mailto:, http: or https:
// address. A home page without a scheme ("www.example.com") is taken as http.
std::optional<std::string> MailTarget(std::string_view email);
std::optional<std::string> WebTarget(std::string_view homePage);

}  // namespace talvorine::client::ui::contacts
