#include "talvorine/client/ui/common/dialog_services.h"

#include "talvorine/client/ui/accounts/dlg_aw.h"
#include "talvorine/client/ui/accounts/dlg_change_password.h"
#include "talvorine/client/ui/accounts/dlg_select_account.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/options/dlg_about.h"
#include "talvorine/client/ui/options/dlg_away_mode.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/client/ui/options/dlg_shut_down.h"

namespace talvorine::client::ui {

DialogServices::DialogServices() : m_fade(FadeSettings::From(data::ClientSettings::Load())) {}

void DialogServices::Remember(const data::ClientSettings& settings) {
    m_fade = FadeSettings::From(settings);
}

bool DialogServices::RunAccountWizard(QWidget* parent, data::ClientSettings& settings,
                                      data::CurrentAccount& current) {
    Remember(settings);
    CDlgAW wizard(settings, current, m_player, parent);
    return wizard.exec() == QDialog::Accepted;
}

bool DialogServices::SelectAccount(QWidget* parent, data::CurrentAccount& current) {
    CDlgSelectAccount dialog(current, parent);
    FadeInWindow(&dialog, m_fade);
    return dialog.exec() == QDialog::Accepted;
}

bool DialogServices::EditOptions(QWidget* parent, data::ClientSettings& settings,
                                 bool networkOnly) {
    Remember(settings);
    CDlgOptions options(settings, networkOnly, m_player, parent);
    if (options.exec() != QDialog::Accepted) {
        return false;
    }
    settings = options.Settings();
    Remember(settings);
    return true;
}

void DialogServices::ChangePassword(QWidget* parent, const data::ClientSettings& settings,
                                    data::CurrentAccount& current) {
    Remember(settings);
    CDlgChangePassword dialog(settings, current, parent);
    dialog.exec();
}

bool DialogServices::ConfirmAwayMode(QWidget* parent) {
    CDlgAwayMode dialog(parent);
    FadeInWindow(&dialog, m_fade);
    return dialog.exec() == QDialog::Accepted;
}

bool DialogServices::ConfirmShutDown(QWidget* parent) {
    CDlgShutDown dialog(parent);
    FadeInWindow(&dialog, m_fade);
    return dialog.exec() == QDialog::Accepted;
}

void DialogServices::ShowAbout(QWidget* parent) {
    CDlgAbout dialog(parent);
    FadeInWindow(&dialog, m_fade);
    dialog.exec();
}

void DialogServices::ShowHelp(QWidget* parent, std::string_view topic) {
    OpenHelp(parent, topic.empty() ? HelpTopic::Index : topic);
}

void DialogServices::PlayEventSound(const data::ClientSettings& settings, int eventNumber) {
    Remember(settings);
    m_player.PlayEvent(settings, eventNumber);
}

std::unique_ptr<ShellServices> MakeShellServices() {
    return std::make_unique<DialogServices>();
}

}  // namespace talvorine::client::ui
