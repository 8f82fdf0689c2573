// Two accounts' chat and file-transfer windows talking over a loopback relay that plays the
// server's part, on real sockets and real files.
#include "talvorine/client/ui/chat/direct_windows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>
#include <random>

#include "loop_relay.h"
#include "talvorine/testing/qt_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/history_files.h"
#include "test_folders.h"

namespace talvorine::client::ui {
namespace {

using talvorine::testing::AnswerBoxes;
using talvorine::testing::CaughtBox;
using talvorine::testing::PumpUntil;
using session::testing::LoopRelay;
namespace fs = std::filesystem;

constexpr const char* Alice = "00000001";
constexpr const char* Bob = "00000002";

// One side: its relay (requests go to the other side's windows on the window thread), its
// services and its windows.
struct Side {
    Side(std::string id, std::string nickname, const fs::path& receiveFolder)
        : relay(id), own(std::move(id)), nick(std::move(nickname)) {
        options.acceptMode = 0;
        options.overwriteMode = 1;
        options.useUserName = true;
        options.receiveFolder = receiveFolder;
        PeerServices services;
        services.channel = &relay;
        services.connected = [] { return true; };
        services.quitting = [] { return false; };
        services.accountId = [this] { return own; };
        services.ownNickname = [this] { return nick; };
        services.nicknameOf = [](std::string_view userId) {
            return userId == Alice ? std::string("Alice")
                   : userId == Bob ? "Bob"
                                   : std::string(userId);
        };
        services.receiveOptions = [this] { return options; };
        services.playSound = [this](int event) { sounds.push_back(event); };
        windows = std::make_unique<DirectWindows>(std::move(services));
        windows->openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
    }
    // Requests relayed from this side arrive at `peer`'s windows.
    void RelayTo(Side& peer) {
        relay.onChat = [&peer](const protocol::ChatRequest& request) {
            QMetaObject::invokeMethod(
                qApp, [&peer, request] { peer.windows->ChatRequestReceived(request); },
                Qt::QueuedConnection);
        };
        relay.onFile = [&peer](const protocol::FileRequest& request) {
            QMetaObject::invokeMethod(
                qApp, [&peer, request] { peer.windows->FileRequestReceived(request); },
                Qt::QueuedConnection);
        };
    }

    LoopRelay relay;
    std::string own;
    std::string nick;
    session::FileReceiveOptions options;
    std::vector<int> sounds;
    std::vector<QUrl> opened;
    std::unique_ptr<DirectWindows> windows;
};

class DirectWindowsTest : public data::testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        alice = std::make_unique<Side>(Alice, "Alice", Root() / "alice-received");
        bob = std::make_unique<Side>(Bob, "Bob", Root() / "bob-received");
        alice->RelayTo(*bob);
        bob->RelayTo(*alice);
    }
    void TearDown() override {
        alice.reset();
        bob.reset();
        QApplication::processEvents();
        TempHome::TearDown();
    }

    // Opens a chat from Alice to Bob, which Bob accepts.
    void OpenChat() {
        alice->windows->RequestChat(Bob, "Bob");
        CDlgChatRequest* request = alice->windows->ChatRequestWindow(Bob);
        ASSERT_NE(request, nullptr);
        request->findChild<QPlainTextEdit*>("requestText")->setPlainText("talk?");
        request->SendRequest();
        ASSERT_TRUE(PumpUntil([&] { return bob->windows->IncomingWindow(Alice) != nullptr; }));
        bob->windows->IncomingWindow(Alice)->Accept();
        ASSERT_TRUE(PumpUntil([&] {
            return alice->windows->ChatWindow(Bob) != nullptr &&
                   bob->windows->ChatWindow(Alice) != nullptr;
        }));
    }

    static QString Transcript(CDlgChat* chat) {
        return chat->findChild<QPlainTextEdit*>("transcript")->toPlainText();
    }
    static void Type(CDlgChat* chat, const std::string& text) {
        chat->findChild<QPlainTextEdit*>("input")->setPlainText(QString::fromStdString(text));
    }

    fs::path MakeFile(const std::string& name, std::size_t size) {
        const fs::path path = Root() / name;
        std::ofstream out(path, std::ios::binary);
        std::mt19937 random(7);
        for (std::size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>(random()));
        }
        return path;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::unique_ptr<Side> alice;
    std::unique_ptr<Side> bob;
};

