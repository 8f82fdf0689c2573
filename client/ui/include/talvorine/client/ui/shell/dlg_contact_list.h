#pragma once
// CDlgContactList: the client's main window. It owns the session with the server, the loaded
// contact list, the 500 ms timer (reconnection and tray picture), the tray icon and the three
// bottom buttons "System Menu", "Status" and "Post Sentry" with their menus. The area above
// the buttons ("contactArea") shows the contact list; MainWindowContacts joins it, the chat
// and file-transfer windows and the docking to this window.
//
// Threads: everything here runs on the window's thread. The session's workers reach the window
// through SessionWindow, which this class implements privately: "sent" calls block the worker
// until the window thread has run them, "posted" ones are queued.

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/client/ui/shell/shell_rules.h"
#include "talvorine/client/ui/shell/shell_services.h"
#include "talvorine/client/ui/shell/shutdown_order.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QToolButton;

namespace talvorine::client::ui {

class MainWindowContacts;

// The message stores of whichever account is in use; the session keeps one reference for
// its whole life while the account may change between logins.
class CurrentAccountHistory : public session::MessageHistory {
public:
    void SetAccount(std::string accountId);
    void AppendSent(std::string_view peerId, std::span<const std::uint8_t> record) override;
    void AppendReceived(std::string_view peerId, std::span<const std::uint8_t> record) override;

private:
    std::string Account() const;
    mutable std::mutex m_mutex;
    std::string m_accountId;
};

class CDlgContactList : public QWidget, private session::SessionWindow, private ShutdownSteps {
    Q_OBJECT

public:
    // `trayAvailable`: whether the desktop has a notification area (without one the window
    // always stays shown).
    CDlgContactList(ShellServices& services, data::ClientSettings& settings, bool trayAvailable);
    ~CDlgContactList() override;

    // Main window creation after the constructor: account and password, timer, first connect,
    // the mailbox poller.
    void Start();

    // --- what the other windows of the client use ---
    session::ServerSession& Session() { return *m_session; }
    data::ContactList& ContactList() { return m_list; }
    data::ClientSettings& Settings() { return m_settings; }
    const data::CurrentAccount& CurrentAccount() const { return m_account; }
    // The nickname "Change My Info" saved, for the windows opened from now on.
    void SetOwnNickname(const std::string& nickname) { m_account.nickname = nickname; }
    ShellServices& Services() { return m_services; }
    QWidget* ContactArea() const { return m_contactArea; }
    // The contact list, the per-contact windows and the docking of this window.
    MainWindowContacts& Contacts() { return *m_contacts; }
    void PlaySound(int eventNumber);
    // Opens the "Messages" window of a contact with unread messages (the tray's and the
    // contact list's double click); until one is set, those double clicks open nothing.
    void SetUnreadOpener(std::function<void(const std::string& contactId)> opener);

    // --- commands (the menus call these) ---
    void ShowHideWindow();
    void ShowWindow();
    void HideWindow();
    void Connect();
    void Disconnect();
    void SetOnline();
    void SetAway();
    void SetNotAvailable();
    void ApplyImportAccount();
    void ChangeAccount();
    void ChangePassword();
    void OpenOptions();
    void ShowHelp();
    void ShowAbout();
    void PostSentry();
    // "Exit" of the menus, the end of the desktop session, a stop signal: no question.
    void ExitNow();
    // "&Exit" of the window menu and the close box: asks "Shut Down ?" while "Prompt" is not 0.
    void AskExit();
    // The poller announced new mail.
    void NewMailArrived();
    // Opens a window or menu by name after start-up (the program's "--open" switch):
    // "options", "select-account", "wizard", "change-password", "away", "shutdown-prompt",
    // "about", "system-menu", "status-menu", "tray-menu", and the contact list's names
    // (MainWindowContacts::OpenNamed). False for an unknown name.
    bool OpenNamed(const QString& name);

