#pragma once
// The program's one window: "Talvorine Messenger Admin", a modal sheet of four pages (server,
// users, log files, about) with OK and Cancel. OK checks the settings, writes them to the
// machine hive and the column widths to the user's profile; Cancel writes nothing.

#include <QDialog>
#include <QTabWidget>

#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/ui/message_box.h"
#include "talvorine/admin/user_directory.h"

namespace talvorine::admin::ui {

class CPropertyPageServer;
class CPropertyPageUsers;
class CPropertyPageLogFile;
class CPropPageAbout;

class CServerPropertySheet : public QDialog {
    Q_OBJECT
public:
    CServerPropertySheet(const ServerSettings& settings, UserDirectory& directory, Opener opener,
                         QWidget* parent = nullptr);

    void accept() override;
    const ServerSettings& Settings() const { return m_settings; }

    QTabWidget* Pages() const { return m_pages; }
    CPropertyPageServer* ServerPage() const { return m_server; }
    CPropertyPageUsers* UsersPage() const { return m_users; }
    CPropertyPageLogFile* LogPage() const { return m_log; }
    // F1: the help topic of the page shown.
    void ShowHelp();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ServerSettings m_settings;
    Opener m_opener;
    QTabWidget* m_pages;
    CPropertyPageServer* m_server;
    CPropertyPageUsers* m_users;
    CPropertyPageLogFile* m_log;
    CPropPageAbout* m_about;
};

}  // namespace talvorine::admin::ui
