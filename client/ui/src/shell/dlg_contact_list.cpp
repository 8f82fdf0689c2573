#include "talvorine/client/ui/shell/dlg_contact_list.h"

#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "talvorine/client/data/data_error.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/icons/picture_windows.h"
#include "talvorine/client/ui/icons/pictures.h"
#include "talvorine/client/ui/shell/main_window_contacts.h"
#include "talvorine/mailpoll/client_link.h"
#include "talvorine/platform/local_channel.h"

namespace talvorine::client::ui {

namespace {

using protocol::OnlineStatus;
using namespace std::chrono_literals;

constexpr int TimerPeriodMs = 500;
constexpr std::string_view PollerProgram = "TalvorinePostSentry";
constexpr std::string_view TrayIconOnlyValue = "TrayIconOnly";
constexpr std::string_view PromptValue = "Prompt";

QAction* AddAction(QMenu* menu, std::string_view text, const char* name,
                   const std::function<void()>& command) {
    QAction* action = menu->addAction(ToQString(text));
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, menu, [command] { command(); });
    return action;
}

void Apply(QAction* action, const MenuItemState& state) {
    action->setEnabled(state.enabled);
    action->setCheckable(true);
    action->setChecked(state.checked);
}

}  // namespace

// ---------------------------------------------------------------------------------------

void CurrentAccountHistory::SetAccount(std::string accountId) {
    std::lock_guard lock(m_mutex);
    m_accountId = std::move(accountId);
}

std::string CurrentAccountHistory::Account() const {
    std::lock_guard lock(m_mutex);
    if (m_accountId.empty()) {
        throw data::DataError("No account is loaded.");
    }
    return m_accountId;
}

void CurrentAccountHistory::AppendSent(std::string_view peerId,
                                       std::span<const std::uint8_t> record) {
    session::AccountMessageHistory(Account()).AppendSent(peerId, record);
}

void CurrentAccountHistory::AppendReceived(std::string_view peerId,
                                           std::span<const std::uint8_t> record) {
    session::AccountMessageHistory(Account()).AppendReceived(peerId, record);
}

// ---------------------------------------------------------------------------------------

CDlgContactList::CDlgContactList(ShellServices& services, data::ClientSettings& settings,
                                 bool trayAvailable)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_services(services),
      m_settings(settings),
      m_trayAvailable(trayAvailable) {
    setObjectName("CDlgContactList");
    setWindowIcon(ApplicationIcon());
    setWindowTitle(ToQString(ShellText::TrayTip));
    BuildWindow();
    BuildMenus();
    BuildTray();
    session::SessionWindow& sessionWindow = *this;
    m_session = std::make_unique<session::ServerSession>(sessionWindow, m_book, m_history,
                                                         NetworkFrom(m_settings));
    m_contacts = std::make_unique<MainWindowContacts>(*this);
    RestorePlacement();
    m_timer.setInterval(TimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CDlgContactList::TimerTick);
    ShowStatus(session::ServerSession::StatusText(OnlineStatus::Offline));
}

CDlgContactList::~CDlgContactList() {
    // The StatusPoller and the per-contact windows go before the session they use; the timer
    // that asks the contact list must not tick while the session's workers are waited for.
    m_timer.stop();
    m_contacts.reset();
    // The workers are stopped while this window can still serve their hand-overs.
    if (!m_shutdown.WorkersLeftBehind()) {
        m_session->Shutdown();
    } else {
        // A worker still running uses the session: it is never freed (the program ends
        // without destroying this window in that case; this is the last line of defence).
        static_cast<void>(m_session.release());
    }
}

