// The user wizard and the information sheet against the real server on loopback: the search
// in every category and mode (quotes and "%" in the text), adding users with a failure and
// Retry, the pictures of new contacts, the own profile saved and read back by another
// account, and "&Update" on a contact.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "directory_test_support.h"
#include "server_harness.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/contact_list_store.h"
#include "talvorine/client/session/user_directory.h"
#include "talvorine/client/ui/directory/directory_windows.h"
#include "talvorine/client/ui/directory/dlg_uw.h"
#include "talvorine/client/ui/icons/user_pictures.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui::directory {
namespace {

using server::testing::ServerHarness;
using ::talvorine::testing::PumpUntil;
using testing::AnswerInTurn;
using testing::ListServices;
using testing::Texts;
using ui::testing::TempClientHome;

struct TestAccount {
    std::string id;
    std::string password;
    protocol::UserProfile profile;
};

class DirectoryEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
    }
    static void TearDownTestSuite() { s_server.reset(); }
    static session::AccountServer Server() { return {"127.0.0.1", s_server->Port()}; }

    // A new account on the server with its nickname and e-mail; its UID file written.
    static TestAccount MakeAccount(const std::string& nickname, const std::string& email) {
        const auto made = session::RequestNewAccount(Server());
        TestAccount account{made.userId, made.password, {}};
        account.profile.userId = made.userId;
        account.profile.password = made.password;
        account.profile.nickname = nickname;
        account.profile.email = email;
        account.profile.gender = "0";
        session::ChangeUserInfo(Server(), account.profile);
        account.profile.password.clear();
        data::WriteProfile(made.userId, account.profile);
        return account;
    }

    // A picture of `bytes` bytes uploaded as the account's slot.
    static std::vector<std::uint8_t> Upload(const TestAccount& account, int slot,
                                            std::size_t bytes) {
        std::vector<std::uint8_t> picture(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            picture[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        protocol::Socket socket = s_server->ConnectAccount();
        const protocol::IconUpload upload{account.id, account.password, slot,
                                          static_cast<std::int32_t>(bytes)};
        protocol::SendPacket(socket.Get(), protocol::PacketType::UploadIcon, upload.Encode(), 30);
        std::vector<std::uint8_t> buffer(protocol::Capacity::ClientReply);
        const auto header = protocol::ReceivePacket(socket.Get(), buffer, 30);
        EXPECT_EQ(header.type, 0);
        protocol::SendOrThrow(socket.Get(), picture, 30);
        // The server closes the connection when the file is written.
        std::uint8_t end = 0;
        protocol::ReceiveRaw(socket.Get(), std::span(&end, 1), 0, 30);
        return picture;
    }

    // Searches through the wizard's pages; the listed ids, and the boxes shown.
    std::vector<std::string> Search(CDlgUW& wizard, SearchCategory category,
                                    const std::string& text, bool exact,
                                    std::vector<testing::ScriptedBox>* boxes = nullptr) {
        if (wizard.currentId() != CDlgUW::SelectPage) {
            wizard.restart();
        }
        CDlgUWSelect& select = wizard.Select();
        select.SetCategory(category);
        select.Field(category)->setText(QString::fromStdString(text));
        (exact ? select.ExactButton() : select.findChild<QRadioButton*>("inclusive"))
            ->setChecked(true);
        const auto shown = AnswerInTurn(
            [&] {
                wizard.next();
                PumpUntil([&] { return !wizard.Result().Searching(); });
            },
            {QMessageBox::Yes});
        if (boxes != nullptr) {
            *boxes = shown;
        }
        std::vector<std::string> ids;
        if (wizard.currentId() == CDlgUW::ResultPage) {
            QTreeWidget* list = wizard.Result().List();
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                ids.push_back(list->topLevelItem(i)->text(0).toStdString());
            }
        }
        return ids;
    }

    static bool Contains(const std::vector<std::string>& ids, const std::string& id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }

    static inline std::unique_ptr<ServerHarness> s_server;
    TempClientHome home;
};

