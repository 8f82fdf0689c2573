#pragma once
// The contact list files of one account, in its folder Users/<id>/:
//   List.dat     [Groups] one "name=" line per group in display order; [Main] ActiveGroup=<n>
//   Groups.dat   one section per group holding "<contact id>=" lines in display order
//   <id>.usr     one section named <id>: the contact's cached profile, "Updated", and the
//                floating window's "Float On", "x", "y", "Width"
// Single changes are written through at once; the order of groups and contacts is written by
// ContactList::SaveAndUnload. Every operation returns false on failure with errno telling why.
// Contact ids that are not 8 decimal digits are refused (EINVAL): they never become paths.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::data {

inline constexpr std::string_view ListFileName = "List.dat";
inline constexpr std::string_view GroupsFileName = "Groups.dat";
inline constexpr std::size_t GroupNameMaxLength = 32;
// A saved group's member block: 8 id bytes, "=", NUL per contact in a 16384-byte buffer, a
// further entry begun only while fewer than 16373 bytes are used: at most 1638 contacts.
inline constexpr std::size_t MemberEntrySize = 10;
inline constexpr std::size_t MemberBlockSize = 0x4000;
inline constexpr std::size_t MemberBlockBeginLimit = 16373;
inline constexpr std::size_t MaxSavedGroupMembers =
    (MemberBlockBeginLimit + MemberEntrySize - 1) / MemberEntrySize;
static_assert(MaxSavedGroupMembers == 1638);

// The .usr values a tooltip shows.
struct ContactCard {
    std::string nickname;
    std::string email;
    std::string phone;
    std::string beepPager;
    std::string mobilePhone;
};

class ContactListStore {
public:
    explicit ContactListStore(std::string accountId);
    const std::string& AccountId() const { return m_accountId; }

    // The account folder, created when missing.
    std::optional<std::filesystem::path> Folder() const;
    std::optional<std::filesystem::path> ListFile() const;
    std::optional<std::filesystem::path> GroupsFile() const;
    std::optional<std::filesystem::path> ContactFile(std::string_view contactId) const;

    bool AddGroup(std::string_view name);
    bool RemoveGroup(std::string_view name);
    // Moves the member lines to the new section; List.dat gets the new key.
    bool RenameGroup(std::string_view oldName, std::string_view newName);
    // Drops the member line and the contact's .usr file.
    bool RemoveContact(std::string_view group, std::string_view contactId);
    bool AddContact(std::string_view group, std::string_view contactId, std::string_view nickname,
                    std::string_view email);
    bool SetNickname(std::string_view contactId, std::string_view nickname);
    // The profile keys in their order, then "Updated" = "1"; stops at the first failed write.
    bool StoreProfile(const protocol::UserProfile& profile);
    // The cached profile (Nickname empty by default, Gender "0"); nullopt for a bad id.
    std::optional<protocol::UserProfile> ReadProfile(std::string_view contactId) const;
    // "Updated" non-zero: the cached profile can be shown without asking the server.
    bool IsProfileUpdated(std::string_view contactId) const;
    ContactCard ReadCard(std::string_view contactId) const;

private:
    std::string m_accountId;
};

}  // namespace talvorine::client::data