void CDlgContactList::BuildWindow() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    m_contactArea = new QWidget(this);
    m_contactArea->setObjectName("contactArea");
    m_contactArea->setMinimumSize(160, 320);
    m_contactArea->setBackgroundRole(QPalette::Base);
    m_contactArea->setAutoFillBackground(true);
    layout->addWidget(m_contactArea, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    const auto makeButton = [this](const char* name, std::string_view tip) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(ToQString(tip));
        button->setAccessibleName(ToQString(tip));
        button->setAutoRaise(true);
        return button;
    };
    m_systemButton = makeButton("systemMenuButton", ShellText::SystemMenuTip);
    m_systemButton->setIcon(ApplicationIcon());
    m_systemButton->setPopupMode(QToolButton::InstantPopup);
    m_statusButton = makeButton("statusButton", ShellText::StatusTip);
    m_statusButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_statusButton->setPopupMode(QToolButton::InstantPopup);
    m_statusButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_postSentryButton = makeButton("postSentryButton", ShellText::PostSentryTip);
    m_postSentryButton->setIcon(TrayIconPicture(TrayPicture::Message1));
    connect(m_postSentryButton, &QToolButton::clicked, this, &CDlgContactList::PostSentry);
    buttons->addWidget(m_systemButton);
    buttons->addWidget(m_statusButton, 1);
    buttons->addWidget(m_postSentryButton);
    layout->addLayout(buttons);

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &CDlgContactList::ShowHelp);
}

void CDlgContactList::BuildMenus() {
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName("systemMenu");
    m_showHide =
        AddAction(m_systemMenu, ShellText::HideWindow, "showHide", [this] { ShowHideWindow(); });
    m_systemMenu->addSeparator();
    AddAction(m_systemMenu, ShellText::ApplyImportAccount, "applyImportAccount",
              [this] { ApplyImportAccount(); });
    AddAction(m_systemMenu, ShellText::ChangeAccount, "changeAccount", [this] { ChangeAccount(); });
    AddAction(m_systemMenu, ShellText::ChangePassword, "changePassword",
              [this] { ChangePassword(); });
    AddAction(m_systemMenu, icons::CustomizeMyIconsMenu, "customizeMyIcons",
              [this] { m_contacts->CustomizeMyIcons(); });
    AddAction(m_systemMenu, ShellText::Options, "options", [this] { OpenOptions(); });
    m_systemMenu->addSeparator();
    AddAction(m_systemMenu, ShellText::Help, "help", [this] {
        ShowHelp();
    })->setShortcut(QKeySequence::HelpContents);
    AddAction(m_systemMenu, ShellText::About, "about", [this] { ShowAbout(); });
    m_systemMenu->addSeparator();
    m_exit = AddAction(m_systemMenu, ShellText::Exit, "exit", [this] { ExitNow(); });
    m_systemButton->setMenu(m_systemMenu);

    m_statusMenu = new QMenu(this);
    m_statusMenu->setObjectName("statusMenu");
    m_connect = AddAction(m_statusMenu, ShellText::Connect, "connect", [this] { Connect(); });
    m_disconnect =
        AddAction(m_statusMenu, ShellText::Disconnect, "disconnect", [this] { Disconnect(); });
    m_statusMenu->addSeparator();
    m_online = AddAction(m_statusMenu, ShellText::Online, "online", [this] { SetOnline(); });
    m_away = AddAction(m_statusMenu, ShellText::Away, "away", [this] { SetAway(); });
    m_notAvailable = AddAction(m_statusMenu, ShellText::NotAvailable, "notAvailable",
                               [this] { SetNotAvailable(); });
    m_statusButton->setMenu(m_statusMenu);

    // The reconnect tick waits while one of these menus is open, so a connection attempt never
    // pulls the menu's items from under the user. (The workers themselves run on.)
    for (QMenu* menu : {m_systemMenu, m_statusMenu}) {
        connect(menu, &QMenu::aboutToShow, this, [this] {
            m_menuTracking = true;
            UpdateMenus();
        });
        connect(menu, &QMenu::aboutToHide, this, [this] { m_menuTracking = false; });
    }
}

