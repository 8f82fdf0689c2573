// Pictures of the chat, file-transfer and history windows, offscreen, in
// build/<preset>/window-pictures/*.png, for a person to look at: texts not cut, nothing
// overlapping, sensible sizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "loop_relay.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/client/ui/chat/dlg_chat.h"
#include "talvorine/client/ui/chat/dlg_chat_history.h"
#include "talvorine/client/ui/transfer/dlg_file_transfer_history.h"
#include "talvorine/client/ui/transfer/dlg_transfer.h"
#include "talvorine/protocol/socket.h"
#include "test_folders.h"

namespace talvorine::client::ui {
namespace {

namespace fs = std::filesystem;

class WindowPictures : public data::testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        fs::create_directories(WINDOW_PICTURES_DIR);
        services.channel = &relay;
        services.connected = [] { return true; };
        services.quitting = [] { return false; };
        services.accountId = [] { return std::string("00000001"); };
        services.ownNickname = [] { return std::string("Alice"); };
        services.nicknameOf = [](std::string_view) { return std::string("Bob"); };
        services.receiveOptions = [this] {
            session::FileReceiveOptions options;
            options.receiveFolder = Root() / "received";
            return options;
        };
    }
    void Save(QWidget& window, const std::string& name) {
        window.show();
        QApplication::processEvents();
        const QImage image = window.grab().toImage();
        const auto file = fs::path(WINDOW_PICTURES_DIR) / (name + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file.string()))) << file;
        EXPECT_GE(window.width(), window.minimumSizeHint().width()) << name;
        EXPECT_GE(window.height(), window.minimumSizeHint().height()) << name;
    }

    session::testing::LoopRelay relay{"00000001"};
    PeerServices services;
};

TEST_F(WindowPictures, ChatWindows) {
    CDlgChatRequest request(services, "00000002", "Bob", {});
    request.setAttribute(Qt::WA_DeleteOnClose, false);
    request.findChild<QPlainTextEdit*>("requestText")->setPlainText("Have you got a minute?");
    Save(request, "chat-request");

    protocol::ChatRequest relayed;
    relayed.userId = "00000002";
    relayed.address.address = 0x0100007F;
    relayed.address.port = 40123;
    relayed.text = "Have you got a minute about the budget?";
    CDlgIncomingChatRequest incoming(services, session::IncomingChatRequest::From(relayed), {});
    incoming.setAttribute(Qt::WA_DeleteOnClose, false);
    Save(incoming, "incoming-chat-request");

    protocol::Socket listening;
    ASSERT_EQ(protocol::ListenOn(listening.Ref(), 0), 0);
    protocol::Socket near;
    ASSERT_EQ(protocol::ConnectTo(near.Ref(), "127.0.0.1", protocol::LocalPort(listening.Get())),
              0);
    session::ChatLink link{protocol::Socket(protocol::AcceptOn(listening.Get(), nullptr)), {}};
    CDlgChat chat(services, "00000002", "Bob", std::move(link));
    chat.setAttribute(Qt::WA_DeleteOnClose, false);
    chat.findChild<QPlainTextEdit*>("transcript")
        ->setPlainText(
            "Alice: Have you got a minute?\nBob: Sure, what is it?\nAlice: The "
            "figures for May are in the shared folder.");
    chat.findChild<QPlainTextEdit*>("input")->setPlainText("Thanks!");
    Save(chat, "chat");
    chat.CloseWithoutAsking();
}

TEST_F(WindowPictures, TransferWindows) {
    const fs::path file = Root() / "quarterly report.pdf";
    std::ofstream(file) << std::string(123456, 'x');
    CDlgSendFile sending(services, "00000002", "Bob", file);
    sending.setAttribute(Qt::WA_DeleteOnClose, false);
    sending.findChild<QLineEdit*>("description")->setText("The figures for May");
    Save(sending, "send-file");

    session::FileOffer offer{"00000002", 0x0100007F,           40124, "quarterly report.pdf",
                             123456,     "The figures for May"};
    services.receiveOptions = [this] {
        session::FileReceiveOptions options;  // ask
        options.receiveFolder = Root() / "received";
        return options;
    };
    CDlgReceiveFile receiving(services, offer, {});
    receiving.setAttribute(Qt::WA_DeleteOnClose, false);
    Save(receiving, "receive-file");

    CDlgFileReceived received("00000002", "Bob", "quarterly report.pdf",
                              Root() / "received" / "00000002" / "quarterly report.pdf");
    received.setAttribute(Qt::WA_DeleteOnClose, false);
    Save(received, "file-received");
}

TEST_F(WindowPictures, HistoryWindows) {
    data::ChatFileHeader head;
    head.requestText = "Have you got a minute?";
    head.accepted = true;
    data::SaveChatTranscript(data::CreateChatFile("00000001", "00000002", head, 1700000000),
                             "Alice: Have you got a minute?\r\nBob: Sure.\r\n");
    head.direction = data::ChatDirection::Received;
    head.accepted = false;
    head.requestText = "Lunch?";
    head.reason = "In a meeting until two";
    data::CreateChatFile("00000001", "00000002", head, 1700003600);
    CDlgChatHistory chats(ChatHistory("00000001", "00000002", "Alice", "Bob"));
    chats.setAttribute(Qt::WA_DeleteOnClose, false);
    Save(chats, "chat-history");
    CDlgChatDetails details(chats.History(), 0);
    Save(details, "chat-details");

    const auto sent = data::CreateTransferRecord(
        "00000001", "00000002", data::TransferType::Outgoing, "/home/alice/quarterly report.pdf",
        123456, "The figures for May", 1700000000);
    data::SetTransferAccepted(sent, true);
    data::SetTransferStatus(sent, "Done");
    const auto refused =
        data::CreateTransferRecord("00000001", "00000002", data::TransferType::Incoming,
                                   "holiday.jpg", 2345678, "", 1700003600);
    data::SetTransferAccepted(refused, false);
    data::SetTransferStatus(refused, "Canceled");
    CDlgFileTransferHistory transfers(TransferHistory("00000001", "00000002", "Alice", "Bob"));
    transfers.setAttribute(Qt::WA_DeleteOnClose, false);
    Save(transfers, "file-transfer-history");
}

}  // namespace
}  // namespace talvorine::client::ui
