#include "talvorine/client/ui/accounts/dlg_aw.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "talvorine/client/ui/accounts/account_texts.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/common/fields.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::ui {

namespace Text = AccountWindowText;

namespace {

constexpr int NameMax = 64;
constexpr int EmailMax = 255;

QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength, bool secret = false) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    LimitUtf8(edit, static_cast<std::size_t>(maxLength));
    if (secret) {
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

// The labels of the gender numbers the profile stores (the list position is the number).
QStringList GenderNames() {
    return {QObject::tr("Not specified"), QObject::tr("Male"), QObject::tr("Female")};
}

}  // namespace

// ---- the sheet

CDlgAW::CDlgAW(data::ClientSettings& settings, data::CurrentAccount& current, SoundPlayer& player,
               QWidget* parent)
    : QWizard(parent), m_settings(settings), m_current(current), m_player(player) {
    setObjectName("CDlgAW");
    setWindowTitle(ToQString(Text::WizardCaption));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setOption(QWizard::HaveHelpButton);
    // The Select page commits when it makes a new id; its button still reads "Next".
    setButtonText(QWizard::CommitButton, buttonText(QWizard::NextButton));
    setPage(SelectPage, new CDlgAWSelect(*this));
    setPage(InfoPage, new CDlgAWInfo(*this));
    setPage(PasswordPage, new CDlgAWPassword(*this));
    setPage(FinishPage, new CDlgAWFinish(*this));
    setStartId(SelectPage);
    const auto topic = [this] {
        static constexpr std::string_view topics[] = {HelpTopic::WizardSelect,
                                                      HelpTopic::AccountInfo,
                                                      HelpTopic::SelectPassword, HelpTopic::Index};
        const int id = currentId();
        return id >= 0 && id < 4 ? topics[id] : HelpTopic::Index;
    };
    connect(this, &QWizard::helpRequested, this, [this, topic] { OpenHelp(this, topic()); });
    AddHelpKey(this, topic);
    const auto fade = FadeSettings::From(settings);
    FadeInWindow(this, fade);
    for (int id : pageIds()) {
        FadeInPage(page(id), fade);
    }
}

session::AccountServer CDlgAW::Server() const {
    return AccountServerOf(m_settings);
}

void CDlgAW::reject() {
    if (!isEnabled()) {
        return;  // a request is running; its result decides what happens next
    }
    if (currentId() == FinishPage && !AskYesNo(this, ToQString(Text::NotSavedQuit))) {
        return;
    }
    if (m_state.created) {
        ShowInformation(this, ToQString(CreatedAccountNotice(m_state.userId, m_state.password,
                                                             m_state.passwordChosen)));
    }
    QWizard::reject();
}

// ---- Select

