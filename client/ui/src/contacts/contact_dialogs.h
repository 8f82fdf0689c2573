#pragma once
// The small dialogs of the contact list's commands and its message boxes.

#include <QString>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace talvorine::client::ui::contacts {

inline constexpr char BoxCaption[] = "Talvorine Messenger";

// Texts written with "\r\n" are shown with the platform's line breaks.
QString BoxText(const std::string& text);
void ShowWarningBox(QWidget* parent, const std::string& text);
// Yes/No, No the default; true for Yes.
bool AskYesNoBox(QWidget* parent, const std::string& text);

// "Add Group" / "Rename Group": one field "&Group name:"; the text as typed, nullopt on Cancel.
std::optional<std::string> AskGroupName(QWidget* parent, const QString& caption,
                                        const std::string& initial);
// "Change Nickname": one field "&User name" of at most 64 characters; OK refuses an empty text
// (after trimming) with "Nickname must not be empty" and keeps the dialog open.
std::optional<std::string> AskNickname(QWidget* parent, const std::string& initial);

// "Delete Group": move the members to one of `targets` (the choice is disabled when there is
// none) or delete them. nullopt on Cancel; else the chosen target's index in `targets`, or -1
// for deleting the members.
std::optional<int> AskDeleteGroup(QWidget* parent, const std::string& group,
                                  const std::vector<std::string>& targets);

}  // namespace talvorine::client::ui::contacts
