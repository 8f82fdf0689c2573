// The chat and file-transfer history windows over real history files of an account.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <fstream>

#include "talvorine/testing/qt_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/client/ui/chat/dlg_chat_history.h"
#include "talvorine/client/ui/transfer/dlg_file_transfer_history.h"
#include "test_folders.h"

namespace talvorine::client::ui {
namespace {

using talvorine::testing::AnswerBoxes;
namespace fs = std::filesystem;

constexpr const char* Own = "00000001";
constexpr const char* Peer = "00000002";

class HistoryWindowsTest : public data::testing::TempHome {
protected:
    fs::path AddChat(data::ChatDirection direction, bool accepted, std::string request,
                     std::string reason, std::string transcript, std::time_t when) {
        data::ChatFileHeader head;
        head.direction = direction;
        head.requestText = std::move(request);
        head.accepted = accepted;
        head.reason = std::move(reason);
        const fs::path file = data::CreateChatFile(Own, Peer, head, when);
        if (!transcript.empty()) {
            data::SaveChatTranscript(file, transcript);
        }
        return file;
    }

    static std::vector<std::string> Column(const QTreeWidget& list, int column) {
        std::vector<std::string> cells;
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            cells.push_back(list.topLevelItem(row)->text(column).toStdString());
        }
        return cells;
    }

