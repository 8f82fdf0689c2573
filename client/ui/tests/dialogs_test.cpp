// Away Mode, Shut Down, login account selection, the password rules, help, sounds and the
// shipped data, offscreen with temporary client and registry folders.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QUrl>
#include <fstream>

#include "dialog_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/accounts/account_texts.h"
#include "talvorine/client/ui/accounts/dlg_aw.h"
#include "talvorine/client/ui/accounts/dlg_change_password.h"
#include "talvorine/client/ui/accounts/dlg_select_account.h"
#include "talvorine/client/ui/common/dialog_services.h"
#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/shipped_data.h"
#include "talvorine/client/ui/common/sound_player.h"
#include "talvorine/client/ui/options/dlg_away_mode.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/client/ui/options/dlg_shut_down.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

namespace fs = std::filesystem;
using ::talvorine::testing::AnswerBoxes;
using testing::TempClientHome;
using testing::WithModal;

class DialogsTest : public ::testing::Test {
protected:
    TempClientHome home;
};

// ---- what every dialog shares

TEST_F(DialogsTest, EveryInputControlCarriesItsLabelAsItsAccessibleName) {
    SoundPlayer player;
    auto settings = data::ClientSettings::Defaults();
    data::CurrentAccount current;
    CDlgOptions options(settings, false, player);
    CDlgAW wizard(settings, current, player);
    CDlgChangePassword password(settings, current);
    CDlgSelectAccount select(current);
    CDlgAwayMode away;
    for (QWidget* dialog :
         std::initializer_list<QWidget*>{&options, &wizard, &password, &select, &away}) {
        for (QWidget* control : dialog->findChildren<QWidget*>()) {
            const bool input = qobject_cast<QLineEdit*>(control) != nullptr ||
                               qobject_cast<QAbstractSpinBox*>(control) != nullptr ||
                               qobject_cast<QComboBox*>(control) != nullptr ||
                               qobject_cast<QSlider*>(control) != nullptr;
            // The line edit inside a spin box is named through its box.
            if (input && qobject_cast<QAbstractSpinBox*>(control->parentWidget()) == nullptr) {
                EXPECT_FALSE(control->accessibleName().isEmpty())
                    << dialog->objectName().toStdString() << " "
                    << control->objectName().toStdString();
            }
        }
    }
}

TEST_F(DialogsTest, PagesFadeInWhenShownAndDrawNormallyAfterwards) {
    QWidget page;
    FadeInPage(&page, {true, true, 100});
    QWidget plain;
    FadeInPage(&plain, {true, false, 100});
    page.show();
    plain.show();
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(page.graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_LT(effect->opacity(), 1.0);
    EXPECT_EQ(plain.graphicsEffect(), nullptr) << "page animation off: no fading";
    EXPECT_TRUE(::talvorine::testing::PumpUntil([&] { return page.graphicsEffect() == nullptr; }));
}

TEST_F(DialogsTest, FieldLimitsCountTheBytesTheirFieldsHold) {
    data::CurrentAccount current;
    CDlgSelectAccount dialog(current);
    auto* password = dialog.findChild<QLineEdit*>("password");
    // Typed one key at a time: "é" is two bytes, so eight fill the 16-byte field.
    for (int i = 0; i < 10; ++i) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0xE9)));
        QApplication::sendEvent(password, &key);
    }
    EXPECT_EQ(password->text(), QString(8, QChar(0xE9)));
    password->clear();
    for (int i = 0; i < 20; ++i) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(password, &key);
    }
    EXPECT_EQ(password->text(), QString(16, 'x'));
}

// ---- Away Mode

TEST(AwayCountdownTest, ShowsTenToOneThenConfirms) {
    AwayCountdown countdown(true);
    for (int expected = 10; expected >= 1; --expected) {
        EXPECT_EQ(countdown.Tick(), expected);
        EXPECT_TRUE(countdown.Running());
    }
    EXPECT_EQ(countdown.Tick(), std::nullopt);
    EXPECT_FALSE(countdown.Running());
}

