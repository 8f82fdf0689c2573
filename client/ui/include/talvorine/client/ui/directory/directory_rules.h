#pragma once
// The rules of the user wizard and the user information sheet that need no widget: the
// search condition, the verdict on each chosen user and the add loop with its answers, the
// silent picture download of a new contact, the own profile's checks and the contact
// profile kept in the .usr file.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/contacts/contact_list_rules.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::ui::directory {

namespace Text {
inline constexpr std::string_view WizardCaption = "User Wizard";
inline constexpr std::string_view SelectTitle = "Search Condition";
inline constexpr std::string_view ResultTitle = "Search Result";
inline constexpr std::string_view ById = "By &ID:";
inline constexpr std::string_view ByNickname = "By &nickname:";
inline constexpr std::string_view ByEmail = "By E-mail:";
inline constexpr std::string_view Inclusive = "&Inclusive";
inline constexpr std::string_view Exact = "&Exact";
inline constexpr std::string_view EmptyCondition =
    "Because you didn't specify any search condition, all registered users will be "
    "returned.\r\nContinue anyway?";
inline constexpr std::string_view SelectUsersToAdd = "Select users to add to contact list:";
inline constexpr std::string_view MultipleTip = "You can add multiple users at one time";
inline constexpr std::string_view ColumnId = "ID";
inline constexpr std::string_view ColumnNickname = "Nickname";
inline constexpr std::string_view ColumnEmail = "E-mail";
inline constexpr std::string_view SelectOneOrMore = "Please select one or more user(s).";
inline constexpr std::string_view CannotAddYourself = "Can not add yourself to the contact list";
inline constexpr std::string_view AddFailed = "Failed to add %s(%s) to your contact list:\r\n%s";
inline constexpr std::string_view AlreadyListed =
    "One or more user(s) could not be added.\r\n\r\nThese use(s) already exist in your contact "
    "list:";
inline constexpr std::string_view AddMore = "&I want to add more users";

inline constexpr std::string_view ContactCaption = "User Info";
inline constexpr std::string_view OwnCaption = "Change My Info";
inline constexpr std::string_view Basic = "Basic";
inline constexpr std::string_view Communication = "Communication";
inline constexpr std::string_view More = "More";
inline constexpr std::string_view Save = "&Save";
inline constexpr std::string_view Update = "&Update";
inline constexpr std::string_view Done = "&Done";
inline constexpr std::string_view UserDeleted = "User has been deleted.";
inline constexpr std::string_view TypeNickname = "Your must type a nickname.";
inline constexpr std::string_view InfoSaved = "Your information has been saved";
inline constexpr std::string_view LocalUpdateFailed = "Failed to update local info.";
inline constexpr std::string_view PasswordCaption = "%s - Password Required";
inline constexpr std::string_view PasswordLabel = "&Password";
inline constexpr std::string_view OwnInfoCommand = "View / Change My &Info...";
}  // namespace Text

using contacts::FormatText;

// --- the search condition ---

enum class SearchCategory { Id = 0, Nickname = 1, Email = 2 };

// The edit field's limit of each category (characters).
int ConditionFieldLimit(SearchCategory category);

struct SearchCondition {
    SearchCategory category = SearchCategory::Id;
    bool exact = false;
    std::string text;
};

// An empty condition lists every registered user: the user is asked first.
bool NeedsEmptyConditionQuestion(const SearchCondition& condition);
// The request: the text cut to 8, 64 or 255 bytes by category (never half a character).
protocol::SearchRequest BuildSearchRequest(const SearchCondition& condition);

// --- adding the chosen users ---

enum class AddVerdict { Add, Yourself, AlreadyListed };
AddVerdict JudgeUser(std::string_view userId, std::string_view ownId, bool alreadyListed);

enum class FailureAnswer { Abort, Retry, Ignore };

// What the add loop needs from the contact list and the window.
struct AddUserPorts {
    std::function<bool(const std::string& userId)> isListed;
    // Writes and appends the contact; the system's error text when that fails.
    std::function<std::optional<std::string>(const protocol::SearchRow& row)> add;
    // After a successful add (the pictures are fetched, the poll will see the contact).
    std::function<void(const protocol::SearchRow& row)> added;
    std::function<void()> showYourself;
    // "Failed to add ..." with Abort, Retry and Ignore.
    std::function<FailureAnswer(const std::string& text)> askAfterFailure;
    // The users already listed, in one box.
    std::function<void(const std::string& text)> showAlreadyListed;
};

enum class AddOutcome { Done, Aborted };
// The chosen rows in list order: oneself refused (told each time), users already on the
// list collected and told once at the end, the others added with Retry and Ignore on a
// failure; Abort ends the whole operation at once without the summary.
AddOutcome AddChosenUsers(const std::vector<protocol::SearchRow>& rows, std::string_view ownId,
                          const AddUserPorts& ports);

// --- a new contact's pictures ---

// Fetches a new contact's three pictures into the account's Icons folder (all or nothing, as
// "Update User Icons" does). A picture the server does not have (or one too large, or one
// whose file cannot be created) is skipped without a word, as the wizard adds users; the text
// to show when the download had to stop (the folder cannot be made, the connection failed, a
// write failed).
std::optional<std::string> DownloadNewContactPictures(const session::AccountServer& server,
                                                      std::string_view accountId,
                                                      std::string_view contactId);

// --- the information sheet ---

// The nickname to save: trimmed of white space; nullopt when nothing is left.
std::optional<std::string> NicknameToSave(std::string_view typed);
// The typed password as the record carries it (at most 16 characters).
std::string PasswordForRecord(std::string_view typed);
// A profile fetched because the .usr file never held one keeps the nickname the user gave
// the contact ("Rename User"); an empty local nickname takes the fetched one.
protocol::UserProfile KeepLocalNickname(protocol::UserProfile fetched,
                                        std::string_view localNickname);

}  // namespace talvorine::client::ui::directory
