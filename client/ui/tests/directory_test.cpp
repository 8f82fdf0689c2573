// The user wizard's and the information sheet's rules without a display, and their windows
// offscreen where no server answers (a closed port).

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <deque>
#include <fstream>
#include <map>

#include "directory_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/contact_list_store.h"
#include "talvorine/client/ui/directory/directory_rules.h"
#include "talvorine/client/ui/directory/directory_windows.h"
#include "talvorine/client/ui/directory/dlg_uw.h"
#include "talvorine/client/ui/icons/user_pictures.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui::directory {
namespace {

using ::talvorine::testing::PumpUntil;
using testing::AnswerInTurn;
using testing::ListServices;
using testing::ScriptedBox;
using testing::Texts;
using ui::testing::TempClientHome;

constexpr const char* Own = "10000001";

protocol::SearchRow Row(const std::string& id, const std::string& nickname) {
    return {id, nickname, nickname + "@example.org"};
}

// A port nobody listens on (bound, never listened, closed again).
std::uint16_t ClosedPort() {
    protocol::Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    // The account connection goes to port + 1.
    return static_cast<std::uint16_t>(protocol::LocalPort(socket.Get()) - 1);
}

TEST(DirectoryRulesTest, SearchRequestCutsTheConditionByCategory) {
    const std::string longText(300, 'x');
    SearchCondition condition{SearchCategory::Id, false, longText};
    EXPECT_EQ(BuildSearchRequest(condition).text.size(), 8u);
    EXPECT_EQ(BuildSearchRequest(condition).field, 0);
    EXPECT_EQ(BuildSearchRequest(condition).match, 0);
    condition = {SearchCategory::Nickname, true, longText};
    EXPECT_EQ(BuildSearchRequest(condition).text.size(), 64u);
    EXPECT_EQ(BuildSearchRequest(condition).field, 1);
    EXPECT_EQ(BuildSearchRequest(condition).match, 1);
    condition = {SearchCategory::Email, false, longText};
    EXPECT_EQ(BuildSearchRequest(condition).text.size(), 255u);
    EXPECT_EQ(BuildSearchRequest(condition).field, 2);
    // Never half a character: "é" is two bytes and would straddle the eighth.
    condition = {SearchCategory::Id, false, "1234567\xc3\xa9"};
    EXPECT_EQ(BuildSearchRequest(condition).text, "1234567");

    EXPECT_TRUE(NeedsEmptyConditionQuestion({SearchCategory::Email, false, ""}));
    EXPECT_FALSE(NeedsEmptyConditionQuestion({SearchCategory::Email, false, " "}));
    EXPECT_EQ(ConditionFieldLimit(SearchCategory::Id), 8);
    EXPECT_EQ(ConditionFieldLimit(SearchCategory::Nickname), 32);
    EXPECT_EQ(ConditionFieldLimit(SearchCategory::Email), 255);
}

// Records the add loop's calls; `failures` add attempts fail before one succeeds.
struct LoopScript {
    std::vector<std::string> listed;
    std::map<std::string, int> failures;
    std::deque<FailureAnswer> answers;
    std::vector<std::string> events;