TEST_F(DialogsTest, AwayModeCountsDownAndConfirmsItselfWithTheStoredText) {
    data::WindowSettings::SetAwayText("Back after lunch");
    CDlgAwayMode dialog;
    dialog.show();
    QApplication::processEvents();
    auto* ok = dialog.findChild<QPushButton*>("ok");
    auto* text = dialog.findChild<QLineEdit*>("awayText");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(text->text(), "Back after lunch");
    EXPECT_TRUE(dialog.CountdownRunning()) << "showing the dialog must not stop the countdown";
    text->setText("Gone fishing");
    for (int shown = 10; shown >= 1; --shown) {
        dialog.Tick();
        EXPECT_EQ(ok->text(), QString("OK in %1 seconds").arg(shown));
        EXPECT_TRUE(dialog.isVisible());
    }
    dialog.Tick();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(data::WindowSettings::AwayText(), "Gone fishing");
}

TEST_F(DialogsTest, AwayModeStopsWhenTheTextGetsTheFocusAndCancelKeepsTheText) {
    data::WindowSettings::SetAwayText("Away");
    CDlgAwayMode dialog;
    dialog.show();
    auto* ok = dialog.findChild<QPushButton*>("ok");
    auto* text = dialog.findChild<QLineEdit*>("awayText");
    dialog.Tick();
    dialog.Tick();
    EXPECT_EQ(ok->text(), "OK in 9 seconds");
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(text, &focusIn);
    EXPECT_FALSE(dialog.CountdownRunning());
    EXPECT_EQ(ok->text(), "OK");
    for (int i = 0; i < 12; ++i) {
        dialog.Tick();
    }
    EXPECT_TRUE(dialog.isVisible()) << "a stopped countdown never confirms";
    text->setText("changed");
    dialog.reject();
    EXPECT_EQ(data::WindowSettings::AwayText(), "Away");
}

TEST_F(DialogsTest, AwayModeWithoutTextHasNoCountdownAndLongTextsAreCut) {
    data::WindowSettings::SetAwayText("");
    CDlgAwayMode dialog;
    EXPECT_FALSE(dialog.CountdownRunning());
    dialog.Tick();
    EXPECT_EQ(dialog.findChild<QPushButton*>("ok")->text(), "OK");
    auto* text = dialog.findChild<QLineEdit*>("awayText");
    text->setText(QString(300, 'x'));
    dialog.accept();
    EXPECT_EQ(data::WindowSettings::AwayText(), std::string(255, 'x'));
}

TEST_F(DialogsTest, AwayModeAsTheMainWindowOpensItConfirmsItselfUntouched) {
    data::WindowSettings::SetAwayText("In a meeting");
    DialogServices services;
    bool confirmed = false;
    bool runningWhenShown = false;
    WithModal<CDlgAwayMode>([&] { confirmed = services.ConfirmAwayMode(nullptr); },
                            [&](CDlgAwayMode& dialog) {
                                // Activated and focused as a person would see it.
                                runningWhenShown = dialog.CountdownRunning();
                                for (int second = 0; second <= 10; ++second) {
                                    dialog.Tick();
                                }
                            });
    EXPECT_TRUE(runningWhenShown);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(data::WindowSettings::AwayText(), "In a meeting");
}

// ---- Shut Down ?