TEST_F(DirectWindowsTest, AcceptedChatCarriesLinesBothWaysAndEndsWithHasQuit) {
    OpenChat();
    EXPECT_EQ(bob->sounds, std::vector<int>{data::SoundEvent::ChatRequest});
    // The request window closes on acceptance.
    EXPECT_TRUE(PumpUntil([&] { return alice->windows->ChatRequestWindow(Bob) == nullptr; }));
    CDlgChat* aliceChat = alice->windows->ChatWindow(Bob);
    CDlgChat* bobChat = bob->windows->ChatWindow(Alice);
    EXPECT_EQ(aliceChat->windowTitle(), "Chat");

    Type(aliceChat, "hello Bob");
    aliceChat->Send();
    ASSERT_TRUE(PumpUntil([&] { return Transcript(bobChat).contains("Alice: hello Bob"); }));
    EXPECT_EQ(Transcript(aliceChat), "Alice: hello Bob");
    EXPECT_TRUE(aliceChat->findChild<QPlainTextEdit*>("input")->toPlainText().isEmpty());
    Type(bobChat, "hi Alice");
    bobChat->Send();
    ASSERT_TRUE(PumpUntil([&] { return Transcript(aliceChat).contains("Bob: hi Alice"); }));

    // White space only is not sent; an overlong line is refused and stays in the box.
    Type(aliceChat, "   \n ");
    aliceChat->Send();
    const std::string tooLong(4096, 'x');
    Type(aliceChat, tooLong);
    auto boxes = AnswerBoxes([&] { aliceChat->Send(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(aliceChat->findChild<QPlainTextEdit*>("input")->toPlainText().size(), 4096);
    EXPECT_EQ(Transcript(aliceChat), "Alice: hello Bob\nBob: hi Alice");

    // "&Clear" empties the box only: the chat file still gets the whole transcript.
    aliceChat->Clear();
    EXPECT_TRUE(Transcript(aliceChat).isEmpty());

    // Alice quits (asked first); Bob is told, and his sends then say "Not connected".
    boxes = AnswerBoxes([&] { aliceChat->reject(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to quit?");
    ASSERT_NE(alice->windows->ChatWindow(Bob), nullptr);
    boxes = AnswerBoxes([&] { aliceChat->reject(); }, QMessageBox::Yes);
    ASSERT_EQ(boxes.size(), 1u);
    boxes = AnswerBoxes([&] {
        PumpUntil([&] { return !bobChat->Connected(); });
        PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Alice has quit.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    Type(bobChat, "still there?");
    boxes = AnswerBoxes([&] { bobChat->Send(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Not connected");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    bobChat->CloseWithoutAsking();
    PumpUntil([&] { return bob->windows->ChatWindow(Alice) == nullptr; });

    const auto aliceFiles = data::ReadChatHistory(Alice, Bob);
    const auto bobFiles = data::ReadChatHistory(Bob, Alice);
    ASSERT_EQ(aliceFiles.size(), 1u);
    ASSERT_EQ(bobFiles.size(), 1u);
    EXPECT_TRUE(aliceFiles[0].header.accepted);
    EXPECT_EQ(data::ReadChatTranscript(aliceFiles[0].file),
              "Alice: hello Bob\r\nBob: hi Alice\r\n");
    EXPECT_EQ(data::ReadChatTranscript(bobFiles[0].file), "Alice: hello Bob\r\nBob: hi Alice\r\n");
}

TEST_F(DirectWindowsTest, OneWindowPerPeerAndADenialWithoutReasonSaysSo) {
    alice->windows->RequestChat(Bob, "Bob");
    CDlgChatRequest* first = alice->windows->ChatRequestWindow(Bob);
    alice->windows->RequestChat(Bob, "Bob");
    EXPECT_EQ(alice->windows->ChatRequestWindow(Bob), first);
    first->findChild<QPlainTextEdit*>("requestText")->setPlainText("first");
    first->SendRequest();
    ASSERT_TRUE(PumpUntil([&] { return bob->windows->IncomingWindow(Alice) != nullptr; }));
    CDlgIncomingChatRequest* incoming = bob->windows->IncomingWindow(Alice);

    // A second request from the same user brings the window up and keeps the first text.
    protocol::ChatRequest again;
    again.userId = Alice;
    again.text = "second";
    bob->windows->ChatRequestReceived(again);
    EXPECT_EQ(bob->windows->IncomingWindow(Alice), incoming);
    EXPECT_EQ(incoming->findChild<QPlainTextEdit*>("requestText")->toPlainText(), "first");

    const auto boxes = AnswerBoxes([&] {
        incoming->Deny();
        PumpUntil([&] { return first->findChild<QPushButton*>("ok")->isEnabled(); });
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Your request is not accepted due to the following reason:\n\nNo reason given");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    // The request window stays for another try; Bob's closed after his answer.
    EXPECT_NE(alice->windows->ChatRequestWindow(Bob), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return bob->windows->IncomingWindow(Alice) == nullptr; }));
    EXPECT_FALSE(data::ReadChatHistory(Bob, Alice).at(0).header.accepted);
}

TEST_F(DirectWindowsTest, AFileArrivesWholeUnderItsNumberedNameAndIsOpenedFromFileReceived) {
    bob->options.acceptMode = 1;  // accept at once
    const fs::path file = MakeFile("figures.bin", 3 * 1024 * 1024 + 17);
    const fs::path folder = Root() / "bob-received" / Alice;
    fs::create_directories(folder);
    std::ofstream(folder / "figures.bin") << "older";

    alice->windows->SendFile(Bob, "Bob", file);
    CDlgSendFile* sending = alice->windows->SendFileWindow(Bob);
    ASSERT_NE(sending, nullptr);
    EXPECT_EQ(sending->findChild<QLineEdit*>("fileName")->text(), "figures.bin");
    EXPECT_EQ(sending->findChild<QLineEdit*>("size")->text(), "3,145,745 bytes");
    sending->findChild<QLineEdit*>("description")->setText("the figures");
    sending->Send();
    ASSERT_TRUE(PumpUntil([&] { return alice->windows->SendFileWindow(Bob) == nullptr; }));
    EXPECT_EQ(alice->sounds, std::vector<int>{data::SoundEvent::FileSent});
    EXPECT_EQ(bob->sounds, std::vector<int>{data::SoundEvent::FileRequest});
    ASSERT_TRUE(PumpUntil([&] { return bob->windows->ReceiveFileWindow(Alice) == nullptr; }));

    EXPECT_EQ(Read(folder / "figures.bin"), "older");
    EXPECT_EQ(Read(folder / "(1)figures.bin"), Read(file));
    auto* received = qobject_cast<CDlgFileReceived*>([] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == "CDlgFileReceived" && widget->isVisible()) {
                return widget;
            }
        }
        return static_cast<QWidget*>(nullptr);
    }());
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->windowTitle(), "File Received");
    EXPECT_EQ(received->findChild<QLineEdit*>("savedAs")->text().toStdString(),
              (folder / "(1)figures.bin").string());
    received->OpenFolder();
    ASSERT_EQ(bob->opened.size(), 1u);
    EXPECT_EQ(bob->opened[0].toLocalFile().toStdString(), folder.string());

    const auto records = data::ReadTransferHistory(Bob, Alice);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].done);
    EXPECT_EQ(records[0].description, "the figures");
}

TEST_F(DirectWindowsTest, ARefusedFileIsReportedToTheSenderAndNothingIsWritten) {
    bob->options.acceptMode = 2;  // refuse at once
    const fs::path file = MakeFile("secret.bin", 1000);
    alice->windows->SendFile(Bob, "Bob", file);
    CDlgSendFile* sending = alice->windows->SendFileWindow(Bob);
    const auto boxes = AnswerBoxes([&] {
        sending->Send();
        PumpUntil([&] { return sending->findChild<QPushButton*>("send")->isEnabled(); });
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed: Your request is not accepted");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_FALSE(fs::exists(Root() / "bob-received" / Alice / "secret.bin"));
    // The window stays, ready to send again.
    EXPECT_EQ(alice->windows->SendFileWindow(Bob), sending);
    EXPECT_EQ(sending->findChild<QLineEdit*>("fileName")->text(), "secret.bin");
}

TEST_F(DirectWindowsTest, DropsFollowLinksAndRefuseFolders) {
    const fs::path file = MakeFile("notes.txt", 10);
    const fs::path link = Root() / "notes-link";
    fs::create_symlink(file, link);
    const fs::path launcher = Root() / "notes.desktop";
    std::ofstream(launcher) << "[Desktop Entry]\nType=Link\nName=Notes\nURL=file://"
                            << file.string() << "\n";
    EXPECT_EQ(std::get<fs::path>(ResolveDroppedFile(link)), fs::canonical(file));
    EXPECT_EQ(std::get<fs::path>(ResolveDroppedFile(launcher)), file);
    const fs::path app = Root() / "app.desktop";
    std::ofstream(app) << "[Desktop Entry]\nType=Application\nExec=true\n";
    EXPECT_EQ(std::get<fs::path>(ResolveDroppedFile(app)), app);  // sent as the file it is
    EXPECT_EQ(std::get<std::string>(ResolveDroppedFile(Root())),
              "Sending directory is not supported currently. Please select a file");
    const fs::path folderLink = Root() / "folder-link";
    fs::create_directory_symlink(Root(), folderLink);
    EXPECT_TRUE(std::holds_alternative<std::string>(ResolveDroppedFile(folderLink)));

    const auto boxes = AnswerBoxes([&] { alice->windows->DropFile(nullptr, Bob, "Bob", Root()); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(alice->windows->SendFileWindow(Bob), nullptr);
    alice->windows->DropFile(nullptr, Bob, "Bob", link);
    ASSERT_NE(alice->windows->SendFileWindow(Bob), nullptr);
    EXPECT_EQ(alice->windows->SendFileWindow(Bob)->findChild<QLineEdit*>("fileName")->text(),
              "notes.txt");
}

TEST(TransferProgressText, SizesAndPercentagesOfLargeFiles) {
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(4294967295u), "4,294,967,295 bytes");
    EXPECT_EQ(session::TransferPercent(42949673, 42949673), 100);
    EXPECT_EQ(session::TransferPercent(4000000000u, 4294967295u), 93);
}

}  // namespace
}  // namespace talvorine::client::ui