TEST_F(DirectoryEndToEnd, SearchesByIdNicknameAndEmailInclusiveAndExact) {
    const TestAccount own = MakeAccount("Searcher", "searcher@example.org");
    const TestAccount quote = MakeAccount("O'Brien-s1", "o'brien@quote.example");
    const TestAccount percent = MakeAccount("100%Pure-s1", "pure-s1@example.org");
    ListServices list(own.id, Server());
    CDlgUW wizard(list.services, "Friends");
    wizard.show();

    EXPECT_EQ(Search(wizard, SearchCategory::Id, quote.id, true),
              std::vector<std::string>{quote.id});
    EXPECT_TRUE(Contains(Search(wizard, SearchCategory::Id, quote.id.substr(2), false), quote.id));
    EXPECT_EQ(Search(wizard, SearchCategory::Nickname, "O'Brien-s1", true),
              std::vector<std::string>{quote.id});
    EXPECT_TRUE(Contains(Search(wizard, SearchCategory::Nickname, "'Brien-s", false), quote.id));
    EXPECT_EQ(Search(wizard, SearchCategory::Nickname, "100%Pure-s1", true),
              std::vector<std::string>{percent.id});
    EXPECT_TRUE(Contains(Search(wizard, SearchCategory::Nickname, "0%Pure", false), percent.id));
    EXPECT_EQ(Search(wizard, SearchCategory::Email, "o'brien@quote.example", true),
              std::vector<std::string>{quote.id});
    const auto byDomain = Search(wizard, SearchCategory::Email, "@quote.example", false);
    EXPECT_EQ(byDomain, std::vector<std::string>{quote.id});
    // Columns: id, nickname, e-mail.
    QTreeWidgetItem* row = wizard.Result().List()->topLevelItem(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(1), "O'Brien-s1");
    EXPECT_EQ(row->text(2), "o'brien@quote.example");

    // An empty condition, confirmed, lists every user (at most 100).
    const auto all = Search(wizard, SearchCategory::Nickname, "", false);
    EXPECT_TRUE(Contains(all, own.id));
    EXPECT_TRUE(Contains(all, percent.id));
    EXPECT_LE(all.size(), 100u);

    // No match: the server's text, and back to the condition.
    std::vector<testing::ScriptedBox> boxes;
    EXPECT_TRUE(
        Search(wizard, SearchCategory::Nickname, "nobody-by-this-name", true, &boxes).empty());
    EXPECT_EQ(Texts(boxes), std::vector<QString>{"No matched user(s) found."});
    EXPECT_EQ(wizard.currentId(), CDlgUW::SelectPage);
}

TEST_F(DirectoryEndToEnd, TheListHoldsAtMostAHundredUsers) {
    const TestAccount own = MakeAccount("Counter", "counter@example.org");
    // Straight into the database: a hundred accounts through the server take a while.
    for (int i = 0; i < 101; ++i) {
        const std::string id = std::to_string(90000000 + i);
        s_server->Execute("INSERT INTO USERS (ID, Password, Nickname, Email) VALUES ('" + id +
                          "', 'x', 'Many " + std::to_string(i) + "', 'many@example.org')");
    }
    std::vector<protocol::SearchRow> arrived;
    const auto rows =
        session::SearchUsers(Server(), BuildSearchRequest({SearchCategory::Nickname, false, ""}),
                             [&](const protocol::SearchRow& row) { arrived.push_back(row); });
    EXPECT_EQ(rows.size(), 100u);
    EXPECT_EQ(arrived.size(), 100u);

    ListServices list(own.id, Server());
    CDlgUW wizard(list.services, "Friends");
    wizard.show();
    EXPECT_EQ(Search(wizard, SearchCategory::Id, "", false).size(), 100u);
}

