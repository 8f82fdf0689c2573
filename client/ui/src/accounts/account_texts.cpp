#include "talvorine/client/ui/accounts/account_texts.h"

namespace talvorine::client::ui {

namespace Text = AccountWindowText;

PasswordProblem CheckChosenPassword(std::string_view password, std::string_view confirm) {
    if (password.empty()) {
        return {Text::SelectPassword, PasswordField::New};
    }
    if (password.find(' ') != std::string_view::npos) {
        return {Text::NoSpace, PasswordField::New};
    }
    if (password != confirm) {
        return {Text::ConfirmMismatch, PasswordField::New};
    }
    return {};
}

PasswordProblem CheckPasswordChange(std::string_view oldPassword, std::string_view newPassword,
                                    std::string_view confirm) {
    if (oldPassword.empty()) {
        return {Text::OldPasswordEmpty, PasswordField::Old};
    }
    if (newPassword.empty()) {
        return {Text::NewPasswordEmpty, PasswordField::New};
    }
    if (newPassword.find(' ') != std::string_view::npos) {
        return {Text::NoSpace, PasswordField::New};
    }
    if (newPassword != confirm) {
        return {Text::ConfirmMismatch, PasswordField::Confirm};
    }
    return {};
}

session::AccountServer AccountServerOf(const data::ClientSettings& settings) {
    namespace Limit = data::SettingLimits;
    const int port = settings.port >= Limit::PortMin && settings.port <= Limit::PortMax
                         ? settings.port
                         : data::ClientSettings::Defaults().port;
    return {settings.server, static_cast<std::uint16_t>(port)};
}

std::string CreatedAccountNotice(std::string_view userId, std::string_view password,
                                 bool passwordChosen) {
    std::string notice = "The server has already created your new ID " + std::string(userId) +
                         ", but it has not been saved on this computer.\n\n";
    if (passwordChosen) {
        notice += "Its password is the one you chose.";
    } else {
        notice += "Its password is still " + std::string(password) +
                  (password == userId ? " (the ID itself)" : "") +
                  ": anyone who knows the ID can use it until the password is changed.";
    }
    notice +=
        " To finish it later, run the Account Wizard, choose \"Import an existing ID\" and "
        "type the ID and that password.";
    return notice;
}

}  // namespace talvorine::client::ui
