// The main window with its contact list joined: the contact menu greys the commands whose
// windows this client does not have, the chat and history commands open one window per
// contact, files dropped on a contact go to "Send File", another account closes every
// per-contact window, the exit stops the StatusPoller and saves the list; online against the
// real server: the groups, a contact that logs in shown after a refresh, and a chat request
// relayed by the server opening "Incoming Chat Request".
#include "talvorine/client/ui/shell/main_window_contacts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "shell_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/chat/dlg_chat_history.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/floating_contact.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/client/ui/transfer/dlg_file_transfer_history.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

#ifdef TALVORINE_WITH_SERVER_HARNESS
#include "engine_client.h"
#include "server_harness.h"
#include "talvorine/client/session/account_requests.h"
#endif

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using contacts::CContactListBar;
using talvorine::testing::AnswerBoxes;
using talvorine::testing::PumpUntil;
using testing::ClosedPort;
using testing::PrepareAccount;
using testing::ReadFile;
using testing::ScriptedServices;
using testing::TempClientHome;
namespace fs = std::filesystem;

constexpr const char* AccountId = "00001234";
constexpr const char* FriendId = "00000777";

// The menu's actions by text, submenus included.
QAction* FindAction(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
        if (action->menu() != nullptr) {
            if (QAction* inner = FindAction(*action->menu(), text)) {
                return inner;
            }
        }
    }
    return nullptr;
}

// Local files dropped at `point` of `target`.
void DropFiles(QWidget& target, QPoint point, const std::vector<fs::path>& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& file : files) {
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    }
    data.setUrls(urls);
    QDropEvent drop(QPointF(point), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the widget: the application passes drops on only while a real drag runs.
    static_cast<QObject&>(target).event(&drop);
}

data::ClientSettings Settings(std::uint16_t port) {
    auto settings = data::ClientSettings::Defaults();
    settings.server = "127.0.0.1";
    settings.port = port;
    settings.autoConnect = false;
    settings.windowAnimation = false;
    return settings;
}

bool Idle(CDlgContactList& window) {
    return !window.Session().Connecting() && !window.Session().Disconnecting();
}

class MainWindowContactsTest : public ::testing::Test {
protected:
    void SetUp() override {
        protocol::StartSockets();
        ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
        window = std::make_unique<CDlgContactList>(services, settings, true);
        window->Start();
        ASSERT_TRUE(PumpUntil([&] { return Idle(*window); }, 40s));
        ASSERT_EQ(window->ContactList().GroupCount(), 2);
        ASSERT_TRUE(Bar().AddContact(0, FriendId, "Friend", "").ok);
        Bar().OpenGroup(0);
    }
    void TearDown() override {
        if (window && !window->ShutdownFinished()) {
            window->ExitNow();
            PumpUntil([&] { return window->ShutdownFinished(); });
        }
        window.reset();
    }
    CContactListBar& Bar() { return window->Contacts().Bar(); }
    std::unique_ptr<QMenu> FriendMenu() { return Bar().BuildContactMenu(FriendId); }
    void Trigger(const char* text) {
        auto menu = FriendMenu();
        QAction* action = FindAction(*menu, QString::fromLatin1(text));
        ASSERT_NE(action, nullptr) << text;
        ASSERT_TRUE(action->isEnabled()) << text;
        action->trigger();
    }

    TempClientHome home{"wiring"};
    ScriptedServices services;
    data::ClientSettings settings = Settings(ClosedPort());
    std::unique_ptr<CDlgContactList> window;
};

TEST_F(MainWindowContactsTest, BarShowsTheLoadedListInTheContactArea) {
    ASSERT_EQ(Bar().parentWidget(), window->ContactArea());
    EXPECT_TRUE(Bar().isVisible());
    EXPECT_EQ(Bar().HeaderButton(0)->text(), "Friends");
    EXPECT_EQ(Bar().HeaderButton(1)->text(), "Strangers");
    EXPECT_TRUE(Bar().StatusPollerRunning());
}

