// Users' pictures against the real server: own pictures uploaded through "Customize Icons" and
// downloaded by a contact byte for byte; a contact without pictures reported picture by picture.

#include <gtest/gtest.h>

#include <memory>

#include "icons_test_support.h"
#include "server_harness.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/icons/dlg_customize_icons.h"
#include "talvorine/client/ui/icons/picture_windows.h"
#include "talvorine/testing/qt_test_support.h"
#include "test_folders.h"

namespace talvorine::client::ui::icons {
namespace {

namespace fs = std::filesystem;
using server::testing::ServerHarness;
using talvorine::testing::AnswerBoxes;
using testing::MakeBitmap;

class IconsEndToEnd : public data::testing::TempHome {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
    }
    static void TearDownTestSuite() { s_server.reset(); }
    static session::AccountServer Server() { return {"127.0.0.1", s_server->Port()}; }
    static protocol::AccountCredentials NewAccount() {
        return session::RequestNewAccount(Server());
    }
    fs::path IconsOf(const std::string& account) const {
        return Home() / "Users" / account / "Icons";
    }

    static inline std::unique_ptr<ServerHarness> s_server;
};

TEST_F(IconsEndToEnd, OnlyTheChosenAwayPictureIsUploadedAndAContactDownloadsItUnchanged) {
    const auto alice = NewAccount();
    const auto bob = NewAccount();
    const auto away = MakeBitmap(32, 32, 8, 0x5A);
    const fs::path file = Root() / "away.bmp";
    WriteBytes(file, away);

    CustomizeTarget target;
    target.mode = CustomizeTarget::Mode::Upload;
    target.accountId = alice.userId;
    target.ownerId = alice.userId;
    target.password = alice.password;
    target.server = Server();
    bool showPreview = false;
    CDlgCustomizeIcons dialog(target, Root(), showPreview, nullptr);
    ASSERT_TRUE(dialog.Choose(1, QString::fromStdString(file.string())));
    const auto boxes = AnswerBoxes([&] { dialog.Update(); });
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    const fs::path onServer = s_server->ServerFolder() / "Icons";
    EXPECT_EQ(ReadBytes(onServer / (alice.userId + "-2.bmp")), away);
    EXPECT_FALSE(fs::exists(onServer / (alice.userId + "-1.bmp")));
    EXPECT_FALSE(fs::exists(onServer / (alice.userId + "-3.bmp")));
    EXPECT_EQ(ReadBytes(IconsOf(alice.userId) / (alice.userId + "-2.bmp")), away)
        << "the own copy in the account's folder";

    PictureDownload download;
    const auto report = AnswerBoxes([&] {
        download = UpdateUserPictures(nullptr, Server(), bob.userId, alice.userId, "Alice",
                                      FailureReport::Show);
    });
    EXPECT_TRUE(download.fatal.empty()) << download.fatal;
    const fs::path bobsCopy = IconsOf(bob.userId) / (alice.userId + "-2.bmp");
    EXPECT_EQ(ReadBytes(bobsCopy), away);
    EXPECT_FALSE(fs::exists(IconsOf(bob.userId) / (alice.userId + "-1.bmp")));
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].text.toStdString(),
              "The following icons can not be updated:\n\n'Normal' icon: Customized icon not "
              "found\n'NA' icon: Customized icon not found");

    // A wrong password is the server's refusal, shown with the file's name.
    target.password = "wrong";
    CDlgCustomizeIcons refused(target, Root(), showPreview, nullptr);
    ASSERT_TRUE(refused.Choose(0, QString::fromStdString(file.string())));
    const auto refusal = AnswerBoxes([&] { refused.Update(); });
    ASSERT_EQ(refusal.size(), 1u);
    EXPECT_EQ(refusal[0].text.toStdString(), "Failed to send file away.bmp:\nAuthorization failed");
    EXPECT_NE(refused.result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists(onServer / (alice.userId + "-1.bmp")));
}

TEST_F(IconsEndToEnd, AContactWithoutPicturesIsReportedFromTheMenuAndSilentFromTheWizard) {
    const auto alice = NewAccount();
    const auto carol = NewAccount();
    const auto shown = AnswerBoxes([&] {
        UpdateUserPictures(nullptr, Server(), alice.userId, carol.userId, "Carol",
                           FailureReport::Show);
    });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text.toStdString(),
              "The following icons can not be updated:\n\n'Normal' icon: Customized icon not "
              "found\n'Away' icon: Customized icon not found\n'NA' icon: Customized icon not "
              "found");
    PictureDownload download;
    const auto silent = AnswerBoxes([&] {
        download = UpdateUserPictures(nullptr, Server(), alice.userId, carol.userId, "Carol",
                                      FailureReport::Silent);
    });
    EXPECT_TRUE(silent.empty());
    EXPECT_TRUE(download.AnyFailure());
    EXPECT_TRUE(fs::is_empty(IconsOf(alice.userId)));
}

}  // namespace
}  // namespace talvorine::client::ui::icons
