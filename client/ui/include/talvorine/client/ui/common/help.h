#pragma once
// The program's help: HTML pages, one topic per dialog, opened in the desktop's browser.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

class QWidget;

namespace talvorine::client::ui {

inline constexpr std::string_view HelpFailedText =
    "Failed to lauch help file. Please check if you have installed it properly.";

// The topic of each dialog with help; a dialog without one, and the program's own help,
// get Index.
namespace HelpTopic {
inline constexpr std::string_view Index = "index.htm";
inline constexpr std::string_view WizardSelect = "applynewiddialog.htm";
inline constexpr std::string_view AccountInfo = "accountinfodialog.htm";
inline constexpr std::string_view SelectPassword = "selectpassworddialog.htm";
inline constexpr std::string_view AwayMode = "awaymodedialog.htm";
inline constexpr std::string_view ChatRequest = "chatrequestdialog.htm";
inline constexpr std::string_view Chat = "chatdialog.htm";
inline constexpr std::string_view ChatHistory = "chathistorydialog.htm";
inline constexpr std::string_view ChatDetails = "chatdetailsdialog.htm";
inline constexpr std::string_view CustomizeIcons = "customizeicondialog.htm";
inline constexpr std::string_view SendFile = "sendfiledialog.htm";
inline constexpr std::string_view ReceiveFile = "receivedialog.htm";
inline constexpr std::string_view FileHistory = "filehistorydialog.htm";
inline constexpr std::string_view OptionsGeneral = "generaldialog.htm";
inline constexpr std::string_view OptionsNetwork = "networkdialog.htm";
inline constexpr std::string_view OptionsContactList = "contactlistdialog.htm";
inline constexpr std::string_view OptionsSounds = "soundsdialog.htm";
inline constexpr std::string_view OptionsFileTransfer = "filetransferdialog.htm";
inline constexpr std::string_view SearchCondition = "searchconditiondialog.htm";
inline constexpr std::string_view SearchResult = "searchresultdialog.htm";
inline constexpr std::string_view SelectAccount = "selectaccountdialog.htm";
inline constexpr std::string_view SendMessage = "sendmessagedialog.htm";
inline constexpr std::string_view Messages = "messagedialog.htm";
}  // namespace HelpTopic

// The installed page of a topic; nullopt when the help is not installed, the page is
// missing, or the topic is not a plain page name.
std::optional<std::filesystem::path> HelpTopicFile(std::string_view topic);

// Opens the topic in the desktop's browser; when that fails shows HelpFailedText
// (information icon). True when the browser was asked successfully.
bool OpenHelp(QWidget* parent, std::string_view topic);

// F1 anywhere in `dialog` opens the topic `topic()` names at that moment (a sheet's shown page).
void AddHelpKey(QWidget* dialog, std::function<std::string_view()> topic);

}  // namespace talvorine::client::ui
