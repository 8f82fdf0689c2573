#include "talvorine/client/ui/chat/dlg_chat.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "talvorine/client/session/texts.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

CDlgChat::CDlgChat(const PeerServices& services, std::string peerId, std::string peerNickname,
                   session::ChatLink link)
    : m_services(services), m_peerId(std::move(peerId)), m_files(services.accountId()) {
    setObjectName(QStringLiteral("CDlgChat"));
    setWindowTitle(QStringLiteral("Chat"));
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);

    auto* with = new QLabel(
        QStringLiteral("%1 (%2)").arg(ToQString(peerNickname), ToQString(m_peerId)), this);
    with->setObjectName(QStringLiteral("peer"));
    m_transcript = new QPlainTextEdit(this);
    m_transcript->setObjectName(QStringLiteral("transcript"));
    m_transcript->setReadOnly(true);
    m_transcript->setAccessibleName(QStringLiteral("Transcript"));
    m_input = new QPlainTextEdit(this);
    m_input->setObjectName(QStringLiteral("input"));
    m_input->setAccessibleName(QStringLiteral("Input"));
    m_input->setTabChangesFocus(true);
    m_input->setMaximumHeight(80);

    m_send = new QPushButton(QStringLiteral("&Send"), this);
    m_send->setObjectName(QStringLiteral("send"));
    m_send->setDefault(true);
    auto* clear = new QPushButton(QStringLiteral("&Clear"), this);
    clear->setObjectName(QStringLiteral("clear"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_send);
    buttons->addWidget(clear);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(with);
    layout->addWidget(m_transcript, 3);
    layout->addWidget(m_input, 1);
    layout->addLayout(buttons);
    connect(m_send, &QPushButton::clicked, this, &CDlgChat::Send);
    connect(clear, &QPushButton::clicked, this, &CDlgChat::Clear);
    resize(420, 360);

    session::ChatEvents& events = *this;
    m_session = std::make_unique<session::ChatSession>(
        std::move(link), m_files, services.ownNickname(), std::move(peerNickname), events);
    m_session->Start();
    m_input->setFocus();
}

CDlgChat::~CDlgChat() {
    // "bye-bye!" when the peer is still there, the reader joined, the transcript saved.
    m_session->Close([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

void CDlgChat::Send() {
    const session::ChatSendResult result = m_session->Send(ToStdString(m_input->toPlainText()));
    switch (result.status) {
        case session::ChatSendResult::Status::Sent:
            m_input->clear();
            break;
        case session::ChatSendResult::Status::Empty:
            QApplication::beep();
            break;
        case session::ChatSendResult::Status::TooLong:
            ShowWarning(this, ToQString(result.error));
            break;
        case session::ChatSendResult::Status::Failed:
            ShowError(this, ToQString(result.error));
            break;
    }
    m_input->setFocus();
}

void CDlgChat::Clear() {
    m_transcript->clear();
}

void CDlgChat::CloseWithoutAsking() {
    m_confirmed = true;
    close();
}

bool CDlgChat::ConfirmQuit() {
    if (!m_confirmed) {
        m_confirmed = AskYesNo(this, ToQString(session::Text::ConfirmQuitChat));
    }
    return m_confirmed;
}

void CDlgChat::reject() {
    if (ConfirmQuit()) {
        QDialog::reject();
    }
}

void CDlgChat::closeEvent(QCloseEvent* event) {
    if (ConfirmQuit() || m_services.Quitting()) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

void CDlgChat::LineAdded(std::string_view line) {
    QString shown = ToQString(line);
    if (shown.endsWith(QStringLiteral("\r\n"))) {
        shown.chop(2);
    }
    // Own lines come on this thread from Send; the peer's from the chat reader.
    QMetaObject::invokeMethod(
        this,
        [this, shown] {
            QTextCursor cursor = m_transcript->textCursor();
            cursor.movePosition(QTextCursor::End);
            m_transcript->setTextCursor(cursor);
            m_transcript->appendPlainText(shown);
            m_transcript->verticalScrollBar()->setValue(
                m_transcript->verticalScrollBar()->maximum());
        },
        Qt::AutoConnection);
}

void CDlgChat::PeerLeft(const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { ShowInformation(this, ToQString(text)); }, Qt::QueuedConnection);
}

void CDlgChat::ConnectionFailed(const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { ShowError(this, ToQString(text)); }, Qt::QueuedConnection);
}

}  // namespace talvorine::client::ui