void CDlgContactList::BuildTray() {
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName("trayMenu");
    m_trayShowHide =
        AddAction(m_trayMenu, ShellText::HideWindow, "trayShowHide", [this] { ShowHideWindow(); });
    m_trayMenu->setDefaultAction(m_trayShowHide);
    m_myStatusMenu = m_trayMenu->addMenu(ToQString(ShellText::MyStatus));
    m_myStatusMenu->setObjectName("trayStatusMenu");
    m_myStatusMenu->addActions({m_connect, m_disconnect});
    m_myStatusMenu->addSeparator();
    m_myStatusMenu->addActions({m_online, m_away, m_notAvailable});
    m_trayMenu->addSeparator();
    AddAction(m_trayMenu, ShellText::Exit, "trayExit", [this] { ExitNow(); });
    connect(m_trayMenu, &QMenu::aboutToShow, this, &CDlgContactList::UpdateMenus);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName("trayIcon");
    m_tray->setToolTip(ToQString(ShellText::TrayTip));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                OnTrayActivated(static_cast<int>(reason));
            });
    if (const auto picture = m_trayRule.Tick({}); picture) {
        m_tray->setIcon(TrayIconPicture(*picture));
    }
    if (m_trayAvailable) {
        m_tray->show();
    }
}

void CDlgContactList::RestorePlacement() {
    resize(sizeHint().expandedTo(QSize(200, 420)));
    // The stored rectangle, the docking of the last run and "AlwaysOnTop".
    m_contacts->Docker().Restore();
}

void CDlgContactList::Start() {
    m_timer.start();
    Connect();
    if (m_shutdown.Started() || m_closeRequested) {
        return;
    }
    if (!platform::ChannelExists(platform::PostSentryChannelName())) {
        LaunchPoller();
    }
}

void CDlgContactList::LaunchPoller() {
    // A launch failure is ignored: the poller is an extra.
    const QString program =
        QCoreApplication::applicationDirPath() + QLatin1Char('/') + ToQString(PollerProgram);
    qint64 pid = 0;
    if (QProcess::startDetached(program, {ToQString(mailpoll::EmbeddingArgument)}, QString(),
                                &pid)) {
        m_pollerPid = pid;
        m_pollerStarted.start();
    }
}

void CDlgContactList::ClosePoller() {
    const std::string poller = platform::PostSentryChannelName();
    // A poller this window started moments ago may not hold its channel yet; it is given a
    // little time, or it would miss the close and outlive the client.
    if (m_pollerPid > 0 && m_pollerStarted.isValid() && m_pollerStarted.elapsed() < 30000) {
        QElapsedTimer waited;
        waited.start();
        while (!platform::ChannelExists(poller) &&
               ::kill(static_cast<pid_t>(m_pollerPid), 0) == 0 && waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(20ms);
        }
    }
    platform::SendChannelLine(poller, mailpoll::ClientMessageLine(mailpoll::ClientMessage::Close));
}

void CDlgContactList::SetUnreadOpener(std::function<void(const std::string&)> opener) {
    m_contacts->SetUnreadOpener(std::move(opener));
}

void CDlgContactList::PlaySound(int eventNumber) {
    emit soundRequested(eventNumber);
    m_services.PlayEventSound(m_settings, eventNumber);
}

// --- commands --------------------------------------------------------------------------

void CDlgContactList::ShowHideWindow() {
    if (isVisible() && !isMinimized()) {
        HideWindow();
    } else {
        ShowWindow();
    }
}

void CDlgContactList::ShowWindow() {
    showNormal();
    raise();
    activateWindow();
}

void CDlgContactList::HideWindow() {
    if (m_trayAvailable) {
        hide();
    } else {
        // Without a notification area a hidden window could not be found again.
        showMinimized();
    }
}

void CDlgContactList::Connect() {
    if (!m_shutdown.Started()) {
        m_session->Connect();
    }
}

void CDlgContactList::Disconnect() {
    m_session->Disconnect();
}

void CDlgContactList::SetOnline() {
    m_session->SetStatus(OnlineStatus::Online);
}

void CDlgContactList::SetAway() {
    m_session->SetStatus(OnlineStatus::Away);
}

void CDlgContactList::SetNotAvailable() {
    m_session->SetStatus(OnlineStatus::NotAvailable);
    UpdateMenus();
}

void CDlgContactList::WaitForLogout() {
    while (m_session->Connected() || m_session->Disconnecting()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(5ms);
    }
}