    static std::size_t Position(const std::vector<fs::path>& files, const fs::path& file) {
        return static_cast<std::size_t>(std::find(files.begin(), files.end(), file) -
                                        files.begin());
    }
};

TEST_F(HistoryWindowsTest, ChatRowsComeNewestListedFirstAndDamagedFilesAreLeftOut) {
    const fs::path asked = AddChat(data::ChatDirection::Sent, true, "lunch?", "", "", 1000);
    const fs::path denied =
        AddChat(data::ChatDirection::Received, false, "meeting?", "busy", "", 2000);
    const fs::path damaged = AddChat(data::ChatDirection::Sent, true, "x", "", "", 3000);
    fs::resize_file(damaged, 100);  // shorter than the head

    ChatHistory history(Own, Peer, "Me", "Bob");
    history.Refill();
    ASSERT_EQ(history.Rows().size(), 2u);
    // The folder listing decides the order: the file listed last is on top.
    const std::vector<fs::path> listed = data::ListChatFiles(Own, Peer);
    const bool askedListedFirst = Position(listed, asked) < Position(listed, denied);
    const ChatHistoryRow& top = history.Rows()[0];
    EXPECT_EQ(top.file, askedListedFirst ? denied : asked);

    for (const ChatHistoryRow& row : history.Rows()) {
        if (row.file == asked) {
            EXPECT_EQ(row.from, "Me");
            EXPECT_EQ(row.to, "Bob");
            EXPECT_TRUE(row.accepted);
        } else {
            EXPECT_EQ(row.from, "Bob");
            EXPECT_EQ(row.to, "Me");
            EXPECT_FALSE(row.accepted);
            EXPECT_EQ(row.request, "meeting?");
            EXPECT_EQ(row.time, data::FormatLocalTime(2000));
        }
    }
}

TEST_F(HistoryWindowsTest, DetailsGiveTheFourStatusTextsAndTheTranscriptOrTheReason) {
    struct Case {
        data::ChatDirection direction;
        bool accepted;
        std::string_view status;
        std::string_view type;
    };
    const Case cases[] = {
        {data::ChatDirection::Received, true, ChatHistoryText::IncomingAccepted, "Incoming"},
        {data::ChatDirection::Received, false, ChatHistoryText::IncomingDenied, "Incoming"},
        {data::ChatDirection::Sent, true, ChatHistoryText::OutgoingAccepted, "Outgoing"},
        {data::ChatDirection::Sent, false, ChatHistoryText::OutgoingDenied, "Outgoing"},
    };
    for (const Case& c : cases) {
        fs::remove_all(Home());
        AddChat(c.direction, c.accepted, "hello", "not now", "Me: hi\r\nBob: hey\r\n", 5000);
        ChatHistory history(Own, Peer, "Me", "Bob");
        history.Refill();
        ASSERT_EQ(history.Rows().size(), 1u);
        const ChatDetails details = history.Details(0);
        EXPECT_EQ(details.status, c.status);
        EXPECT_EQ(details.type, c.type);
        EXPECT_EQ(details.text, c.accepted ? "Me: hi\r\nBob: hey\r\n" : "not now");
    }
}

TEST_F(HistoryWindowsTest, ATranscriptLengthBeyondTheFileIsNeverTrusted) {
    const fs::path file = AddChat(data::ChatDirection::Sent, true, "hello", "", "Me: hi\r\n", 5000);
    // A head that claims a 4 GiB transcript.
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(532);
    const char huge[4] = {'\xff', '\xff', '\xff', '\xff'};
    out.write(huge, 4);
    out.close();

    ChatHistory history(Own, Peer, "Me", "Bob");
    history.Refill();
    ASSERT_EQ(history.Rows().size(), 1u);
    const ChatDetails details = history.Details(0);
    EXPECT_NE(details.text.find("shorter than its transcript length"), std::string::npos);
}

TEST_F(HistoryWindowsTest, ChatWindowListsDeletesAndStepsThroughDetails) {
    AddChat(data::ChatDirection::Sent, true, "one", "", "Me: 1\r\n", 1000);
    AddChat(data::ChatDirection::Received, false, "two", "busy", "", 2000);
    AddChat(data::ChatDirection::Sent, false, "three", "", "", 3000);

    CDlgChatHistory window(ChatHistory(Own, Peer, "Me", "Bob"));
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    auto* list = window.findChild<QTreeWidget*>("chatList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(window.windowTitle(), "Chat");
    ASSERT_EQ(list->columnCount(), 5);
    EXPECT_EQ(list->headerItem()->text(3), "Accepted");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    auto* remove = window.findChild<QPushButton*>("delete");
    auto* details = window.findChild<QPushButton*>("showDetails");
    auto* removeAll = window.findChild<QPushButton*>("deleteAll");
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_FALSE(details->isEnabled());
    EXPECT_TRUE(removeAll->isEnabled());
    // Requests that were not accepted carry the mark.
    for (int row = 0; row < 3; ++row) {
        const QTreeWidgetItem* item = list->topLevelItem(row);
        EXPECT_EQ(item->icon(0).isNull(), item->text(3) == "Yes") << row;
    }

    // Details with nothing selected only beep.
    EXPECT_TRUE(AnswerBoxes([&] { window.ShowDetails(); }).empty());

    // Details step through the list from the selected row.
    list->setCurrentItem(list->topLevelItem(1));
    CDlgChatDetails dialog(window.History(), 1, &window);
    auto* previous = dialog.findChild<QPushButton*>("previous");
    auto* next = dialog.findChild<QPushButton*>("next");
    EXPECT_TRUE(previous->isEnabled());
    EXPECT_TRUE(next->isEnabled());
    dialog.Next();
    EXPECT_EQ(dialog.Row(), 2u);
    EXPECT_FALSE(next->isEnabled());
    EXPECT_EQ(dialog.findChild<QLineEdit*>("id")->text(), Peer);
    dialog.Previous();
    dialog.Previous();
    EXPECT_EQ(dialog.Row(), 0u);
    EXPECT_FALSE(previous->isEnabled());

    // Deleting removes the file and the row.
    const fs::path first = window.History().Rows()[0].file;
    list->setCurrentItem(list->topLevelItem(0));
    window.DeleteSelected();
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(list->topLevelItemCount(), 2);

    // Delete all asks first; No keeps everything.
    auto boxes = AnswerBoxes([&] { window.DeleteAll(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete all chat files?");
    EXPECT_EQ(list->topLevelItemCount(), 2);
    AnswerBoxes([&] { window.DeleteAll(); }, QMessageBox::Yes);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(data::ListChatFiles(Own, Peer).empty());
    EXPECT_FALSE(removeAll->isEnabled());
}

TEST_F(HistoryWindowsTest, ColumnWidthsAndFilterAreKept) {
    {
        CDlgChatHistory window(ChatHistory(Own, Peer, "Me", "Bob"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        auto* list = window.findChild<QTreeWidget*>("chatList");
        EXPECT_EQ(list->columnWidth(2), 150);  // "Col3" default
        list->setColumnWidth(2, 222);
    }
    EXPECT_EQ(data::WindowSettings("ChatHistory").GetDword("Col3"), 222u);
    {
        CDlgChatHistory window(ChatHistory(Own, Peer, "Me", "Bob"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        EXPECT_EQ(window.findChild<QTreeWidget*>("chatList")->columnWidth(2), 222);
    }
    {
        CDlgFileTransferHistory window(TransferHistory(Own, Peer, "Me", "Bob"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.SetFilter(false, true);
    }
    const data::WindowSettings transfer("FileTransferHistory");
    EXPECT_EQ(transfer.GetDword("Show Outgoing"), 0u);
    EXPECT_EQ(transfer.GetDword("Show Incoming"), 1u);
    EXPECT_EQ(transfer.GetDword("Col7"), 150u);
}

class TransferHistoryTest : public HistoryWindowsTest {
protected:
    void SetUp() override {
        HistoryWindowsTest::SetUp();
        m_sent = data::CreateTransferRecord(Own, Peer, data::TransferType::Outgoing,
                                            "/home/me/report.pdf", 1234, "the report", 1000);
        data::SetTransferAccepted(m_sent, true);
        data::SetTransferStatus(m_sent, "Done");
        m_received = data::CreateTransferRecord(Own, Peer, data::TransferType::Incoming, "tool.sh",
                                                0, "a tool", 2000);
        m_savedAs = Home() / "Received Files" / Peer / "tool.sh";
        fs::create_directories(m_savedAs.parent_path());
        std::ofstream(m_savedAs) << "#!/bin/sh\necho hi\n";
        ::chmod(m_savedAs.c_str(), 0755);
        data::SetTransferAccepted(m_received, true);
        data::SetTransferSavedAs(m_received, m_savedAs.string());
        m_refused = data::CreateTransferRecord(Own, Peer, data::TransferType::Incoming, "big.iso",
                                               99, "", 3000);
        data::SetTransferAccepted(m_refused, false);
        data::SetTransferStatus(m_refused, "Canceled");
    }

    fs::path m_sent;
    fs::path m_received;
    fs::path m_savedAs;
    fs::path m_refused;
};

TEST_F(TransferHistoryTest, RowsCellsFilterAndOpenTargets) {
    std::vector<QUrl> opened;
    CDlgFileTransferHistory window(TransferHistory(Own, Peer, "Me", "Bob"), nullptr,
                                   [&](const QUrl& url) {
                                       opened.push_back(url);
                                       return true;
                                   });
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(window.windowTitle(), "File Transfer");
    auto* list = window.findChild<QTreeWidget*>("transferList");
    ASSERT_EQ(list->columnCount(), 7);
    ASSERT_EQ(list->topLevelItemCount(), 3);

    std::map<std::string, const QTreeWidgetItem*> byName;
    for (int row = 0; row < 3; ++row) {
        byName[list->topLevelItem(row)->text(2).toStdString()] = list->topLevelItem(row);
    }
    ASSERT_EQ(byName.size(), 3u);
    const QTreeWidgetItem* report = byName.at("report.pdf");
    EXPECT_EQ(report->text(0), "Me");
    EXPECT_EQ(report->text(1), "Bob");
    EXPECT_EQ(report->text(3), "1234");
    EXPECT_EQ(report->textAlignment(3) & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(report->text(6), "Done");
    EXPECT_EQ(byName.at("tool.sh")->text(3), "");  // size 0 shows nothing
    EXPECT_EQ(byName.at("tool.sh")->text(0), "Bob");
    EXPECT_EQ(byName.at("big.iso")->text(6), "Canceled");
    EXPECT_FALSE(byName.at("big.iso")->icon(0).isNull());
    EXPECT_TRUE(report->icon(0).isNull());

    // The filter refills the list.
    window.SetFilter(true, false);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(2), "report.pdf");
    window.SetFilter(false, true);
    ASSERT_EQ(list->topLevelItemCount(), 2);

    // An unfinished receipt offers nothing to open.
    const TransferHistory& history = window.History();
    for (std::size_t row = 0; row < history.Rows().size(); ++row) {
        const TransferOpenTargets targets = history.OpenTargets(row);
        EXPECT_EQ(targets.fileItem, "Open Received File");
        EXPECT_FALSE(targets.fileEnabled);
    }

    // Once done, it is "Saved As: <path>" and a runnable file is opened only when confirmed.
    data::SetTransferDone(m_received);
    window.SetFilter(true, true);
    int toolRow = -1;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(2) == "tool.sh") {
            toolRow = row;
        }
    }
    ASSERT_GE(toolRow, 0);
    EXPECT_EQ(list->topLevelItem(toolRow)->text(6).toStdString(),
              "Saved As: " + m_savedAs.string());
    list->setCurrentItem(list->topLevelItem(toolRow));
    window.PrepareOpenMenu();
    auto boxes = AnswerBoxes([&] { window.OpenFile(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(opened.empty());
    AnswerBoxes([&] { window.OpenFile(); }, QMessageBox::Yes);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), m_savedAs.string());
    window.OpenFolder();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].toLocalFile().toStdString(), m_savedAs.parent_path().string());

    // A sent file that is gone is reported, not handed to the desktop.
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(2) == "report.pdf") {
            list->setCurrentItem(list->topLevelItem(row));
        }
    }
    boxes = AnswerBoxes([&] { window.OpenFile(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(TransferHistoryTest, DeleteAndDeleteAllRemoveTheRecords) {
    CDlgFileTransferHistory window(TransferHistory(Own, Peer, "Me", "Bob"));
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    auto* list = window.findChild<QTreeWidget*>("transferList");
    list->setCurrentItem(list->topLevelItem(0));
    const fs::path first = window.History().Rows()[0].record.file;
    window.DeleteSelected();
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(list->topLevelItemCount(), 2);
    const auto boxes = AnswerBoxes([&] { window.DeleteAll(); }, QMessageBox::Yes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete all file transfer history?");
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(data::ListTransferRecords(Own, Peer).empty());
    EXPECT_TRUE(fs::exists(m_savedAs));  // the received file itself stays
}

}  // namespace
}  // namespace talvorine::client::ui