TEST_F(MainWindowContactsTest, MenuOffersEveryCommandAndTheDoubleClickFollowsTheUnreadMark) {
    auto menu = FriendMenu();
    ASSERT_NE(menu, nullptr);
    for (const char* text :
         {"Message...", "Chat...", "File Transfer...", "Message History...", "Chat History...",
          "FileTransfer History...", "E-mail", "Rename User", "Delete User", "Update User Icons",
          "Customize User Icons...", "Reset to Default", "Info...", "Add User..."}) {
        QAction* action = FindAction(*menu, QString::fromLatin1(text));
        ASSERT_NE(action, nullptr) << text;
        EXPECT_TRUE(action->isEnabled()) << text;
    }
    // "Add User..." is offered on empty space of a group too.
    auto empty = Bar().BuildContextMenu(Bar().ListArea().bottomLeft() - QPoint(-2, 2));
    EXPECT_TRUE(FindAction(*empty, "Add User...")->isEnabled());
    EXPECT_TRUE(FindAction(*empty, "Add Group...")->isEnabled());

    // A double click without unread messages acts as "Message...", which offline opens
    // nothing but its warning; with unread messages it opens the contact's "Messages" window.
    const auto boxes = AnswerBoxes([&] { Bar().ActivateContact(FriendId); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You're not online now. Please connect to the server first.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(window->Contacts().SendWindows().Window(FriendId), nullptr);
    {
        std::lock_guard lock(window->Session().Locks().list);
        auto& list = window->ContactList();
        list.Entry(*list.FindContact(FriendId))->unread = 2;
    }
    Bar().ActivateContact(FriendId);
    EXPECT_NE(window->Contacts().MessagesWindow(FriendId), nullptr);
    EXPECT_EQ(Bar().FirstUnreadContact(), std::optional<std::string>(FriendId));
}

TEST_F(MainWindowContactsTest, ResetToDefaultDeletesTheFilesAndTheListDrawsTheBuiltInPicture) {
    Bar().HandleStatusReport(FriendId, 2);
    const QImage builtin = Bar().CurrentPicture(FriendId, true).toImage();
    const fs::path icons = home.Path() / "Users" / AccountId / "Icons";
    fs::create_directories(icons);
    QImage own(32, 32, QImage::Format_RGB32);
    own.fill(QColor(0, 0, 200));
    ASSERT_TRUE(own.save(
        QString::fromStdString((icons / (std::string(FriendId) + "-1.bmp")).string()), "BMP"));
    Bar().ReloadPictures(FriendId);
    ASSERT_NE(Bar().CurrentPicture(FriendId, true).toImage(), builtin);
    Trigger("Reset to Default");
    EXPECT_FALSE(fs::exists(icons / (std::string(FriendId) + "-1.bmp")));
    EXPECT_EQ(Bar().CurrentPicture(FriendId, true).toImage(), builtin);
    // "Update User Icons" asks the server (none listens here) and reports why nothing changed.
    const auto boxes = AnswerBoxes([&] { Trigger("Update User Icons"); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Failed to update:\n")) << boxes[0].text.toStdString();
    EXPECT_FALSE(fs::exists(icons / (std::string(FriendId) + "-1.bmp")));
    // The own pictures are customised from the System Menu.
    EXPECT_NE(window->SystemMenu()->findChild<QAction*>("customizeMyIcons"), nullptr);
}

TEST_F(MainWindowContactsTest, HistoryAndChatCommandsOpenOneWindowPerContact) {
    Trigger("Chat History...");
    CDlgChatHistory* chatHistory = window->Contacts().ChatHistoryWindow(FriendId);
    ASSERT_NE(chatHistory, nullptr);
    EXPECT_EQ(chatHistory->windowTitle(), "Chat");
    EXPECT_EQ(chatHistory->PeerId(), FriendId);
    Trigger("Chat History...");
    EXPECT_EQ(window->Contacts().ChatHistoryWindow(FriendId), chatHistory);  // found again

    Trigger("FileTransfer History...");
    CDlgFileTransferHistory* transferHistory = window->Contacts().TransferHistoryWindow(FriendId);
    ASSERT_NE(transferHistory, nullptr);
    EXPECT_EQ(transferHistory->windowTitle(), "File Transfer");
    Trigger("FileTransfer History...");
    EXPECT_EQ(window->Contacts().TransferHistoryWindow(FriendId), transferHistory);

    settings.windowAnimation = true;  // as the options leave it
    Trigger("Chat...");
    CDlgChatRequest* request = window->Contacts().Direct().ChatRequestWindow(FriendId);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->windowTitle(), "Chat Request");
    EXPECT_LT(request->windowOpacity(), 1.0) << "fades in";
    EXPECT_TRUE(PumpUntil([&] { return request->windowOpacity() == 1.0; }, 5s));
    // Above the main window, which stays on top of other windows.
    EXPECT_EQ(request->parentWidget(), window.get());
    EXPECT_TRUE(request->isWindow());
    Trigger("Chat...");
    EXPECT_EQ(window->Contacts().Direct().ChatRequestWindow(FriendId), request);
    EXPECT_TRUE(request->isVisible());
}

TEST_F(MainWindowContactsTest, OpenNamesReachTheContactWindowsOfContactsOnTheList) {
    EXPECT_TRUE(window->OpenNamed("chat-history:00000777"));
    EXPECT_NE(window->Contacts().ChatHistoryWindow(FriendId), nullptr);
    EXPECT_TRUE(window->OpenNamed("transfer-history:00000777"));
    EXPECT_NE(window->Contacts().TransferHistoryWindow(FriendId), nullptr);
    EXPECT_FALSE(window->OpenNamed("chat:99999999"));  // not a contact
    EXPECT_EQ(window->Contacts().Direct().ChatRequestWindow("99999999"), nullptr);
    EXPECT_FALSE(window->OpenNamed("frobnicate:00000777"));
    EXPECT_TRUE(window->OpenNamed("contact-menu"));
}

TEST_F(MainWindowContactsTest, SendFileNameOpensTheSendFileWindowWithTheOpenFileDialog) {
    EXPECT_FALSE(window->OpenNamed("send-file:99999999"));  // not a contact
    EXPECT_EQ(window->Contacts().Direct().SendFileWindow("99999999"), nullptr);

    ASSERT_TRUE(window->OpenNamed("send-file:00000777"));
    const QPointer<CDlgSendFile> sending = window->Contacts().Direct().SendFileWindow(FriendId);
    ASSERT_NE(sending, nullptr);
    // As "File Transfer..." does, the window asks for the file first; cancelled, it stays
    // open without one.
    // (a timer: the dialog runs its own loop inside the pump)
    bool asked = false;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->reject();
        }
    });
    answer.start();
    ASSERT_TRUE(talvorine::testing::PumpUntil(
        [&] { return asked && QApplication::activeModalWidget() == nullptr; }));
    ASSERT_NE(sending, nullptr);
    EXPECT_FALSE(sending->findChild<QPushButton*>("send")->isEnabled());
}