void CDlgContactList::Reconnect() {
    if (m_session->Connected()) {
        m_session->Disconnect();
        WaitForLogout();
    }
    Connect();
}

void CDlgContactList::ApplyImportAccount() {
    if (m_services.RunAccountWizard(this, m_settings, m_account)) {
        Reconnect();
    }
}

void CDlgContactList::ChangeAccount() {
    const std::string before = m_list.LoadedAccount();
    if (!m_services.SelectAccount(this, m_account)) {
        return;
    }
    if (m_account.userId == before) {
        Connect();
    } else {
        Reconnect();
    }
}

void CDlgContactList::ChangePassword() {
    m_services.ChangePassword(this, m_settings, m_account);
}

void CDlgContactList::OpenOptions() {
    for (;;) {
        switch (data::CheckOptionsGuard(m_account)) {
            case data::OptionsGuardStep::RunAccountWizard:
                if (!m_services.RunAccountWizard(this, m_settings, m_account)) {
                    return;
                }
                break;
            case data::OptionsGuardStep::AskSelectAccount:
                if (!AskYesNo(this, ToQString(data::AccountText::LoginIdNotAvailable)) ||
                    !m_services.SelectAccount(this, m_account)) {
                    return;
                }
                break;
            case data::OptionsGuardStep::OpenOptions:
                if (m_services.EditOptions(this, m_settings, false)) {
                    ApplySettings();
                }
                return;
        }
    }
}

void CDlgContactList::ApplySettings() {
    m_session->SetNetworkSettings(NetworkFrom(m_settings));
    m_contacts->Docker().ApplySettings(m_settings);
}

void CDlgContactList::ShowHelp() {
    m_services.ShowHelp(this, IndexHelpTopic);
}

void CDlgContactList::ShowAbout() {
    m_services.ShowAbout(this);
}

void CDlgContactList::PostSentry() {
    const std::string poller = platform::PostSentryChannelName();
    if (platform::ChannelExists(poller)) {
        platform::SendChannelLine(poller,
                                  mailpoll::ClientMessageLine(mailpoll::ClientMessage::Show));
        return;
    }
    LaunchPoller();
}

void CDlgContactList::ExitNow() {
    m_shutdown.Run();
}

void CDlgContactList::AskExit() {
    if (m_shutdown.Started()) {
        return;
    }
    const data::WindowSettings shutDown(data::WindowSection::ShutDown);
    if (shutDown.GetDword(PromptValue) != 0 && !m_services.ConfirmShutDown(this)) {
        return;
    }
    ExitNow();
}

void CDlgContactList::NewMailArrived() {
    PlaySound(data::SoundEvent::NewMailArrived);
}

bool CDlgContactList::OpenNamed(const QString& name) {
    const auto popUp = [](QMenu* menu, QWidget* below) {
        menu->popup(below->mapToGlobal(QPoint(0, 0)) - QPoint(0, menu->sizeHint().height()));
    };
    if (name == "options") {
        OpenOptions();
    } else if (name == "select-account") {
        ChangeAccount();
    } else if (name == "wizard") {
        ApplyImportAccount();
    } else if (name == "change-password") {
        ChangePassword();
    } else if (name == "away") {
        m_services.ConfirmAwayMode(this);
    } else if (name == "shutdown-prompt") {
        if (m_services.ConfirmShutDown(this)) {
            ExitNow();
        }
    } else if (name == "about") {
        ShowAbout();
    } else if (name == "system-menu") {
        UpdateMenus();
        popUp(m_systemMenu, m_systemButton);
    } else if (name == "status-menu") {
        UpdateMenus();
        popUp(m_statusMenu, m_statusButton);
    } else if (name == "tray-menu") {
        UpdateMenus();
        m_trayMenu->popup(geometry().center());
    } else if (!m_contacts->OpenNamed(name)) {
        return false;
    }
    return true;
}

// --- state -----------------------------------------------------------------------------

