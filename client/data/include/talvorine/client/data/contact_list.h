#pragma once
// The contact list in memory: the loaded account's groups in display order, each with its
// ContactEntry records, the open group, and the load / save-and-unload of the list files.
//
// Threads: the structure (groups, entries, their order) is changed only by the UI thread,
// and every such change, Load, SaveAndUnload and ContactIds() take the list mutex (the
// ListMutex), so the status poller can copy the ids while the UI works. The UI thread may
// read groups and entries without the mutex; other threads use only ContactIds() and the
// by-id unread operations. Unread counts are atomic: any thread may change them.
// Pictures and floating windows belong to the window; an entry only carries the floating
// window's placement for the files.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/data/contact_list_store.h"

namespace talvorine::client::data {

inline constexpr std::string_view StrangersGroup = "Strangers";
inline constexpr std::string_view FriendsGroup = "Friends";

// Texts of the group and contact commands.
namespace ContactListText {
inline constexpr std::string_view GroupAlreadyExists = "Group already exist.";
inline constexpr std::string_view CannotDeleteBuiltInGroup = "Can not delete built-in group";
inline constexpr std::string_view CannotRenameBuiltInGroup = "Can not rename built-in group";
inline constexpr std::string_view CannotAddUserToGroup = "Can not add user to this kind of group";
inline constexpr std::string_view CannotMoveUserToGroup = "Can not move user to this kind of group";
inline constexpr std::string_view FailedToAddGroup = "Failed to add group:\r\n";
inline constexpr std::string_view FailedToRemoveGroup = "Failed to remove this group:\r\n";
inline constexpr std::string_view FailedToRenameGroup = "Failed to rename this group:\r\n";
inline constexpr std::string_view FailedToDeleteUser = "Failed to delete user:\r\n";
}  // namespace ContactListText

// Group names compare without regard to case; "Strangers" in any spelling is the built-in one.
bool SameGroupName(std::string_view a, std::string_view b);
bool IsStrangersGroup(std::string_view name);

struct FloatingPlacement {
    bool shown = false;
    // Stored screen position and width; nullopt where the file has none (the window then
    // places it beside the item).
    std::optional<int> x;
    std::optional<int> y;
    std::optional<int> width;
};

struct ContactEntry {
    ContactEntry(std::string contactId, std::string nick, int unreadCount);

    std::string id;
    std::string nickname;
    int status = 1;           // last OnlineStatus reported; 1 offline
    bool firstReport = true;  // no arrival sound until the first report after load
    std::atomic<int> unread;  // unread received messages
    FloatingPlacement floating;

    void IncrementUnread() { unread.fetch_add(1); }
    // Lowers the count only while it is above 0.
    void DecrementUnread();
};

struct ContactGroup {
    std::string name;
    std::vector<std::unique_ptr<ContactEntry>> contacts;
};

struct ContactPosition {
    int group = -1;
    int item = -1;
    bool operator==(const ContactPosition&) const = default;
};

enum class MoveOutcome { Moved, RefusedBuiltInGroup, Invalid };

class ContactList {
public:
    ContactList() = default;
    ContactList(const ContactList&) = delete;
    ContactList& operator=(const ContactList&) = delete;

    bool IsLoaded() const { return !m_account.empty(); }
    const std::string& LoadedAccount() const { return m_account; }

    // Loads the account's list (after the previous one was saved and unloaded): groups from
    // List.dat (a "Friends" group when there is none, "Strangers" always), the open group,
    // then each group's members with nickname, unread count and floating placement. The
    // account's own id and lines that hold no valid id are skipped.
    void Load(std::string_view accountId);
    // Writes the open group, the groups and their members in order (at most 1638 per group)
    // and every contact's floating placement, then forgets the list. Nothing when unloaded.
    void SaveAndUnload();

    int GroupCount() const { return static_cast<int>(m_groups.size()); }
    const ContactGroup& Group(int index) const {
        return m_groups.at(static_cast<std::size_t>(index));
    }
    int FindGroup(std::string_view name) const;  // -1 when none
    int OpenGroup() const { return m_openGroup; }
    void SetOpenGroup(int index);

    // Appends a group; -1 when the name is empty or taken (ContactListText::GroupAlreadyExists).
    int AddGroup(std::string_view name);
    // False for the built-in group or a bad index. Members go with it.
    bool RemoveGroup(int index);
    bool RenameGroup(int index, std::string_view newName);
    // Moves group `from` in front of group `before` (GroupCount() for the end). No change when
    // dropped on itself or on the header right after it; false then.
    bool MoveGroup(int from, int before);

    std::optional<ContactPosition> FindContact(std::string_view contactId) const;
    ContactEntry* Entry(ContactPosition position) const;
    // Appends a contact; its index, or -1 for a bad group or id.
    int AddContact(int group, std::string_view contactId, std::string_view nickname, int unread);
    // Removes the item and returns the item to select next (the next one, or the previous one
    // when the last was removed; -1 when the group is empty).
    int RemoveContact(int group, int item);
    // Moves a contact to another place; `toItem` -1 appends. Into "Strangers" is refused.
    MoveOutcome MoveContact(ContactPosition from, int toGroup, int toItem,
                            ContactPosition* landed = nullptr);
    bool SetNickname(ContactPosition position, std::string_view nickname);
    // Sets every entry's first-report flag (after login).
    void MarkFirstReports();

    // The ids of every contact of every group, for the status poller.
    std::vector<std::string> ContactIds() const;
    bool IncrementUnread(std::string_view contactId);
    bool DecrementUnread(std::string_view contactId);
    bool SetUnread(std::string_view contactId, int count);
    int GroupUnread(int group) const;

    // A message arrived from `senderId`: a sender not on the list joins "Strangers" (its id as
    // nickname); the body is appended to the received store and the unread count raised.
    // Bodies of 36 bytes or less are ignored. Throws DataError when the message cannot be
    // stored (the contact has been added by then).
    void DeliverReceivedMessage(std::string_view senderId, std::span<const std::uint8_t> body);

private:
    std::optional<ContactPosition> FindLocked(std::string_view contactId) const;
    ContactGroup* GroupAt(int index);

    mutable std::mutex m_mutex;
    std::string m_account;
    std::vector<ContactGroup> m_groups;
    int m_openGroup = -1;
};

}  // namespace talvorine::client::data
