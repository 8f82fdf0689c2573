#include "talvorine/client/ui/options/dlg_away_mode.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/client/ui/common/fields.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::ui {

std::optional<int> AwayCountdown::Tick() {
    if (m_count > 0) {
        return m_count--;
    }
    m_running = false;
    return std::nullopt;
}

CDlgAwayMode::CDlgAwayMode(QWidget* parent)
    : QDialog(parent), m_countdown(!data::WindowSettings::AwayText().empty()) {
    setObjectName("CDlgAwayMode");
    setWindowTitle(tr("Away Mode"));

    auto* tip = new QGroupBox(tr("Tip"), this);
    auto* tipText = new QLabel(
        tr("You can still receive messages in Away mode and the following message will be "
           "displayed to user who sent a message to you.  The message may be modified to your "
           "preference."),
        tip);
    tipText->setWordWrap(true);
    auto* tipLayout = new QVBoxLayout(tip);
    tipLayout->addWidget(tipText);

    m_text = new QLineEdit(ToQString(data::WindowSettings::AwayText()), this);
    m_text->setObjectName("awayText");
    LimitUtf8(m_text, session::Text::AwayTextMax);
    m_text->setAccessibleName(tr("Away text"));
    m_text->setMinimumWidth(360);
    m_text->installEventFilter(this);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName("ok");
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgAwayMode::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgAwayMode::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [this] { OpenHelp(this, HelpTopic::AwayMode); });
    AddHelpKey(this, [] { return HelpTopic::AwayMode; });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tip);
    layout->addWidget(m_text);
    layout->addWidget(buttons);

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CDlgAwayMode::Tick);
    if (m_countdown.Running()) {
        m_timer->start();
    }
    // The countdown must not stop merely because the text box is the first control.
    m_ok->setFocus();
}

CDlgAwayMode::~CDlgAwayMode() {
    m_timer->stop();
}

void CDlgAwayMode::Tick() {
    if (!m_countdown.Running()) {
        return;
    }
    if (const auto shown = m_countdown.Tick()) {
        m_ok->setText(tr("OK in %1 seconds").arg(*shown));
        return;
    }
    m_timer->stop();
    accept();
}

void CDlgAwayMode::StopCountdown() {
    if (m_countdown.Running()) {
        m_countdown.Stop();
        m_timer->stop();
        m_ok->setText(tr("OK"));
    }
}

bool CDlgAwayMode::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text && event->type() == QEvent::FocusIn) {
        StopCountdown();
    }
    return QDialog::eventFilter(watched, event);
}

void CDlgAwayMode::done(int result) {
    // A cancelled dialog must not confirm itself later.
    StopCountdown();
    QDialog::done(result);
}

void CDlgAwayMode::accept() {
    const std::string text = ToStdString(m_text->text());
    data::WindowSettings::SetAwayText(platform::CutUtf8(text, session::Text::AwayTextMax));
    QDialog::accept();
}

}  // namespace talvorine::client::ui
