#pragma once
// The chat and file-transfer windows of the main window, one per peer and kind: "Chat
// Request" and "Chat" per invited contact, "Incoming Chat Request" per requester, "Send
// File" per contact and "Receive File" per sender; a second command or request for the same
// peer brings the open window to the front and keeps its first details.

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "talvorine/client/ui/chat/dlg_chat.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/transfer/dlg_transfer.h"

namespace talvorine::client::ui {

// The file a drop on a contact sends: the first dropped file, a symbolic link or a link
// launcher (.desktop of type Link to a local file) followed to its target. A folder is
// refused with the designed text.
std::variant<std::filesystem::path, std::string> ResolveDroppedFile(
    const std::filesystem::path& dropped);

class DirectWindows {
public:
    explicit DirectWindows(PeerServices services);
    DirectWindows(const DirectWindows&) = delete;
    DirectWindows& operator=(const DirectWindows&) = delete;
    ~DirectWindows();

    // "Chat...": the open "Chat" or "Chat Request" window of the contact, else a new request.
    void RequestChat(const std::string& peerId, const std::string& nickname);
    // A relayed chat request: the "Chat Request" sound, then the requester's open "Incoming
    // Chat Request" window (which keeps the first request) or a new one.
    void ChatRequestReceived(const protocol::ChatRequest& request);
    // "File Transfer...", and a file dropped on a contact (nullopt: the open-file dialog).
    void SendFile(const std::string& peerId, const std::string& nickname,
                  std::optional<std::filesystem::path> file = std::nullopt);
    // A drop of `dropped` on a contact: the designed refusal for a folder, else SendFile.
    void DropFile(QWidget* parent, const std::string& peerId, const std::string& nickname,
                  const std::filesystem::path& dropped);
    // A relayed file request: the "File Request" sound, then the sender's open "Receive File"
    // window (which keeps the first offer) or a new one.
    void FileRequestReceived(const protocol::FileRequest& request);
    // Another account or the end of the program: every window closes without a question.
    void CloseAll();

    CDlgChatRequest* ChatRequestWindow(const std::string& peerId) const;
    CDlgIncomingChatRequest* IncomingWindow(const std::string& peerId) const;
    CDlgChat* ChatWindow(const std::string& peerId) const;
    CDlgSendFile* SendFileWindow(const std::string& peerId) const;
    CDlgReceiveFile* ReceiveFileWindow(const std::string& peerId) const;

    // Brings a window to the front (restored when minimised).
    static void Raise(QWidget* window);

    // The "File Received" window's opener (tests hand in their own).
    OpenUrl openUrl;
    // The window the new windows belong to (the main window), if any.
    QWidget* dialogParent = nullptr;
    // How new windows fade in ("Window Animation"), if they do.
    std::function<FadeSettings()> fade;

private:
    void OpenChat(const std::string& peerId, session::ChatLink link);
    template <typename Window>
    static Window* Find(const std::map<std::string, QPointer<Window>>& windows,
                        const std::string& peerId);
    void ShowNew(QWidget* window) const;

    PeerServices m_services;
    std::map<std::string, QPointer<CDlgChatRequest>> m_requests;
    std::map<std::string, QPointer<CDlgIncomingChatRequest>> m_incoming;
    std::map<std::string, QPointer<CDlgChat>> m_chats;
    std::map<std::string, QPointer<CDlgSendFile>> m_sending;
    std::map<std::string, QPointer<CDlgReceiveFile>> m_receiving;
};

}  // namespace talvorine::client::ui
