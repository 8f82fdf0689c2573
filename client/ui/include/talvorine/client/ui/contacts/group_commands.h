#pragma once
// The group and contact commands on the loaded list: each writes the list files (single
// changes at once) and changes the list under the ListMutex. No widget: the window asks the
// questions and shows the texts these return.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/data/contact_list.h"

namespace talvorine::client::ui::contacts {

struct CommandResult {
    bool ok = true;
    std::string text;  // the refusal or failure to show when !ok
    static CommandResult Failed(std::string text) { return {false, std::move(text)}; }
};

class GroupCommands {
public:
    GroupCommands(data::ContactList& list, std::mutex& listMutex)
        : m_list(list), m_listMutex(listMutex) {}

    // "Add Group...": the typed name (trimmed, checked), written and appended; it becomes the
    // open group. `added` receives its index.
    CommandResult AddGroup(std::string_view typed, int* added = nullptr);
    // "Rename Group...": refused for "Strangers" and for the name of another group.
    CommandResult RenameGroup(int group, std::string_view typed);
    // The groups "Delete Group" may move the members to: every group but this one and
    // "Strangers", by index.
    std::vector<int> MoveTargets(int group) const;
    // "Delete Group": refused for "Strangers". With `moveTo`, the members go to that group
    // (taken from the last to the first, keeping their order) and its member lines are saved
    // before this group's section is removed; otherwise every member is removed from the files.
    // `removing` is told of each contact before it leaves the list (its floating window closes).
    CommandResult DeleteGroup(int group, std::optional<int> moveTo,
                              const std::function<void(const std::string&)>& removing = {});
    // "Delete User".
    CommandResult DeleteUser(data::ContactPosition position);
    // "Rename User": the trimmed nickname, written when it changed.
    CommandResult RenameUser(data::ContactPosition position, std::string_view typed);
    // Drag and drop inside the bar: into "Strangers" and into a full group refused; nothing is
    // written (the next save writes the order).
    CommandResult MoveContact(data::ContactPosition from, int toGroup, int toItem,
                              data::ContactPosition* landed = nullptr);
    // The user wizard's add: written, then appended. Refused for "Strangers" and full groups.
    CommandResult AddContact(int group, std::string_view contactId, std::string_view nickname,
                             std::string_view email, int* added = nullptr);

    // A group of MaxSavedGroupMembers contacts takes no more (the list files hold no more).
    bool IsFull(int group) const;

private:
    data::ContactListStore Store() const { return data::ContactListStore(m_list.LoadedAccount()); }
    // Writes the group's member lines as the full save does.
    bool SaveMembers(int group);

    data::ContactList& m_list;
    std::mutex& m_listMutex;
};

}  // namespace talvorine::client::ui::contacts
