// The sheet and its pages offscreen, on the real server's SQLite data source and a temporary
// registry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "talvorine/testing/qt_test_support.h"
#include "server_harness.h"
#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/data_source.h"
#include "talvorine/admin/ui/page_log_file.h"
#include "talvorine/admin/ui/page_server.h"
#include "talvorine/admin/ui/page_users.h"
#include "talvorine/admin/ui/server_property_sheet.h"
#include "talvorine/admin/ui/sheet_user_information.h"
#include "talvorine/platform/registry_store.h"

namespace talvorine::admin::ui {
namespace {

namespace fs = std::filesystem;
using talvorine::testing::AnswerBoxes;
using server::testing::ServerHarness;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_server.RunSetup(), 0) << m_server.SetupOutput();
        auto add = [&](const char* id, const char* nick, const char* real, int online,
                       int disabled) {
            m_server.Execute(std::string("INSERT INTO USERS (ID, Password, Nickname, RealName, "
                                         "Email, Online, Disabled, Address) VALUES ('") +
                             id + "', 'pw', '" + nick + "', '" + real + "', '" + nick +
                             "@example.org', " + std::to_string(online) + ", " +
                             std::to_string(disabled) + ", '1 Main St')");
        };
        add("00000001", "anna", "Anna Berg", 1, 0);
        add("00000002", "bob", "Annabel Lee", 0, 0);
        add("00000003", "carol", "Carol King", 1, 1);
        add("00000004", "dan", "", 0, 0);
        add("00000005", "eve", "Eve", 0, 0);
        ASSERT_TRUE(m_directory.Open(m_server.DataSourceName())) << m_directory.LastError();
    }

    // Searches by id with an empty text: every user, in table order.
    void ListEveryone(CPropertyPageUsers& page) {
        page.findChild<QRadioButton*>()->setChecked(true);
        page.findChild<QLineEdit*>("searchId")->clear();
        page.Search();
    }
    static void Select(CPropertyPageUsers& page, int row) {
        page.List()->setCurrentItem(page.List()->topLevelItem(row));
    }
    static QPushButton* Button(QWidget& page, const char* name) {
        return page.findChild<QPushButton*>(name);
    }

    ServerHarness m_server;
    UserDirectory m_directory;
    std::vector<QUrl> m_opened;
    Opener m_opener = [this](const QUrl& url) {
        m_opened.push_back(url);
        return true;
    };
};

TEST_F(WindowsTest, SearchListsRowsWithStatusAndTotal) {
    CPropertyPageUsers page(m_directory, m_opener);
    QTreeWidget* list = page.List();
    EXPECT_EQ(list->headerItem()->text(1), "Nick Name");
    EXPECT_EQ(list->columnWidth(0), page.DefaultColumnWidth());
    EXPECT_FALSE(Button(page, "detail")->isEnabled());

    ListEveryone(page);
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(page.findChild<QLabel*>("statusLine")->text(), "Total 5 users");
    EXPECT_EQ(list->topLevelItem(2)->text(2), "Carol King");
    EXPECT_EQ(list->topLevelItem(2)->text(5), "Disable");
    EXPECT_EQ(list->topLevelItem(0)->text(5), "Enable");

    // By name, online only: "Annabel Lee" is offline.
    auto radios = page.findChildren<QRadioButton*>();
    radios[1]->setChecked(true);
    EXPECT_FALSE(page.findChild<QLineEdit*>("searchId")->isEnabled());
    EXPECT_TRUE(page.findChild<QLineEdit*>("searchName")->isEnabled());
    page.findChild<QLineEdit*>("searchName")->setText("anna");
    page.findChild<QCheckBox*>("onlineOnly")->setChecked(true);
    page.Search();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "00000001");
    page.findChild<QCheckBox*>("onlineOnly")->setChecked(false);
    page.Search();
    EXPECT_EQ(list->topLevelItemCount(), 2);

    // Enter in the search text searches (and does not reach the sheet's OK).
    page.findChild<QLineEdit*>("searchName")->setText("x' or '1'='1");
    QKeyEvent enter(QEvent::KeyPress, ::Qt::Key_Return, ::Qt::NoModifier);
    QApplication::sendEvent(page.findChild<QLineEdit*>("searchName"), &enter);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(page.findChild<QLabel*>("statusLine")->text(), "Total 0 users");
    EXPECT_EQ(m_server.Query("SELECT COUNT(*) FROM USERS")[0][0], "5");
}

