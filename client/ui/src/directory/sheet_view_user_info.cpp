#include "talvorine/client/ui/directory/sheet_view_user_info.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/contact_list_store.h"
#include "talvorine/client/session/user_directory.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/directory/directory_rules.h"

namespace talvorine::client::ui::directory {

using infopages::InfoMode;

CSheetViewUserInfo::CSheetViewUserInfo(const DirectoryServices& services, InfoMode mode,
                                       std::string userId, QWidget* parent)
    : QDialog(parent), m_services(services), m_mode(mode), m_userId(std::move(userId)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    const bool own = mode == InfoMode::Own;
    setObjectName(own ? QStringLiteral("ownInfo") : QStringLiteral("userInfo"));
    setWindowTitle(ToQString(own ? Text::OwnCaption : Text::ContactCaption));

    auto* column = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_basic = new infopages::CPageInfoBasic(mode, m_tabs);
    m_comm = new infopages::CPageInfoComm(mode, infopages::LabelVariant::Client,
                                          infopages::DesktopUrlOpener(), m_tabs);
    m_more = new infopages::CPageInfoMore(mode, m_tabs);
    m_tabs->addTab(m_basic, ToQString(Text::Basic));
    m_tabs->addTab(m_comm, ToQString(Text::Communication));
    m_tabs->addTab(m_more, ToQString(Text::More));
    column->addWidget(m_tabs, 1);

    auto* buttons = new QHBoxLayout;
    m_action = new QPushButton(ToQString(own ? Text::Save : Text::Update), this);
    m_action->setObjectName(own ? QStringLiteral("save") : QStringLiteral("update"));
    m_action->setAutoDefault(false);
    m_done = new QPushButton(ToQString(Text::Done), this);
    m_done->setObjectName(QStringLiteral("done"));
    m_done->setDefault(true);
    buttons->addWidget(m_action);
    buttons->addStretch();
    buttons->addWidget(m_done);
    column->addLayout(buttons);
    connect(m_done, &QPushButton::clicked, this, &QDialog::close);

    m_profile.userId = m_userId;
    if (own) {
        connect(m_action, &QPushButton::clicked, this, [this] { Save(); });
        const auto stored = data::ReadProfile(m_userId);
        m_action->setEnabled(stored.has_value());
        if (stored) {
            Fill(*stored);
        } else {
            m_basic->Fill(m_profile);
        }
        return;
    }
    connect(m_action, &QPushButton::clicked, this, [this] { Update(); });
    data::ContactListStore store(m_services.accountId());
    if (auto cached = store.ReadProfile(m_userId)) {
        cached->userId = m_userId;
        Fill(*cached);
    } else {
        m_basic->Fill(m_profile);
    }
    if (!store.IsProfileUpdated(m_userId)) {
        m_busy = true;
        m_action->setEnabled(false);
        QTimer::singleShot(0, this, [this] { FetchOnOpen(); });
    }
}

void CSheetViewUserInfo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect place = frameGeometry();
            place.moveCenter(screen->availableGeometry().center());
            move(place.topLeft());
        }
    }
}

void CSheetViewUserInfo::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        m_closeWhenDone = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool CSheetViewUserInfo::CloseIfWanted() {
    if (!m_closeWhenDone) {
        return false;
    }
    QTimer::singleShot(0, this, &QDialog::close);
    return true;
}

void CSheetViewUserInfo::Fill(const protocol::UserProfile& profile) {
    m_profile = profile;
    m_basic->Fill(profile);
    m_comm->Fill(profile);
    m_more->Fill(profile);
    // Long texts show their beginning, not their end.
    for (QLineEdit* field : m_tabs->findChildren<QLineEdit*>()) {
        field->setCursorPosition(0);
    }
}