    AddUserPorts Ports() {
        AddUserPorts ports;
        ports.isListed = [this](const std::string& id) {
            return std::find(listed.begin(), listed.end(), id) != listed.end();
        };
        ports.add = [this](const protocol::SearchRow& row) -> std::optional<std::string> {
            events.push_back("add " + row.userId);
            if (failures[row.userId]-- > 0) {
                return "Disk full";
            }
            return std::nullopt;
        };
        ports.added = [this](const protocol::SearchRow& row) {
            events.push_back("added " + row.userId);
        };
        ports.showYourself = [this] { events.push_back("yourself"); };
        ports.askAfterFailure = [this](const std::string& text) {
            events.push_back("ask " + text);
            const FailureAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        };
        ports.showAlreadyListed = [this](const std::string& text) {
            events.push_back("listed " + text);
        };
        return ports;
    }
};

TEST(DirectoryRulesTest, AddLoopRefusesOneselfCollectsListedUsersAndRetries) {
    LoopScript script;
    script.listed = {"10000003", "10000005"};
    script.failures["10000004"] = 1;
    script.answers = {FailureAnswer::Retry};
    const auto outcome =
        AddChosenUsers({Row(Own, "Me"), Row("10000002", "Bob"), Row("10000003", "Carol"),
                        Row("10000004", "Dan"), Row("10000005", "Eve")},
                       Own, script.Ports());
    EXPECT_EQ(outcome, AddOutcome::Done);
    const std::vector<std::string> expected{
        "yourself",
        "add 10000002",
        "added 10000002",
        "add 10000004",
        "ask Failed to add Dan(10000004) to your contact list:\r\nDisk full",
        "add 10000004",
        "added 10000004",
        "listed One or more user(s) could not be added.\r\n\r\nThese use(s) already exist in "
        "your contact list:\r\nCarol (10000003)\r\nEve (10000005)"};
    EXPECT_EQ(script.events, expected);
}

TEST(DirectoryRulesTest, IgnoreSkipsTheUserAndAbortEndsAtOnce) {
    LoopScript ignore;
    ignore.failures["10000002"] = 5;
    ignore.answers = {FailureAnswer::Retry, FailureAnswer::Ignore};
    EXPECT_EQ(
        AddChosenUsers({Row("10000002", "Bob"), Row("10000003", "Carol")}, Own, ignore.Ports()),
        AddOutcome::Done);
    EXPECT_EQ(std::count(ignore.events.begin(), ignore.events.end(), "add 10000002"), 2);
    EXPECT_EQ(ignore.events.back(), "added 10000003");

    // Abort: nothing after it, not even the summary of listed users.
    LoopScript abort;
    abort.listed = {"10000009"};
    abort.failures["10000002"] = 1;
    abort.answers = {FailureAnswer::Abort};
    EXPECT_EQ(
        AddChosenUsers({Row("10000009", "Zed"), Row("10000002", "Bob"), Row("10000003", "Carol")},
                       Own, abort.Ports()),
        AddOutcome::Aborted);
    ASSERT_FALSE(abort.events.empty());
    EXPECT_EQ(abort.events.back().rfind("ask ", 0), 0u);
    EXPECT_EQ(std::count(abort.events.begin(), abort.events.end(), "add 10000003"), 0);
}

TEST(DirectoryRulesTest, NicknamePasswordAndTheKeptLocalNickname) {
    EXPECT_EQ(NicknameToSave("  Bob \t"), "Bob");
    EXPECT_EQ(NicknameToSave("   "), std::nullopt);
    EXPECT_EQ(NicknameToSave(""), std::nullopt);
    EXPECT_EQ(PasswordForRecord("12345678901234567890"), "1234567890123456");

    protocol::UserProfile fetched;
    fetched.nickname = "ServerName";
    fetched.city = "Oslo";
    EXPECT_EQ(KeepLocalNickname(fetched, "My friend").nickname, "My friend");
    EXPECT_EQ(KeepLocalNickname(fetched, "My friend").city, "Oslo");
    EXPECT_EQ(KeepLocalNickname(fetched, "").nickname, "ServerName");
}

TEST(DirectoryRulesTest, PictureDownloadToAFolderThatCannotBeMadeStops) {
    TempClientHome home;
    // A file where the account folder's Icons folder must go.
    const auto account = data::AccountFolder(Own);
    ASSERT_TRUE(account.has_value());
    std::ofstream(*account / "Icons") << "not a folder";
    const auto stopped = DownloadNewContactPictures({"127.0.0.1", ClosedPort()}, Own, "10000002");
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(stopped->rfind(std::string(icons::PictureText::CreateFolderFailed), 0), 0u)
        << *stopped;
    EXPECT_EQ(icons::PictureFile("/x/Icons", "10000002", 2),
              std::filesystem::path("/x/Icons/10000002-3.bmp"));
}

class DirectoryWindowsTest : public ::testing::Test {
protected:
    TempClientHome home;
    ListServices list{Own, {"127.0.0.1", ClosedPort()}};
};

TEST_F(DirectoryWindowsTest, ConditionPageEnablesTheChosenFieldAndAsksAboutAnEmptyCondition) {
    CDlgUW wizard(list.services, "Friends");
    wizard.show();
    EXPECT_EQ(wizard.windowTitle(), "User Wizard");
    CDlgUWSelect& select = wizard.Select();
    EXPECT_EQ(select.title(), "Search Condition");
    EXPECT_TRUE(select.CategoryButton(SearchCategory::Id)->isChecked());
    EXPECT_EQ(select.CategoryButton(SearchCategory::Nickname)->text(), "By &nickname:");
    EXPECT_TRUE(select.findChild<QRadioButton*>("inclusive")->isChecked());
    EXPECT_TRUE(select.Field(SearchCategory::Id)->isEnabled());
    EXPECT_FALSE(select.Field(SearchCategory::Nickname)->isEnabled());
    EXPECT_EQ(select.Field(SearchCategory::Id)->maxLength(), 8);
    EXPECT_EQ(select.Field(SearchCategory::Nickname)->maxLength(), 32);
    EXPECT_EQ(select.Field(SearchCategory::Email)->maxLength(), 255);
    EXPECT_EQ(select.Field(SearchCategory::Email)->accessibleName(), "By E-mail:");

    select.SetCategory(SearchCategory::Email);
    EXPECT_FALSE(select.Field(SearchCategory::Id)->isEnabled());
    EXPECT_TRUE(select.Field(SearchCategory::Email)->isEnabled());
    select.Field(SearchCategory::Id)->setText("1234");  // not the chosen category's field

    // No stays on the page; nothing is searched.
    auto boxes = AnswerInTurn([&] { wizard.next(); }, {QMessageBox::No});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Because you didn't specify any search condition, all registered users will be "
              "returned.\nContinue anyway?");
    EXPECT_EQ(wizard.currentId(), CDlgUW::SelectPage);

