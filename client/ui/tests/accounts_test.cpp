// The account wizard and "Change Password" against the real server on loopback: new and
// imported accounts, every check and text of the pages, a server that is down, and what is
// written on Finish.

#include "talvorine/client/data/accounts.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "dialog_test_support.h"
#include "server_harness.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/accounts/dlg_aw.h"
#include "talvorine/client/ui/accounts/dlg_change_password.h"
#include "talvorine/client/ui/common/sound_player.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using server::testing::ServerHarness;
using ::talvorine::testing::AnswerBoxes;
using ::talvorine::testing::CaughtBox;
using testing::TempClientHome;

class AccountsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
    }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override {
        settings = data::ClientSettings::Defaults();
        settings.server = "127.0.0.1";
        settings.port = s_server->Port();
    }
    session::AccountServer Server() const { return {"127.0.0.1", s_server->Port()}; }

    // Presses Next (or Finish on the last page) and answers every box with `answer`.
    std::vector<CaughtBox> Next(CDlgAW& wizard,
                                QMessageBox::StandardButton answer = QMessageBox::Ok) {
        return AnswerBoxes(
            [&] {
                if (wizard.currentId() == CDlgAW::FinishPage) {
                    wizard.button(QWizard::FinishButton)->click();
                } else {
                    wizard.next();
                }
            },
            answer);
    }
    template <class T>
    T* Find(QWidget& parent, const char* name) {
        auto* found = parent.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Shows the wizard with "&Import an existing ID" chosen and the id and password typed.
    void Import(CDlgAW& wizard, const std::string& id, const char* password) {
        wizard.show();
        Find<QRadioButton>(wizard, "importExisting")->setChecked(true);
        auto* page = wizard.page(CDlgAW::SelectPage);
        Find<QLineEdit>(*page, "id")->setText(QString::fromStdString(id));
        Find<QLineEdit>(*page, "password")->setText(password);
    }
    // Types the chosen password twice on the Select Password page.
    void ChoosePassword(CDlgAW& wizard, const char* password) {
        auto* page = wizard.page(CDlgAW::PasswordPage);
        Find<QLineEdit>(*page, "password")->setText(password);
        Find<QLineEdit>(*page, "confirm")->setText(password);
    }
    // An account on the server with a full profile and the password `password`.
    protocol::UserProfile MakeServerAccount(const std::string& password) {
        const auto made = session::RequestNewAccount(Server());
        protocol::UserProfile profile;
        profile.userId = made.userId;
        profile.password = made.password;
        profile.nickname = "Carol";
        profile.realName = "Carol Example";
        profile.gender = "2";
        profile.email = "carol@example.org";
        profile.city = "Oslo";
        profile.phone = "+47 555 0100";
        session::ChangeUserInfo(Server(), profile);
        session::ChangePassword(Server(), made.userId, made.password, password);
        profile.password = password;
        return profile;
    }

    static inline std::unique_ptr<ServerHarness> s_server;
    TempClientHome home;
    SoundPlayer player;
    data::ClientSettings settings;
    data::CurrentAccount current;
};

