#include "talvorine/client/data/contact_list_store.h"

#include <cerrno>

#include "talvorine/client/data/accounts.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data {

namespace fs = std::filesystem;
using platform::PrivateProfile;
using protocol::UserProfile;

ContactListStore::ContactListStore(std::string accountId) : m_accountId(std::move(accountId)) {}

std::optional<fs::path> ContactListStore::Folder() const {
    return AccountFolder(m_accountId);
}

std::optional<fs::path> ContactListStore::ListFile() const {
    auto folder = Folder();
    return folder ? std::optional(*folder / ListFileName) : std::nullopt;
}

std::optional<fs::path> ContactListStore::GroupsFile() const {
    auto folder = Folder();
    return folder ? std::optional(*folder / GroupsFileName) : std::nullopt;
}

std::optional<fs::path> ContactListStore::ContactFile(std::string_view contactId) const {
    if (!IsValidId(contactId)) {
        errno = EINVAL;
        return std::nullopt;
    }
    auto folder = Folder();
    return folder ? std::optional(*folder / (std::string(contactId) + ".usr")) : std::nullopt;
}

bool ContactListStore::AddGroup(std::string_view name) {
    auto list = ListFile();
    return list && PrivateProfile(*list).Write("Groups", name, "");
}

bool ContactListStore::RemoveGroup(std::string_view name) {
    auto list = ListFile();
    auto groups = GroupsFile();
    return list && groups && PrivateProfile(*list).DeleteKey("Groups", name) &&
           PrivateProfile(*groups).DeleteSection(name);
}

bool ContactListStore::RenameGroup(std::string_view oldName, std::string_view newName) {
    auto list = ListFile();
    auto groups = GroupsFile();
    if (!list || !groups) {
        return false;
    }
    PrivateProfile listFile(*list);
    PrivateProfile groupsFile(*groups);
    const std::vector<std::string> members = groupsFile.ReadSection(oldName);
    return listFile.DeleteKey("Groups", oldName) && listFile.Write("Groups", newName, "") &&
           groupsFile.DeleteSection(oldName) && groupsFile.WriteSection(newName, members);
}

bool ContactListStore::RemoveContact(std::string_view group, std::string_view contactId) {
    auto groups = GroupsFile();
    auto contact = ContactFile(contactId);
    if (!groups || !contact || !PrivateProfile(*groups).DeleteKey(group, contactId)) {
        return false;
    }
    std::error_code ignored;
    fs::remove(*contact, ignored);
    return true;
}

bool ContactListStore::AddContact(std::string_view group, std::string_view contactId,
                                  std::string_view nickname, std::string_view email) {
    auto groups = GroupsFile();
    auto contact = ContactFile(contactId);
    if (!groups || !contact) {
        return false;
    }
    PrivateProfile card(*contact);
    return PrivateProfile(*groups).Write(group, contactId, "") &&
           card.Write(contactId, "Nickname", platform::CutUtf8(nickname, 64)) &&
           card.Write(contactId, "Email", platform::CutUtf8(email, 255));
}

bool ContactListStore::SetNickname(std::string_view contactId, std::string_view nickname) {
    auto contact = ContactFile(contactId);
    return contact &&
           PrivateProfile(*contact).Write(contactId, "Nickname", platform::CutUtf8(nickname, 64));
}

bool ContactListStore::StoreProfile(const UserProfile& profile) {
    auto contact = ContactFile(profile.userId);
    if (!contact) {
        return false;
    }
    PrivateProfile card(*contact);
    for (const ProfileKey& key : ProfileKeys()) {
        if (!card.Write(profile.userId, key.key,
                        platform::CutUtf8(profile.*key.member, key.width - 1))) {
            return false;
        }
    }
    return card.Write(profile.userId, "Updated", "1");
}

std::optional<UserProfile> ContactListStore::ReadProfile(std::string_view contactId) const {
    auto contact = ContactFile(contactId);
    if (!contact) {
        return std::nullopt;
    }
    PrivateProfile card(*contact);
    UserProfile profile;
    for (const ProfileKey& key : ProfileKeys()) {
        std::string_view fallback = key.member == &UserProfile::gender ? "0" : "";
        profile.*key.member = card.ReadString(contactId, key.key, fallback, key.width);
    }
    profile.userId = std::string(contactId);
    return profile;
}

bool ContactListStore::IsProfileUpdated(std::string_view contactId) const {
    auto contact = ContactFile(contactId);
    return contact && PrivateProfile(*contact).ReadInt(contactId, "Updated", 0) != 0;
}

ContactCard ContactListStore::ReadCard(std::string_view contactId) const {
    ContactCard card;
    auto contact = ContactFile(contactId);
    if (!contact) {
        return card;
    }
    PrivateProfile file(*contact);
    card.nickname = file.ReadString(contactId, "Nickname", contactId, 65);
    card.email = file.ReadString(contactId, "Email", "", 256);
    card.phone = file.ReadString(contactId, "Phone", "", 33);
    card.beepPager = file.ReadString(contactId, "BeepPager", "", 33);
    card.mobilePhone = file.ReadString(contactId, "MobilePhone", "", 33);
    return card;
}

}  // namespace talvorine::client::data
