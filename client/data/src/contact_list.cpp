#include "talvorine/client/data/contact_list.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "no_case.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/data_error.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data {

using platform::PrivateProfile;

bool SameGroupName(std::string_view a, std::string_view b) {
    return detail::EqualsNoCase(a, b);
}

bool IsStrangersGroup(std::string_view name) {
    return SameGroupName(name, StrangersGroup);
}

ContactEntry::ContactEntry(std::string contactId, std::string nick, int unreadCount)
    : id(std::move(contactId)), nickname(std::move(nick)), unread(std::max(unreadCount, 0)) {}

void ContactEntry::DecrementUnread() {
    int current = unread.load();
    while (current > 0 && !unread.compare_exchange_weak(current, current - 1)) {
    }
}

namespace {

bool SameId(std::string_view a, std::string_view b) {
    return SameGroupName(a, b);
}

// The group name a List.dat line gives: at most its first 32 bytes, a trailing "=" cut.
std::string GroupNameFromLine(std::string_view line) {
    std::string name(platform::CutUtf8(line, GroupNameMaxLength));
    if (!name.empty() && name.back() == '=') {
        name.pop_back();
    }
    return name;
}

std::optional<int> ReadOptionalInt(const PrivateProfile& file, std::string_view section,
                                   std::string_view key) {
    const int value = file.ReadInt(section, key, INT_MIN);
    return value == INT_MIN ? std::nullopt : std::optional(value);
}

}  // namespace

void ContactList::Load(std::string_view accountId) {
    std::lock_guard lock(m_mutex);
    m_groups.clear();
    m_openGroup = -1;
    m_account = std::string(accountId);
    ContactListStore store(m_account);
    auto listPath = store.ListFile();
    auto groupsPath = store.GroupsFile();

    if (listPath) {
        for (const std::string& line : PrivateProfile(*listPath).ReadSection("Groups")) {
            std::string name = GroupNameFromLine(line);
            const bool taken =
                std::any_of(m_groups.begin(), m_groups.end(),
                            [&](const ContactGroup& g) { return SameGroupName(g.name, name); });
            if (!name.empty() && !taken) {
                m_groups.push_back({std::move(name), {}});
            }
        }
    }
    if (std::none_of(m_groups.begin(), m_groups.end(),
                     [](const ContactGroup& g) { return IsStrangersGroup(g.name); })) {
        if (m_groups.empty()) {
            m_groups.push_back({std::string(FriendsGroup), {}});
        }
        m_groups.push_back({std::string(StrangersGroup), {}});
    }
    const int active = listPath ? PrivateProfile(*listPath).ReadInt("Main", "ActiveGroup", 0) : 0;
    if (active >= 0 && active < GroupCount()) {
        m_openGroup = active;
    }
    if (!groupsPath) {
        return;
    }
    PrivateProfile groupsFile(*groupsPath);
    for (ContactGroup& group : m_groups) {
        for (const std::string& line : groupsFile.ReadSection(group.name)) {
            const std::string id = line.substr(0, 8);
            if (id == m_account || !IsValidId(id)) {
                continue;
            }
            auto contactPath = store.ContactFile(id);
            if (!contactPath) {
                continue;
            }
            PrivateProfile card(*contactPath);
            auto entry = std::make_unique<ContactEntry>(
                id, card.ReadString(id, "Nickname", id, 65),
                static_cast<int>(CountUnreadMessages(m_account, id)));
            if (card.ReadInt(id, "Float On", 0) != 0) {
                entry->floating = {true, ReadOptionalInt(card, id, "x"),
                                   ReadOptionalInt(card, id, "y"),
                                   ReadOptionalInt(card, id, "Width")};
            }
            group.contacts.push_back(std::move(entry));
        }
    }
}