TEST_F(DialogsTest, ShutDownWritesTheInverseOfItsBoxWhicheverButtonClosesIt) {
    DialogServices services;
    const data::WindowSettings shutDown(data::WindowSection::ShutDown);
    struct Case {
        bool tick;
        bool ok;
    };
    for (const Case c :
         {Case{true, true}, Case{false, false}, Case{true, false}, Case{false, true}}) {
        bool answer = !c.ok;
        WithModal<CDlgShutDown>(
            [&] { answer = services.ConfirmShutDown(nullptr); },
            [&](CDlgShutDown& dialog) {
                dialog.findChild<QCheckBox*>("dontShow")->setChecked(c.tick);
                auto* buttons = dialog.findChild<QDialogButtonBox*>();
                buttons->button(c.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
            });
        EXPECT_EQ(answer, c.ok);
        EXPECT_EQ(shutDown.GetDword("Prompt", 7), c.tick ? 0u : 1u)
            << "tick " << c.tick << " ok " << c.ok;
    }
}

// ---- Select Login Account

protocol::UserProfile Profile(const std::string& id, const std::string& nickname) {
    protocol::UserProfile profile;
    profile.userId = id;
    profile.nickname = nickname;
    profile.gender = "0";
    return profile;
}

TEST_F(DialogsTest, SelectAccountFillsRememberedPasswordsAndWritesTheChoice) {
    ASSERT_TRUE(data::WriteProfile("10000001", Profile("10000001", "Alice")));
    ASSERT_TRUE(data::WriteProfile("10000002", Profile("10000002", "Bob")));
    ASSERT_TRUE(data::SavePassword("10000001", "alicepw"));
    data::CurrentAccount current{"10000001", "", ""};
    CDlgSelectAccount dialog(current);
    auto* account = dialog.findChild<QComboBox*>("account");
    auto* password = dialog.findChild<QLineEdit*>("password");
    auto* save = dialog.findChild<QCheckBox*>("savePassword");
    ASSERT_EQ(account->count(), 2);
    EXPECT_EQ(account->currentText(), "Alice (10000001)");
    EXPECT_EQ(password->text(), "alicepw");
    EXPECT_TRUE(save->isChecked());
    EXPECT_EQ(password->maxLength(), 16);

    account->setCurrentIndex(account->findText("Bob (10000002)"));
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_FALSE(save->isChecked());
    auto boxes = AnswerBoxes([&] { dialog.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please input the correct password");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    password->setText("bobpw");
    save->setChecked(false);
    boxes = AnswerBoxes([&] { dialog.accept(); });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(data::GetCurrentId(), "10000002");
    EXPECT_EQ(current.userId, "10000002");
    EXPECT_EQ(current.password, "bobpw");
    // Not remembered: the stored value deciphers to an empty, not valid, password.
    EXPECT_EQ(data::LoadPassword("10000002"), std::optional<std::string>(""));
    EXPECT_EQ(data::RememberedPassword("10000002"), std::nullopt);

    // Remembered on the next choice with the box ticked.
    CDlgSelectAccount again(current);
    again.findChild<QLineEdit*>("password")->setText("bobpw2");
    again.findChild<QCheckBox*>("savePassword")->setChecked(true);
    again.accept();
    EXPECT_EQ(data::RememberedPassword("10000002"), std::optional<std::string>("bobpw2"));
}

TEST_F(DialogsTest, SelectAccountWithoutAccountsAsksForOne) {
    data::CurrentAccount current;
    CDlgSelectAccount dialog(current);
    dialog.findChild<QLineEdit*>("password")->setText("whatever");
    const auto boxes = AnswerBoxes([&] { dialog.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please select an account");
    EXPECT_EQ(data::GetCurrentId(), "");
}

// ---- password rules

TEST(PasswordRulesTest, ChangePasswordChecksInTheirOrder) {
    using F = PasswordField;
    const struct {
        const char *oldPw, *newPw, *confirm;
        std::string_view text;
        F focus;
    } cases[] = {
        {"", "", "x", "You must provide old password.", F::Old},
        {"old", "", "", "Please type new password.", F::New},
        {"old", "a b", "x", "Password can not include space character", F::New},
        {"old", "ab", "ac", "Confirm password does not match", F::Confirm},
        {"old", "ab", "ab", "", F::None},
    };
    for (const auto& c : cases) {
        const auto problem = CheckPasswordChange(c.oldPw, c.newPw, c.confirm);
        EXPECT_EQ(problem.text, c.text) << c.oldPw << "/" << c.newPw << "/" << c.confirm;
        EXPECT_EQ(problem.focus, c.focus);
    }
    EXPECT_EQ(CheckChosenPassword("", "").text, "You must select a password.");
    EXPECT_EQ(CheckChosenPassword(" ", "x").text, "Password can not include space character");
    EXPECT_EQ(CheckChosenPassword("ab", "a").text, "Confirm password does not match");
    EXPECT_TRUE(CheckChosenPassword("16characterslong", "16characterslong").Ok());
}

TEST(PasswordRulesTest, TheCreatedAccountNoticeTellsIdAndPassword) {
    const auto initial = CreatedAccountNotice("10000042", "10000042", false);
    EXPECT_NE(initial.find("10000042 (the ID itself)"), std::string::npos) << initial;
    EXPECT_NE(initial.find("Import an existing ID"), std::string::npos);
    const auto chosen = CreatedAccountNotice("10000042", "secret", true);
    EXPECT_EQ(chosen.find("secret"), std::string::npos) << "a chosen password is never shown";
}

TEST(PasswordRulesTest, AccountRequestsNeverGoToAWrappedPort) {
    auto settings = data::ClientSettings::Defaults();
    settings.server = "host";
    for (const auto& [stored, used] : {std::pair{5000, 5000},
                                       {1, 1},
                                       {65534, 65534},
                                       {65535, 8000},
                                       {0, 8000},
                                       {70000, 8000},
                                       {-1, 8000}}) {
        settings.port = stored;
        const auto server = AccountServerOf(settings);
        EXPECT_EQ(server.port, used) << stored;
        EXPECT_EQ(server.server, "host");
    }
}

// ---- help

// Takes the place of the desktop's browser for file addresses while it lives.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
    std::vector<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

TEST(HelpTest, EveryTopicHasAPageAndIsOpenedInTheBrowser) {
    UrlCatcher catcher;
    for (std::string_view topic : {HelpTopic::Index,
                                   HelpTopic::WizardSelect,
                                   HelpTopic::AccountInfo,
                                   HelpTopic::SelectPassword,
                                   HelpTopic::AwayMode,
                                   HelpTopic::ChatRequest,
                                   HelpTopic::Chat,
                                   HelpTopic::ChatHistory,
                                   HelpTopic::ChatDetails,
                                   HelpTopic::CustomizeIcons,
                                   HelpTopic::SendFile,
                                   HelpTopic::ReceiveFile,
                                   HelpTopic::FileHistory,
                                   HelpTopic::OptionsGeneral,
                                   HelpTopic::OptionsNetwork,
                                   HelpTopic::OptionsContactList,
                                   HelpTopic::OptionsSounds,
                                   HelpTopic::OptionsFileTransfer,
                                   HelpTopic::SearchCondition,
                                   HelpTopic::SearchResult,
                                   HelpTopic::SelectAccount,
                                   HelpTopic::SendMessage,
                                   HelpTopic::Messages}) {
        const auto page = HelpTopicFile(topic);
        ASSERT_TRUE(page.has_value()) << topic;
        std::ifstream in(*page);
        const std::string html((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(html.find("<title>"), std::string::npos) << topic;
        const auto boxes = AnswerBoxes([&] { EXPECT_TRUE(OpenHelp(nullptr, topic)); });
        EXPECT_TRUE(boxes.empty()) << topic;
    }
    ASSERT_EQ(catcher.opened.size(), 23u);
    EXPECT_TRUE(catcher.opened[0].toLocalFile().endsWith("/index.htm"));
}

TEST(HelpTest, AMissingPageOrAForeignPathShowsTheFailureText) {
    UrlCatcher catcher;
    EXPECT_EQ(HelpTopicFile("../data.cmake"), std::nullopt);
    EXPECT_EQ(HelpTopicFile("/etc/passwd"), std::nullopt);
    for (const char* topic : {"nosuchpage.htm", "../data.cmake"}) {
        const auto boxes = AnswerBoxes([&] { EXPECT_FALSE(OpenHelp(nullptr, topic)); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text.toStdString(), HelpFailedText);
        EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
    }
    EXPECT_TRUE(catcher.opened.empty());
}

TEST(HelpTest, WithoutABrowserTheFailureTextIsShown) {
    // No handler and no program on the search path that could open a page.
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    TempClientHome empty;
    ::setenv("PATH", empty.Path().c_str(), 1);
    ::unsetenv("BROWSER");
    const auto boxes = AnswerBoxes([&] { EXPECT_FALSE(OpenHelp(nullptr, HelpTopic::AwayMode)); });
    ::setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), HelpFailedText);
}

TEST(HelpTest, InstalledDataIsFoundBesideTheProgramBeforeTheBuildTree) {
    TempClientHome tree;
    const fs::path prefix = tree.Path() / "usr";
    fs::create_directories(prefix / "bin");
    EXPECT_EQ(ShippedDataFolder("help", prefix / "bin")->filename(), "help")
        << "without an installation the build tree's pages are used";
    EXPECT_NE(ShippedDataFolder("help", prefix / "bin")->string().find(TALVORINE_SOURCE_TREE),
              std::string::npos);
    fs::create_directories(prefix / "share" / "talvorine-messenger" / "help");
    EXPECT_EQ(ShippedDataFolder("help", prefix / "bin"),
              fs::weakly_canonical(prefix / "share" / "talvorine-messenger" / "help"));
    EXPECT_EQ(ShippedDataFolder("nothing", prefix / "bin"), std::nullopt);
}

TEST_F(DialogsTest, F1OpensTheTopicOfTheShownDialogOrPage) {
    UrlCatcher catcher;
    SoundPlayer player;
    auto settings = data::ClientSettings::Defaults();
    settings.server = "host";
    data::CurrentAccount current;
    const auto pressF1 = [](QWidget* target) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(target, &key);
    };
    CDlgOptions options(settings, false, player);
    ASSERT_TRUE(options.ShowPage(3));
    pressF1(options.findChild<QWidget*>("events"));
    CDlgAW wizard(settings, current, player);
    wizard.show();
    pressF1(wizard.findChild<QWidget*>("applyNew"));
    CDlgAwayMode away;
    pressF1(away.findChild<QWidget*>("awayText"));
    ASSERT_EQ(catcher.opened.size(), 3u);
    EXPECT_TRUE(catcher.opened[0].toLocalFile().endsWith("/soundsdialog.htm"));
    EXPECT_TRUE(catcher.opened[1].toLocalFile().endsWith("/applynewiddialog.htm"));
    EXPECT_TRUE(catcher.opened[2].toLocalFile().endsWith("/awaymodedialog.htm"));
}

// ---- sounds and shipped data

TEST_F(DialogsTest, ShippedSoundsAreCopiedWhereTheDefaultsPointWithoutTouchingTheUsers) {
    const fs::path soundFolder = home.Home() / "Sound";
    fs::create_directories(soundFolder);
    { std::ofstream(soundFolder / "Message.wav") << "the user's own"; }
    const auto result = CopyShippedSounds();
    EXPECT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(result.copied, 8);
    for (const auto& entry : data::DefaultSoundEntries()) {
        EXPECT_TRUE(fs::is_regular_file(entry.file)) << entry.file;
    }
    std::ifstream mine(soundFolder / "Message.wav");
    std::string kept;
    std::getline(mine, kept);
    EXPECT_EQ(kept, "the user's own");
    // A RIFF/WAVE file of real length, writable by its owner.
    std::ifstream wav(soundFolder / "Startup.wav", std::ios::binary);
    char head[12] = {};
    wav.read(head, 12);
    EXPECT_EQ(std::string(head, 4), "RIFF");
    EXPECT_EQ(std::string(head + 8, 4), "WAVE");
    EXPECT_GT(fs::file_size(soundFolder / "Startup.wav"), 10000u);
    EXPECT_NE(fs::status(soundFolder / "Startup.wav").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_EQ(CopyShippedSounds().copied, 0) << "a second start copies nothing";
}

TEST_F(DialogsTest, MissingFoldersAndFilesMeanSilenceNeverAFailure) {
    const auto result = CopyMissingFiles(home.Path() / "nothing-here", home.Home() / "Sound");
    EXPECT_EQ(result.copied, 0);
    EXPECT_FALSE(result.error.empty());

    SoundPlayer player;
    EXPECT_FALSE(player.Play(home.Home() / "Sound" / "Startup.wav"));
    auto settings = data::ClientSettings::Defaults();
    EXPECT_FALSE(player.PlayEvent(settings, data::SoundEvent::IncomingMessage));
    EXPECT_FALSE(player.PlayEvent(settings, 12345));

    ASSERT_TRUE(CopyShippedSounds().error.empty());
    EXPECT_TRUE(player.PlayEvent(settings, data::SoundEvent::IncomingMessage));
    EXPECT_EQ(player.LastStarted(), settings.sounds[1].file);
    EXPECT_FALSE(player.PlayEvent(settings, data::SoundEvent::Startup)) << "off by default";
    settings.noSound = true;
    EXPECT_FALSE(player.PlayEvent(settings, data::SoundEvent::IncomingMessage));
    // Through the services, as the main window plays them: no box, no crash.
    DialogServices services;
    const auto boxes =
        AnswerBoxes([&] { services.PlayEventSound(settings, data::SoundEvent::MessageSent); });
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace talvorine::client::ui

#include "dialogs_test.moc"
