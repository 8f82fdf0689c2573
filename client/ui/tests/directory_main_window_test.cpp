// The user wizard and the information sheets opened from the real main window, against the
// real server: "Add User..." on a group adds into that group and wakes the status poll,
// "Info..." opens one sheet per contact, "View / Change My Info..." saves the own profile
// and the window uses the new nickname, another account closes the sheets.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTreeWidget>
#include <memory>

#include "server_harness.h"
#include "shell_test_support.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/session/user_directory.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/directory/dlg_uw.h"
#include "talvorine/client/ui/directory/sheet_view_user_info.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/client/ui/shell/main_window_contacts.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using directory::CDlgInputPassword;
using directory::CDlgUW;
using directory::CSheetViewUserInfo;
using server::testing::ServerHarness;
using talvorine::testing::AnswerBoxes;
using talvorine::testing::PumpUntil;
using testing::AnswerDialog;
using testing::PrepareAccount;
using testing::ScriptedServices;
using testing::TempClientHome;

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

class DirectoryMainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
    }
    static void TearDownTestSuite() { s_server.reset(); }
    static session::AccountServer Server() { return {"127.0.0.1", s_server->Port()}; }

    void SetUp() override {
        protocol::StartSockets();
        own = session::RequestNewAccount(Server());
        ASSERT_TRUE(PrepareAccount(own.userId, own.password, "Nick"));
        settings = data::ClientSettings::Defaults();
        settings.server = "127.0.0.1";
        settings.port = s_server->Port();
        settings.autoConnect = false;
        settings.windowAnimation = false;
        window = std::make_unique<CDlgContactList>(services, settings, true);
        window->Start();
        ASSERT_TRUE(PumpUntil(
            [&] { return !window->Session().Connecting() && !window->Session().Disconnecting(); },
            40s));
    }
    void TearDown() override {
        if (window && !window->ShutdownFinished()) {
            window->ExitNow();
            PumpUntil([&] { return window->ShutdownFinished(); });
        }
        window.reset();
    }
    contacts::CContactListBar& Bar() { return window->Contacts().Bar(); }

    static inline std::unique_ptr<ServerHarness> s_server;
    TempClientHome home{"directory"};
    ScriptedServices services;
    data::ClientSettings settings;
    protocol::AccountCredentials own;
    std::unique_ptr<CDlgContactList> window;
};

TEST_F(DirectoryMainWindowTest, AddUserAddsIntoTheGroupOfTheMenuAndInfoOpensOneSheet) {
    const auto other = session::RequestNewAccount(Server());
    protocol::UserProfile profile;
    profile.userId = other.userId;
    profile.password = other.password;
    profile.nickname = "Wizard Find";
    profile.city = "Tromso";
    profile.gender = "0";
    session::ChangeUserInfo(Server(), profile);

    // "Add User..." on the header of the second group ("Work").
    ASSERT_TRUE(Bar().Host().CanOpen(contacts::ContactCommand::UserWizard));
    {
        std::lock_guard lock(window->Session().Locks().list);
        ASSERT_GE(window->ContactList().AddGroup("Work"), 0);
    }
    const int work = window->ContactList().FindGroup("Work");
    Bar().SetMenuTarget(std::nullopt, work);
    bool finished = false;
    AnswerDialog(
        "userWizard",
        [&](QDialog& dialog) {
            auto& wizard = static_cast<CDlgUW&>(dialog);
            wizard.Select()
                .Field(directory::SearchCategory::Id)
                ->setText(QString::fromStdString(other.userId));
            wizard.Select().ExactButton()->setChecked(true);
            wizard.next();
            PumpUntil([&] { return !wizard.Result().Searching(); });
            ASSERT_EQ(wizard.Result().List()->topLevelItemCount(), 1);
            wizard.Result().List()->selectAll();
            wizard.next();
            ASSERT_EQ(wizard.currentId(), CDlgUW::FinishPage);
            wizard.accept();
            finished = true;
        },
        [&] { Bar().AddUser(); });
    ASSERT_TRUE(finished);
    {
        std::lock_guard lock(window->Session().Locks().list);
        const auto position = window->ContactList().FindContact(other.userId);
        ASSERT_TRUE(position.has_value());
        EXPECT_EQ(position->group, work);
        EXPECT_EQ(window->ContactList().Entry(*position)->nickname, "Wizard Find");
    }

    // "Info..." opens the sheet; the profile is fetched because the file never held one.
    auto menu = Bar().BuildContactMenu(other.userId);
    QAction* info = FindAction(*menu, "Info...");
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(info->isEnabled());
    info->trigger();
    CSheetViewUserInfo* sheet = window->Contacts().Directory().Sheet(other.userId);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !sheet->Busy(); }));
    EXPECT_EQ(sheet->windowTitle(), "User Info");
    EXPECT_EQ(sheet->CommPage()->findChild<QLineEdit*>("city")->text(), "Tromso");
    info->trigger();
    EXPECT_EQ(window->Contacts().Directory().Sheet(other.userId), sheet);

    // Another account: the sheet closes.
    window->Contacts().CloseContactWindows();
    QApplication::processEvents();
    EXPECT_EQ(window->Contacts().Directory().Sheet(other.userId), nullptr);
}

TEST_F(DirectoryMainWindowTest, SystemMenuOpensTheOwnProfileAndSavingRenamesTheWindowsOwner) {
    QAction* ownInfo = window->SystemMenu()->findChild<QAction*>("ownInfo");
    ASSERT_NE(ownInfo, nullptr);
    EXPECT_EQ(ownInfo->text(), "View / Change My &Info...");
    ownInfo->trigger();
    CSheetViewUserInfo* sheet = window->Contacts().Directory().Sheet(own.userId);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), "Change My Info");
    sheet->BasicPage()->NicknameField()->setText("Renamed");
    const auto boxes = AnswerBoxes([&] {
        AnswerDialog(
            "inputPassword",
            [&](QDialog& shown) {
                auto& dialog = static_cast<CDlgInputPassword&>(shown);
                EXPECT_EQ(dialog.windowTitle().toStdString(), own.userId + " - Password Required");
                dialog.PasswordField()->setText(QString::fromStdString(own.password));
                dialog.accept();
            },
            [&] { sheet->Save(); });
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Your information has been saved");
    EXPECT_EQ(window->CurrentAccount().nickname, "Renamed");
    EXPECT_EQ(session::GetUserInfo(Server(), own.userId).nickname, "Renamed");
}

}  // namespace
}  // namespace talvorine::client::ui
