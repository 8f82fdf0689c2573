#include "talvorine/client/ui/options/dlg_shut_down.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"

namespace talvorine::client::ui {

CDlgShutDown::CDlgShutDown(QWidget* parent) : QDialog(parent) {
    setObjectName("CDlgShutDown");
    setWindowTitle(tr("Shut Down ?"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32));
    auto* text = new QLabel(tr(ShutDownText), this);
    text->setObjectName("text");
    text->setWordWrap(true);
    text->setMinimumWidth(320);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);

    m_dontShow = new QCheckBox(tr("Don't show this prompt again"), this);
    m_dontShow->setObjectName("dontShow");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(m_dontShow);
    layout->addWidget(buttons);
}

void CDlgShutDown::done(int result) {
    data::WindowSettings(data::WindowSection::ShutDown).SetBool("Prompt", !m_dontShow->isChecked());
    QDialog::done(result);
}

}  // namespace talvorine::client::ui