TEST_F(AccountsTest, ANewIdThroughEveryPageWithTheirChecksAndWhatFinishWrites) {
    CDlgAW wizard(settings, current, player);
    wizard.show();
    EXPECT_EQ(wizard.windowTitle(), "Account Wizard");
    EXPECT_TRUE(Find<QRadioButton>(wizard, "applyNew")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>(wizard, "id")->isEnabled());
    auto boxes = Next(wizard);
    ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    ASSERT_EQ(wizard.currentId(), CDlgAW::InfoPage);
    const std::string id = wizard.State().userId;
    EXPECT_TRUE(data::IsValidId(id)) << id;
    EXPECT_EQ(Find<QLabel>(wizard, "yourId")->text().toStdString(), id);
    EXPECT_FALSE(wizard.button(QWizard::BackButton)->isEnabled())
        << "a new id cannot be taken back";

    auto* nickname = Find<QLineEdit>(wizard, "nickname");
    EXPECT_EQ(nickname->maxLength(), 64);
    nickname->setText("   ");
    boxes = Next(wizard);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please specify a nickname.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(wizard.currentId(), CDlgAW::InfoPage);
    nickname->setText("  Alice ");
    Find<QLineEdit>(wizard, "email")->setText("alice@example.org");
    Find<QComboBox>(wizard, "gender")->setCurrentIndex(2);
    boxes = Next(wizard);
    ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    ASSERT_EQ(wizard.currentId(), CDlgAW::PasswordPage);

    // The page's own fields (the Select page has a "password" too).
    auto* passwordPage = wizard.page(CDlgAW::PasswordPage);
    auto* password = Find<QLineEdit>(*passwordPage, "password");
    auto* confirm = Find<QLineEdit>(*passwordPage, "confirm");
    const struct {
        const char *typed, *again, *text;
    } refused[] = {
        {"", "", "You must select a password."},
        {"two words", "two words", "Password can not include space character"},
        {"secret1", "secret2", "Confirm password does not match"},
    };
    for (const auto& r : refused) {
        password->setText(r.typed);
        confirm->setText(r.again);
        boxes = Next(wizard);
        ASSERT_EQ(boxes.size(), 1u) << r.text;
        EXPECT_EQ(boxes[0].text, r.text);
        EXPECT_EQ(wizard.currentId(), CDlgAW::PasswordPage);
    }
    password->setText("secret1");
    confirm->setText("secret1");
    boxes = Next(wizard);
    ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    ASSERT_EQ(wizard.currentId(), CDlgAW::FinishPage);
    EXPECT_EQ(Find<QLabel>(wizard, "finishText")->text(),
              "Succeed! Please click \"Finish\" to save the account information.");
    EXPECT_FALSE(std::filesystem::exists(data::ProfileFile(id)))
        << "nothing is written before Finish";

    boxes = Next(wizard);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_EQ(current.userId, id);
    EXPECT_EQ(current.password, "secret1");
    EXPECT_EQ(current.nickname, "Alice");
    EXPECT_EQ(data::GetCurrentId(), id);
    EXPECT_EQ(data::RememberedPassword(id), std::optional<std::string>("secret1"));
    const auto stored = data::ReadProfile(id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->nickname, "Alice");
    EXPECT_EQ(stored->email, "alice@example.org");
    EXPECT_EQ(stored->gender, "2");
    // The server holds the chosen password and the profile.
    const auto onServer = session::ImportAccount(Server(), id, "secret1");
    EXPECT_EQ(onServer.nickname, "Alice");
}

TEST_F(AccountsTest, ImportNeedsBothFieldsAndAWrongPasswordKeepsThePage) {
    const auto carol = MakeServerAccount("carolpw");
    CDlgAW wizard(settings, current, player);
    wizard.show();
    Find<QRadioButton>(wizard, "importExisting")->setChecked(true);
    auto* page = wizard.page(CDlgAW::SelectPage);
    auto* id = Find<QLineEdit>(*page, "id");
    auto* password = Find<QLineEdit>(*page, "password");
    EXPECT_TRUE(id->isEnabled());
    EXPECT_EQ(id->maxLength(), 8);
    EXPECT_EQ(password->maxLength(), 16);
    EXPECT_FALSE(page->isComplete());
    id->setText(QString::fromStdString(carol.userId));
    EXPECT_FALSE(page->isComplete());
    password->setText("wrong");
    EXPECT_TRUE(page->isComplete());
    auto boxes = Next(wizard);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), protocol::ReplyText::FailedToImportAccount);
    EXPECT_EQ(wizard.currentId(), CDlgAW::SelectPage);
    EXPECT_TRUE(wizard.isEnabled());
    EXPECT_TRUE(data::ListAccounts().empty());
}

TEST_F(AccountsTest, AnImportKeepsTheProfileFieldsTheWizardDoesNotShow) {
    const auto carol = MakeServerAccount("carolpw");
    CDlgAW wizard(settings, current, player);
    Import(wizard, carol.userId, "carolpw");
    auto boxes = Next(wizard);
    ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    ASSERT_EQ(wizard.currentId(), CDlgAW::InfoPage);
    EXPECT_TRUE(wizard.button(QWizard::BackButton)->isEnabled());
    EXPECT_EQ(Find<QLineEdit>(wizard, "nickname")->text(), "Carol");
    EXPECT_EQ(Find<QLineEdit>(wizard, "realName")->text(), "Carol Example");
    EXPECT_EQ(Find<QComboBox>(wizard, "gender")->currentIndex(), 2);
    Find<QLineEdit>(wizard, "nickname")->setText("Caro");
    ASSERT_TRUE(Next(wizard).empty());
    ChoosePassword(wizard, "newcarol");
    ASSERT_TRUE(Next(wizard).empty());
    ASSERT_TRUE(Next(wizard).empty());
    EXPECT_EQ(wizard.result(), QDialog::Accepted);

    const auto onServer = session::ImportAccount(Server(), carol.userId, "newcarol");
    EXPECT_EQ(onServer.nickname, "Caro");
    EXPECT_EQ(onServer.city, "Oslo");
    EXPECT_EQ(onServer.phone, "+47 555 0100");
    const auto stored = data::ReadProfile(carol.userId);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->city, "Oslo");
    EXPECT_EQ(stored->nickname, "Caro");
}

