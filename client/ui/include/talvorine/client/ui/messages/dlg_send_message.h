#pragma once
// CDlgSendMessage: the "Send Message" window (caption "Reply" when it answers a message). One
// recipient, or in multiple mode the contacts ticked in the recipient tree; the message is
// composed as rich text and sent as RTF by the window's sending thread.
//
// Threads: the window lives on the user-interface thread. The sending thread asks the offline
// question through a blocking hand-over and reports its end through a queued one; the
// recipient tree is read on the window's thread before the thread starts.

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "talvorine/client/session/messaging.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/messages/send_message_rules.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace talvorine::client::data {
class ContactList;
}

namespace talvorine::client::ui {

// What the send windows need of the main window. Every function runs on the window's thread.
struct SendMessageServices {
    session::ServerSession* session = nullptr;
    // The recipient tree's source; read under the session's list lock.
    data::ContactList* contacts = nullptr;
    std::function<bool()> connected;
    std::function<bool()> quitting;        // the client is ending: failures are not shown
    std::function<bool()> minimizeOnSend;  // "Minimize dialog on send"
    std::function<void(int eventNumber)> playSound;
    std::function<FadeSettings()> fade;
};

// What a send window is opened with.
struct SendMessageRequest {
    std::string contactId;
    std::string nickname;
    std::string rtfText;    // preloaded rich text, or empty
    std::string plainText;  // preloaded plain text when there is no rich text
    bool reply = false;     // caption "Reply", the preloaded text quoted
};

class CDlgSendMessage : public QDialog, private session::SendPrompts {
    Q_OBJECT
public:
    CDlgSendMessage(const SendMessageServices& services, SendMessageRequest request,
                    QWidget* parent = nullptr);
    ~CDlgSendMessage() override;

    const std::string& RecipientId() const { return m_request.contactId; }
    QTextEdit* ComposeBox() const { return m_compose; }
    QTreeWidget* RecipientTree() const { return m_tree; }
    bool MultipleMode() const { return m_options.multiple; }
    bool Sending() const { return m_job.Running(); }

    // The commands of the window's buttons.
    void Send();
    void ToggleMultiple();
    void SetMultipleMode(bool on);
    void ChooseFont();
    void ToggleBold();
    void ToggleItalic();
    void ToggleUnderline();
    // nullopt is "Automatic": the text takes the system's colours again.
    void SetForeground(std::optional<QColor> color);
    void SetBackground(std::optional<QColor> color);
    // Ticks or clears a contact in the recipient tree; false when it is not listed.
    bool CheckRecipient(const std::string& contactId, bool checked);

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildWindow();
    QWidget* BuildFormatRow();
    QMenu* BuildColorMenu(bool background);
    // A QTextFormat brush property (foreground or background) of the selection.
    void SetColor(std::optional<QColor> color, int property);
    void FillRecipientTree();
    void Preload();
    std::vector<std::string> CheckedRecipients() const;
    void RemoveRecipients(const std::vector<std::string>& ids);
    void ShowRecipient();
    void EnableControls(bool enabled);
    void Finished(const session::SendReport& report);
    void EndWindow();

    // SendPrompts: on the sending thread.
    bool ConfirmOfflineSend(const std::string& question) override;

    const SendMessageServices& m_services;
    SendMessageRequest m_request;
    SendWindowOptions m_options;
    session::MessageSender m_sender;
    session::MessageSendJob m_job;
    std::atomic<bool> m_closing{false};
    bool m_ended = false;

    QLineEdit* m_id = nullptr;
    QLineEdit* m_nickname = nullptr;
    QPushButton* m_multiple = nullptr;
    QWidget* m_formatRow = nullptr;
    QTextEdit* m_compose = nullptr;
    QCheckBox* m_sendOffline = nullptr;
    QCheckBox* m_prompt = nullptr;
    QCheckBox* m_wordWrap = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_cancel = nullptr;
    QTreeWidget* m_tree = nullptr;
};

}  // namespace talvorine::client::ui
