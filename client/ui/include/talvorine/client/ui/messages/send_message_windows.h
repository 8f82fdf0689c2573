#pragma once
// The open "Send Message" windows of the main window, one per recipient: a second request for
// the same contact brings the open window to the front and keeps what it holds.

#include <QPointer>
#include <map>
#include <string>

#include "talvorine/client/ui/messages/dlg_send_message.h"

class QWidget;

namespace talvorine::client::ui {

class SendMessageWindows {
public:
    // `parent` owns the windows as a Qt parent (the main window), if given.
    explicit SendMessageWindows(SendMessageServices services, QWidget* parent = nullptr);
    ~SendMessageWindows();
    SendMessageWindows(const SendMessageWindows&) = delete;
    SendMessageWindows& operator=(const SendMessageWindows&) = delete;

    // "Message..." of the contact menu and a double click on a contact without unread
    // messages: while not connected, "You're not online now. Please connect to the server
    // first." (warning icon) and nothing opens. Returns the window shown, or nullptr.
    CDlgSendMessage* Open(const std::string& contactId, const std::string& nickname);
    // A reply from the "Messages" window: caption "Reply", the original text quoted, the caret
    // above the quotation. `rtfText` is the message's text when it is rich text (else empty),
    // `plainText` its text when it is plain. Returns the window shown.
    CDlgSendMessage* OpenReply(const std::string& contactId, const std::string& nickname,
                               const std::string& rtfText, const std::string& plainText);

    CDlgSendMessage* Window(const std::string& contactId) const;
    // Another account or the end of the program: every window closes (a send under way is
    // waited for), its options and placement written.
    void CloseAll();

private:
    CDlgSendMessage* Show(SendMessageRequest request);

    SendMessageServices m_services;
    QWidget* m_parent;
    std::map<std::string, QPointer<CDlgSendMessage>> m_windows;
};

}  // namespace talvorine::client::ui
