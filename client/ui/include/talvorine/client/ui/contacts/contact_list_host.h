#pragma once
// What the contact list asks of the main window that holds it. The main window implements it;
// commands whose windows live elsewhere (messages, chat, transfer, history, information,
// user wizard, user icons) reach them through here. Every call runs on the user-interface
// thread.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

class QWidget;

namespace talvorine::client::ui::contacts {

// The contact commands whose windows the main window may not offer (yet).
enum class ContactCommand {
    SendMessage,       // "Message...", and a double click without unread messages
    ReceivedMessages,  // a double click with unread messages, the tray's double click
    Chat,
    FileTransfer,
    MessageHistory,
    ChatHistory,
    FileTransferHistory,
    UserInfo,
    UserWizard,  // "Add User..."
    UpdateUserIcons,
    CustomizeUserIcons,
    ResetUserIcons,
};

class ContactListHost {
public:
    virtual ~ContactListHost() = default;

    // True while the session is logged in.
    virtual bool IsConnected() const = 0;
    // The logged-in account's UserId ("" when none).
    virtual std::string OwnUserId() const = 0;
    // Plays an event sound (data::SoundEvent) as the settings say.
    virtual void PlayEventSound(int eventNumber) = 0;
    // The parent of message boxes and dialogs (the main window).
    virtual QWidget* DialogParent() = 0;
    // The main window itself: drops outside it create floating contacts, and a floating
    // contact that is clicked keeps its caption active.
    virtual QWidget* MainWindow() = 0;

    // "Message...": the send window for the contact.
    virtual void OpenSendMessage(const std::string& contactId) = 0;
    // The contact's "Messages" window on its received messages (one per contact).
    virtual void OpenReceivedMessages(const std::string& contactId) = 0;
    // A received record for the contact's open "Messages" window, if it has one.
    virtual void PassToMessagesWindow(const std::string& contactId,
                                      std::span<const std::uint8_t> record) = 0;
    virtual void OpenChat(const std::string& contactId) = 0;
    virtual void OpenFileTransfer(const std::string& contactId) = 0;
    virtual void OpenMessageHistory(const std::string& contactId) = 0;
    virtual void OpenChatHistory(const std::string& contactId) = 0;
    virtual void OpenFileTransferHistory(const std::string& contactId) = 0;
    virtual void OpenUserInfo(const std::string& contactId) = 0;
    // The user wizard adding into `groupName`; it calls CContactListBar::AddContact for each
    // user and WakeStatusPoll when it finishes.
    virtual void OpenUserWizard(const std::string& groupName) = 0;
    // User icons: each ends with CContactListBar::ReloadPictures(contactId).
    virtual void UpdateUserIcons(const std::string& contactId) = 0;
    virtual void CustomizeUserIcons(const std::string& contactId) = 0;
    virtual void ResetUserIcons(const std::string& contactId) = 0;

    // Whether the command's window can be opened; the menu greys the commands that cannot,
    // and a double click leaves them alone.
    virtual bool CanOpen(ContactCommand /*command*/) const { return true; }
    // Local files dropped on the contact's item or floating window, in the order given.
    virtual void FilesDropped(const std::string& contactId,
                              const std::vector<std::filesystem::path>& files) = 0;

    // The unread state changed: some contact has unread messages (the tray flashes while the
    // window is hidden or slid out).
    virtual void UnreadStateChanged(bool /*anyUnread*/) {}
};

}  // namespace talvorine::client::ui::contacts
