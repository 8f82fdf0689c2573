#include "talvorine/client/ui/accounts/dlg_select_account.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "talvorine/client/ui/common/fields.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

CDlgSelectAccount::CDlgSelectAccount(data::CurrentAccount& current, QWidget* parent)
    : QDialog(parent), m_current(current), m_choices(data::AccountChoices()) {
    setObjectName("CDlgSelectAccount");
    setWindowTitle(ToQString(data::AccountText::SelectAccountCaption));

    m_account = new QComboBox(this);
    m_account->setObjectName("account");
    m_account->setMinimumWidth(240);
    for (const auto& choice : m_choices) {
        m_account->addItem(ToQString(choice.label));
    }
    m_password = new QLineEdit(this);
    m_password->setObjectName("password");
    m_password->setEchoMode(QLineEdit::Password);
    LimitUtf8(m_password, data::MaxPasswordLength);
    m_save = new QCheckBox(tr("&Save password"), this);
    m_save->setObjectName("savePassword");

    auto* form = new QFormLayout;
    form->addRow(BuddyLabel(tr("&Account:"), m_account), m_account);
    form->addRow(BuddyLabel(tr("&Password:"), m_password), m_password);
    form->addRow(QString(), m_save);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgSelectAccount::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgSelectAccount::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [this] { OpenHelp(this, HelpTopic::SelectAccount); });
    AddHelpKey(this, [] { return HelpTopic::SelectAccount; });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_account, &QComboBox::currentIndexChanged, this, &CDlgSelectAccount::Selected);
    int initial = -1;
    for (std::size_t i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].userId == current.userId) {
            initial = static_cast<int>(i);
        }
    }
    m_account->setCurrentIndex(initial);
    Selected(initial);
}

void CDlgSelectAccount::Selected(int index) {
    std::optional<std::string> remembered;
    if (index >= 0 && index < static_cast<int>(m_choices.size())) {
        remembered = data::RememberedPassword(m_choices[static_cast<std::size_t>(index)].userId);
    }
    m_password->setText(remembered ? ToQString(*remembered) : QString());
    m_save->setChecked(remembered.has_value());
}

void CDlgSelectAccount::accept() {
    const int index = m_account->currentIndex();
    std::optional<std::string> selected;
    if (index >= 0 && index < static_cast<int>(m_choices.size())) {
        selected = m_choices[static_cast<std::size_t>(index)].userId;
    }
    switch (data::AcceptSelectAccount(selected, ToStdString(m_password->text()),
                                      m_save->isChecked(), m_current)) {
        case data::SelectAccountOutcome::NoAccountSelected:
            ShowWarning(this, ToQString(data::AccountText::PleaseSelectAccount));
            m_account->setFocus();
            return;
        case data::SelectAccountOutcome::InvalidPassword:
            ShowWarning(this, ToQString(data::AccountText::PleaseInputPassword));
            m_password->setFocus();
            return;
        case data::SelectAccountOutcome::Accepted:
            QDialog::accept();
            return;
    }
}

}  // namespace talvorine::client::ui
