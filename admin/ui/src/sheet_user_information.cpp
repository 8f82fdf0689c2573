#include "talvorine/admin/ui/sheet_user_information.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "talvorine/client/ui/infopages/info_pages.h"

namespace talvorine::admin::ui {

using namespace talvorine::infopages;

CSheetUserInformation::CSheetUserInformation(const protocol::UserProfile& profile, Opener opener,
                                             QWidget* parent)
    : QDialog(parent), m_opener(std::move(opener)) {
    setWindowTitle(QStringLiteral("User Information"));
    auto* column = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    auto* basic = new CPageInfoBasic(InfoMode::Contact, m_pages);
    auto* comm = new CPageInfoComm(
        InfoMode::Contact, LabelVariant::Admin,
        [this](const QUrl& url) { return m_opener && m_opener(url); }, m_pages);
    auto* more = new CPageInfoMore(InfoMode::Contact, m_pages);
    basic->Fill(profile);
    comm->Fill(profile);
    more->Fill(profile);
    basic->setProperty("helpTopic", QString::fromLatin1(CPageInfoBasic::HelpTopic));
    comm->setProperty("helpTopic", QString::fromLatin1(CPageInfoComm::HelpTopic));
    more->setProperty("helpTopic", QString::fromLatin1(CPageInfoMore::HelpTopic));
    m_pages->addTab(basic, QStringLiteral("Basic"));
    m_pages->addTab(comm, QStringLiteral("Communication"));
    m_pages->addTab(more, QStringLiteral("More"));
    column->addWidget(m_pages);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(480, sizeHint().height());
}

void CSheetUserInformation::keyPressEvent(QKeyEvent* event) {
    if (event->key() == ::Qt::Key_F1) {
        OpenHelpTopic(this, m_opener,
                      m_pages->currentWidget()->property("helpTopic").toString().toStdString());
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace talvorine::admin::ui
