#include "talvorine/client/ui/options/dlg_about.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <algorithm>

#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

QString AboutWebSite() {
    return QStringLiteral(TALVORINE_WEB_SITE);
}

QString AboutSupportMail() {
    QUrl url(QStringLiteral("mailto:") + QStringLiteral(TALVORINE_SUPPORT_MAIL));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), ToQString(ProductName));
    url.setQuery(query);
    return url.toString();
}

CDlgAbout::CDlgAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("CDlgAbout");
    setWindowTitle(tr("About %1").arg(ToQString(ProductName)));

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(48));
    auto* name = new QLabel(QStringLiteral("<b>%1</b><br>Version %2")
                                .arg(ToQString(ProductName), QStringLiteral(TALVORINE_VERSION)),
                            this);
    name->setObjectName("name");
    auto* site = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(AboutWebSite()), this);
    site->setObjectName("webSite");
    auto* mail = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(AboutSupportMail(), QStringLiteral(TALVORINE_SUPPORT_MAIL)),
                            this);
    mail->setObjectName("supportMail");
    for (QLabel* link : {site, mail}) {
        link->setTextInteractionFlags(Qt::TextBrowserInteraction);
        connect(link, &QLabel::linkActivated, this,
                [](const QString& target) { QDesktopServices::openUrl(QUrl(target)); });
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(site);
    texts->addWidget(mail);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    // Wide enough for the window manager to show the whole caption, not only the texts.
    setMinimumWidth(std::max(320, fontMetrics().horizontalAdvance(windowTitle()) + 160));
}

}  // namespace talvorine::client::ui