std::optional<protocol::UserProfile> CSheetViewUserInfo::Fetch() {
    m_busy = true;
    m_action->setEnabled(false);
    const session::AccountServer server = m_services.server();
    protocol::UserProfile fetched;
    const auto failure =
        RunBackgroundRequest(this, [&] { fetched = session::GetUserInfo(server, m_userId); });
    m_action->setEnabled(true);
    m_busy = false;
    if (CloseIfWanted()) {
        return std::nullopt;
    }
    if (failure) {
        ShowWarning(this, DisplayText(*failure));
        return std::nullopt;
    }
    fetched.userId = m_userId;
    return fetched;
}

void CSheetViewUserInfo::FetchOnOpen() {
    auto fetched = Fetch();
    if (!fetched) {
        return;  // the .usr file's values stay shown
    }
    // The name the user gave this contact stays; only "&Update" takes the server's.
    data::ContactListStore store(m_services.accountId());
    const auto cached = store.ReadProfile(m_userId);
    const protocol::UserProfile kept =
        KeepLocalNickname(*fetched, cached ? std::string_view(cached->nickname) : "");
    store.StoreProfile(kept);  // a failed store is not reported: the next opening fetches
    Fill(kept);
}

void CSheetViewUserInfo::Update() {
    if (m_busy) {
        return;
    }
    auto fetched = Fetch();
    if (!fetched) {
        return;
    }
    data::ContactListStore store(m_services.accountId());
    if (!store.StoreProfile(*fetched)) {
        return;
    }
    Fill(*fetched);
    if (m_services.setListedNickname &&
        !m_services.setListedNickname(m_userId, fetched->nickname)) {
        ShowWarning(this, ToQString(Text::UserDeleted));
    }
}

void CSheetViewUserInfo::Save() {
    if (m_busy || m_mode != InfoMode::Own) {
        return;
    }
    protocol::UserProfile profile = m_profile;
    profile.userId = m_userId;
    m_basic->Take(profile);
    m_comm->Take(profile);
    m_more->Take(profile);
    const auto nickname = NicknameToSave(profile.nickname);
    if (!nickname) {
        ShowWarning(this, ToQString(Text::TypeNickname));
        m_tabs->setCurrentWidget(m_basic);
        m_basic->NicknameField()->setFocus();
        return;
    }
    profile.nickname = *nickname;
    const auto typed = m_services.askPassword ? m_services.askPassword(this, m_userId)
                                              : CDlgInputPassword::Ask(this, m_userId);
    if (!typed) {
        return;
    }
    profile.password = PasswordForRecord(*typed);

    m_busy = true;
    m_action->setEnabled(false);
    const session::AccountServer server = m_services.server();
    const auto failure =
        RunBackgroundRequest(this, [&] { session::ChangeUserInfo(server, profile); });
    m_action->setEnabled(true);
    m_busy = false;
    if (failure) {
        ShowWarning(this, DisplayText(*failure));
        CloseIfWanted();
        return;
    }
    profile.password.clear();  // the UID file never holds it
    m_profile = profile;
    m_basic->NicknameField()->setText(ToQString(profile.nickname));
    if (m_services.ownProfileSaved) {
        m_services.ownProfileSaved(profile);
    }
    if (data::WriteProfile(m_userId, profile)) {
        ShowInformation(this, ToQString(Text::InfoSaved));
    } else {
        ShowWarning(this, ToQString(Text::LocalUpdateFailed));
    }
    CloseIfWanted();
}

// --- "Input Password" ---

CDlgInputPassword::CDlgInputPassword(const std::string& userId, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("inputPassword"));
    setWindowTitle(ToQString(FormatText(Text::PasswordCaption, {userId})));
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(static_cast<int>(protocol::Size::Password - 1));
    m_password->setMinimumWidth(200);
    auto* label = new QLabel(ToQString(Text::PasswordLabel), this);
    label->setBuddy(m_password);
    form->addRow(label, m_password);
    column->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    // Wide enough for the caption with the account's id.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
}

std::optional<std::string> CDlgInputPassword::Ask(QWidget* parent, const std::string& userId) {
    CDlgInputPassword dialog(userId, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return ToStdString(dialog.PasswordField()->text());
}

}  // namespace talvorine::client::ui::directory
