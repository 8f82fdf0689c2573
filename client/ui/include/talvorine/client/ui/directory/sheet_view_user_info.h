#pragma once
// CSheetViewUserInfo: the user information sheet with the pages "Basic", "Communication" and
// "More". Contact mode ("User Info") shows a contact's profile from its .usr file, fetched
// from the server when the file never held one, and "&Update" fetches it again. Own mode
// ("Change My Info") edits the account's own profile and "&Save" sends it to the server after
// the "Input Password" dialog. Requests run off the window thread under a wait cursor.

#include <QDialog>
#include <string>

#include "talvorine/client/ui/directory/directory_services.h"
#include "talvorine/client/ui/infopages/info_pages.h"

class QLineEdit;
class QPushButton;
class QTabWidget;

namespace talvorine::client::ui::directory {

class CSheetViewUserInfo : public QDialog {
    Q_OBJECT
public:
    // Contact mode for `userId`, own mode for the account's own id. The sheet is modeless and
    // deletes itself when closed.
    CSheetViewUserInfo(const DirectoryServices& services, infopages::InfoMode mode,
                       std::string userId, QWidget* parent = nullptr);

    const std::string& UserId() const { return m_userId; }
    infopages::InfoMode Mode() const { return m_mode; }
    const protocol::UserProfile& Profile() const { return m_profile; }
    // True while the sheet waits for the server.
    bool Busy() const { return m_busy; }

    // Contact mode: the profile from the server, stored and shown ("&Update").
    void Update();
    // Own mode: the pages' values to the server and the UID file ("&Save").
    void Save();

    QTabWidget* Tabs() const { return m_tabs; }
    infopages::CPageInfoBasic* BasicPage() const { return m_basic; }
    infopages::CPageInfoComm* CommPage() const { return m_comm; }
    infopages::CPageInfoMore* MorePage() const { return m_more; }
    QPushButton* ActionButton() const { return m_action; }
    QPushButton* DoneButton() const { return m_done; }

protected:
    void showEvent(QShowEvent* event) override;
    // A sheet waiting for the server closes when the request returns.
    void closeEvent(QCloseEvent* event) override;

private:
    void Fill(const protocol::UserProfile& profile);
    // Request 52 under the wait cursor; the failure is shown.
    std::optional<protocol::UserProfile> Fetch();
    // Opening a contact whose .usr file never held a profile.
    void FetchOnOpen();
    // After a request: the close that was put off, if any. True when the sheet is closing.
    bool CloseIfWanted();

    // A copy: the sheet may outlive the wizard and the window list that opened it.
    DirectoryServices m_services;
    infopages::InfoMode m_mode;
    std::string m_userId;
    protocol::UserProfile m_profile;
    bool m_busy = false;
    bool m_closeWhenDone = false;
    bool m_centred = false;
    QTabWidget* m_tabs;
    infopages::CPageInfoBasic* m_basic;
    infopages::CPageInfoComm* m_comm;
    infopages::CPageInfoMore* m_more;
    QPushButton* m_action;
    QPushButton* m_done;
};

// "Input Password": caption "<id> - Password Required", one field "&Password" (16
// characters at most), OK and Cancel.
class CDlgInputPassword : public QDialog {
    Q_OBJECT
public:
    CDlgInputPassword(const std::string& userId, QWidget* parent = nullptr);
    QLineEdit* PasswordField() const { return m_password; }
    // The typed password, or nullopt on Cancel.
    static std::optional<std::string> Ask(QWidget* parent, const std::string& userId);

private:
    QLineEdit* m_password;
};

}  // namespace talvorine::client::ui::directory