TEST_F(AccountsTest, AServerThatIsDownIsReportedAndThePageStays) {
    settings.port = server::testing::FindFreePortPair();
    CDlgAW wizard(settings, current, player);
    wizard.show();
    const auto boxes = Next(wizard);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.indexOf("connection refused"), -1) << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(wizard.currentId(), CDlgAW::SelectPage);
    EXPECT_TRUE(wizard.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(AccountsTest, CancellingAfterANewIdTellsTheIdAndItsPassword) {
    CDlgAW wizard(settings, current, player);
    wizard.show();
    ASSERT_TRUE(Next(wizard).empty());
    const std::string id = wizard.State().userId;
    ASSERT_EQ(wizard.State().password, id) << "the server's initial password is the id";
    const auto boxes = AnswerBoxes([&] { wizard.reject(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    EXPECT_NE(boxes[0].text.indexOf(QString::fromStdString(id + " (the ID itself)")), -1)
        << boxes[0].text.toStdString();
    EXPECT_EQ(wizard.result(), QDialog::Rejected);
    EXPECT_TRUE(data::ListAccounts().empty());
    EXPECT_EQ(data::GetCurrentId(), "");
}

TEST_F(AccountsTest, CancelOnTheFinishPageAsksFirst) {
    const auto carol = MakeServerAccount("carolpw");
    CDlgAW wizard(settings, current, player);
    Import(wizard, carol.userId, "carolpw");
    ASSERT_TRUE(Next(wizard).empty());
    ASSERT_TRUE(Next(wizard).empty());
    ChoosePassword(wizard, "carolpw");
    ASSERT_TRUE(Next(wizard).empty());
    ASSERT_EQ(wizard.currentId(), CDlgAW::FinishPage);
    auto boxes = AnswerBoxes([&] { wizard.reject(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The account information hasn't been saved. Continue to quit?");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(wizard.isVisible());
    boxes = AnswerBoxes([&] { wizard.reject(); }, QMessageBox::Yes);
    EXPECT_EQ(boxes.size(), 1u) << "an import made nothing new to tell about";
    EXPECT_FALSE(wizard.isVisible());
    EXPECT_TRUE(data::ListAccounts().empty());
}

TEST_F(AccountsTest, AFinishThatCannotWriteSaysWhyAndKeepsTheWizardOpen) {
    const auto carol = MakeServerAccount("carolpw");
    CDlgAW wizard(settings, current, player);
    Import(wizard, carol.userId, "carolpw");
    ASSERT_TRUE(Next(wizard).empty());
    ASSERT_TRUE(Next(wizard).empty());
    ChoosePassword(wizard, "carolpw");
    ASSERT_TRUE(Next(wizard).empty());
    ASSERT_EQ(wizard.currentId(), CDlgAW::FinishPage);
    // A file where the accounts' folder belongs.
    { std::ofstream(home.Home() / "Users") << "in the way"; }
    auto boxes = Next(wizard);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Failed to save account information:\n"))
        << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].text.mid(36), QString::fromUtf8(std::strerror(ENOTDIR)))
        << "the system's reason follows, never \"Success\"";
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_EQ(data::GetCurrentId(), "");
    EXPECT_TRUE(current.userId.empty());
    std::filesystem::remove(home.Home() / "Users");
    boxes = Next(wizard);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_EQ(data::GetCurrentId(), carol.userId);
}

TEST_F(AccountsTest, ChangePasswordChecksThenAsksTheServerAndFollowsTheRememberedOne) {
    const auto carol = MakeServerAccount("carolpw");
    ASSERT_TRUE(data::SavePassword(carol.userId, "carolpw"));
    current = {carol.userId, "carolpw", "Carol"};
    CDlgChangePassword dialog(settings, current);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Change Password");
    auto* oldPw = Find<QLineEdit>(dialog, "oldPassword");
    auto* newPw = Find<QLineEdit>(dialog, "newPassword");
    auto* confirm = Find<QLineEdit>(dialog, "confirm");
    EXPECT_EQ(newPw->maxLength(), 16);

    newPw->setText("a b");
    auto boxes = AnswerBoxes([&] { dialog.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You must provide old password.");
    oldPw->setText("wrongpw");
    boxes = AnswerBoxes([&] { dialog.accept(); });
    EXPECT_EQ(boxes.at(0).text, "Password can not include space character");
    newPw->setText("fresh");
    confirm->setText("frosh");
    boxes = AnswerBoxes([&] { dialog.accept(); });
    EXPECT_EQ(boxes.at(0).text, "Confirm password does not match");
    confirm->setText("fresh");
    boxes = AnswerBoxes([&] { dialog.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), protocol::ReplyText::FailedToChangePassword);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(current.password, "carolpw");
    EXPECT_TRUE(dialog.isVisible());

    oldPw->setText("carolpw");
    boxes = AnswerBoxes([&] { dialog.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Your password has been changed");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(current.password, "fresh");
    EXPECT_EQ(data::RememberedPassword(carol.userId), std::optional<std::string>("fresh"));
    EXPECT_NO_THROW(session::ImportAccount(Server(), carol.userId, "fresh"));

    // Not remembered: the registry is left alone.
    ASSERT_TRUE(data::SavePassword(carol.userId, ""));
    CDlgChangePassword again(settings, current);
    again.findChild<QLineEdit*>("oldPassword")->setText("fresh");
    again.findChild<QLineEdit*>("newPassword")->setText("fresher");
    again.findChild<QLineEdit*>("confirm")->setText("fresher");
    boxes = AnswerBoxes([&] { again.accept(); });
    EXPECT_EQ(boxes.at(0).text, "Your password has been changed");
    EXPECT_EQ(current.password, "fresher");
    EXPECT_EQ(data::LoadPassword(carol.userId), std::optional<std::string>(""));
}

// A peer on the account port that takes the connection and hangs up after a while without
// answering, as a server busy with something else would.
class SlowPeer {
public:
    explicit SlowPeer(std::uint16_t accountPort) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(accountPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listener, 1) == 0;
        m_thread = std::thread([this] {
            const int peer = ::accept(m_listener, nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            if (peer >= 0) {
                ::close(peer);
            }
        });
    }
    ~SlowPeer() {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    bool Ok() const { return m_ok; }

private:
    int m_listener = -1;
    bool m_ok = false;
    std::thread m_thread;
};

TEST_F(AccountsTest, TheWindowKeepsDrawingUnderTheWaitCursorWhileARequestRuns) {
    const std::uint16_t port = server::testing::FindFreePortPair();
    SlowPeer peer(static_cast<std::uint16_t>(port + 1));
    ASSERT_TRUE(peer.Ok());
    settings.port = port;
    CDlgAW wizard(settings, current, player);
    wizard.show();
    int ticks = 0;
    bool disabledMeanwhile = false;
    bool waitCursorMeanwhile = false;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        disabledMeanwhile = disabledMeanwhile || !wizard.isEnabled();
        waitCursorMeanwhile =
            waitCursorMeanwhile || (QApplication::overrideCursor() != nullptr &&
                                    QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    });
    timer.start();
    const auto boxes = Next(wizard);
    timer.stop();
    EXPECT_GT(ticks, 5) << "the window thread served its queue during the request";
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(waitCursorMeanwhile);
    ASSERT_EQ(boxes.size(), 1u) << "a peer that hangs up is a failure, shown";
    EXPECT_EQ(wizard.currentId(), CDlgAW::SelectPage);
    EXPECT_TRUE(wizard.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(AccountsTest, NetworkSettingsFromTheFirstPageAreUsedAndKept) {
    settings.server = "no-such-host.invalid";
    CDlgAW wizard(settings, current, player);
    wizard.show();
    testing::WithModal<CDlgOptions>(
        [&] { Find<QPushButton>(wizard, "network")->click(); },
        [&](CDlgOptions& sheet) {
            EXPECT_EQ(sheet.windowTitle(), "Network Settings");
            sheet.findChild<QLineEdit*>("server")->setText(" 127.0.0.1 ");
            sheet.findChild<QSpinBox*>("port")->setValue(s_server->Port());
            sheet.accept();
        });
    EXPECT_EQ(settings.server, "127.0.0.1");
    EXPECT_EQ(settings.port, s_server->Port());
    const auto boxes = Next(wizard);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(wizard.currentId(), CDlgAW::InfoPage);
}

}  // namespace
}  // namespace talvorine::client::ui
