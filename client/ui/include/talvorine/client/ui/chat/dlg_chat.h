#pragma once
// The chat windows: "Chat Request" (asking a contact), "Incoming Chat Request" (answering one)
// and "Chat" (the conversation over the direct connection). Each runs its blocking step on a
// worker of its own and shows the outcome on the window's thread.

#include <QDialog>
#include <functional>
#include <memory>

#include "talvorine/client/session/chat.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/ui/chat/peer_services.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace talvorine::client::ui {

class WaitingAnimation;

// Hands an established chat to whoever opens the "Chat" window.
using ChatAccepted = std::function<void(std::string peerId, session::ChatLink link)>;

class CDlgChatRequest : public QDialog {
    Q_OBJECT
public:
    CDlgChatRequest(const PeerServices& services, std::string peerId, std::string nickname,
                    ChatAccepted accepted);
    ~CDlgChatRequest() override;

    const std::string& PeerId() const { return m_peerId; }
    bool Waiting() const { return m_worker.Running(); }
    // "OK": sends the request and waits for the answer.
    void SendRequest();

    void reject() override;

private:
    void Finished(session::ChatStepResult result);

    const PeerServices& m_services;
    std::string m_peerId;
    std::string m_nickname;
    ChatAccepted m_accepted;
    session::AccountChatFiles m_files;
    std::unique_ptr<session::ChatRequester> m_requester;
    session::Worker m_worker;
    bool m_closing = false;
    QPlainTextEdit* m_text;
    QPushButton* m_ok;
    WaitingAnimation* m_animation;
};

class CDlgIncomingChatRequest : public QDialog {
    Q_OBJECT
public:
    // Creates this side's chat file at once (accepted 0).
    CDlgIncomingChatRequest(const PeerServices& services,
                            const session::IncomingChatRequest& request, ChatAccepted accepted);
    ~CDlgIncomingChatRequest() override;

    const std::string& PeerId() const { return m_answerer.Request().requesterId; }
    void Accept();
    void Deny();

    void reject() override;

private:
    void StartAnswer(bool accept);
    void Finished(bool accepted, session::ChatStepResult result);

    const PeerServices& m_services;
    ChatAccepted m_accepted;
    session::AccountChatFiles m_files;
    session::ChatAnswerer m_answerer;
    session::Worker m_worker;
    bool m_closing = false;
    QLineEdit* m_reply;
    QPushButton* m_accept;
    QPushButton* m_deny;
    QPushButton* m_cancel;
    WaitingAnimation* m_animation;
};

class CDlgChat : public QDialog, private session::ChatEvents {
    Q_OBJECT
public:
    CDlgChat(const PeerServices& services, std::string peerId, std::string peerNickname,
             session::ChatLink link);
    ~CDlgChat() override;

    const std::string& PeerId() const { return m_peerId; }
    bool Connected() const { return m_session->Connected(); }
    // "&Send" with the input box's text; "&Clear" empties the transcript box only.
    void Send();
    void Clear();
    // The main window closes every contact's windows (another account, shutdown): no question.
    void CloseWithoutAsking();
    // Cancel, Esc and the close box ask "Are you sure to quit?" first.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void LineAdded(std::string_view line) override;
    void PeerLeft(const std::string& text) override;
    void ConnectionFailed(const std::string& text) override;
    bool ConfirmQuit();

    const PeerServices& m_services;
    std::string m_peerId;
    session::AccountChatFiles m_files;
    std::unique_ptr<session::ChatSession> m_session;
    bool m_confirmed = false;
    QPlainTextEdit* m_transcript;
    QPlainTextEdit* m_input;
    QPushButton* m_send;
};

}  // namespace talvorine::client::ui
