#include "talvorine/client/ui/accounts/dlg_change_password.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/accounts/account_texts.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/common/fields.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

namespace Text = AccountWindowText;

CDlgChangePassword::CDlgChangePassword(const data::ClientSettings& settings,
                                       data::CurrentAccount& current, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_current(current) {
    setObjectName("CDlgChangePassword");
    setWindowTitle(ToQString(Text::ChangePasswordCaption));
    auto* form = new QFormLayout;
    const auto add = [&](const char* name, const QString& label) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setEchoMode(QLineEdit::Password);
        LimitUtf8(edit, data::MaxPasswordLength);
        edit->setMinimumWidth(200);
        form->addRow(BuddyLabel(label, edit), edit);
        return edit;
    };
    m_old = add("oldPassword", tr("&Old Password:"));
    m_new = add("newPassword", tr("&New Password:"));
    m_confirm = add("confirm", tr("&Confirm:"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgChangePassword::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgChangePassword::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    FadeInWindow(this, FadeSettings::From(settings));
}

void CDlgChangePassword::accept() {
    const std::string oldPassword = ToStdString(m_old->text());
    const std::string newPassword = ToStdString(m_new->text());
    const auto problem =
        CheckPasswordChange(oldPassword, newPassword, ToStdString(m_confirm->text()));
    if (!problem.Ok()) {
        ShowWarning(this, ToQString(problem.text));
        (problem.focus == PasswordField::Old       ? m_old
         : problem.focus == PasswordField::Confirm ? m_confirm
                                                   : m_new)
            ->setFocus();
        return;
    }
    const auto server = AccountServerOf(m_settings);
    const std::string userId = m_current.userId;
    if (const auto failure = RunBackgroundRequest(
            this, [&] { session::ChangePassword(server, userId, oldPassword, newPassword); })) {
        ShowWarning(this, ToQString(*failure));
        m_old->setFocus();
        return;
    }
    m_current.password = newPassword;
    // Only a password the user chose to remember is kept in step with the server.
    if (data::RememberedPassword(userId)) {
        data::SavePassword(userId, newPassword);
    }
    ShowInformation(this, ToQString(Text::PasswordChanged));
    QDialog::accept();
}

}  // namespace talvorine::client::ui
