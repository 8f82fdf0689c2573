#include "talvorine/client/ui/shell/main_window_contacts.h"

#include <QDesktopServices>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

#include "talvorine/client/ui/accounts/account_texts.h"
#include "talvorine/client/ui/chat/dlg_chat_history.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/icons/dlg_customize_icons.h"
#include "talvorine/client/ui/icons/picture_windows.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/client/ui/messages/incoming_popup.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/client/ui/transfer/dlg_file_transfer_history.h"

namespace talvorine::client::ui {

namespace {

using contacts::ContactCommand;

template <typename Window>
Window* FindOpen(const std::map<std::string, QPointer<Window>>& windows, const std::string& id) {
    const auto found = windows.find(id);
    return found == windows.end() ? nullptr : found->second.data();
}

template <typename Window>
void CloseEach(std::map<std::string, QPointer<Window>>& windows) {
    for (auto& [id, window] : windows) {
        if (window) {
            window->close();
        }
    }
    windows.clear();
}

// A contact's unread count as a "Messages" window changes it; the contact list's pictures
// and the tray follow.
class ContactUnread : public UnreadCounter {
public:
    ContactUnread(data::ContactList& list, contacts::CContactListBar& bar, std::string contactId)
        : m_list(list), m_bar(bar), m_contactId(std::move(contactId)) {}
    void Lower() override {
        m_list.DecrementUnread(m_contactId);
        m_bar.UnreadChanged();
    }
    void Raise() override {
        m_list.IncrementUnread(m_contactId);
        m_bar.UnreadChanged();
    }
    void Clear() override {
        m_list.SetUnread(m_contactId, 0);
        m_bar.UnreadChanged();
    }

private:
    data::ContactList& m_list;
    contacts::CContactListBar& m_bar;
    std::string m_contactId;
};

}  // namespace

MainWindowContacts::MainWindowContacts(CDlgContactList& window) : m_window(window) {
    QWidget* area = window.ContactArea();
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar = std::make_unique<contacts::CContactListBar>(window.ContactList(),
                                                        window.Session().Locks().list, *this, area);
    layout->addWidget(m_bar.get());
    m_direct = std::make_unique<DirectWindows>(MakePeerServices());
    m_direct->dialogParent = &window;
    m_direct->fade = [this] { return FadeSettings::From(m_window.Settings()); };
    m_docker = new contacts::WindowDocker(window, window.Settings());
    m_sendWindows = std::make_unique<SendMessageWindows>(MakeSendServices(), &window);
    // The "Messages" windows' Reply quotes into the contact's "Send Message" window.
    m_replyOpener = [this](const MessageReply& reply) {
        m_sendWindows->OpenReply(reply.contactId, reply.nickname, reply.rtfText, reply.plainText);
    };
    m_directory = std::make_unique<directory::DirectoryWindows>(MakeDirectoryServices());

    contacts::CContactListBar* bar = m_bar.get();
    // The engine asks for a poll after every login, logout and status change; the first one
    // after a login marks the first reports, so contacts already online are no arrivals.
    QObject::connect(&window, &CDlgContactList::statusPollWanted, bar, [this, bar] {
        const bool connected = m_window.Session().Connected();
        if (connected && !m_loggedIn) {
            bar->LoggedIn();
        } else {
            bar->WakeStatusPoll();
        }
        m_loggedIn = connected;
    });
    QObject::connect(&window, &CDlgContactList::messageReceived, bar,
                     [this, bar](const session::IncomingMessage& message) {
                         bar->MessageReceived(message);
                         PopUpForMessage(message);
                     });
    QObject::connect(
        &window, &CDlgContactList::chatRequestReceived, bar,
        [this](const protocol::ChatRequest& request) { m_direct->ChatRequestReceived(request); });
    QObject::connect(
        &window, &CDlgContactList::fileRequestReceived, bar,
        [this](const protocol::FileRequest& request) { m_direct->FileRequestReceived(request); });
    QObject::connect(&window, &CDlgContactList::accountChanged, bar,
                     [this] { CloseContactWindows(); });
    m_bar->StartStatusPoller(window.Session());
}

MainWindowContacts::~MainWindowContacts() {
    // The poller uses the session, which goes after this object.
    m_bar->StopStatusPoller();
    CloseEach(m_messageWindows);
    CloseEach(m_chatHistories);
    CloseEach(m_transferHistories);
    m_sendWindows.reset();
    m_directory.reset();
    m_direct.reset();
}

SendMessageServices MainWindowContacts::MakeSendServices() {
    SendMessageServices services;
    services.session = &m_window.Session();
    services.contacts = &m_window.ContactList();
    services.connected = [this] { return m_window.Session().Connected(); };
    services.quitting = [this] {
        return m_window.ShutdownStarted() || m_window.Session().Quitting();
    };
    services.minimizeOnSend = [this] { return m_window.Settings().minimizeOnSend; };
    services.playSound = [this](int eventNumber) { m_window.PlaySound(eventNumber); };
    services.sentStored = [this](const std::string& userId) { SentMessageStored(userId); };
    services.fade = [this] { return FadeSettings::From(m_window.Settings()); };
    return services;
}

PeerServices MainWindowContacts::MakePeerServices() {
    PeerServices services;
    services.channel = &m_window.Session();
    services.connected = [this] { return m_window.Session().Connected(); };
    services.quitting = [this] {
        return m_window.ShutdownStarted() || m_window.Session().Quitting();
    };
    services.accountId = [this] { return m_window.CurrentAccount().userId; };
    services.ownNickname = [this] { return OwnNickname(); };
    services.nicknameOf = [this](std::string_view userId) {
        return m_window.Session().Incoming().NicknameOf(userId);
    };
    services.receiveOptions = [this] {
        const data::ClientSettings& settings = m_window.Settings();
        session::FileReceiveOptions options;
        options.acceptMode = static_cast<int>(settings.acceptMode);
        options.overwriteMode = static_cast<int>(settings.overwriteMode);
        options.useUserName = settings.useUserName;
        options.receiveFolder = settings.filePath.empty()
                                    ? data::ClientSettings::Defaults().filePath
                                    : settings.filePath;
        return options;
    };
    services.playSound = [this](int eventNumber) { m_window.PlaySound(eventNumber); };
    return services;
}

directory::DirectoryServices MainWindowContacts::MakeDirectoryServices() {
    directory::DirectoryServices services;
    services.dialogParent = &m_window;
    services.server = [this] { return AccountServerOf(m_window.Settings()); };
    services.accountId = [this] { return m_window.CurrentAccount().userId; };
    services.isListed = [this](const std::string& userId) {
        std::lock_guard lock(m_window.Session().Locks().list);
        return m_window.ContactList().FindContact(userId).has_value();
    };
    services.addContact = [this](const std::string& group,
                                 const protocol::SearchRow& row) -> std::optional<std::string> {
        int index = -1;
        {
            std::lock_guard lock(m_window.Session().Locks().list);
            index = m_window.ContactList().FindGroup(group);
        }
        const auto result = m_bar->AddContact(index, row.userId, row.nickname, row.email);
        return result.ok ? std::nullopt : std::optional<std::string>(result.text);
    };
    services.picturesChanged = [this](const std::string& userId) { m_bar->ReloadPictures(userId); };
    services.wakeStatusPoll = [this] { m_bar->WakeStatusPoll(); };
    services.ownProfileSaved = [this](const protocol::UserProfile& profile) {
        if (profile.userId == m_window.CurrentAccount().userId) {
            m_window.SetOwnNickname(profile.nickname);
        }
    };
    services.setListedNickname = [this](const std::string& userId, const std::string& nickname) {
        std::string shown;
        {
            std::lock_guard lock(m_window.Session().Locks().list);
            const auto position = m_window.ContactList().FindContact(userId);
            if (!position) {
                return false;
            }
            shown = m_window.ContactList().Entry(*position)->nickname;
        }
        if (shown != nickname) {
            m_bar->SetNickname(userId, nickname);
        }
        return true;
    };
    return services;
}

std::string MainWindowContacts::NicknameOf(const std::string& contactId) const {
    return m_window.Session().Incoming().NicknameOf(contactId);
}

std::string MainWindowContacts::OwnNickname() const {
    const auto& account = m_window.CurrentAccount();
    return account.nickname.empty() ? account.userId : account.nickname;
}

void MainWindowContacts::SetUnreadOpener(std::function<void(const std::string&)> opener) {
    m_unreadOpener = std::move(opener);
}

void MainWindowContacts::SetReplyOpener(std::function<void(const MessageReply&)> opener) {
    m_replyOpener = std::move(opener);
}

CDlgMessages* MainWindowContacts::MessagesWindow(const std::string& contactId) const {
    return FindOpen(m_messageWindows, contactId);
}

CDlgMessages* MainWindowContacts::OpenMessages(const std::string& contactId,
                                               MessagesPageKind page) {
    if (CDlgMessages* open = MessagesWindow(contactId)) {
        open->ShowPage(page);
        DirectWindows::Raise(open);
        return open;
    }
    MessagesWindowServices services;
    services.accountId = m_window.ContactList().LoadedAccount();
    services.contactId = contactId;
    services.nickname = NicknameOf(contactId);
    services.historyLock = &m_window.Session().Locks().history;
    services.unread = std::make_shared<ContactUnread>(m_window.ContactList(), *m_bar, contactId);
    services.settings = [this] { return m_window.Settings(); };
    if (m_replyOpener) {
        services.reply = [this](const MessageReply& reply) { m_replyOpener(reply); };
    }
    services.openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    auto* window = new CDlgMessages(std::move(services), &m_window);
    FadeInWindow(window, FadeSettings::From(m_window.Settings()));
    m_messageWindows[contactId] = window;
    window->ShowPage(page);
    DirectWindows::Raise(window);
    return window;
}

void MainWindowContacts::SentMessageStored(const std::string& contactId) {
    if (CDlgMessages* window = MessagesWindow(contactId)) {
        window->MessageSent();
    }
}

void MainWindowContacts::PopUpForMessage(const session::IncomingMessage& message) {
    IncomingSituation situation;
    situation.automaticReply = message.kind == session::IncomingMessage::Kind::AutoReply;
    situation.popupViewer = m_window.Settings().popupViewer;
    situation.autoPopup = m_window.Settings().autoPopup;
    situation.viewerOpen = MessagesWindow(message.senderId) != nullptr;
    situation.mainHidden = m_window.isHidden();
    {
        std::lock_guard lock(m_window.Session().Locks().list);
        situation.senderIsContact =
            m_window.ContactList().FindContact(message.senderId).has_value();
    }
    const IncomingPopup popup = ChooseIncomingPopup(situation);
    if (popup.showMain) {
        m_window.ShowWindow();
    }
    if (popup.openViewer) {
        OpenMessages(message.senderId, MessagesPageKind::Received);
    }
}

bool MainWindowContacts::OpenFirstUnread() {
    const auto contact = m_bar->FirstUnreadContact();
    if (!contact) {
        return false;
    }
    OpenReceivedMessages(*contact);
    return true;
}

void MainWindowContacts::CloseContactWindows() {
    m_sendWindows->CloseAll();
    m_direct->CloseAll();
    CloseEach(m_messageWindows);
    m_directory->CloseAll();
    CloseEach(m_chatHistories);
    CloseEach(m_transferHistories);
}

void MainWindowContacts::StopPollerAndSave(bool workersLeftBehind) {
    m_bar->StopStatusPoller();
    m_bar->SaveAndUnloadList(workersLeftBehind ? contacts::CContactListBar::ListLock::Skip
                                               : contacts::CContactListBar::ListLock::Take);
}

void MainWindowContacts::OpenOwnInfo() {
    m_directory->OpenOwnInfo();
}

bool MainWindowContacts::OpenNamed(const QString& name) {
    if (name == QLatin1String("own-info")) {
        return m_directory->OpenOwnInfo() != nullptr;
    }
    if (name.startsWith(QLatin1String("user-wizard:"))) {
        const std::string group = name.mid(name.indexOf(QLatin1Char(':')) + 1).toStdString();
        {
            std::lock_guard lock(m_window.Session().Locks().list);
            const int index = m_window.ContactList().FindGroup(group);
            if (index < 0 || data::IsStrangersGroup(m_window.ContactList().Group(index).name)) {
                return false;
            }
        }
        // After the start-up's own work, as a menu command would run it.
        QTimer::singleShot(0, &m_window, [this, group] { OpenUserWizard(group); });
        return true;
    }
    if (name == QLatin1String("contact-menu")) {
        const auto contact = m_bar->ContactAtItem(0);
        if (!contact) {
            return false;
        }
        m_namedMenu = m_bar->BuildContactMenu(*contact);
        m_namedMenu->popup(m_bar->mapToGlobal(m_bar->ItemRect(0).center()));
        return true;
    }
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        return false;
    }
    const QString command = name.left(colon);
    const std::string contactId = name.mid(colon + 1).toStdString();
    {
        std::lock_guard lock(m_window.Session().Locks().list);
        if (!m_window.ContactList().FindContact(contactId)) {
            return false;
        }
    }
    if (command == QLatin1String("message")) {
        // The window needs the connection; a start that is still logging in is waited for.
        if (!IsConnected() && m_window.Session().Connecting()) {
            QTimer::singleShot(200, &m_window, [this, name] { OpenNamed(name); });
            return true;
        }
        OpenSendMessage(contactId);
    } else if (command == QLatin1String("chat")) {
        OpenChat(contactId);
    } else if (command == QLatin1String("info")) {
        OpenUserInfo(contactId);
    } else if (command == QLatin1String("send-file")) {
        OpenFileTransfer(contactId);
    } else if (command == QLatin1String("chat-history")) {
        OpenChatHistory(contactId);
    } else if (command == QLatin1String("transfer-history")) {
        OpenFileTransferHistory(contactId);
    } else if (command == QLatin1String("messages")) {
        OpenMessages(contactId, MessagesPageKind::Received);
    } else if (command == QLatin1String("sent-messages")) {
        OpenMessages(contactId, MessagesPageKind::Sent);
    } else {
        return false;
    }
    return true;
}

