#include "talvorine/admin/ui/page_about.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace talvorine::admin::ui {

CPropPageAbout::CPropPageAbout(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
    auto* name = new QLabel(QStringLiteral("<b>Talvorine Messenger Admin</b>"), this);
    name->setObjectName(QStringLiteral("programName"));
    auto* version =
        new QLabel(QStringLiteral("Version %1").arg(QStringLiteral(TALVORINE_VERSION)), this);
    version->setObjectName(QStringLiteral("version"));
    auto* purpose = new QLabel(
        QStringLiteral("Manages the accounts, settings, log files and running state of the "
                       "Talvorine Messenger Server."),
        this);
    purpose->setWordWrap(true);
    column->addWidget(picture, 0, ::Qt::AlignHCenter);
    column->addWidget(name, 0, ::Qt::AlignHCenter);
    column->addWidget(version, 0, ::Qt::AlignHCenter);
    column->addSpacing(12);
    column->addWidget(purpose);
    column->addStretch();
}

}  // namespace talvorine::admin::ui
