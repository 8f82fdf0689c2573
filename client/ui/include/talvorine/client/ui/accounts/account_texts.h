#pragma once
// The rules and texts of the account windows that need no widget: the password checks of
// the wizard and of "Change Password", in the order the windows apply them.

#include <string>
#include <string_view>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/account_requests.h"

namespace talvorine::client::ui {

namespace AccountWindowText {
inline constexpr std::string_view WizardCaption = "Account Wizard";
inline constexpr std::string_view ChangePasswordCaption = "Change Password";
inline constexpr std::string_view SpecifyNickname = "Please specify a nickname.";
inline constexpr std::string_view SelectPassword = "You must select a password.";
inline constexpr std::string_view NoSpace = "Password can not include space character";
inline constexpr std::string_view ConfirmMismatch = "Confirm password does not match";
inline constexpr std::string_view OldPasswordEmpty = "You must provide old password.";
inline constexpr std::string_view NewPasswordEmpty = "Please type new password.";
inline constexpr std::string_view PasswordChanged = "Your password has been changed";
inline constexpr std::string_view NotSavedQuit =
    "The account information hasn't been saved. Continue to quit?";
inline constexpr std::string_view FinishText =
    "Succeed! Please click \"Finish\" to save the account information.";
inline constexpr std::string_view DontForget = "Don't forget your password!";
}  // namespace AccountWindowText

enum class PasswordField { None, Old, New, Confirm };

struct PasswordProblem {
    std::string_view text;  // empty when the entries pass
    PasswordField focus = PasswordField::None;
    bool Ok() const { return text.empty(); }
};

// "Select Password" of the wizard: empty, a space, confirmation different.
PasswordProblem CheckChosenPassword(std::string_view password, std::string_view confirm);
// "Change Password": old empty, new empty, a space in the new one, confirmation different.
PasswordProblem CheckPasswordChange(std::string_view oldPassword, std::string_view newPassword,
                                    std::string_view confirm);

// Where account requests go: the configured server and port. A stored port outside the
// Network page's range (a hand-edited registry) counts as the default, as the page shows it,
// instead of wrapping around to some other port.
session::AccountServer AccountServerOf(const data::ClientSettings& settings);

// What the user is told when the wizard is cancelled after the server made a new account:
// the id exists on the server with `password`, and can be imported later.
std::string CreatedAccountNotice(std::string_view userId, std::string_view password,
                                 bool passwordChosen);

}  // namespace talvorine::client::ui