void ContactList::SaveAndUnload() {
    std::lock_guard lock(m_mutex);
    if (m_account.empty()) {
        return;
    }
    ContactListStore store(m_account);
    auto listPath = store.ListFile();
    auto groupsPath = store.GroupsFile();
    // A failed write is not reported: the save goes on with the next group or contact.
    if (listPath) {
        PrivateProfile list(*listPath);
        list.Write("Main", "ActiveGroup", std::to_string(m_openGroup));
        if (!m_groups.empty()) {
            std::vector<std::string> lines;
            for (const ContactGroup& group : m_groups) {
                lines.push_back(group.name + "=");
            }
            // One replacement of the section, so that a crash cannot leave half a group list.
            list.WriteSection("Groups", lines);
        }
    }
    if (groupsPath) {
        PrivateProfile groupsFile(*groupsPath);
        for (const ContactGroup& group : m_groups) {
            std::vector<std::string> members;
            std::size_t used = 0;
            for (const auto& entry : group.contacts) {
                if (used >= MemberBlockBeginLimit) {
                    break;
                }
                members.push_back(std::string(platform::CutUtf8(entry->id, 8)) + "=");
                used += MemberEntrySize;
            }
            groupsFile.WriteSection(group.name, members);
        }
    }
    for (const ContactGroup& group : m_groups) {
        for (const auto& entry : group.contacts) {
            auto contactPath = store.ContactFile(entry->id);
            if (!contactPath) {
                continue;
            }
            PrivateProfile card(*contactPath);
            const FloatingPlacement& floating = entry->floating;
            // Only values that differ are written: each write rewrites the file, and a long
            // list would otherwise take seconds to save. A missing "Float On" reads as 0.
            const auto put = [&](std::string_view key, int value, int missing) {
                if (card.ReadInt(entry->id, key, missing) != value) {
                    card.Write(entry->id, key, std::to_string(value));
                }
            };
            put("Float On", floating.shown ? 1 : 0, 0);
            if (floating.shown) {
                for (const auto& [key, value] :
                     {std::pair{"x", floating.x}, std::pair{"y", floating.y},
                      std::pair{"Width", floating.width}}) {
                    if (value) {
                        put(key, *value, INT_MIN);
                    }
                }
            }
        }
    }
    m_groups.clear();
    m_openGroup = -1;
    m_account.clear();
}

int ContactList::FindGroup(std::string_view name) const {
    for (int i = 0; i < GroupCount(); ++i) {
        if (SameGroupName(m_groups[static_cast<std::size_t>(i)].name, name)) {
            return i;
        }
    }
    return -1;
}

void ContactList::SetOpenGroup(int index) {
    std::lock_guard lock(m_mutex);
    if (index >= -1 && index < GroupCount()) {
        m_openGroup = index;
    }
}

ContactGroup* ContactList::GroupAt(int index) {
    if (index < 0 || index >= GroupCount()) {
        return nullptr;
    }
    return &m_groups[static_cast<std::size_t>(index)];
}

int ContactList::AddGroup(std::string_view name) {
    std::lock_guard lock(m_mutex);
    if (name.empty() || FindGroup(name) >= 0) {
        return -1;
    }
    m_groups.push_back({std::string(name), {}});
    return GroupCount() - 1;
}

bool ContactList::RemoveGroup(int index) {
    std::lock_guard lock(m_mutex);
    ContactGroup* group = GroupAt(index);
    if (group == nullptr || IsStrangersGroup(group->name)) {
        return false;
    }
    m_groups.erase(m_groups.begin() + index);
    if (m_openGroup > index || m_openGroup >= GroupCount()) {
        --m_openGroup;
    }
    return true;
}

bool ContactList::RenameGroup(int index, std::string_view newName) {
    std::lock_guard lock(m_mutex);
    ContactGroup* group = GroupAt(index);
    if (group == nullptr || IsStrangersGroup(group->name) || newName.empty() ||
        IsStrangersGroup(newName)) {
        return false;
    }
    const int other = FindGroup(newName);
    if (other >= 0 && other != index) {
        return false;
    }
    group->name = std::string(newName);
    return true;
}

bool ContactList::MoveGroup(int from, int before) {
    std::lock_guard lock(m_mutex);
    if (GroupAt(from) == nullptr || before < 0 || before > GroupCount() || before == from ||
        before == from + 1) {
        return false;
    }
    const bool openMoves = m_openGroup == from;
    ContactGroup moving = std::move(m_groups[static_cast<std::size_t>(from)]);
    m_groups.erase(m_groups.begin() + from);
    const int target = before > from ? before - 1 : before;
    m_groups.insert(m_groups.begin() + target, std::move(moving));
    if (openMoves) {
        m_openGroup = target;
    } else if (m_openGroup > from && m_openGroup < before) {
        --m_openGroup;
    } else if (m_openGroup >= before && m_openGroup < from) {
        ++m_openGroup;
    }
    return true;
}

std::optional<ContactPosition> ContactList::FindLocked(std::string_view contactId) const {
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        const auto& contacts = m_groups[g].contacts;
        for (std::size_t i = 0; i < contacts.size(); ++i) {
            if (SameId(contacts[i]->id, contactId)) {
                return ContactPosition{static_cast<int>(g), static_cast<int>(i)};
            }
        }
    }
    return std::nullopt;
}

std::optional<ContactPosition> ContactList::FindContact(std::string_view contactId) const {
    std::lock_guard lock(m_mutex);
    return FindLocked(contactId);
}

ContactEntry* ContactList::Entry(ContactPosition position) const {
    if (position.group < 0 || position.group >= GroupCount()) {
        return nullptr;
    }
    const auto& contacts = m_groups[static_cast<std::size_t>(position.group)].contacts;
    if (position.item < 0 || position.item >= static_cast<int>(contacts.size())) {
        return nullptr;
    }
    return contacts[static_cast<std::size_t>(position.item)].get();
}

