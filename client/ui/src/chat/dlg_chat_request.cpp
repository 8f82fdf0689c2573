#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/chat/dlg_chat.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/waiting_animation.h"

namespace talvorine::client::ui {

namespace {

QLineEdit* ReadOnlyField(const std::string& text, const char* name, QWidget* parent) {
    auto* field = new QLineEdit(ToQString(text), parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    return field;
}

}  // namespace

void WaitServingEvents(session::Worker& worker) {
    worker.WaitDispatching([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

// ---------------------------------------------------------------------------------------
// "Chat Request"

CDlgChatRequest::CDlgChatRequest(const PeerServices& services, std::string peerId,
                                 std::string nickname, ChatAccepted accepted)
    : m_services(services),
      m_peerId(std::move(peerId)),
      m_nickname(std::move(nickname)),
      m_accepted(std::move(accepted)),
      m_files(services.accountId()) {
    setObjectName(QStringLiteral("CDlgChatRequest"));
    setWindowTitle(QStringLiteral("Chat Request"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ID:"), ReadOnlyField(m_peerId, "id", this));
    form->addRow(QStringLiteral("Nickname:"), ReadOnlyField(m_nickname, "nickname", this));

    auto* textLabel = new QLabel(QStringLiteral("&Request:"), this);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("requestText"));
    m_text->setTabChangesFocus(true);
    textLabel->setBuddy(m_text);

    m_animation = new WaitingAnimation(this);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_animation);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(textLabel);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &CDlgChatRequest::SendRequest);
    connect(cancel, &QPushButton::clicked, this, &CDlgChatRequest::reject);
    resize(360, 260);
}

CDlgChatRequest::~CDlgChatRequest() {
    m_closing = true;
    if (m_requester) {
        m_requester->Cancel();
    }
    WaitServingEvents(m_worker);
}

void CDlgChatRequest::SendRequest() {
    if (m_worker.Running()) {
        return;
    }
    m_animation->Start();
    m_text->setEnabled(false);
    m_ok->setEnabled(false);
    m_requester = std::make_unique<session::ChatRequester>(*m_services.channel, m_files, m_peerId,
                                                           ToStdString(m_text->toPlainText()));
    session::ChatRequester* requester = m_requester.get();
    m_worker.Start([this, requester] {
        auto result = std::make_shared<session::ChatStepResult>(requester->Run());
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(std::move(*result)); }, Qt::QueuedConnection);
    });
}

void CDlgChatRequest::Finished(session::ChatStepResult result) {
    if (m_closing || result.cancelled) {
        return;
    }
    m_worker.Join();
    if (result.link) {
        m_animation->Stop();
        if (m_accepted) {
            m_accepted(m_peerId, std::move(*result.link));
        }
        close();
        return;
    }
    m_animation->Stop();
    m_text->setEnabled(true);
    m_ok->setEnabled(true);
    ShowInformation(this, ToQString(result.failure));
}

void CDlgChatRequest::reject() {
    m_closing = true;
    if (m_requester) {
        m_requester->Cancel();
    }
    QDialog::reject();
}

// ---------------------------------------------------------------------------------------
// "Incoming Chat Request"

CDlgIncomingChatRequest::CDlgIncomingChatRequest(const PeerServices& services,
                                                 const session::IncomingChatRequest& request,
                                                 ChatAccepted accepted)
    : m_services(services),
      m_accepted(std::move(accepted)),
      m_files(services.accountId()),
      m_answerer(m_files, request) {
    setObjectName(QStringLiteral("CDlgIncomingChatRequest"));
    setWindowTitle(QStringLiteral("Incoming Chat Request"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ID:"), ReadOnlyField(request.requesterId, "id", this));
    form->addRow(QStringLiteral("Nickname:"),
                 ReadOnlyField(m_services.NicknameOf(request.requesterId), "nickname", this));
    form->addRow(
        QStringLiteral("Address:"),
        ReadOnlyField(request.AddressText() + ":" + std::to_string(request.port), "address", this));
    auto* text = new QPlainTextEdit(ToQString(request.text), this);
    text->setObjectName(QStringLiteral("requestText"));
    text->setReadOnly(true);
    text->setTabChangesFocus(true);
    form->addRow(QStringLiteral("Request:"), text);

    auto* replyLabel = new QLabel(QStringLiteral("Type your reply here:"), this);
    m_reply = new QLineEdit(this);
    m_reply->setObjectName(QStringLiteral("reply"));
    m_reply->setMaxLength(static_cast<int>(session::MaxChatRequestText));
    replyLabel->setBuddy(m_reply);

    m_animation = new WaitingAnimation(this);
    m_accept = new QPushButton(QStringLiteral("&Accept"), this);
    m_accept->setObjectName(QStringLiteral("accept"));
    m_accept->setDefault(true);
    m_deny = new QPushButton(QStringLiteral("&Deny"), this);
    m_deny->setObjectName(QStringLiteral("deny"));
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_animation);
    buttons->addStretch(1);
    buttons->addWidget(m_accept);
    buttons->addWidget(m_deny);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(replyLabel);
    layout->addWidget(m_reply);
    layout->addLayout(buttons);
    connect(m_accept, &QPushButton::clicked, this, &CDlgIncomingChatRequest::Accept);
    connect(m_deny, &QPushButton::clicked, this, &CDlgIncomingChatRequest::Deny);
    connect(m_cancel, &QPushButton::clicked, this, &CDlgIncomingChatRequest::reject);
    resize(380, 280);
}

CDlgIncomingChatRequest::~CDlgIncomingChatRequest() {
    m_closing = true;
    m_answerer.Cancel();
    WaitServingEvents(m_worker);
}

void CDlgIncomingChatRequest::Accept() {
    StartAnswer(true);
}

void CDlgIncomingChatRequest::Deny() {
    StartAnswer(false);
}

void CDlgIncomingChatRequest::StartAnswer(bool accept) {
    if (m_worker.Running()) {
        return;
    }
    m_animation->Start();
    m_reply->setEnabled(false);
    m_accept->setEnabled(false);
    m_deny->setEnabled(false);
    const std::string reply = ToStdString(m_reply->text());
    m_worker.Start([this, accept, reply] {
        auto result = std::make_shared<session::ChatStepResult>(m_answerer.Answer(accept, reply));
        QMetaObject::invokeMethod(
            this, [this, accept, result] { Finished(accept, std::move(*result)); },
            Qt::QueuedConnection);
    });
}

void CDlgIncomingChatRequest::Finished(bool accepted, session::ChatStepResult result) {
    if (m_closing || result.cancelled) {
        return;
    }
    m_worker.Join();
    m_animation->Stop();
    if (result.failure.empty()) {
        if (accepted && result.link && m_accepted) {
            m_accepted(PeerId(), std::move(*result.link));
        }
        close();
        return;
    }
    m_reply->setEnabled(true);
    m_accept->setEnabled(true);
    m_deny->setEnabled(true);
    ShowInformation(this, ToQString(result.failure));
}

void CDlgIncomingChatRequest::reject() {
    // Closing without an answer leaves the chat file with accepted 0; the requester goes on
    // waiting until its own window is closed.
    m_closing = true;
    m_answerer.Cancel();
    QDialog::reject();
}

}  // namespace talvorine::client::ui