TEST_F(WindowsTest, EnableAndDisableToggleRowAndButton) {
    CPropertyPageUsers page(m_directory, m_opener);
    ListEveryone(page);
    QPushButton* toggle = Button(page, "enableDisable");
    Select(page, 2);  // carol, disabled
    EXPECT_TRUE(toggle->isEnabled());
    EXPECT_EQ(toggle->text(), "Enable");
    page.ToggleDisabled();
    EXPECT_EQ(page.List()->topLevelItem(2)->text(5), "Enable");
    EXPECT_EQ(toggle->text(), "Disable");
    EXPECT_EQ(m_server.Query("SELECT Disabled FROM USERS WHERE ID = '00000003'")[0][0], "0");
    page.ToggleDisabled();
    EXPECT_EQ(page.List()->topLevelItem(2)->text(5), "Disable");
    EXPECT_EQ(toggle->text(), "Enable");
    EXPECT_EQ(m_server.Query("SELECT Disabled FROM USERS WHERE ID = '00000003'")[0][0], "1");
}

TEST_F(WindowsTest, ARefusedChangeShowsTheDatabaseTextAndKeepsTheRow) {
    CPropertyPageUsers page(m_directory, m_opener);
    ListEveryone(page);
    m_server.Execute(
        "CREATE TRIGGER frozen BEFORE UPDATE ON USERS BEGIN SELECT RAISE(ABORT, 'accounts are "
        "frozen'); END");
    m_server.Execute(
        "CREATE TRIGGER kept BEFORE DELETE ON USERS BEGIN SELECT RAISE(ABORT, 'accounts are "
        "frozen'); END");
    Select(page, 0);
    auto boxes = AnswerBoxes([&] { page.ToggleDisabled(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("accounts are frozen")) << boxes[0].text.toStdString();
    EXPECT_EQ(page.List()->topLevelItem(0)->text(5), "Enable");
    EXPECT_EQ(Button(page, "enableDisable")->text(), "Disable");

    boxes = AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Ok);
    ASSERT_EQ(boxes.size(), 2u);  // the question, then the refusal
    EXPECT_TRUE(boxes[1].text.contains("accounts are frozen"));
    EXPECT_EQ(page.List()->topLevelItemCount(), 5);
}

TEST_F(WindowsTest, DeleteNamesTheIdAndSelectsTheRowThatTakesItsPlace) {
    CPropertyPageUsers page(m_directory, m_opener);
    ListEveryone(page);
    Select(page, 3);  // dan, no real name
    auto boxes = AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Cancel);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete user ' (00000004)'?");
    EXPECT_EQ(page.List()->topLevelItemCount(), 5);

    boxes = AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Ok);
    EXPECT_EQ(page.List()->topLevelItemCount(), 4);
    EXPECT_EQ(page.List()->currentItem()->text(0), "00000005");  // the same position
    EXPECT_TRUE(page.List()->currentItem()->isSelected());

    Select(page, 3);  // eve, the last row
    boxes = AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Ok);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete user 'Eve (00000005)'?");
    EXPECT_EQ(page.List()->currentItem()->text(0), "00000003");  // the new last row
    EXPECT_EQ(m_server.Query("SELECT COUNT(*) FROM USERS")[0][0], "3");
}

TEST_F(WindowsTest, NoSelectionAndTheDatabaseErrorInTheFirstCell) {
    CPropertyPageUsers page(m_directory, m_opener);
    for (auto command : {&CPropertyPageUsers::ToggleDisabled, &CPropertyPageUsers::DeleteSelected,
                         &CPropertyPageUsers::ShowDetail}) {
        auto boxes = AnswerBoxes([&] { (page.*command)(); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Please select a user firstly!");
    }
    m_server.Execute("ALTER TABLE USERS RENAME TO USERS_AWAY");
    ListEveryone(page);
    ASSERT_EQ(page.List()->topLevelItemCount(), 1);
    EXPECT_TRUE(page.List()->topLevelItem(0)->text(0).contains("USERS"))
        << page.List()->topLevelItem(0)->text(0).toStdString();
}

TEST_F(WindowsTest, DetailShowsTheAdminsInformationSheet) {
    CPropertyPageUsers page(m_directory, m_opener);
    ListEveryone(page);
    Select(page, 0);
    QString caption, address;
    QStringList labels, tabs;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* sheet = qobject_cast<CSheetUserInformation*>(QApplication::activeModalWidget());
        if (sheet == nullptr) {
            return;
        }
        caption = sheet->windowTitle();
        for (int i = 0; i < sheet->Pages()->count(); ++i) {
            tabs << sheet->Pages()->tabText(i);
        }
        for (QLabel* label : sheet->findChildren<QLabel*>()) {
            labels << label->text();
        }
        address = sheet->findChild<QLineEdit*>("address")->text();
        sheet->reject();
    });
    timer.start();
    page.ShowDetail();
    timer.stop();
    EXPECT_EQ(caption, "User Information");
    EXPECT_EQ(tabs, (QStringList{"Basic", "Communication", "More"}));
    EXPECT_TRUE(labels.contains("Street &Addr:"));
    EXPECT_TRUE(labels.contains("&Mobile:"));
    EXPECT_TRUE(labels.contains("&Beep pager:"));
    EXPECT_EQ(address, "1 Main St");
}

