#include "talvorine/admin/ui/server_property_sheet.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "talvorine/admin/ui/page_about.h"
#include "talvorine/admin/ui/page_log_file.h"
#include "talvorine/admin/ui/page_server.h"
#include "talvorine/admin/ui/page_users.h"

namespace talvorine::admin::ui {

namespace {

constexpr const char* SheetHelpTopic = "serverintroduction.htm";

}  // namespace

CServerPropertySheet::CServerPropertySheet(const ServerSettings& settings, UserDirectory& directory,
                                           Opener opener, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_opener(std::move(opener)) {
    setWindowTitle(ToQ(Caption));
    auto* column = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    m_server = new CPropertyPageServer(m_settings, m_pages);
    m_users = new CPropertyPageUsers(directory, m_opener, m_pages);
    m_log = new CPropertyPageLogFile(m_settings, m_opener, m_pages);
    m_about = new CPropPageAbout(m_pages);
    m_pages->addTab(m_server, QStringLiteral("Server"));
    m_pages->addTab(m_users, QStringLiteral("Users"));
    m_pages->addTab(m_log, QStringLiteral("Log"));
    m_pages->addTab(m_about, QStringLiteral("About"));
    column->addWidget(m_pages);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(620, 500);
}

void CServerPropertySheet::accept() {
    ServerSettings taken = m_settings;
    m_server->Take(taken);
    m_log->Take(taken);
    if (std::string refusal = taken.Validate(); !refusal.empty()) {
        bool port = taken.port < 1 || taken.port > HighestPort;
        m_pages->setCurrentWidget(port ? static_cast<QWidget*>(m_server)
                                       : static_cast<QWidget*>(m_log));
        ShowWarning(this, ToQ(refusal));
        QLineEdit* field = port ? m_server->PortField() : m_log->DaysField();
        field->setFocus();
        field->selectAll();
        return;
    }
    if (std::string failure = taken.Save(); !failure.empty()) {
        // The sheet stays open with everything typed, so nothing is lost.
        ShowError(this, QStringLiteral("Failed to save the server settings:\r\n") +
                            QString::fromStdString(failure));
        return;
    }
    m_settings = taken;
    if (std::string failure = SaveColumnWidths(m_users->ColumnWidths()); !failure.empty()) {
        ShowWarning(this, QStringLiteral("Failed to save the column widths:\r\n") +
                              QString::fromStdString(failure));
    }
    QDialog::accept();
}

void CServerPropertySheet::ShowHelp() {
    QWidget* page = m_pages->currentWidget();
    std::string topic = SheetHelpTopic;
    if (page == m_server) {
        topic = CPropertyPageServer::HelpTopic;
    } else if (page == m_users) {
        topic = CPropertyPageUsers::HelpTopic;
    } else if (page == m_log) {
        topic = CPropertyPageLogFile::HelpTopic;
    } else if (page == m_about) {
        topic = CPropPageAbout::HelpTopic;
    }
    OpenHelpTopic(this, m_opener, topic);
}

void CServerPropertySheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == ::Qt::Key_F1) {
        // On the tab row or the sheet's own buttons the sheet's topic, else the page's.
        QWidget* focus = focusWidget();
        bool onPage = focus != nullptr && m_pages->currentWidget()->isAncestorOf(focus);
        if (onPage) {
            ShowHelp();
        } else {
            OpenHelpTopic(this, m_opener, SheetHelpTopic);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace talvorine::admin::ui
