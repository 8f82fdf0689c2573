#include "talvorine/client/ui/contacts/group_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "talvorine/client/ui/contacts/contact_list_rules.h"
#include "talvorine/platform/private_profile.h"

namespace talvorine::client::ui::contacts {

namespace T = data::ContactListText;

namespace {

std::string ErrorText() {
    const int error = errno;
    return error != 0 ? std::strerror(error) : "Unknown error";
}

}  // namespace

bool GroupCommands::IsFull(int group) const {
    return group >= 0 && group < m_list.GroupCount() &&
           m_list.Group(group).contacts.size() >= data::MaxSavedGroupMembers;
}

CommandResult GroupCommands::AddGroup(std::string_view typed, int* added) {
    std::lock_guard lock(m_listMutex);
    const GroupNameCheck check = CheckGroupName(m_list, typed);
    if (!check.refusal.empty()) {
        return CommandResult::Failed(check.refusal);
    }
    errno = 0;
    if (!Store().AddGroup(check.name)) {
        return CommandResult::Failed(WithLastError(T::FailedToAddGroup));
    }
    const int index = m_list.AddGroup(check.name);
    m_list.SetOpenGroup(index);
    if (added != nullptr) {
        *added = index;
    }
    return {};
}

CommandResult GroupCommands::RenameGroup(int group, std::string_view typed) {
    std::lock_guard lock(m_listMutex);
    if (group < 0 || group >= m_list.GroupCount()) {
        return CommandResult::Failed(std::string(T::FailedToRenameGroup) + "Invalid argument");
    }
    const std::string oldName = m_list.Group(group).name;
    if (data::IsStrangersGroup(oldName)) {
        return CommandResult::Failed(std::string(T::CannotRenameBuiltInGroup));
    }
    const GroupNameCheck check = CheckGroupName(m_list, typed, group);
    if (!check.refusal.empty()) {
        return CommandResult::Failed(check.refusal);
    }
    if (check.name == oldName) {
        return {};
    }
    errno = 0;
    if (!Store().RenameGroup(oldName, check.name)) {
        return CommandResult::Failed(WithLastError(T::FailedToRenameGroup));
    }
    m_list.RenameGroup(group, check.name);
    return {};
}

std::vector<int> GroupCommands::MoveTargets(int group) const {
    std::vector<int> targets;
    for (int i = 0; i < m_list.GroupCount(); ++i) {
        if (i != group && !data::IsStrangersGroup(m_list.Group(i).name)) {
            targets.push_back(i);
        }
    }
    return targets;
}

bool GroupCommands::SaveMembers(int group) {
    auto groupsFile = Store().GroupsFile();
    if (!groupsFile) {
        return false;
    }
    std::vector<std::string> lines;
    for (const auto& entry : m_list.Group(group).contacts) {
        lines.push_back(entry->id + "=");
    }
    return platform::PrivateProfile(*groupsFile).WriteSection(m_list.Group(group).name, lines);
}

CommandResult GroupCommands::DeleteGroup(int group, std::optional<int> moveTo,
                                         const std::function<void(const std::string&)>& removing) {
    std::lock_guard lock(m_listMutex);
    if (group < 0 || group >= m_list.GroupCount()) {
        return CommandResult::Failed(std::string(T::FailedToRemoveGroup) + "Invalid argument");
    }
    if (data::IsStrangersGroup(m_list.Group(group).name)) {
        return CommandResult::Failed(std::string(T::CannotDeleteBuiltInGroup));
    }
    const std::string name = m_list.Group(group).name;
    data::ContactListStore store = Store();
    if (moveTo) {
        const auto targets = MoveTargets(group);
        if (std::find(targets.begin(), targets.end(), *moveTo) == targets.end()) {
            return CommandResult::Failed(std::string(T::CannotMoveUserToGroup));
        }
        const std::size_t moving = m_list.Group(group).contacts.size();
        if (m_list.Group(*moveTo).contacts.size() + moving > data::MaxSavedGroupMembers) {
            return CommandResult::Failed(FormatText(Text::GroupFull, {m_list.Group(*moveTo).name}));
        }
        // From the last member to the first, each in front of the one moved before it, so
        // the members keep their order at the end of the target group.
        const int insertAt = static_cast<int>(m_list.Group(*moveTo).contacts.size());
        for (int item = static_cast<int>(moving) - 1; item >= 0; --item) {
            m_list.MoveContact({group, item}, *moveTo, insertAt);
        }
        // The target's member lines are written before the old section goes, so that no
        // contact is lost if the program ends in between.
        errno = 0;
        if (moving > 0 && !SaveMembers(*moveTo)) {
            return CommandResult::Failed(WithLastError(T::FailedToRemoveGroup));
        }
    }
    while (!m_list.Group(group).contacts.empty()) {
        const data::ContactEntry& entry = *m_list.Group(group).contacts.front();
        errno = 0;
        if (!store.RemoveContact(name, entry.id)) {
            return CommandResult::Failed(FormatText(Text::FailedToRemoveUserInGroup,
                                                    {entry.nickname, entry.id, ErrorText()}));
        }
        if (removing) {
            removing(entry.id);
        }
        m_list.RemoveContact(group, 0);
    }
    errno = 0;
    if (!store.RemoveGroup(name)) {
        return CommandResult::Failed(WithLastError(T::FailedToRemoveGroup));
    }
    m_list.RemoveGroup(group);
    return {};
}

CommandResult GroupCommands::DeleteUser(data::ContactPosition position) {
    std::lock_guard lock(m_listMutex);
    const data::ContactEntry* entry = m_list.Entry(position);
    if (entry == nullptr) {
        return CommandResult::Failed(std::string(T::FailedToDeleteUser) + "Invalid argument");
    }
    errno = 0;
    if (!Store().RemoveContact(m_list.Group(position.group).name, entry->id)) {
        return CommandResult::Failed(WithLastError(T::FailedToDeleteUser));
    }
    m_list.RemoveContact(position.group, position.item);
    return {};
}

CommandResult GroupCommands::RenameUser(data::ContactPosition position, std::string_view typed) {
    std::string nickname(typed);
    while (!nickname.empty() && std::isspace(static_cast<unsigned char>(nickname.back()))) {
        nickname.pop_back();
    }
    const auto first = nickname.find_first_not_of(" \t\r\n\f\v");
    nickname.erase(0, first == std::string::npos ? nickname.size() : first);
    if (nickname.empty()) {
        return CommandResult::Failed(std::string(Text::NicknameEmpty));
    }
    std::lock_guard lock(m_listMutex);
    const data::ContactEntry* entry = m_list.Entry(position);
    if (entry == nullptr) {
        return CommandResult::Failed(std::string(Text::FailedToChangeNickname) +
                                     "Invalid argument");
    }
    if (entry->nickname == nickname) {
        return {};
    }
    errno = 0;
    if (!Store().SetNickname(entry->id, nickname)) {
        return CommandResult::Failed(WithLastError(Text::FailedToChangeNickname));
    }
    m_list.SetNickname(position, nickname);
    return {};
}

CommandResult GroupCommands::MoveContact(data::ContactPosition from, int toGroup, int toItem,
                                         data::ContactPosition* landed) {
    std::lock_guard lock(m_listMutex);
    if (toGroup >= 0 && toGroup < m_list.GroupCount() &&
        data::IsStrangersGroup(m_list.Group(toGroup).name)) {
        return CommandResult::Failed(std::string(T::CannotMoveUserToGroup));
    }
    if (toGroup != from.group && IsFull(toGroup)) {
        return CommandResult::Failed(FormatText(Text::GroupFull, {m_list.Group(toGroup).name}));
    }
    const auto outcome = m_list.MoveContact(from, toGroup, toItem, landed);
    if (outcome == data::MoveOutcome::RefusedBuiltInGroup) {
        return CommandResult::Failed(std::string(T::CannotMoveUserToGroup));
    }
    return {outcome == data::MoveOutcome::Moved, {}};
}

CommandResult GroupCommands::AddContact(int group, std::string_view contactId,
                                        std::string_view nickname, std::string_view email,
                                        int* added) {
    std::lock_guard lock(m_listMutex);
    if (group < 0 || group >= m_list.GroupCount()) {
        return CommandResult::Failed("Invalid argument");
    }
    if (data::IsStrangersGroup(m_list.Group(group).name)) {
        return CommandResult::Failed(std::string(T::CannotAddUserToGroup));
    }
    if (IsFull(group)) {
        return CommandResult::Failed(FormatText(Text::GroupFull, {m_list.Group(group).name}));
    }
    errno = 0;
    if (!Store().AddContact(m_list.Group(group).name, contactId, nickname, email)) {
        return CommandResult::Failed(ErrorText());
    }
    const int index = m_list.AddContact(group, contactId, nickname, 0);
    if (added != nullptr) {
        *added = index;
    }
    return {};
}

}  // namespace talvorine::client::ui::contacts