CDlgAWSelect::CDlgAWSelect(CDlgAW& wizard) : m_wizard(wizard) {
    setObjectName("CDlgAWSelect");
    setTitle(tr("Select"));
    m_apply = new QRadioButton(tr("Apply a new ID"), this);
    m_apply->setObjectName("applyNew");
    m_apply->setChecked(true);
    m_import = new QRadioButton(tr("&Import an existing ID"), this);
    m_import->setObjectName("importExisting");
    m_id = MakeEdit(this, "id", 8);
    m_password = MakeEdit(this, "password", static_cast<int>(data::MaxPasswordLength), true);
    m_network = new QPushButton(tr("&Network..."), this);
    m_network->setObjectName("network");

    auto* form = new QFormLayout;
    form->addRow(BuddyLabel(tr("ID:"), m_id), m_id);
    form->addRow(BuddyLabel(tr("&Password:"), m_password), m_password);
    auto* indented = new QGridLayout;
    indented->setColumnMinimumWidth(0, 20);
    indented->addLayout(form, 0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_apply);
    layout->addWidget(m_import);
    layout->addLayout(indented);
    layout->addStretch();
    layout->addWidget(m_network, 0, Qt::AlignLeft);

    connect(m_apply, &QRadioButton::toggled, this, &CDlgAWSelect::ModeChanged);
    connect(m_id, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    connect(m_password, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
    connect(m_network, &QPushButton::clicked, this, &CDlgAWSelect::OpenNetworkSettings);
    ModeChanged();
}

void CDlgAWSelect::ModeChanged() {
    const bool importing = m_import->isChecked();
    m_id->setEnabled(importing);
    m_password->setEnabled(importing);
    // A new id cannot be taken back, so after it there is no way back to this page.
    setCommitPage(!importing);
    emit completeChanged();
}

void CDlgAWSelect::OpenNetworkSettings() {
    CDlgOptions options(m_wizard.Settings(), true, m_wizard.Player(), this);
    if (options.exec() == QDialog::Accepted) {
        m_wizard.Settings() = options.Settings();
    }
}

bool CDlgAWSelect::isComplete() const {
    return m_apply->isChecked() || (!m_id->text().isEmpty() && !m_password->text().isEmpty());
}

bool CDlgAWSelect::validatePage() {
    auto& state = m_wizard.State();
    const auto server = m_wizard.Server();
    if (m_apply->isChecked()) {
        protocol::AccountCredentials made;
        if (const auto failure = RunBackgroundRequest(
                &m_wizard, [&] { made = session::RequestNewAccount(server); })) {
            ShowWarning(this, ToQString(*failure));
            return false;
        }
        state = {};
        state.importing = false;
        state.userId = made.userId;
        state.password = made.password;
        state.profile.userId = made.userId;
        state.profile.gender = "0";
        state.created = true;
        return true;
    }
    const std::string id = ToStdString(m_id->text());
    const std::string password = ToStdString(m_password->text());
    protocol::UserProfile imported;
    if (const auto failure = RunBackgroundRequest(
            &m_wizard, [&] { imported = session::ImportAccount(server, id, password); })) {
        ShowWarning(this, ToQString(*failure));
        return false;
    }
    state = {};
    state.importing = true;
    state.userId = imported.userId.empty() ? id : imported.userId;
    state.password = password;
    state.profile = imported;
    state.profile.userId = state.userId;
    return true;
}

// ---- Account Info

CDlgAWInfo::CDlgAWInfo(CDlgAW& wizard) : m_wizard(wizard) {
    setObjectName("CDlgAWInfo");
    setTitle(tr("Account Info"));
    m_yourId = new QLabel(this);
    m_yourId->setObjectName("yourId");
    m_yourId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_nickname = MakeEdit(this, "nickname", NameMax);
    m_realName = MakeEdit(this, "realName", NameMax);
    m_gender = new QComboBox(this);
    m_gender->setObjectName("gender");
    m_gender->addItems(GenderNames());
    m_email = MakeEdit(this, "email", EmailMax);

    auto* form = new QFormLayout(this);
    auto* yourIdLabel = new QLabel(tr("Your ID:"), this);
    yourIdLabel->setBuddy(m_yourId);
    form->addRow(yourIdLabel, m_yourId);
    form->addRow(BuddyLabel(tr("&Nickname:"), m_nickname), m_nickname);
    form->addRow(BuddyLabel(tr("Real Name:"), m_realName), m_realName);
    form->addRow(BuddyLabel(tr("&Gender:"), m_gender), m_gender);
    form->addRow(BuddyLabel(tr("&E-mail:"), m_email), m_email);
}

void CDlgAWInfo::initializePage() {
    const auto& state = m_wizard.State();
    const auto& profile = state.profile;
    m_yourId->setText(ToQString(state.userId));
    m_nickname->setText(ToQString(profile.nickname));
    m_realName->setText(ToQString(profile.realName));
    const int gender = profile.gender.size() == 1 && profile.gender[0] >= '0' &&
                               profile.gender[0] - '0' < m_gender->count()
                           ? profile.gender[0] - '0'
                           : 0;
    m_gender->setCurrentIndex(gender);
    m_email->setText(ToQString(profile.email));
}

bool CDlgAWInfo::validatePage() {
    const QString nickname = m_nickname->text().trimmed();
    m_nickname->setText(nickname);
    if (nickname.isEmpty()) {
        ShowWarning(this, ToQString(Text::SpecifyNickname));
        m_nickname->setFocus();
        return false;
    }
    auto& state = m_wizard.State();
    protocol::UserProfile profile = state.profile;
    profile.userId = state.userId;
    profile.password = state.password;
    profile.nickname = ToStdString(nickname);
    profile.realName = ToStdString(m_realName->text());
    profile.gender = std::to_string(m_gender->currentIndex());
    profile.email = ToStdString(m_email->text());
    const auto server = m_wizard.Server();
    if (const auto failure =
            RunBackgroundRequest(&m_wizard, [&] { session::ChangeUserInfo(server, profile); })) {
        ShowWarning(this, ToQString(*failure));
        return false;
    }
    profile.password.clear();
    state.profile = profile;
    return true;
}

// ---- Select Password

CDlgAWPassword::CDlgAWPassword(CDlgAW& wizard) : m_wizard(wizard) {
    setObjectName("CDlgAWPassword");
    setTitle(tr("Select Password"));
    auto* hint = new QLabel(ToQString(Text::DontForget), this);
    hint->setObjectName("hint");
    m_password = MakeEdit(this, "password", static_cast<int>(data::MaxPasswordLength), true);
    m_confirm = MakeEdit(this, "confirm", static_cast<int>(data::MaxPasswordLength), true);
    auto* form = new QFormLayout;
    form->addRow(BuddyLabel(tr("Password:"), m_password), m_password);
    form->addRow(BuddyLabel(tr("&Confirm:"), m_confirm), m_confirm);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addLayout(form);
    layout->addStretch();
}

bool CDlgAWPassword::validatePage() {
    const std::string password = ToStdString(m_password->text());
    const auto problem = CheckChosenPassword(password, ToStdString(m_confirm->text()));
    if (!problem.Ok()) {
        ShowWarning(this, ToQString(problem.text));
        m_password->setFocus();
        return false;
    }
    auto& state = m_wizard.State();
    const auto server = m_wizard.Server();
    if (const auto failure = RunBackgroundRequest(&m_wizard, [&] {
            session::ChangePassword(server, state.userId, state.password, password);
        })) {
        ShowWarning(this, ToQString(*failure));
        m_password->setFocus();
        return false;
    }
    state.password = password;
    state.passwordChosen = true;
    return true;
}

// ---- Finish

CDlgAWFinish::CDlgAWFinish(CDlgAW& wizard) : m_wizard(wizard) {
    setObjectName("CDlgAWFinish");
    setTitle(tr("Finish"));
    auto* text = new QLabel(ToQString(Text::FinishText), this);
    text->setObjectName("finishText");
    text->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addStretch();
}

bool CDlgAWFinish::validatePage() {
    auto& state = m_wizard.State();
    protocol::UserProfile profile = state.profile;
    profile.userId = state.userId;
    profile.password.clear();
    errno = 0;
    const bool saved = data::WriteProfile(state.userId, profile) &&
                       data::SavePassword(state.userId, state.password) &&
                       data::SetCurrentId(state.userId);
    if (!saved) {
        ShowWarning(this, ToQString(std::string(data::AccountText::FailedToSaveAccount) +
                                    protocol::SystemErrorText()));
        return false;
    }
    auto& current = m_wizard.Current();
    current.userId = state.userId;
    current.password = state.password;
    current.nickname = profile.nickname;
    state.created = false;  // saved: nothing left to tell on the way out
    return true;
}

}  // namespace talvorine::client::ui
