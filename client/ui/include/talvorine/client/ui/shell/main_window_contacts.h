#pragma once
// What the main window holds for its contacts: the group bar in its contact area (with the
// StatusPoller), the "Send Message" windows, the chat and file-transfer windows, the "Messages"
// windows and the chat and file-transfer history windows (one per contact) and the window's
// docking. It answers the contact
// list's commands and joins the main window's events to the windows that handle them.
//
// Threads: everything here runs on the window's thread; the session's hand-overs arrive
// through the main window's signals.

#include <QPointer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "talvorine/client/ui/chat/direct_windows.h"
#include "talvorine/client/ui/contacts/contact_list_host.h"
#include "talvorine/client/ui/directory/directory_windows.h"
#include "talvorine/client/ui/messages/messages_list_page.h"
#include "talvorine/client/ui/messages/send_message_windows.h"

class QMenu;
class QString;

namespace talvorine::client::ui {

class CDlgContactList;
class CDlgChatHistory;
class CDlgMessages;
class CDlgFileTransferHistory;

namespace contacts {
class CContactListBar;
class WindowDocker;
}  // namespace contacts

class MainWindowContacts : public contacts::ContactListHost {
public:
    // Puts the bar into the window's contact area and starts the StatusPoller on the window's
    // session. The window's session and contact list must outlive this object.
    explicit MainWindowContacts(CDlgContactList& window);
    ~MainWindowContacts() override;
    MainWindowContacts(const MainWindowContacts&) = delete;
    MainWindowContacts& operator=(const MainWindowContacts&) = delete;

    contacts::CContactListBar& Bar() { return *m_bar; }
    const contacts::CContactListBar& Bar() const { return *m_bar; }
    DirectWindows& Direct() { return *m_direct; }
    // The "Send Message" windows; the "Messages" window's reply calls OpenReply here.
    SendMessageWindows& SendWindows() { return *m_sendWindows; }
    contacts::WindowDocker& Docker() { return *m_docker; }

    // Replaces the "Messages" window as what shows a contact's received messages.
    void SetUnreadOpener(std::function<void(const std::string& contactId)> opener);
    // What the "Messages" windows' Reply opens: the contact's "Send Message" window in reply
    // mode unless replaced.
    void SetReplyOpener(std::function<void(const MessageReply& reply)> opener);
    // The contact's "Messages" window on the given page, opened or brought to the front.
    CDlgMessages* OpenMessages(const std::string& contactId, MessagesPageKind page);
    // A message to the contact has been stored in its sent store: an open "Messages" window
    // lists it on its sent page.
    void SentMessageStored(const std::string& contactId);
    // The first contact with unread messages, its "Messages" window opened; false when there
    // is none or that window cannot be opened (the caller shows the main window instead).
    bool OpenFirstUnread();
    // Another account: every per-contact window closes without a question.
    void CloseContactWindows();
    // The exit: the StatusPoller stops, then the list is saved and unloaded.
    void StopPollerAndSave(bool workersLeftBehind);

    // "View / Change My Info...": the own profile's sheet.
    void OpenOwnInfo();
    directory::DirectoryWindows& Directory() { return *m_directory; }

    // The program's "--open" names of the contact list: "contact-menu" (the menu of the open
    // group's first contact), "own-info", "user-wizard:GROUP", "chat:ID", "info:ID",
    // "send-file:ID" (as "File Transfer...": the open-file dialog first), "chat-history:ID",
    // "transfer-history:ID", "messages:ID", "sent-messages:ID", "message:ID" (the contact's
    // "Send Message" window). False for an unknown name or a contact that is not on the list.
    bool OpenNamed(const QString& name);

    CDlgMessages* MessagesWindow(const std::string& contactId) const;
    // "Customize My Icons...": the own pictures, uploaded to the server.
    void CustomizeMyIcons();

    CDlgChatHistory* ChatHistoryWindow(const std::string& contactId) const;
    CDlgFileTransferHistory* TransferHistoryWindow(const std::string& contactId) const;

    // --- ContactListHost ---
    bool IsConnected() const override;
    std::string OwnUserId() const override;
    void PlayEventSound(int eventNumber) override;
    QWidget* DialogParent() override;
    QWidget* MainWindow() override;
    void OpenSendMessage(const std::string& contactId) override;
    void OpenReceivedMessages(const std::string& contactId) override;
    void PassToMessagesWindow(const std::string& contactId,
                              std::span<const std::uint8_t> record) override;
    void OpenChat(const std::string& contactId) override;
    void OpenFileTransfer(const std::string& contactId) override;
    void OpenMessageHistory(const std::string& contactId) override;
    void OpenChatHistory(const std::string& contactId) override;
    void OpenFileTransferHistory(const std::string& contactId) override;
    void OpenUserInfo(const std::string& contactId) override;
    void OpenUserWizard(const std::string& groupName) override;
    void UpdateUserIcons(const std::string& contactId) override;
    void CustomizeUserIcons(const std::string& contactId) override;
    void ResetUserIcons(const std::string& contactId) override;
    void FilesDropped(const std::string& contactId,
                      const std::vector<std::filesystem::path>& files) override;

private:
    PeerServices MakePeerServices();
    SendMessageServices MakeSendServices();
    directory::DirectoryServices MakeDirectoryServices();
    std::string NicknameOf(const std::string& contactId) const;
    std::string OwnNickname() const;
    // After the contact list has taken a received message: the popups the settings ask for.
    void PopUpForMessage(const session::IncomingMessage& message);

    CDlgContactList& m_window;
    std::unique_ptr<contacts::CContactListBar> m_bar;
    std::unique_ptr<DirectWindows> m_direct;
    std::unique_ptr<SendMessageWindows> m_sendWindows;
    std::unique_ptr<directory::DirectoryWindows> m_directory;
    QPointer<contacts::WindowDocker> m_docker;
    std::function<void(const std::string&)> m_unreadOpener;
    std::function<void(const MessageReply&)> m_replyOpener;
    std::unique_ptr<QMenu> m_namedMenu;
    bool m_loggedIn =
        false;  // as the last poll request found the session  // the menu "contact-menu" opened
    std::map<std::string, QPointer<CDlgMessages>> m_messageWindows;
    bool m_showPicturePreview = false;  // the picture chooser's "Show Preview", for this run
    std::map<std::string, QPointer<CDlgChatHistory>> m_chatHistories;
    std::map<std::string, QPointer<CDlgFileTransferHistory>> m_transferHistories;
};

}  // namespace talvorine::client::ui