void CDlgContactList::UpdateMenus() {
    const auto state =
        MainMenuState::For({m_session->Connected(), m_session->Connecting(), m_session->Status()});
    m_connect->setEnabled(state.connect.enabled);
    m_disconnect->setEnabled(state.disconnect.enabled);
    Apply(m_online, state.online);
    Apply(m_away, state.away);
    Apply(m_notAvailable, state.notAvailable);
    const bool visible = isVisible() && !isMinimized();
    m_showHide->setText(ToQString(ShowHideText(visible)));
    m_trayShowHide->setText(ToQString(ShowHideText(visible)));
}

bool CDlgContactList::AnyUnread() const {
    return m_contacts->Bar().HasUnread();
}

void CDlgContactList::TimerTick() {
    if (m_shutdown.Started() || m_session->Disconnecting() || !m_contacts) {
        return;
    }
    const auto picture =
        m_trayRule.Tick({isHidden() || m_contacts->Docker().IsSlidOut(), AnyUnread(),
                         m_session->Connecting(), m_session->Status()});
    if (picture) {
        m_tray->setIcon(TrayIconPicture(*picture));
    }
    m_session->ReconnectTick(m_menuTracking);
}

void CDlgContactList::OnTrayActivated(int reason) {
    // While one of the window's dialogs is open the tray icon waits, as the window does.
    if (QApplication::activeModalWidget() != nullptr || m_shutdown.Started() || !m_contacts) {
        return;
    }
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger) {
        return;
    }
    if (reason == QSystemTrayIcon::Trigger && isVisible()) {
        return;
    }
    if (!m_contacts->OpenFirstUnread()) {
        ShowWindow();
    }
}

void CDlgContactList::closeEvent(QCloseEvent* event) {
    if (m_shutdown.Finished()) {
        event->accept();
        return;
    }
    event->ignore();
    AskExit();
}

void CDlgContactList::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The window's minimise button is its "&Hide": off the screen and the task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_trayAvailable) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                hide();
                setWindowState(windowState() & ~Qt::WindowMinimized);
            }
        });
    }
}

// --- SessionWindow ---------------------------------------------------------------------

void CDlgContactList::OnWindowThread(const std::function<void()>& call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(
            this, [&call] { call(); }, Qt::BlockingQueuedConnection);
    }
}

std::optional<session::Account> CDlgContactList::CheckAccount() {
    const std::string shown = m_list.LoadedAccount();
    auto result = m_accountRead ? data::ContinueAccountCheck(m_account, shown)
                                : data::StartAccountCheck(m_account, shown);
    m_accountRead = true;
    for (;;) {
        switch (result.next) {
            case data::AccountCheckStep::RunAccountWizard:
                if (!m_services.RunAccountWizard(this, m_settings, m_account)) {
                    return std::nullopt;
                }
                break;
            case data::AccountCheckStep::InvalidProfile:
                ShowError(this, ToQString(data::AccountText::InvalidUidFile));
                [[fallthrough]];
            case data::AccountCheckStep::SelectAccount:
                if (!m_services.SelectAccount(this, m_account)) {
                    return std::nullopt;
                }
                break;
            case data::AccountCheckStep::Ready:
                if (result.accountChanged || !m_list.IsLoaded()) {
                    SwitchContactList(m_account.userId);
                }
                m_contacts->Bar().LoggedIn();
                setWindowTitle(QString::fromStdString(m_account.userId));
                return session::Account{m_account.userId, m_account.password, m_account.nickname};
        }
        result = data::ContinueAccountCheck(m_account, m_list.LoadedAccount());
    }
}

void CDlgContactList::SwitchContactList(const std::string& accountId) {
    emit accountChanged();
    // The bar takes the ListMutex for each step and keeps its drawing state in step.
    contacts::CContactListBar& bar = m_contacts->Bar();
    try {
        bar.SaveAndUnloadList();
    } catch (const std::exception& error) {
        ShowWarning(error.what());
    }
    m_history.SetAccount(accountId);
    try {
        bar.LoadList(accountId);
    } catch (const std::exception& error) {
        ShowWarning(error.what());
    }
    WakeStatusPoller();
    if (!m_listShown) {
        m_listShown = true;
        const bool trayOnly =
            data::WindowSettings(data::WindowSection::Window).GetDword(TrayIconOnlyValue) == 1;
        if (!trayOnly || !m_trayAvailable) {
            ShowWindow();
        }
    }
}