CDlgChatHistory* MainWindowContacts::ChatHistoryWindow(const std::string& contactId) const {
    return FindOpen(m_chatHistories, contactId);
}

CDlgFileTransferHistory* MainWindowContacts::TransferHistoryWindow(
    const std::string& contactId) const {
    return FindOpen(m_transferHistories, contactId);
}

// --- ContactListHost ---

bool MainWindowContacts::IsConnected() const {
    return m_window.Session().Connected();
}

std::string MainWindowContacts::OwnUserId() const {
    return IsConnected() ? m_window.CurrentAccount().userId : std::string();
}

void MainWindowContacts::PlayEventSound(int eventNumber) {
    m_window.PlaySound(eventNumber);
}

QWidget* MainWindowContacts::DialogParent() {
    return &m_window;
}

QWidget* MainWindowContacts::MainWindow() {
    return &m_window;
}

void MainWindowContacts::OpenSendMessage(const std::string& contactId) {
    m_sendWindows->Open(contactId, NicknameOf(contactId));
}
void MainWindowContacts::OpenReceivedMessages(const std::string& contactId) {
    if (m_unreadOpener) {
        m_unreadOpener(contactId);
    } else {
        OpenMessages(contactId, MessagesPageKind::Received);
    }
}
void MainWindowContacts::PassToMessagesWindow(const std::string& contactId,
                                              std::span<const std::uint8_t>) {
    // The record is in the store by now (or could not be stored): the window reads what the
    // store has gained rather than trusting the record.
    if (CDlgMessages* window = MessagesWindow(contactId)) {
        window->MessageArrived();
    }
}
void MainWindowContacts::OpenMessageHistory(const std::string& contactId) {
    OpenMessages(contactId, MessagesPageKind::Received);
}
void MainWindowContacts::OpenUserInfo(const std::string& contactId) {
    m_directory->OpenUserInfo(contactId);
}
void MainWindowContacts::OpenUserWizard(const std::string& groupName) {
    m_directory->RunUserWizard(groupName);
}