TEST_F(WindowsTest, CancelWritesNothingAndOkWritesTheEighteenValues) {
    fs::path machine = m_server.RegistryFolder() / "machine.reg";
    auto read = [&] {
        std::ifstream in(machine);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    std::string before = read();
    {
        CServerPropertySheet sheet(ServerSettings::Load(), m_directory, m_opener);
        sheet.findChild<QLineEdit*>("port")->setText("9001");
        sheet.findChild<QListWidget*>("events")->item(3)->setCheckState(::Qt::Checked);
        sheet.reject();
    }
    EXPECT_EQ(read(), before);

    CServerPropertySheet sheet(ServerSettings::Load(), m_directory, m_opener);
    sheet.findChild<QLineEdit*>("port")->setText("65535");
    auto boxes = AnswerBoxes([&] { sheet.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Q(PortRangeText));
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    sheet.findChild<QLineEdit*>("port")->setText("9001");
    sheet.findChild<QLineEdit*>("olderThanDays")->setText("0");
    boxes = AnswerBoxes([&] { sheet.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Q(OlderThanDaysText));
    EXPECT_EQ(read(), before);

    sheet.findChild<QLineEdit*>("olderThanDays")->setText("7");
    sheet.findChild<QLineEdit*>("dataSourceName")->setText(Q(m_server.DataSourceName()));
    sheet.findChild<QListWidget*>("events")->item(3)->setCheckState(::Qt::Checked);
    sheet.UsersPage()->List()->setColumnWidth(2, 123);
    boxes = AnswerBoxes([&] { sheet.accept(); });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    platform::RegistryStore store = platform::RegistryStore::ForHive(platform::Hive::LocalMachine);
    EXPECT_EQ(store.ValueNames(ServerSettingsKey).size(), 2u);
    EXPECT_EQ(store.ValueNames(LogSettingsKey).size(), 16u);
    ServerSettings saved = ServerSettings::Load();
    EXPECT_EQ(saved.port, 9001u);
    EXPECT_EQ(saved.log[OlderThanDays], 7u);
    EXPECT_EQ(saved.log[FirstEvent + 3], 1u);
    EXPECT_EQ(LoadColumnWidths({1, 1, 1, 1, 1, 1})[2], 123);
}

TEST_F(WindowsTest, ASettingsFileThatCannotBeWrittenKeepsTheSheetOpen) {
    fs::path machine = m_server.RegistryFolder() / "machine.reg";
    CServerPropertySheet sheet(ServerSettings::Load(), m_directory, m_opener);
    fs::remove(machine);
    fs::create_directories(machine);  // nobody can replace a folder with the hive file
    auto boxes = AnswerBoxes([&] { sheet.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Failed to save the server settings:"));
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    fs::remove(machine);
}

TEST_F(WindowsTest, DataSourceDialogWithoutTheInstallerLibrary) {
    CPropertyPageServer page(ServerSettings::Load());
    page.SetInstallerLibrary("libodbcinst-missing.so.9");
    auto boxes = AnswerBoxes([&] { page.EditDataSource(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Q(OdbcInstallerErrorText));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
}

TEST_F(WindowsTest, DataSourceDialogWritesThroughTheInstallerLibrary) {
    fs::path ini = m_server.Root() / "edited-odbc.ini";
    std::ofstream(ini) << "[Edited Source]\nDriver=SQLite3\nDatabase=/srv/old.db\nTimeout=5000\n";
    std::string saved = std::getenv("ODBCINI");
    ::setenv("ODBCINI", ini.c_str(), 1);
    CPropertyPageServer page(ServerSettings::Load());
    page.findChild<QLineEdit*>("dataSourceName")->setText("Edited Source");
    QString shownDatabase;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || dialog->windowTitle() != "ODBC Data Source") {
            return;
        }
        auto* database = dialog->findChild<QLineEdit*>("database");
        shownDatabase = database->text();
        database->setText("/srv/new.db");
        dialog->findChild<QLineEdit*>("name")->setText("Edited Source");
        dialog->accept();
    });
    timer.start();
    page.EditDataSource();
    timer.stop();
    ::setenv("ODBCINI", saved.c_str(), 1);
    EXPECT_EQ(shownDatabase, "/srv/old.db");
    std::ifstream in(ini);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Database=/srv/new.db"), std::string::npos) << text;
    EXPECT_NE(text.find("Timeout=5000"), std::string::npos) << text;
    EXPECT_EQ(page.findChild<QLineEdit*>("dataSourceName")->text(), "Edited Source");
}

TEST_F(WindowsTest, HelpOpensThePagesTopic) {
    CServerPropertySheet sheet(ServerSettings::Load(), m_directory, m_opener);
    sheet.Pages()->setCurrentIndex(2);
    sheet.ShowHelp();
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_TRUE(m_opened[0].toLocalFile().endsWith("/logconfiguration.htm"));
    EXPECT_TRUE(fs::exists(m_opened[0].toLocalFile().toStdString()));
    Opener failing = [](const QUrl&) { return false; };
    CServerPropertySheet broken(ServerSettings::Load(), m_directory, failing);
    auto boxes = AnswerBoxes([&] { broken.ShowHelp(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("The help file was not found"));
}

TEST_F(WindowsTest, LogPageViewsAndDeletesAndSaysWhenAFileWentAway) {
    fs::path log = m_server.ServerFolder() / "Log";
    fs::create_directories(log);
    std::ofstream(log / "2026-12-01 10-00-00.txt") << "a";
    std::ofstream(log / "2026-12-02 10-00-00.txt") << "b";
    CPropertyPageLogFile page(ServerSettings::Load(), m_opener);
    auto* files = page.findChild<QComboBox*>("logFiles");
    ASSERT_EQ(files->count(), 2);
    auto boxes = AnswerBoxes([&] { page.View(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please select a log file!");

    files->setCurrentIndex(files->findText("2026-12-01 10-00-00"));
    page.View();
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0].toLocalFile().toStdString(), (log / "2026-12-01 10-00-00.txt").string());

    fs::remove(log / "2026-12-01 10-00-00.txt");
    boxes = AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Ok);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete this log file?");
    EXPECT_EQ(boxes[1].text, "This file does not exist or is open for normal I/O.");

    files->setCurrentIndex(files->findText("2026-12-02 10-00-00"));
    AnswerBoxes([&] { page.DeleteSelected(); }, QMessageBox::Ok);
    EXPECT_FALSE(fs::exists(log / "2026-12-02 10-00-00.txt"));
    EXPECT_EQ(files->findText("2026-12-02 10-00-00"), -1);
}

TEST_F(WindowsTest, ServerPageStartsAndStopsTheConsoleServer) {
    platform::RegistryKey::Create(platform::Hive::LocalMachine, ServerSettingsKey)
        .SetDword("Port", m_server.Port());
    platform::RegistryKey::Create(platform::Hive::LocalMachine, ProgramPathKey)
        .SetString("Path", fs::path(SERVER_PROGRAM).parent_path().string());
    CPropertyPageServer page(ServerSettings::Load());
    auto* status = page.findChild<QLabel*>("status");
    auto* button = page.findChild<QPushButton*>("startStop");
    EXPECT_EQ(status->text(), Q(StoppedText));
    EXPECT_EQ(button->text(), "Start");
    EXPECT_FALSE(page.findChild<QLineEdit*>("serverAddress")->text().isEmpty());

    auto boxes = AnswerBoxes([&] { page.StartOrStop(); });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(status->text(), Q(RunningText));
    EXPECT_EQ(button->text(), "Stop");
    EXPECT_EQ(page.findChild<QProgressBar*>("progress")->value(), 0);

    boxes = AnswerBoxes([&] { page.StartOrStop(); });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(status->text(), Q(StoppedText));
    EXPECT_EQ(button->text(), "Start");
}

TEST_F(WindowsTest, AServerThatCannotStartIsAnOperationFailure) {
    platform::RegistryKey::Create(platform::Hive::LocalMachine, ProgramPathKey)
        .SetString("Path", (m_server.Root() / "no-server-here").string());
    CPropertyPageServer page(ServerSettings::Load());
    auto boxes = AnswerBoxes([&] { page.StartOrStop(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Service operation failure!");
    EXPECT_EQ(page.findChild<QPushButton*>("startStop")->text(), "Start");
}

}  // namespace
}  // namespace talvorine::admin::ui

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
