#pragma once
// The accounts kept on this machine: the program folder and each account's folder tree, the
// .UID profile files, the account in use ("CurrentID") and the remembered passwords.
//
// Folder layout under AccountRoot():
//   Users/<id>.UID                  profile of the account (INI, one section named <id>)
//   Users/<id>/                     account folder (contact list files)
//   Users/<id>/Sent Messages        message stores of sent messages
//   Users/<id>/Received Messages    message stores of received messages
//   Users/<id>/Chat                 chat history files
//   Users/<id>/File Transfer        file-transfer history files
// Every folder function creates the folder when it is missing and gives nullopt when that
// fails; callers treat that as a store that cannot be opened. Ids that are not 8 decimal
// digits never become paths (a folder name from a damaged file must not climb out of Users).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::data {

// Texts shown by the account windows.
namespace AccountText {
inline constexpr std::string_view InvalidUidFile =
    "Invalid UID file. Please select another account";
inline constexpr std::string_view LoginIdNotAvailable =
    "The active login ID is not available. Correct this problem now?";
inline constexpr std::string_view SelectAccountCaption = "Select Login Account";
inline constexpr std::string_view PleaseSelectAccount = "Please select an account";
inline constexpr std::string_view PleaseInputPassword = "Please input the correct password";
inline constexpr std::string_view FailedToSaveAccount = "Failed to save account information:\r\n";
}  // namespace AccountText

// Registry places of the client (under the current user's hive).
inline constexpr std::string_view ClientRegistryRoot = "Software\\Talvorine\\Messenger";
inline constexpr std::string_view CurrentIdValue = "CurrentID";
inline constexpr std::string_view PasswordValue = "Password";
std::string PasswordKeyPath(
    std::string_view userId);  // "Software\\Talvorine\\Messenger\\Users\\<id>"

inline constexpr std::size_t MaxPasswordLength = 16;

// The client's program folder, parent of "Users" and "Sound".
std::filesystem::path AccountRoot();

// Makes sure `folder` is a directory, creating it component by component from the left; a
// component that already exists is passed over. False when it is not a directory at the end,
// errno telling why.
bool EnsureFolder(const std::filesystem::path& folder);

std::optional<std::filesystem::path> UsersFolder();
std::optional<std::filesystem::path> AccountFolder(std::string_view userId);
std::optional<std::filesystem::path> SentFolder(std::string_view userId);
std::optional<std::filesystem::path> ReceivedFolder(std::string_view userId);
std::optional<std::filesystem::path> ChatFolder(std::string_view userId);
std::optional<std::filesystem::path> FileTransferFolder(std::string_view userId);
// Users/<id>.UID (not created; the Users folder is).
std::filesystem::path ProfileFile(std::string_view userId);

bool IsValidId(std::string_view text);        // exactly 8 characters '0'..'9'
bool IsValidPassword(std::string_view text);  // 1 to 16 characters
bool IsInList(std::string_view userId, const std::vector<std::string>& list);

// Ids of the accounts: files Users/*.UID (not folders) whose title is 8 decimal digits, in
// the order the folder listing gives them.
std::vector<std::string> ListAccounts();

// Writes the 21 profile keys (never the password) in the file's order; stops at the first
// failed write (keys written before stay). False on failure, errno telling why.
bool WriteProfile(std::string_view userId, const protocol::UserProfile& profile);
// nullopt when the file's "id" is missing or differs from userId. Missing keys are empty
// ("Gender" "0"); the password stays empty.
std::optional<protocol::UserProfile> ReadProfile(std::string_view userId);

// One profile key of the .UID and .usr files with the width of its record field.
struct ProfileKey {
    std::string_view key;
    std::size_t width;  // including the terminator
    std::string protocol::UserProfile::*member;
};
// The 21 stored keys in the order they are written: "id", "RealName", "Nickname", "Birthday",
// "Gender", then "Email" .. "Description".
const std::vector<ProfileKey>& ProfileKeys();

// "CurrentID", at most 8 characters (a longer value is cut); empty when absent.
std::string GetCurrentId();
bool SetCurrentId(std::string_view userId);

// The remembered password, or nullopt when the key or a 16-byte binary value is missing.
std::optional<std::string> LoadPassword(std::string_view userId);
// Stores the password enciphered (an empty text remembers nothing). False when the key can
// be neither opened nor created, or the text is longer than 16 characters.
bool SavePassword(std::string_view userId, std::string_view password);

// What the client keeps about the account in use for the whole session.
struct CurrentAccount {
    std::string userId;
    std::string password;
    std::string nickname;
};

// The account check, as steps that tell the window what to do next instead of showing
// dialogs itself.
enum class AccountCheckStep {
    RunAccountWizard,  // no account: run the wizard; Finish -> ContinueAccountCheck, else quit
    SelectAccount,     // show CDlgSelectAccount; OK -> ContinueAccountCheck, cancel -> quit
    InvalidProfile,    // show AccountText::InvalidUidFile (error icon), then as SelectAccount
    Ready,             // the account is usable; show its id as the main window's title
};

struct AccountCheckResult {
    AccountCheckStep next = AccountCheckStep::Ready;
    // Ready with a profile read for an account other than the one the contact list shows:
    // the caller unloads the old list and loads this account's.
    bool accountChanged = false;
};

// Start-up: reads "CurrentID" and, when valid, its remembered password into `current`, then
// runs ContinueAccountCheck.
AccountCheckResult StartAccountCheck(CurrentAccount& current, std::string_view shownId);
// The check from the account listing on (after the wizard or the select dialog ended well).
// `shownId` is the account whose contact list is shown (empty when none); the profile is read
// only when the current id differs from it.
AccountCheckResult ContinueAccountCheck(CurrentAccount& current, std::string_view shownId);

enum class OptionsGuardStep {
    RunAccountWizard,  // no account: run the wizard; Finish -> ask again, else end the command
    AskSelectAccount,  // ask AccountText::LoginIdNotAvailable; Yes -> select dialog; OK -> ask
                       // again
    OpenOptions,
};
OptionsGuardStep CheckOptionsGuard(const CurrentAccount& current);

// CDlgSelectAccount's data.
struct AccountChoice {
    std::string userId;
    std::string label;  // "nickname (id)" when the profile reads, else the bare id
};
std::vector<AccountChoice> AccountChoices();
// The remembered password when it is a valid one (fills the field and ticks "&Save password").
std::optional<std::string> RememberedPassword(std::string_view userId);

enum class SelectAccountOutcome {
    NoAccountSelected,  // AccountText::PleaseSelectAccount, warning icon, focus to the list
    InvalidPassword,    // AccountText::PleaseInputPassword, warning icon, focus to the password
    Accepted,           // "CurrentID" and the password were stored; `current` was updated
};
SelectAccountOutcome AcceptSelectAccount(const std::optional<std::string>& selectedId,
                                         std::string_view password, bool savePassword,
                                         CurrentAccount& current);

}  // namespace talvorine::client::data
