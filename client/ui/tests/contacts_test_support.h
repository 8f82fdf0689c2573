#pragma once
// A scripted main window for the contact list tests: it records what the list asked of it.

#include <QWidget>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "talvorine/client/ui/contacts/contact_list_host.h"

namespace talvorine::client::ui::contacts::testing {

class RecordingHost : public ContactListHost {
public:
    RecordingHost() { window.resize(200, 400); }

    bool IsConnected() const override { return connectedQuery ? connectedQuery() : connected; }
    std::string OwnUserId() const override { return ownId; }
    void PlayEventSound(int eventNumber) override { sounds.push_back(eventNumber); }
    QWidget* DialogParent() override { return &window; }
    QWidget* MainWindow() override { return &window; }
    void OpenSendMessage(const std::string& id) override { Record("message", id); }
    void OpenReceivedMessages(const std::string& id) override { Record("messages", id); }
    void PassToMessagesWindow(const std::string& id, std::span<const std::uint8_t>) override {
        Record("pass", id);
    }
    void OpenChat(const std::string& id) override { Record("chat", id); }
    void OpenFileTransfer(const std::string& id) override { Record("transfer", id); }
    void OpenMessageHistory(const std::string& id) override { Record("messageHistory", id); }
    void OpenChatHistory(const std::string& id) override { Record("chatHistory", id); }
    void OpenFileTransferHistory(const std::string& id) override { Record("transferHistory", id); }
    void OpenUserInfo(const std::string& id) override { Record("info", id); }
    void OpenUserWizard(const std::string& group) override { Record("wizard", group); }
    void UpdateUserIcons(const std::string& id) override { Record("updateIcons", id); }
    void CustomizeUserIcons(const std::string& id) override { Record("customizeIcons", id); }
    void ResetUserIcons(const std::string& id) override { Record("resetIcons", id); }
    void UnreadStateChanged(bool anyUnread) override { unreadStates.push_back(anyUnread); }
    bool CanOpen(ContactCommand command) const override {
        return std::find(closed.begin(), closed.end(), command) == closed.end();
    }
    void FilesDropped(const std::string& id,
                      const std::vector<std::filesystem::path>& files) override {
        for (const auto& file : files) {
            Record("drop", id + " " + file.string());
        }
    }

    void Record(const std::string& what, const std::string& id) {
        calls.push_back(what + ":" + id);
    }

    QWidget window;
    bool connected = true;
    std::function<bool()> connectedQuery;
    std::string ownId = "10000001";
    std::vector<int> sounds;
    std::vector<std::string> calls;
    std::vector<bool> unreadStates;
    std::vector<ContactCommand> closed;  // the commands CanOpen says no to
};

}  // namespace talvorine::client::ui::contacts::testing
