#include "talvorine/client/data/accounts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include "talvorine/platform/password_cipher.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/platform/program_folders.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data {

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegistryKey;
using protocol::UserProfile;

std::string PasswordKeyPath(std::string_view userId) {
    return std::string(ClientRegistryRoot) + "\\Users\\" + std::string(userId);
}

fs::path AccountRoot() {
    return platform::ClientHome();
}

bool EnsureFolder(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        return true;
    }
    fs::path built;
    for (const fs::path& part : folder) {
        built /= part;
        if (part == built.root_path() || part.empty()) {
            continue;
        }
        if (fs::exists(fs::symlink_status(built, ec))) {
            continue;
        }
        std::error_code createError;
        if (!fs::create_directory(built, createError) && !fs::is_directory(built, ec)) {
            errno = createError ? createError.value() : ENOTDIR;
            return false;
        }
    }
    if (fs::is_directory(folder, ec)) {
        return true;
    }
    // A component that exists as a file: callers show errno's text, which must not be
    // "Success".
    errno = ENOTDIR;
    return false;
}

namespace {

std::optional<fs::path> Ensured(fs::path folder) {
    if (!EnsureFolder(folder)) {
        return std::nullopt;
    }
    return folder;
}

std::optional<fs::path> AccountSubfolder(std::string_view userId, std::string_view name) {
    if (!IsValidId(userId)) {
        errno = EINVAL;
        return std::nullopt;
    }
    fs::path folder = AccountRoot() / "Users" / std::string(userId);
    if (!name.empty()) {
        folder /= std::string(name);
    }
    return Ensured(std::move(folder));
}

std::string Cut(std::string_view text, std::size_t width) {
    return std::string(platform::CutUtf8(text, width - 1));
}

std::size_t FieldWidth(std::string UserProfile::*member) {
    for (const auto& field : protocol::ProfileFields) {
        if (field.member == member) {
            return field.width;
        }
    }
    return 1;
}

}  // namespace

std::optional<fs::path> UsersFolder() {
    return Ensured(AccountRoot() / "Users");
}
std::optional<fs::path> AccountFolder(std::string_view userId) {
    return AccountSubfolder(userId, {});
}
std::optional<fs::path> SentFolder(std::string_view userId) {
    return AccountSubfolder(userId, "Sent Messages");
}
std::optional<fs::path> ReceivedFolder(std::string_view userId) {
    return AccountSubfolder(userId, "Received Messages");
}
std::optional<fs::path> ChatFolder(std::string_view userId) {
    return AccountSubfolder(userId, "Chat");
}
std::optional<fs::path> FileTransferFolder(std::string_view userId) {
    return AccountSubfolder(userId, "File Transfer");
}

fs::path ProfileFile(std::string_view userId) {
    return AccountRoot() / "Users" / (std::string(userId) + ".UID");
}