void MainWindowContacts::UpdateUserIcons(const std::string& contactId) {
    icons::UpdateUserPictures(&m_window, AccountServerOf(m_window.Settings()),
                              m_window.ContactList().LoadedAccount(), contactId,
                              NicknameOf(contactId), icons::FailureReport::Show);
    m_bar->ReloadPictures(contactId);
}

void MainWindowContacts::CustomizeUserIcons(const std::string& contactId) {
    icons::CustomizeTarget target;
    target.mode = icons::CustomizeTarget::Mode::Local;
    target.accountId = m_window.ContactList().LoadedAccount();
    target.ownerId = contactId;
    icons::CDlgCustomizeIcons dialog(std::move(target), icons::StockPicturesFolder(),
                                     m_showPicturePreview, &m_window);
    FadeInWindow(&dialog, FadeSettings::From(m_window.Settings()));
    dialog.exec();
    // Files copied before a refusal or a "No" are the contact's now.
    m_bar->ReloadPictures(contactId);
}

void MainWindowContacts::CustomizeMyIcons() {
    const data::CurrentAccount& account = m_window.CurrentAccount();
    if (!data::IsValidId(account.userId)) {
        // No account to own pictures yet: the same answer as the account selection's.
        ShowWarning(&m_window, ToQString(data::AccountText::PleaseSelectAccount));
        return;
    }
    icons::CustomizeTarget target;
    target.mode = icons::CustomizeTarget::Mode::Upload;
    target.accountId = account.userId;
    target.ownerId = account.userId;
    target.password = account.password;
    target.server = AccountServerOf(m_window.Settings());
    icons::CDlgCustomizeIcons dialog(std::move(target), icons::StockPicturesFolder(),
                                     m_showPicturePreview, &m_window);
    FadeInWindow(&dialog, FadeSettings::From(m_window.Settings()));
    if (dialog.exec() == QDialog::Accepted) {
        ShowInformation(&m_window, ToQString(icons::PictureText::FriendsCannotSee));
    }
}

