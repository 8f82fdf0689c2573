#include "talvorine/client/ui/messages/send_message_windows.h"

#include "talvorine/client/ui/chat/direct_windows.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

SendMessageWindows::SendMessageWindows(SendMessageServices services, QWidget* parent)
    : m_services(std::move(services)), m_parent(parent) {}

SendMessageWindows::~SendMessageWindows() {
    CloseAll();
}

CDlgSendMessage* SendMessageWindows::Open(const std::string& contactId,
                                          const std::string& nickname) {
    if (!m_services.connected || !m_services.connected()) {
        ShowWarning(m_parent, ToQString(SendMessageText::NotOnlineNow));
        return nullptr;
    }
    return Show({contactId, nickname, {}, {}, false});
}

CDlgSendMessage* SendMessageWindows::OpenReply(const std::string& contactId,
                                               const std::string& nickname,
                                               const std::string& rtfText,
                                               const std::string& plainText) {
    return Show({contactId, nickname, rtfText, plainText, true});
}

CDlgSendMessage* SendMessageWindows::Window(const std::string& contactId) const {
    const auto found = m_windows.find(contactId);
    return found == m_windows.end() ? nullptr : found->second.data();
}

CDlgSendMessage* SendMessageWindows::Show(SendMessageRequest request) {
    if (CDlgSendMessage* open = Window(request.contactId)) {
        DirectWindows::Raise(open);
        return open;
    }
    const std::string id = request.contactId;
    auto* window = new CDlgSendMessage(m_services, std::move(request), m_parent);
    m_windows[id] = window;
    DirectWindows::Raise(window);
    return window;
}

void SendMessageWindows::CloseAll() {
    // Each window uses these services: none may outlive them, not even until a deferred delete.
    for (auto& [id, window] : m_windows) {
        if (window) {
            window->close();
            delete window.data();
        }
    }
    m_windows.clear();
}

}  // namespace talvorine::client::ui
