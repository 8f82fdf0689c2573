#pragma once
// The poller's main window: the accounts with their count and status, the account and mail
// program menus, the automatic-check options, the notification-area icon. It presents the
// MailChecker's state and delegates every action to it.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>

#include "talvorine/mailpoll/client_link.h"
#include "talvorine/mailpoll/mail_checker.h"
#include "talvorine/mailpoll/mail_store.h"

class QAction;
class QCheckBox;
class QMenu;
class QSpinBox;
class QSystemTrayIcon;
class QTreeWidget;

namespace talvorine::mailpoll::ui {

class CDlgMailList;

class CDlgPostSentry : public QMainWindow, private CheckObserver {
    Q_OBJECT
public:
    // Loads nothing itself: `settings` and `accounts` come from `store`, which the window
    // writes back each time it is hidden or closed.
    CDlgPostSentry(MailStore store, PostSentrySettings settings, std::vector<MailAccount> accounts,
                   std::string clientChannel = ClientChannelName(), QWidget* parent = nullptr);
    ~CDlgPostSentry() override;

    const MailChecker& Checker() const { return *m_checker; }
    const PostSentrySettings& Settings() const { return m_settings; }
    bool IsMailListOpen() const { return !m_mailList.isNull(); }

    // The client's messages.
    void OnClientMessage(ClientMessage message);
    // Show normally and bring to the front (with the client's window animation).
    void ShowAndActivate();
    // Stops the jobs, saves and ends the program.
    void Exit();

    // The menu commands, for the selected account where they need one.
    void NewAccount();
    void EditAccount();
    void DeleteAccount();
    void MoveAccount(bool up);
    void CheckAccount(std::size_t index);
    void CheckSelected();
    void CheckAll();
    void ViewMail();

    // Takes over the options shown, restarts the timer when they changed, writes everything.
    void SaveAll();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void StatusChanged(std::size_t index) override;
    void CountChanged(std::size_t index) override;
    void CheckFinished(std::size_t index) override;
    void HeaderFetched(std::size_t index, const MailHeaderItem& item) override;
    template <typename Call>
    void OnWindowThread(Call call);

    void BuildMenus();
    void BuildTray();
    void FillMailProgramMenu();
    void LaunchMailProgram(const std::string& exec);
    void ApplyTimer();
    void OnTimer();
    void RefreshRow(std::size_t index);
    void RefreshStatus(std::size_t index);
    void RefreshList();
    std::optional<std::size_t> SelectedIndex() const;
    void Select(std::size_t index);

    MailStore m_store;
    PostSentrySettings m_settings;
    std::string m_clientChannel;
    std::unique_ptr<MailChecker> m_checker;
    std::size_t m_mailListAccount = 0;
    QPointer<CDlgMailList> m_mailList;
    QTimer* m_timer;  // the automatic check ("checkTimer")
    QTreeWidget* m_list;
    QCheckBox* m_autoCheck;
    QSpinBox* m_interval;
    QCheckBox* m_popup;
    QMenu* m_accountMenu = nullptr;
    QMenu* m_mailProgramMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_exiting = false;
};

}  // namespace talvorine::mailpoll::ui