TEST_F(DirectoryEndToEnd, AddsTwoUsersRetryingAfterAFailureAndFetchesTheirPicturesQuietly) {
    const TestAccount own = MakeAccount("Adder", "adder@add.example");
    const TestAccount pictured = MakeAccount("Pictured", "pictured@add.example");
    const TestAccount plain = MakeAccount("Plain", "plain@add.example");
    const auto picture = Upload(pictured, 1, 3126);
    ListServices list(own.id, Server());
    CDlgUW wizard(list.services, "Friends");
    wizard.show();
    ASSERT_EQ(Search(wizard, SearchCategory::Email, "@add.example", false).size(), 3u);

    // Nothing chosen: the page stays.
    auto boxes = AnswerInTurn([&] { wizard.next(); }, {QMessageBox::Ok});
    EXPECT_EQ(Texts(boxes), std::vector<QString>{"Please select one or more user(s)."});
    EXPECT_EQ(wizard.currentId(), CDlgUW::ResultPage);

    // Oneself and both users chosen; the membership file cannot be written at first.
    wizard.Result().List()->selectAll();
    const auto groups = *data::ContactListStore(own.id).GroupsFile();
    std::filesystem::create_directories(groups);
    boxes = AnswerInTurn([&] { wizard.next(); }, {QMessageBox::Ok, QMessageBox::Retry},
                         [&](std::size_t box) {
                             if (box == 1) {
                                 std::filesystem::remove_all(groups);
                             }
                         });
    ASSERT_EQ(boxes.size(), 2u) << boxes.back().text.toStdString();
    EXPECT_EQ(boxes[0].text, "Can not add yourself to the contact list");
    EXPECT_TRUE(boxes[1].text.startsWith(QString::fromStdString(
        "Failed to add Pictured(" + pictured.id + ") to your contact list:\n")))
        << boxes[1].text.toStdString();
    EXPECT_EQ(wizard.currentId(), CDlgUW::FinishPage);

    EXPECT_EQ(list.Nickname(pictured.id), "Pictured");
    EXPECT_EQ(list.Nickname(plain.id), "Plain");
    EXPECT_EQ(list.list.FindContact(plain.id)->group, list.list.FindGroup("Friends"));
    EXPECT_EQ(data::ContactListStore(own.id).ReadCard(plain.id).email, "plain@add.example");
    EXPECT_EQ(list.reloaded, (std::vector<std::string>{pictured.id, plain.id}));
    // The Away picture arrived; the missing ones were not reported.
    const auto icons = *data::AccountFolder(own.id) / "Icons";
    std::ifstream file(icons::PictureFile(icons, pictured.id, 1), std::ios::binary);
    const std::vector<std::uint8_t> stored((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    EXPECT_EQ(stored, picture);
    EXPECT_FALSE(std::filesystem::exists(icons::PictureFile(icons, pictured.id, 0)));
    EXPECT_FALSE(std::filesystem::exists(icons::PictureFile(icons, plain.id, 0)));

    // "I want to add more users": Finish wakes the poll and starts again.
    wizard.Finish().AddMoreBox()->setChecked(true);
    wizard.button(QWizard::FinishButton)->click();
    EXPECT_EQ(list.wakes, 1);
    EXPECT_EQ(wizard.currentId(), CDlgUW::SelectPage);
    EXPECT_TRUE(wizard.isVisible());

    // The same users again: one box naming both, nothing added twice.
    ASSERT_EQ(Search(wizard, SearchCategory::Email, "@add.example", false).size(), 3u);
    QTreeWidget* result = wizard.Result().List();
    for (int i = 0; i < result->topLevelItemCount(); ++i) {
        result->topLevelItem(i)->setSelected(result->topLevelItem(i)->text(0) !=
                                             QString::fromStdString(own.id));
    }
    boxes = AnswerInTurn([&] { wizard.next(); }, {QMessageBox::Ok});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              QString::fromStdString("One or more user(s) could not be added.\n\nThese use(s) "
                                     "already exist in your contact list:\nPictured (" +
                                     pictured.id + ")\nPlain (" + plain.id + ")"));
    EXPECT_EQ(list.list.Group(list.list.FindGroup("Friends")).contacts.size(), 2u);
    wizard.button(QWizard::FinishButton)->click();
    EXPECT_EQ(list.wakes, 2);
    EXPECT_FALSE(wizard.isVisible());
}

TEST_F(DirectoryEndToEnd, AbortEndsTheAddingAndTheWizardStaysOnTheResults) {
    const TestAccount own = MakeAccount("Aborter", "aborter@abort.example");
    const TestAccount other = MakeAccount("Other", "other@abort.example");
    ListServices list(own.id, Server());
    CDlgUW wizard(list.services, "Friends");
    wizard.show();
    ASSERT_EQ(Search(wizard, SearchCategory::Email, "other@abort.example", true).size(), 1u);
    wizard.Result().List()->selectAll();
    const auto groups = *data::ContactListStore(own.id).GroupsFile();
    std::filesystem::create_directories(groups);
    const auto boxes = AnswerInTurn([&] { wizard.next(); }, {QMessageBox::Abort});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(wizard.currentId(), CDlgUW::ResultPage);
    EXPECT_FALSE(list.list.FindContact(other.id).has_value());
    EXPECT_TRUE(list.reloaded.empty());
}

TEST_F(DirectoryEndToEnd, OwnProfileIsSavedAndReadBackByAnotherAccount) {
    const TestAccount own = MakeAccount("Before", "before@own.example");
    const TestAccount reader = MakeAccount("Reader", "reader@own.example");
    ListServices mine(own.id, Server());
    DirectoryWindows windows(mine.services);
    CSheetViewUserInfo* sheet = windows.OpenOwnInfo();
    ASSERT_NE(sheet, nullptr);
    infopages::CPageInfoBasic* basic = sheet->BasicPage();
    basic->NicknameField()->setText("  After  ");
    basic->findChild<QLineEdit*>("realName")->setText("Ada O'Hara");
    // A year after 2001 is offered and kept; February has 29 days only in leap years.
    basic->YearField()->setValue(2012);
    basic->MonthList()->setCurrentIndex(2);
    EXPECT_EQ(basic->DayList()->count(), 30);
    basic->DayList()->setCurrentIndex(29);
    basic->YearField()->setValue(2010);
    EXPECT_EQ(basic->DayList()->count(), 29);
    EXPECT_EQ(basic->DayList()->currentIndex(), 28);
    sheet->CommPage()->findChild<QLineEdit*>("city")->setText("Bergen");
    sheet->MorePage()->findChild<QLineEdit*>("company")->setText("100% Co");

    // A wrong password: the server's refusal, nothing written locally.
    mine.password = "wrong";
    auto boxes = AnswerInTurn([&] { sheet->Save(); }, {QMessageBox::Ok});
    EXPECT_EQ(Texts(boxes), std::vector<QString>{"Authorization failed"});
    EXPECT_EQ(data::ReadProfile(own.id)->nickname, "Before");

    // Cancel in the password dialog sends nothing.
    mine.password.reset();
    boxes = AnswerInTurn([&] { sheet->Save(); }, {QMessageBox::Ok});
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(mine.passwordQuestions, 2);

    mine.password = own.password;
    boxes = AnswerInTurn([&] { sheet->Save(); }, {QMessageBox::Ok});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Your information has been saved");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    const auto local = data::ReadProfile(own.id);
    EXPECT_EQ(local->nickname, "After");
    EXPECT_EQ(local->birthday, "2010/02/28");
    EXPECT_TRUE(local->password.empty());

    // Another account opens "Info..." on this one: fetched, stored and shown.
    ListServices theirs(reader.id, Server());
    data::ContactListStore readerStore(reader.id);
    ASSERT_TRUE(readerStore.AddContact("Friends", own.id, "After", "before@own.example"));
    DirectoryWindows readerWindows(theirs.services);
    CSheetViewUserInfo* view = readerWindows.OpenUserInfo(own.id);
    ASSERT_TRUE(PumpUntil([&] { return !view->Busy(); }));
    EXPECT_EQ(view->BasicPage()->findChild<QLineEdit*>("realName")->text(), "Ada O'Hara");
    EXPECT_EQ(view->BasicPage()->YearField()->value(), 2010);
    EXPECT_EQ(view->BasicPage()->MonthList()->currentIndex(), 2);
    EXPECT_EQ(view->BasicPage()->DayList()->currentIndex(), 28);
    EXPECT_EQ(view->CommPage()->findChild<QLineEdit*>("city")->text(), "Bergen");
    EXPECT_EQ(view->MorePage()->findChild<QLineEdit*>("company")->text(), "100% Co");
    EXPECT_TRUE(readerStore.IsProfileUpdated(own.id));
    EXPECT_EQ(readerStore.ReadProfile(own.id)->birthday, "2010/02/28");
}

TEST_F(DirectoryEndToEnd, OpeningKeepsARenamedNicknameAndUpdateTakesTheServersOne) {
    const TestAccount own = MakeAccount("Owner", "owner@update.example");
    const TestAccount friendAccount = MakeAccount("Server Name", "friend@update.example");
    ListServices list(own.id, Server());
    ASSERT_TRUE(list.commands.AddContact(0, friendAccount.id, "Server Name", "").ok);
    ASSERT_TRUE(list.commands.RenameUser(*list.list.FindContact(friendAccount.id), "My Pal").ok);
    data::ContactListStore store(own.id);
    ASSERT_FALSE(store.IsProfileUpdated(friendAccount.id));

    DirectoryWindows windows(list.services);
    CSheetViewUserInfo* sheet = windows.OpenUserInfo(friendAccount.id);
    ASSERT_TRUE(PumpUntil([&] { return !sheet->Busy(); }));
    EXPECT_TRUE(store.IsProfileUpdated(friendAccount.id));
    EXPECT_EQ(store.ReadProfile(friendAccount.id)->email, "friend@update.example");
    EXPECT_EQ(store.ReadProfile(friendAccount.id)->nickname, "My Pal");
    EXPECT_EQ(list.Nickname(friendAccount.id), "My Pal");

    // "&Update" asks again and takes the server's nickname into the list.
    auto boxes = AnswerInTurn([&] { sheet->Update(); }, {QMessageBox::Ok});
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(list.Nickname(friendAccount.id), "Server Name");
    EXPECT_EQ(store.ReadProfile(friendAccount.id)->nickname, "Server Name");
    EXPECT_EQ(sheet->BasicPage()->NicknameField()->text(), "Server Name");

    ASSERT_TRUE(list.commands.DeleteUser(*list.list.FindContact(friendAccount.id)).ok);
    boxes = AnswerInTurn([&] { sheet->Update(); }, {QMessageBox::Ok});
    EXPECT_EQ(Texts(boxes), std::vector<QString>{"User has been deleted."});
}

}  // namespace
}  // namespace talvorine::client::ui::directory
