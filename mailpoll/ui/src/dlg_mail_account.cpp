#include "talvorine/mailpoll/ui/dlg_mail_account.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "talvorine/mailpoll/ui/message_box.h"

namespace talvorine::mailpoll::ui {

namespace {

QLineEdit* NamedEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QSpinBox* NamedSpin(const char* name, int minimum, int maximum, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    return spin;
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CDlgMailAccount::CDlgMailAccount(const MailChecker& checker, std::optional<std::size_t> editing,
                                 QWidget* parent)
    : QDialog(parent),
      m_checker(checker),
      m_editing(editing),
      m_title(NamedEdit("title", this)),
      m_server(NamedEdit("server", this)),
      m_account(NamedEdit("account", this)),
      m_password(NamedEdit("password", this)),
      m_port(NamedSpin("port", 1, 65535, this)),
      m_timeout(NamedSpin("timeout", 1, 3600, this)) {
    setWindowTitle(editing ? tr("Edit Account") : tr("New Account"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(static_cast<int>(MaxPasswordBytes));
    m_timeout->setSuffix(tr(" s"));

    auto* form = new QFormLayout;
    form->addRow(tr("&Title:"), m_title);
    form->addRow(tr("&Server:"), m_server);
    form->addRow(tr("&Account:"), m_account);
    form->addRow(tr("&Password:"), m_password);
    form->addRow(tr("P&ort:"), m_port);
    form->addRow(tr("T&imeout:"), m_timeout);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgMailAccount::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgMailAccount::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    const MailAccount account = editing ? checker.Account(*editing) : MailAccount{};
    m_title->setText(FromUtf8(account.title));
    m_server->setText(FromUtf8(account.server));
    m_account->setText(FromUtf8(account.account));
    m_password->setText(FromUtf8(account.password));
    m_port->setValue(account.port);
    m_timeout->setValue(static_cast<int>(account.timeoutSeconds));
}

MailAccount CDlgMailAccount::Account() const {
    MailAccount account;
    account.title = m_title->text().trimmed().toStdString();
    account.server = m_server->text().trimmed().toStdString();
    account.account = m_account->text().trimmed().toStdString();
    account.password = m_password->text().toStdString();
    account.port = static_cast<std::uint16_t>(m_port->value());
    account.timeoutSeconds = static_cast<std::uint32_t>(m_timeout->value());
    return account;
}

void CDlgMailAccount::accept() {
    const MailAccount account = Account();
    QLineEdit* invalid = nullptr;
    QString refusal;
    if (account.title.empty()) {
        invalid = m_title;
        refusal = tr("Please input a valid title");
    } else if (account.server.empty()) {
        invalid = m_server;
        refusal = tr("Please input a valid server address");
    } else if (account.account.empty()) {
        invalid = m_account;
        refusal = tr("Please input a valid account name");
    } else if (m_checker.FindTitle(account.title, m_editing)) {
        invalid = m_title;
        refusal = tr("A account already exists with same title");
    } else if (m_password->text().toUtf8().size() > static_cast<qsizetype>(MaxPasswordBytes)) {
        // The stored field holds 16 bytes; cutting a longer password would lock the user out.
        invalid = m_password;
        refusal = tr("The password can be at most 16 bytes long");
    }
    if (invalid != nullptr) {
        ShowWarning(this, refusal);
        invalid->setFocus();
        invalid->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace talvorine::mailpoll::ui