    // Yes searches; with no server the socket error is shown and the wizard comes back.
    boxes = AnswerInTurn(
        [&] {
            wizard.next();
            PumpUntil([&] { return !wizard.Result().Searching(); });
        },
        {QMessageBox::Yes, QMessageBox::Ok});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[1].text.isEmpty());
    EXPECT_EQ(wizard.currentId(), CDlgUW::SelectPage);
    EXPECT_TRUE(wizard.isEnabled());
}

TEST_F(DirectoryWindowsTest, ContactSheetReadsAnUpdatedUsrFileWithoutAskingTheServer) {
    data::ContactListStore store(Own);
    protocol::UserProfile profile;
    profile.userId = "10000002";
    profile.nickname = "Bob";
    profile.email = "bob@example.org";
    profile.company = "Talvorine";
    profile.birthday = "1990/05/07";
    ASSERT_TRUE(store.StoreProfile(profile));

    DirectoryWindows windows(list.services);
    std::vector<ScriptedBox> boxes;
    CSheetViewUserInfo* sheet = nullptr;
    boxes = AnswerInTurn([&] { sheet = windows.OpenUserInfo("10000002"); }, {QMessageBox::Ok});
    ASSERT_NE(sheet, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(sheet->Busy());
    EXPECT_EQ(sheet->windowTitle(), "User Info");
    EXPECT_EQ(sheet->ActionButton()->text(), "&Update");
    EXPECT_EQ(sheet->DoneButton()->text(), "&Done");
    EXPECT_TRUE(sheet->DoneButton()->isDefault());
    EXPECT_EQ(sheet->Tabs()->tabText(0), "Basic");
    EXPECT_EQ(sheet->Tabs()->tabText(1), "Communication");
    EXPECT_EQ(sheet->Tabs()->tabText(2), "More");
    auto* nickname = sheet->BasicPage()->NicknameField();
    EXPECT_EQ(nickname->text(), "Bob");
    EXPECT_TRUE(nickname->isReadOnly());
    EXPECT_FALSE(sheet->BasicPage()->MonthList()->isEnabled());
    EXPECT_EQ(sheet->BasicPage()->MonthList()->currentIndex(), 5);
    EXPECT_EQ(sheet->BasicPage()->DayList()->currentIndex(), 7);
    EXPECT_EQ(sheet->MorePage()->findChild<QLineEdit*>("company")->text(), "Talvorine");
    EXPECT_FALSE(sheet->CommPage()->findChild<QPushButton*>("sendMail")->isHidden());

    // A second "Info..." brings the same sheet to the front.
    EXPECT_EQ(windows.OpenUserInfo("10000002"), sheet);
    windows.CloseAll();
    QApplication::processEvents();
    EXPECT_EQ(windows.Sheet("10000002"), nullptr);
}

TEST_F(DirectoryWindowsTest, ContactSheetWithoutACachedProfileShowsTheFileWhenTheFetchFails) {
    data::ContactListStore store(Own);
    ASSERT_TRUE(store.AddContact("Friends", "10000002", "Bobby", "bob@example.org"));
    DirectoryWindows windows(list.services);
    CSheetViewUserInfo* sheet = nullptr;
    const auto boxes = AnswerInTurn(
        [&] {
            sheet = windows.OpenUserInfo("10000002");
            PumpUntil([&] { return !sheet->Busy(); });
        },
        {QMessageBox::Ok});
    ASSERT_EQ(boxes.size(), 1u);  // the connection error
    EXPECT_EQ(sheet->BasicPage()->NicknameField()->text(), "Bobby");
    EXPECT_EQ(sheet->CommPage()->findChild<QLineEdit*>("email")->text(), "bob@example.org");
    EXPECT_FALSE(store.IsProfileUpdated("10000002"));
    EXPECT_TRUE(sheet->ActionButton()->isEnabled());
}

TEST_F(DirectoryWindowsTest, OwnSheetRefusesABlankNicknameBeforeAskingForThePassword) {
    DirectoryWindows windows(list.services);
    // No UID file: nothing to save from.
    CSheetViewUserInfo* sheet = windows.OpenOwnInfo();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), "Change My Info");
    EXPECT_FALSE(sheet->ActionButton()->isEnabled());
    windows.CloseAll();

    protocol::UserProfile profile;
    profile.userId = Own;
    profile.nickname = "Me";
    ASSERT_TRUE(data::WriteProfile(Own, profile));
    sheet = windows.OpenOwnInfo();
    EXPECT_EQ(sheet->ActionButton()->text(), "&Save");
    EXPECT_TRUE(sheet->ActionButton()->isEnabled());
    EXPECT_FALSE(sheet->BasicPage()->NicknameField()->isReadOnly());
    EXPECT_TRUE(sheet->CommPage()->findChild<QPushButton*>("sendMail")->isHidden());
    sheet->BasicPage()->NicknameField()->setText("   ");
    sheet->Tabs()->setCurrentIndex(2);
    const auto boxes = AnswerInTurn([&] { sheet->Save(); }, {QMessageBox::Ok});
    EXPECT_EQ(Texts(boxes), std::vector<QString>{"Your must type a nickname."});
    EXPECT_EQ(sheet->Tabs()->currentIndex(), 0);
    EXPECT_EQ(list.passwordQuestions, 0);
    EXPECT_EQ(data::ReadProfile(Own)->nickname, "Me");
}

TEST_F(DirectoryWindowsTest, PasswordDialogNamesTheAccountAndTakesSixteenCharacters) {
    CDlgInputPassword dialog(Own);
    EXPECT_EQ(dialog.windowTitle(), "10000001 - Password Required");
    EXPECT_EQ(dialog.PasswordField()->maxLength(), 16);
    EXPECT_EQ(dialog.PasswordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.findChild<QLabel*>()->buddy(), dialog.PasswordField());
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "&Password");
}

}  // namespace
}  // namespace talvorine::client::ui::directory