void MainWindowContacts::ResetUserIcons(const std::string& contactId) {
    icons::ResetPictures(&m_window, m_window.ContactList().LoadedAccount(), contactId);
    m_bar->ReloadPictures(contactId);
}

void MainWindowContacts::OpenChat(const std::string& contactId) {
    m_direct->RequestChat(contactId, NicknameOf(contactId));
}

void MainWindowContacts::OpenFileTransfer(const std::string& contactId) {
    m_direct->SendFile(contactId, NicknameOf(contactId));
}

void MainWindowContacts::OpenChatHistory(const std::string& contactId) {
    if (CDlgChatHistory* open = ChatHistoryWindow(contactId)) {
        DirectWindows::Raise(open);
        return;
    }
    auto* window = new CDlgChatHistory(ChatHistory(m_window.ContactList().LoadedAccount(),
                                                   contactId, OwnNickname(), NicknameOf(contactId)),
                                       &m_window);
    FadeInWindow(window, FadeSettings::From(m_window.Settings()));
    m_chatHistories[contactId] = window;
    DirectWindows::Raise(window);
}

void MainWindowContacts::OpenFileTransferHistory(const std::string& contactId) {
    if (CDlgFileTransferHistory* open = TransferHistoryWindow(contactId)) {
        DirectWindows::Raise(open);
        return;
    }
    auto* window = new CDlgFileTransferHistory(
        TransferHistory(m_window.ContactList().LoadedAccount(), contactId, OwnNickname(),
                        NicknameOf(contactId)),
        &m_window);
    FadeInWindow(window, FadeSettings::From(m_window.Settings()));
    m_transferHistories[contactId] = window;
    DirectWindows::Raise(window);
}

void MainWindowContacts::FilesDropped(const std::string& contactId,
                                      const std::vector<std::filesystem::path>& files) {
    if (files.empty()) {
        return;
    }
    // The first file only: one "Send File" window per contact, one file per transfer.
    m_direct->DropFile(&m_window, contactId, NicknameOf(contactId), files.front());
}

}  // namespace talvorine::client::ui