bool IsValidId(std::string_view text) {
    return text.size() == 8 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsValidPassword(std::string_view text) {
    return !text.empty() && text.size() <= MaxPasswordLength;
}

bool IsInList(std::string_view userId, const std::vector<std::string>& list) {
    return std::find(list.begin(), list.end(), userId) != list.end();
}

std::vector<std::string> ListAccounts() {
    std::vector<std::string> accounts;
    auto users = UsersFolder();
    if (!users) {
        return accounts;
    }
    std::error_code ec;
    for (fs::directory_iterator it(*users, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (it->is_directory(ec) || path.extension() != ".UID") {
            continue;
        }
        std::string title = path.stem().string();
        if (IsValidId(title)) {
            accounts.push_back(std::move(title));
        }
    }
    return accounts;
}

const std::vector<ProfileKey>& ProfileKeys() {
    static const std::vector<ProfileKey> keys = [] {
        std::vector<std::pair<std::string_view, std::string UserProfile::*>> order = {
            {"id", &UserProfile::userId},
            {"RealName", &UserProfile::realName},
            {"Nickname", &UserProfile::nickname},
            {"Birthday", &UserProfile::birthday},
            {"Gender", &UserProfile::gender},
            {"Email", &UserProfile::email},
            {"Address", &UserProfile::address},
            {"City", &UserProfile::city},
            {"State", &UserProfile::state},
            {"Country", &UserProfile::country},
            {"Zip", &UserProfile::zip},
            {"Phone", &UserProfile::phone},
            {"Fax", &UserProfile::fax},
            {"MobilePhone", &UserProfile::mobilePhone},
            {"BeepPager", &UserProfile::beepPager},
            {"HomePage", &UserProfile::homePage},
            {"Company", &UserProfile::company},
            {"Department", &UserProfile::department},
            {"Position", &UserProfile::position},
            {"Occupation", &UserProfile::occupation},
            {"Description", &UserProfile::description},
        };
        std::vector<ProfileKey> result;
        for (const auto& [key, member] : order) {
            result.push_back({key, FieldWidth(member), member});
        }
        return result;
    }();
    return keys;
}

bool WriteProfile(std::string_view userId, const UserProfile& profile) {
    if (!IsValidId(userId)) {
        errno = EINVAL;
        return false;
    }
    if (!UsersFolder()) {
        return false;
    }
    platform::PrivateProfile file(ProfileFile(userId));
    for (const ProfileKey& key : ProfileKeys()) {
        std::string value =
            key.member == &UserProfile::userId ? std::string(userId) : profile.*key.member;
        if (!file.Write(userId, key.key, Cut(value, key.width))) {
            return false;
        }
    }
    return true;
}

std::optional<UserProfile> ReadProfile(std::string_view userId) {
    if (!IsValidId(userId)) {
        return std::nullopt;
    }
    platform::PrivateProfile file(ProfileFile(userId));
    UserProfile profile;
    if (file.ReadString(userId, "id", "", 9) != userId) {
        return std::nullopt;
    }
    for (const ProfileKey& key : ProfileKeys()) {
        std::string_view fallback = key.member == &UserProfile::gender ? "0" : "";
        profile.*key.member = file.ReadString(userId, key.key, fallback, key.width);
    }
    return profile;
}

std::string GetCurrentId() {
    try {
        auto key = RegistryKey::Open(Hive::CurrentUser, ClientRegistryRoot);
        if (!key) {
            return {};
        }
        std::string id = key->GetString(CurrentIdValue, "");
        return std::string(platform::CutUtf8(id, 8));
    } catch (const std::exception&) {
        return {};
    }
}

bool SetCurrentId(std::string_view userId) {
    try {
        RegistryKey::Create(Hive::CurrentUser, ClientRegistryRoot)
            .SetString(CurrentIdValue, userId);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> LoadPassword(std::string_view userId) {
    try {
        auto key = RegistryKey::Open(Hive::CurrentUser, PasswordKeyPath(userId));
        if (!key) {
            return std::nullopt;
        }
        auto stored = key->QueryBinary(PasswordValue);
        if (!stored || stored->size() != platform::StoredPasswordSize) {
            return std::nullopt;
        }
        return platform::DecipherPassword(
            std::span<const std::uint8_t, platform::StoredPasswordSize>(
                stored->data(), platform::StoredPasswordSize));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool SavePassword(std::string_view userId, std::string_view password) {
    if (password.size() > MaxPasswordLength) {
        return false;
    }
    try {
        // A std::string, so that even an empty text has a non-null data pointer.
        const std::string text(password);
        auto stored = platform::EncipherPassword(text);
        RegistryKey::Create(Hive::CurrentUser, PasswordKeyPath(userId))
            .SetBinary(PasswordValue, stored);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

AccountCheckResult StartAccountCheck(CurrentAccount& current, std::string_view shownId) {
    current.userId = GetCurrentId();
    if (IsValidId(current.userId)) {
        if (auto password = LoadPassword(current.userId)) {
            current.password = *password;
        }
    }
    return ContinueAccountCheck(current, shownId);
}

AccountCheckResult ContinueAccountCheck(CurrentAccount& current, std::string_view shownId) {
    std::vector<std::string> accounts = ListAccounts();
    if (accounts.empty()) {
        return {AccountCheckStep::RunAccountWizard, false};
    }
    if (!IsValidId(current.userId) || !IsInList(current.userId, accounts) ||
        !IsValidPassword(current.password)) {
        return {AccountCheckStep::SelectAccount, false};
    }
    if (current.userId == shownId) {
        return {AccountCheckStep::Ready, false};
    }
    auto profile = ReadProfile(current.userId);
    if (!profile) {
        return {AccountCheckStep::InvalidProfile, false};
    }
    current.nickname = profile->nickname;
    return {AccountCheckStep::Ready, true};
}

OptionsGuardStep CheckOptionsGuard(const CurrentAccount& current) {
    std::vector<std::string> accounts = ListAccounts();
    if (accounts.empty()) {
        return OptionsGuardStep::RunAccountWizard;
    }
    if (!IsValidId(current.userId) || !IsInList(current.userId, accounts)) {
        return OptionsGuardStep::AskSelectAccount;
    }
    return OptionsGuardStep::OpenOptions;
}

std::vector<AccountChoice> AccountChoices() {
    std::vector<AccountChoice> choices;
    for (std::string& id : ListAccounts()) {
        auto profile = ReadProfile(id);
        std::string label = profile ? profile->nickname + " (" + id + ")" : id;
        choices.push_back({std::move(id), std::move(label)});
    }
    return choices;
}

std::optional<std::string> RememberedPassword(std::string_view userId) {
    auto password = LoadPassword(userId);
    if (password && IsValidPassword(*password)) {
        return password;
    }
    return std::nullopt;
}

SelectAccountOutcome AcceptSelectAccount(const std::optional<std::string>& selectedId,
                                         std::string_view password, bool savePassword,
                                         CurrentAccount& current) {
    if (!selectedId || selectedId->empty()) {
        return SelectAccountOutcome::NoAccountSelected;
    }
    if (!IsValidPassword(password)) {
        return SelectAccountOutcome::InvalidPassword;
    }
    SetCurrentId(*selectedId);
    SavePassword(*selectedId, savePassword ? password : std::string_view(""));
    current.userId = *selectedId;
    current.password = std::string(password);
    return SelectAccountOutcome::Accepted;
}

}  // namespace talvorine::client::data