    // The tray picture and the menu state, as the timer and the menus last set them.
    std::optional<TrayPicture> CurrentTrayPicture() const { return m_trayRule.Current(); }
    QMenu* SystemMenu() const { return m_systemMenu; }
    QMenu* StatusMenu() const { return m_statusMenu; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    // Brings every menu item up to date (the menus do this as they open).
    void UpdateMenus();
    // One tick of the 500 ms timer.
    void TimerTick();
    bool ShutdownStarted() const { return m_shutdown.Started(); }
    bool ShutdownFinished() const { return m_shutdown.Finished(); }
    bool WorkersLeftBehind() const { return m_shutdown.WorkersLeftBehind(); }

signals:
    // The shutdown order has run; the program may end.
    void shutdownFinished();
    // The account in use changed: per-contact windows close, the new list is loaded.
    void accountChanged();
    // The contact statuses should be polled again.
    void statusPollWanted();
    // Relayed requests and received messages, on the window thread, for the windows that
    // answer them.
    void messageReceived(const talvorine::client::session::IncomingMessage& message);
    void chatRequestReceived(const talvorine::protocol::ChatRequest& request);
    void fileRequestReceived(const talvorine::protocol::FileRequest& request);
    // Diagnostics for the program's trace: the status text as shown, event sounds asked for.
    void statusShown(const QString& text);
    void soundRequested(int eventNumber);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // SessionWindow
    std::optional<session::Account> CheckAccount() override;
    void CloseMainWindow() override;
    void ShowStatus(std::string_view text) override;
    void ShowLoginFailed(const std::string& text) override;
    void ChooseAccount() override;
    void PostConnectionLost(const std::string& reason) override;
    void MessageReceived(const session::IncomingMessage& message) override;
    void ChatRequestReceived(const protocol::ChatRequest& request) override;
    void FileRequestReceived(const protocol::FileRequest& request) override;
    void WakeStatusPoller() override;
    std::string AwayText() override;
    bool ConfirmAwayMode() override;
    void ShowWarning(const std::string& text) override;
    void DispatchWhileWaiting() override;

    // ShutdownSteps
    void RememberTrayOnly() override;
    void HideAndAnnounce() override;
    void StopTimerAndTray() override;
    bool EndSession() override;
    void SaveContactList(bool workersLeftBehind) override;
    void Finish() override;

    void BuildWindow();
    void BuildMenus();
    void BuildTray();
    void RestorePlacement();
    void SwitchContactList(const std::string& accountId);
    // Disconnects when connected, waiting for the logout while serving events, then connects.
    void Reconnect();
    void WaitForLogout();
    void OnTrayActivated(int reason);
    void ApplySettings();
    void LaunchPoller();
    // Sends the poller "1" (the client ends).
    void ClosePoller();
    bool AnyUnread() const;
    // Runs `call` on the window thread; a worker waits for it.
    void OnWindowThread(const std::function<void()>& call);

    ShellServices& m_services;
    data::ClientSettings& m_settings;
    const bool m_trayAvailable;
    data::CurrentAccount m_account;
    bool m_accountRead = false;
    bool m_listShown = false;
    bool m_menuTracking = false;
    bool m_closeRequested = false;  // a failed account check asked the window to close
    qint64 m_pollerPid = 0;         // the poller this window started, if any
    QElapsedTimer m_pollerStarted;

    data::ContactList m_list;
    session::ContactListBook m_book{m_list};
    CurrentAccountHistory m_history;
    std::unique_ptr<session::ServerSession> m_session;
    // After the session: it goes first, stopping the StatusPoller that uses the session.
    std::unique_ptr<MainWindowContacts> m_contacts;

    QTimer m_timer;
    TrayPictureRule m_trayRule;
    ShutdownOrder m_shutdown{*this};

    QWidget* m_contactArea = nullptr;
    QToolButton* m_systemButton = nullptr;
    QToolButton* m_statusButton = nullptr;
    QToolButton* m_postSentryButton = nullptr;
    QMenu* m_systemMenu = nullptr;
    QMenu* m_statusMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QMenu* m_myStatusMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;

    QAction* m_showHide = nullptr;
    QAction* m_trayShowHide = nullptr;
    QAction* m_connect = nullptr;
    QAction* m_disconnect = nullptr;
    QAction* m_online = nullptr;
    QAction* m_away = nullptr;
    QAction* m_notAvailable = nullptr;
    QAction* m_exit = nullptr;
};

}  // namespace talvorine::client::ui