void CDlgContactList::CloseMainWindow() {
    m_closeRequested = true;
    QMetaObject::invokeMethod(
        this, [this] { ExitNow(); }, Qt::QueuedConnection);
}

void CDlgContactList::ShowStatus(std::string_view text) {
    const QString shown = ToQString(text);
    QMetaObject::invokeMethod(
        this,
        [this, shown] {
            m_statusButton->setText(shown);
            m_statusButton->setAccessibleDescription(shown);
            m_statusButton->setIcon(
                StatusBitmap(m_session ? m_session->Status() : OnlineStatus::Offline));
            emit statusShown(shown);
        },
        Qt::QueuedConnection);
}

void CDlgContactList::ShowLoginFailed(const std::string& text) {
    OnWindowThread([this, &text] { ShowError(this, ToQString(text)); });
}

void CDlgContactList::ChooseAccount() {
    QMetaObject::invokeMethod(
        this, [this] { ChangeAccount(); }, Qt::QueuedConnection);
}

void CDlgContactList::PostConnectionLost(const std::string& /*reason*/) {
    QMetaObject::invokeMethod(
        this, [this] { m_session->HandleConnectionLost(); }, Qt::QueuedConnection);
}

void CDlgContactList::MessageReceived(const session::IncomingMessage& message) {
    // A storage warning is shown by the contact list, once the reader is released.
    OnWindowThread([this, &message] {
        if (message.kind != session::IncomingMessage::Kind::AutoReply) {
            PlaySound(data::SoundEvent::IncomingMessage);
        }
        emit messageReceived(message);
    });
}

void CDlgContactList::ChatRequestReceived(const protocol::ChatRequest& request) {
    // The "Chat Request" sound is played by the window that answers the request.
    OnWindowThread([this, &request] { emit chatRequestReceived(request); });
}

void CDlgContactList::FileRequestReceived(const protocol::FileRequest& request) {
    // The "File Request" sound is played by the window that answers the request.
    OnWindowThread([this, &request] { emit fileRequestReceived(request); });
}

void CDlgContactList::WakeStatusPoller() {
    QMetaObject::invokeMethod(
        this, [this] { emit statusPollWanted(); }, Qt::QueuedConnection);
}

std::string CDlgContactList::AwayText() {
    return data::WindowSettings::AwayText();
}

bool CDlgContactList::ConfirmAwayMode() {
    return m_services.ConfirmAwayMode(this);
}

void CDlgContactList::ShowWarning(const std::string& text) {
    ui::ShowWarning(this, ToQString(text));
}

void CDlgContactList::DispatchWhileWaiting() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// --- ShutdownSteps ---------------------------------------------------------------------

void CDlgContactList::RememberTrayOnly() {
    data::WindowSettings(data::WindowSection::Window)
        .SetBool(TrayIconOnlyValue, m_trayAvailable && isHidden() && m_listShown);
    if (m_listShown) {
        // The placement and the docking values, and the desktop's space given back.
        m_contacts->Docker().Save();
    }
}

void CDlgContactList::HideAndAnnounce() {
    hide();
    PlaySound(data::SoundEvent::Shutdown);
    ClosePoller();
}

void CDlgContactList::StopTimerAndTray() {
    m_timer.stop();
    m_tray->hide();
}

bool CDlgContactList::EndSession() {
    m_session->Shutdown();
    return !m_session->WorkersLeftBehind();
}

void CDlgContactList::SaveContactList(bool workersLeftBehind) {
    // The StatusPoller stops first, then the list is saved. A worker left running may hold
    // the ListMutex for good; the list keeps its own lock for every change, so it is then
    // saved whole without it.
    try {
        m_contacts->StopPollerAndSave(workersLeftBehind);
    } catch (const std::exception& error) {
        ShowWarning(error.what());
    }
}

void CDlgContactList::Finish() {
    emit shutdownFinished();
}

}  // namespace talvorine::client::ui