int ContactList::AddContact(int group, std::string_view contactId, std::string_view nickname,
                            int unread) {
    std::lock_guard lock(m_mutex);
    ContactGroup* target = GroupAt(group);
    if (target == nullptr || !IsValidId(contactId)) {
        return -1;
    }
    target->contacts.push_back(
        std::make_unique<ContactEntry>(std::string(contactId), std::string(nickname), unread));
    return static_cast<int>(target->contacts.size()) - 1;
}

int ContactList::RemoveContact(int group, int item) {
    std::lock_guard lock(m_mutex);
    ContactGroup* target = GroupAt(group);
    if (target == nullptr || item < 0 || item >= static_cast<int>(target->contacts.size())) {
        return -1;
    }
    target->contacts.erase(target->contacts.begin() + item);
    const int left = static_cast<int>(target->contacts.size());
    return left == 0 ? -1 : std::min(item, left - 1);
}

MoveOutcome ContactList::MoveContact(ContactPosition from, int toGroup, int toItem,
                                     ContactPosition* landed) {
    std::lock_guard lock(m_mutex);
    ContactGroup* source = GroupAt(from.group);
    ContactGroup* target = GroupAt(toGroup);
    if (source == nullptr || target == nullptr || from.item < 0 ||
        from.item >= static_cast<int>(source->contacts.size())) {
        return MoveOutcome::Invalid;
    }
    if (IsStrangersGroup(target->name)) {
        return MoveOutcome::RefusedBuiltInGroup;
    }
    auto entry = std::move(source->contacts[static_cast<std::size_t>(from.item)]);
    source->contacts.erase(source->contacts.begin() + from.item);
    int position = toItem;
    if (source == target && position > from.item) {
        --position;  // the target item moved up when the contact left the list
    }
    if (position < 0 || position > static_cast<int>(target->contacts.size())) {
        position = static_cast<int>(target->contacts.size());
    }
    target->contacts.insert(target->contacts.begin() + position, std::move(entry));
    if (landed != nullptr) {
        *landed = {toGroup, position};
    }
    return MoveOutcome::Moved;
}

bool ContactList::SetNickname(ContactPosition position, std::string_view nickname) {
    std::lock_guard lock(m_mutex);
    ContactEntry* entry = Entry(position);
    if (entry == nullptr) {
        return false;
    }
    entry->nickname = std::string(nickname);
    return true;
}

void ContactList::MarkFirstReports() {
    std::lock_guard lock(m_mutex);
    for (auto& group : m_groups) {
        for (auto& entry : group.contacts) {
            entry->firstReport = true;
        }
    }
}

std::vector<std::string> ContactList::ContactIds() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> ids;
    for (const auto& group : m_groups) {
        for (const auto& entry : group.contacts) {
            ids.push_back(entry->id);
        }
    }
    return ids;
}

bool ContactList::IncrementUnread(std::string_view contactId) {
    std::lock_guard lock(m_mutex);
    auto position = FindLocked(contactId);
    if (!position) {
        return false;
    }
    Entry(*position)->IncrementUnread();
    return true;
}

bool ContactList::DecrementUnread(std::string_view contactId) {
    std::lock_guard lock(m_mutex);
    auto position = FindLocked(contactId);
    if (!position) {
        return false;
    }
    Entry(*position)->DecrementUnread();
    return true;
}

bool ContactList::SetUnread(std::string_view contactId, int count) {
    std::lock_guard lock(m_mutex);
    auto position = FindLocked(contactId);
    if (!position) {
        return false;
    }
    Entry(*position)->unread.store(std::max(count, 0));
    return true;
}

int ContactList::GroupUnread(int group) const {
    std::lock_guard lock(m_mutex);
    if (group < 0 || group >= GroupCount()) {
        return 0;
    }
    int total = 0;
    for (const auto& entry : m_groups[static_cast<std::size_t>(group)].contacts) {
        total += entry->unread.load();
    }
    return total;
}

void ContactList::DeliverReceivedMessage(std::string_view senderId,
                                         std::span<const std::uint8_t> body) {
    if (body.size() <= BriefBytes) {
        return;
    }
    std::string account;
    {
        std::lock_guard lock(m_mutex);
        if (m_account.empty()) {
            throw DataError("No account is loaded.");
        }
        if (!IsValidId(senderId)) {
            throw DataError("Not a valid user ID: " + std::string(senderId));
        }
        account = m_account;
        if (!FindLocked(senderId)) {
            const int strangers = FindGroup(StrangersGroup);
            if (ContactGroup* group = GroupAt(strangers)) {
                group->contacts.push_back(std::make_unique<ContactEntry>(std::string(senderId),
                                                                         std::string(senderId), 0));
            }
        }
    }
    StoreReceivedMessage(account, senderId, body);
    IncrementUnread(senderId);
}

}  // namespace talvorine::client::data
