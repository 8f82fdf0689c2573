#include "talvorine/client/ui/chat/direct_windows.h"

#include <QUrl>
#include <fstream>
#include <system_error>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

namespace fs = std::filesystem;

namespace {

// The local file a link launcher points at, when it is one ("Type=Link", "URL=file:...").
std::optional<fs::path> LinkLauncherTarget(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    bool inEntry = false;
    bool isLink = false;
    std::optional<fs::path> target;
    // A launcher is a few lines; a large file is no launcher.
    for (int lines = 0; lines < 200 && std::getline(in, line); ++lines) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) {
            continue;
        }
        if (line == "Type=Link") {
            isLink = true;
        } else if (line.rfind("URL=", 0) == 0) {
            const QUrl url(QString::fromUtf8(line.substr(4)));
            if (url.isLocalFile()) {
                target = fs::path(url.toLocalFile().toStdString());
            }
        }
    }
    return isLink ? target : std::nullopt;
}

}  // namespace

std::variant<fs::path, std::string> ResolveDroppedFile(const fs::path& dropped) {
    fs::path file = dropped;
    std::error_code error;
    if (fs::is_symlink(file, error)) {
        const fs::path resolved = fs::canonical(file, error);
        if (!error) {
            file = resolved;
        }
    } else if (file.extension() == ".desktop" && fs::is_regular_file(file, error)) {
        if (const auto target = LinkLauncherTarget(file)) {
            file = *target;
        }
    }
    if (fs::is_directory(file, error)) {
        return std::string(session::Text::DirectoryNotSupported);
    }
    return file;
}

DirectWindows::DirectWindows(PeerServices services) : m_services(std::move(services)) {}

DirectWindows::~DirectWindows() {
    CloseAll();
}

template <typename Window>
Window* DirectWindows::Find(const std::map<std::string, QPointer<Window>>& windows,
                            const std::string& peerId) {
    const auto found = windows.find(peerId);
    return found == windows.end() ? nullptr : found->second.data();
}

void DirectWindows::Raise(QWidget* window) {
    if (window->isMinimized()) {
        window->showNormal();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void DirectWindows::ShowNew(QWidget* window) const {
    if (dialogParent != nullptr) {
        // A window of the main window's: the window manager keeps it above the main window,
        // which may stay on top of everything else.
        window->setParent(dialogParent, window->windowFlags());
    }
    if (fade) {
        FadeInWindow(window, fade());
    }
    Raise(window);
}

CDlgChatRequest* DirectWindows::ChatRequestWindow(const std::string& peerId) const {
    return Find(m_requests, peerId);
}
CDlgIncomingChatRequest* DirectWindows::IncomingWindow(const std::string& peerId) const {
    return Find(m_incoming, peerId);
}
CDlgChat* DirectWindows::ChatWindow(const std::string& peerId) const {
    return Find(m_chats, peerId);
}
CDlgSendFile* DirectWindows::SendFileWindow(const std::string& peerId) const {
    return Find(m_sending, peerId);
}
CDlgReceiveFile* DirectWindows::ReceiveFileWindow(const std::string& peerId) const {
    return Find(m_receiving, peerId);
}

void DirectWindows::RequestChat(const std::string& peerId, const std::string& nickname) {
    if (CDlgChat* chat = ChatWindow(peerId)) {
        Raise(chat);
        return;
    }
    if (CDlgChatRequest* request = ChatRequestWindow(peerId)) {
        Raise(request);
        return;
    }
    auto* window = new CDlgChatRequest(
        m_services, peerId, nickname,
        [this](std::string id, session::ChatLink link) { OpenChat(id, std::move(link)); });
    m_requests[peerId] = window;
    ShowNew(window);
}

void DirectWindows::ChatRequestReceived(const protocol::ChatRequest& request) {
    m_services.Play(data::SoundEvent::ChatRequest);
    const auto incoming = session::IncomingChatRequest::From(request);
    if (CDlgIncomingChatRequest* open = IncomingWindow(incoming.requesterId)) {
        Raise(open);
        return;
    }
    auto* window = new CDlgIncomingChatRequest(
        m_services, incoming,
        [this](std::string id, session::ChatLink link) { OpenChat(id, std::move(link)); });
    m_incoming[incoming.requesterId] = window;
    ShowNew(window);
}

void DirectWindows::OpenChat(const std::string& peerId, session::ChatLink link) {
    if (CDlgChat* open = ChatWindow(peerId)) {
        if (open->Connected()) {
            // One conversation per peer: the one already held goes on.
            Raise(open);
            return;
        }
        open->CloseWithoutAsking();
    }
    auto* window = new CDlgChat(m_services, peerId, m_services.NicknameOf(peerId), std::move(link));
    m_chats[peerId] = window;
    ShowNew(window);
}

void DirectWindows::SendFile(const std::string& peerId, const std::string& nickname,
                             std::optional<fs::path> file) {
    if (CDlgSendFile* open = SendFileWindow(peerId)) {
        if (file && !open->Sending()) {
            open->ChooseFile(*file);
        }
        Raise(open);
        return;
    }
    auto* window = new CDlgSendFile(m_services, peerId, nickname, std::move(file));
    m_sending[peerId] = window;
    ShowNew(window);
}

void DirectWindows::DropFile(QWidget* parent, const std::string& peerId,
                             const std::string& nickname, const fs::path& dropped) {
    auto resolved = ResolveDroppedFile(dropped);
    if (const auto* refusal = std::get_if<std::string>(&resolved)) {
        ShowWarning(parent, ToQString(*refusal));
        return;
    }
    SendFile(peerId, nickname, std::get<fs::path>(std::move(resolved)));
}

void DirectWindows::FileRequestReceived(const protocol::FileRequest& request) {
    m_services.Play(data::SoundEvent::FileRequest);
    const auto offer = session::FileOffer::From(request);
    if (CDlgReceiveFile* open = ReceiveFileWindow(offer.senderId)) {
        Raise(open);
        return;
    }
    auto* window = new CDlgReceiveFile(
        m_services, offer, [this](const session::FileOffer& done, const fs::path& savedAs) {
            auto* received =
                new CDlgFileReceived(done.senderId, m_services.NicknameOf(done.senderId),
                                     done.fileName, savedAs, openUrl);
            ShowNew(received);
        });
    m_receiving[offer.senderId] = window;
    ShowNew(window);
}

void DirectWindows::CloseAll() {
    for (auto& [id, window] : m_chats) {
        if (window) {
            window->CloseWithoutAsking();
        }
    }
    const auto closeEach = [](auto& windows) {
        for (auto& [id, window] : windows) {
            if (window) {
                window->close();
            }
        }
        windows.clear();
    };
    closeEach(m_requests);
    closeEach(m_incoming);
    closeEach(m_sending);
    closeEach(m_receiving);
    m_chats.clear();
}

}  // namespace talvorine::client::ui