TEST_F(MainWindowContactsTest, FirstDroppedFileGoesToSendFileAndAFolderIsRefused) {
    const fs::path first = home.Path() / "report.txt";
    const fs::path second = home.Path() / "other.txt";
    std::ofstream(first) << "numbers";
    std::ofstream(second) << "more";
    const fs::path folder = home.Path() / "folder";
    fs::create_directories(folder);

    ASSERT_EQ(Bar().ContactAtItem(*Bar().ItemAt(Bar().ItemRect(0).center())),
              std::optional<std::string>(FriendId));
    // A folder: the designed refusal, no window.
    const auto boxes = AnswerBoxes([&] {
        DropFiles(Bar(), Bar().ItemRect(0).center(), {folder, first});
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Sending directory is not supported currently. Please select a file");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(window->Contacts().Direct().SendFileWindow(FriendId), nullptr);

    // Files beside the items are no drop on a contact.
    DropFiles(Bar(), Bar().ListArea().bottomLeft() - QPoint(-2, 2), {first});
    EXPECT_EQ(window->Contacts().Direct().SendFileWindow(FriendId), nullptr);

    DropFiles(Bar(), Bar().ItemRect(0).center(), {first, second});
    CDlgSendFile* send = window->Contacts().Direct().SendFileWindow(FriendId);
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->findChild<QLineEdit*>("fileName")->text(), "report.txt");

    // On the floating contact: the same window takes the new file.
    Bar().ShowFloating(FriendId);
    contacts::FloatingContact* floating = Bar().Floating(FriendId);
    ASSERT_NE(floating, nullptr);
    DropFiles(*floating, floating->rect().center(), {second});
    EXPECT_EQ(window->Contacts().Direct().SendFileWindow(FriendId), send);
    EXPECT_EQ(send->findChild<QLineEdit*>("fileName")->text(), "other.txt");
}

TEST_F(MainWindowContactsTest, AnotherAccountClosesEveryPerContactWindowAndLoadsItsList) {
    Trigger("Chat History...");
    Trigger("FileTransfer History...");
    Trigger("Chat...");
    QPointer<QWidget> chatHistory = window->Contacts().ChatHistoryWindow(FriendId);
    QPointer<QWidget> transferHistory = window->Contacts().TransferHistoryWindow(FriendId);
    QPointer<QWidget> request = window->Contacts().Direct().ChatRequestWindow(FriendId);
    ASSERT_TRUE(chatHistory && transferHistory && request);
    Bar().OpenGroup(1);

    // The account wizard hands over another account; the connection that follows loads it.
    services.wizardAccount = "00005678";
    services.wizardPassword = "other";
    window->ApplyImportAccount();
    ASSERT_TRUE(PumpUntil([&] { return Idle(*window); }, 40s));
    ASSERT_TRUE(PumpUntil([&] { return !chatHistory && !transferHistory && !request; }, 5s));
    EXPECT_EQ(window->Contacts().ChatHistoryWindow(FriendId), nullptr);
    EXPECT_EQ(window->Contacts().Direct().ChatRequestWindow(FriendId), nullptr);
    EXPECT_EQ(window->ContactList().LoadedAccount(), "00005678");
    EXPECT_FALSE(Bar().FirstUnreadContact().has_value());
    EXPECT_EQ(Bar().ItemAt(Bar().ListArea().topLeft() + QPoint(4, 4)), std::nullopt);
    // The first account's list was saved on the way.
    const auto list = ReadFile(home.Path() / "Users" / AccountId / "List.dat");
    EXPECT_NE(list.find("ActiveGroup=1"), std::string::npos) << list;
}

TEST_F(MainWindowContactsTest, ExitStopsThePollerAndSavesTheList) {
    Bar().OpenGroup(1);
    window->ExitNow();
    ASSERT_TRUE(PumpUntil([&] { return window->ShutdownFinished(); }));
    EXPECT_FALSE(Bar().StatusPollerRunning());
    EXPECT_FALSE(window->ContactList().IsLoaded());
    const auto list = ReadFile(home.Path() / "Users" / AccountId / "List.dat");
    EXPECT_NE(list.find("ActiveGroup=1"), std::string::npos) << list;
}

TEST_F(MainWindowContactsTest, HiddenWindowFlashesTheTrayWhileTheListHasUnread) {
    window->HideWindow();
    window->TimerTick();
    window->TimerTick();
    EXPECT_EQ(window->CurrentTrayPicture(), TrayPicture::Offline);
    {
        std::lock_guard lock(window->Session().Locks().list);
        auto& list = window->ContactList();
        list.Entry(*list.FindContact(FriendId))->unread = 1;
    }
    Bar().UnreadChanged();
    window->TimerTick();
    const auto first = window->CurrentTrayPicture();
    window->TimerTick();
    EXPECT_EQ(first, TrayPicture::Message1);
    EXPECT_EQ(window->CurrentTrayPicture(), TrayPicture::Message2);
}

#ifdef TALVORINE_WITH_SERVER_HARNESS

// Account A in the main window, account B a second engine in this process.
TEST(MainWindowOnline, ContactShownOnlineAfterRefreshAndChatRequestOpensIncomingWindow) {
    protocol::StartSockets();
    server::testing::ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    const auto a = session::RequestNewAccount({"127.0.0.1", server.Port()});
    const auto b = session::RequestNewAccount({"127.0.0.1", server.Port()});
    TempClientHome home{
        "wiring-online"};  // after the harness, which points the registry at its own
    ASSERT_TRUE(PrepareAccount(a.userId, a.password, "Alice"));
    ScriptedServices services;
    auto settings = Settings(server.Port());
    CDlgContactList window(services, settings, true);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    CContactListBar& bar = window.Contacts().Bar();
    ASSERT_EQ(window.ContactList().GroupCount(), 2);
    EXPECT_EQ(bar.HeaderButton(0)->text(), "Friends");
    ASSERT_TRUE(bar.AddContact(0, b.userId, "Bob", "").ok);
    bar.OpenGroup(0);

    int reports = 0;
    QObject::connect(&bar, &CContactListBar::StatusReported, [&](const QString& id, int) {
        reports += id.toStdString() == b.userId ? 1 : 0;
    });
    const auto refresh = [&] {
        reports = 0;
        auto menu = bar.BuildContextMenu(bar.ListArea().center());
        QAction* action = FindAction(*menu, "Refresh User Status");
        ASSERT_TRUE(action != nullptr && action->isEnabled());
        action->trigger();
        ASSERT_TRUE(PumpUntil([&] { return reports > 0; }, 10s));
    };
    refresh();
    EXPECT_FALSE(bar.DrawnOnline(b.userId));

    session::EventLoop loop;
    session::testing::EngineClient bob(loop, {b.userId, b.password, "Bob"},
                                       {"127.0.0.1", server.Port(), false, 5});
    ASSERT_TRUE(bob.ConnectAndWait());
    refresh();
    // A pass already under way may still report him as it found him before; the refresh
    // brings the next one.
    ASSERT_TRUE(PumpUntil([&] { return bar.DrawnOnline(b.userId); }, 10s));
    const auto onlineSounds = [&] {
        return std::count(services.sounds.begin(), services.sounds.end(),
                          data::SoundEvent::UserOnline);
    };
    EXPECT_EQ(onlineSounds(), 1) << "Bob came online while Alice was logged in";

    // Alice logs in again while Bob is online: he is shown at once, but is no arrival.
    window.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return !window.Session().Connected() && Idle(window); }, 20s));
    // The logout's poll draws every contact offline.
    ASSERT_TRUE(PumpUntil([&] { return !bar.DrawnOnline(b.userId); }, 10s));
    window.Connect();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    ASSERT_TRUE(PumpUntil([&] { return bar.DrawnOnline(b.userId); }, 10s));
    EXPECT_EQ(onlineSounds(), 1);

    // Bob asks Alice for a chat through the server.
    PeerServices bobServices;
    bobServices.channel = &*bob.session;
    bobServices.connected = [&] { return bob.session->Connected(); };
    bobServices.accountId = [&] { return b.userId; };
    bobServices.ownNickname = [] { return std::string("Bob"); };
    bobServices.receiveOptions = [] { return session::FileReceiveOptions{}; };
    DirectWindows bobWindows(std::move(bobServices));
    bobWindows.RequestChat(a.userId, "Alice");
    ASSERT_NE(bobWindows.ChatRequestWindow(a.userId), nullptr);
    bobWindows.ChatRequestWindow(a.userId)->SendRequest();
    ASSERT_TRUE(PumpUntil(
        [&] { return window.Contacts().Direct().IncomingWindow(b.userId) != nullptr; }, 20s));
    CDlgIncomingChatRequest* incoming = window.Contacts().Direct().IncomingWindow(b.userId);
    EXPECT_EQ(incoming->windowTitle(), "Incoming Chat Request");
    EXPECT_TRUE(incoming->isVisible());
    // One "Chat Request" sound, not one from the main window and one from the request's window.
    EXPECT_EQ(
        std::count(services.sounds.begin(), services.sounds.end(), data::SoundEvent::ChatRequest),
        1);

    // A message from Bob: stored, counted unread on his item, and the hidden window's tray
    // flashes.
    EXPECT_TRUE(bob.Send(a.userId, "Hello Alice").ok);
    ASSERT_TRUE(PumpUntil([&] { return bar.FirstUnreadContact() == b.userId; }, 10s));
    window.HideWindow();
    window.TimerTick();
    const auto flash = window.CurrentTrayPicture();
    window.TimerTick();
    EXPECT_TRUE(flash == TrayPicture::Message1 || flash == TrayPicture::Message2);
    EXPECT_NE(window.CurrentTrayPicture(), flash);

    // Bob sends Alice a file; her "Settings\File\" values accept it at once into a subfolder
    // of her receive folder named by his ID.
    settings.acceptMode = data::AcceptMode::Accept;
    settings.useUserName = true;
    settings.filePath = (home.Path() / "Incoming").string();
    const fs::path offered = home.Path() / "figures.txt";
    std::ofstream(offered) << "Quarterly figures\n";
    bobWindows.SendFile(a.userId, "Alice", offered);
    ASSERT_NE(bobWindows.SendFileWindow(a.userId), nullptr);
    bobWindows.SendFileWindow(a.userId)->Send();
    const fs::path received = home.Path() / "Incoming" / b.userId / "figures.txt";
    ASSERT_TRUE(PumpUntil(
        [&] {
            std::error_code error;
            return fs::file_size(received, error) == 18 && !error;
        },
        20s));
    EXPECT_EQ(ReadFile(received), "Quarterly figures\n");

    bobWindows.CloseAll();
    window.ExitNow();
    ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }, 40s));
    EXPECT_FALSE(bar.StatusPollerRunning());
}

#endif

}  // namespace
}  // namespace talvorine::client::ui
