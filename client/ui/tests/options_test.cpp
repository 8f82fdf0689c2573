// The options sheet: the pages' ranges, what a stored value out of range shows, the server
// check on leaving the Network page, the Sounds page's working copy and "&Reset all".

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <filesystem>
#include <fstream>

#include "dialog_test_support.h"
#include "talvorine/client/ui/common/dialog_services.h"
#include "talvorine/client/ui/common/sound_player.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/client/ui/options/option_pages.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using ::talvorine::testing::AnswerBoxes;
using testing::TempClientHome;

class OptionsTest : public ::testing::Test {
protected:
    data::ClientSettings Settings() {
        auto settings = data::ClientSettings::Defaults();
        settings.server = "messenger.example";
        return settings;
    }
    template <class T>
    T* Find(CDlgOptions& sheet, const char* name) {
        auto* found = sheet.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    TempClientHome home;
    SoundPlayer player;
};

TEST_F(OptionsTest, FivePagesInOrderWithTheirRanges) {
    CDlgOptions sheet(Settings(), false, player);
    EXPECT_EQ(sheet.windowTitle(), "Options");
    auto* tabs = Find<QTabWidget>(sheet, "pages");
    ASSERT_EQ(tabs->count(), 5);
    const QStringList titles = {"General", "Network", "Contact List", "Sounds", "File Transfer"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tabs->tabText(i), titles[i]);
    }
    auto* port = Find<QSpinBox>(sheet, "port");
    // Account requests go to port + 1, so the last port is never offered.
    EXPECT_EQ(port->minimum(), 1);
    EXPECT_EQ(port->maximum(), 65534);
    EXPECT_EQ(port->value(), 8000);
    auto* interval = Find<QSpinBox>(sheet, "connectInterval");
    EXPECT_EQ(interval->minimum(), 5);
    EXPECT_EQ(interval->maximum(), 3600);
    auto* mark = Find<QSpinBox>(sheet, "markAsReadInterval");
    EXPECT_EQ(mark->minimum(), 0);
    EXPECT_EQ(mark->maximum(), 3600);
    auto* slider = Find<QSlider>(sheet, "animationTime");
    EXPECT_EQ(slider->minimum(), 100);
    EXPECT_EQ(slider->maximum(), 1000);
    EXPECT_EQ(slider->tickInterval(), 100);
    EXPECT_EQ(Find<QLineEdit>(sheet, "server")->maxLength(), 255);
    EXPECT_EQ(Find<QLineEdit>(sheet, "path")->maxLength(), 255);

    // Number fields follow their boxes.
    auto* markBox = Find<QCheckBox>(sheet, "markAsRead");
    markBox->setChecked(false);
    EXPECT_FALSE(mark->isEnabled());
    Find<QCheckBox>(sheet, "reconnect")->setChecked(false);
    EXPECT_FALSE(interval->isEnabled());
}

TEST_F(OptionsTest, StoredValuesOutOfRangeShowTheDefaults) {
    auto settings = Settings();
    settings.port = 65535;
    settings.connectInterval = 1;
    settings.markAsReadInterval = -3;
    settings.animationTime = 5;
    settings.overwriteMode = static_cast<data::OverwriteMode>(7);
    CDlgOptions sheet(settings, false, player);
    EXPECT_EQ(Find<QSpinBox>(sheet, "port")->value(), 8000);
    EXPECT_EQ(Find<QSpinBox>(sheet, "connectInterval")->value(), 5);
    EXPECT_EQ(Find<QSpinBox>(sheet, "markAsReadInterval")->value(), 1);
    EXPECT_EQ(Find<QSlider>(sheet, "animationTime")->value(), 200);
    EXPECT_TRUE(Find<QRadioButton>(sheet, "rename")->isChecked());
    sheet.accept();
    EXPECT_EQ(sheet.Settings().port, 8000);
    EXPECT_EQ(sheet.Settings().overwriteMode, data::OverwriteMode::Rename);
    // Within the range the stored values are kept, the edges included.
    settings.port = 65534;
    settings.connectInterval = 3600;
    CDlgOptions edges(settings, false, player);
    EXPECT_EQ(Find<QSpinBox>(edges, "port")->value(), 65534);
    EXPECT_EQ(Find<QSpinBox>(edges, "connectInterval")->value(), 3600);
}

TEST_F(OptionsTest, TheNetworkPageIsNotLeftWithoutAServerAndTrimsIt) {
    CDlgOptions sheet(Settings(), false, player);
    auto* tabs = Find<QTabWidget>(sheet, "pages");
    ASSERT_TRUE(sheet.ShowPage(1));
    auto* server = Find<QLineEdit>(sheet, "server");
    server->setText("   ");
    auto boxes = AnswerBoxes([&] { EXPECT_FALSE(sheet.ShowPage(2)); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid server address");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(tabs->currentIndex(), 1);
    boxes = AnswerBoxes([&] { sheet.accept(); });
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(sheet.result(), QDialog::Rejected);

    server->setText("  chat.office.lan \t");
    boxes = AnswerBoxes([&] { sheet.accept(); });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(sheet.Settings().server, "chat.office.lan");
}

TEST_F(OptionsTest, AnUnfinishedNumberIsRefusedWithItsRange) {
    CDlgOptions sheet(Settings(), true, player);
    EXPECT_EQ(sheet.windowTitle(), "Network Settings");
    EXPECT_EQ(Find<QTabWidget>(sheet, "pages")->count(), 1);
    auto* port = Find<QSpinBox>(sheet, "port");
    port->findChild<QLineEdit*>()->setText("");
    const auto boxes = AnswerBoxes([&] { sheet.accept(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter an integer between 1 and 65534.");
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
}

TEST_F(OptionsTest, SoundsKeepEachEventsEntryAndResetAllRestoresTheDefaults) {
    auto settings = Settings();
    CDlgOptions sheet(settings, false, player);
    ASSERT_TRUE(sheet.ShowPage(3));
    auto* events = Find<QListWidget>(sheet, "events");
    auto* play = Find<QCheckBox>(sheet, "playSound");
    auto* file = Find<QLineEdit>(sheet, "soundFile");
    auto* playButton = Find<QPushButton>(sheet, "play");
    ASSERT_EQ(events->count(), 9);
    EXPECT_EQ(events->item(0)->text(), "Startup");
    EXPECT_EQ(events->currentRow(), 0);
    // Startup is off by default: its file field and buttons follow the box.
    EXPECT_FALSE(play->isChecked());
    EXPECT_FALSE(file->isEnabled());
    EXPECT_FALSE(playButton->isEnabled());
    play->setChecked(true);
    EXPECT_TRUE(file->isEnabled());
    EXPECT_TRUE(playButton->isEnabled());
    file->setText("/tmp/start.wav");
    events->setCurrentRow(1);
    EXPECT_TRUE(play->isChecked());
    file->clear();
    EXPECT_FALSE(playButton->isEnabled());
    events->setCurrentRow(0);
    EXPECT_EQ(file->text(), "/tmp/start.wav");
    events->setCurrentRow(1);
    EXPECT_TRUE(file->text().isEmpty());

    Find<QCheckBox>(sheet, "noSound")->setChecked(true);
    sheet.accept();
    EXPECT_TRUE(sheet.Settings().sounds[0].play);
    EXPECT_EQ(sheet.Settings().sounds[0].file, "/tmp/start.wav");
    EXPECT_EQ(sheet.Settings().sounds[1].file, "");
    EXPECT_TRUE(sheet.Settings().noSound);

    CDlgOptions again(sheet.Settings(), false, player);
    again.ShowPage(3);
    again.findChild<CDlgOptionEvents*>()->ResetAll();
    EXPECT_EQ(again.findChild<QLineEdit*>("soundFile")->text().toStdString(),
              data::DefaultSoundEntries()[0].file);
    again.accept();
    EXPECT_EQ(again.Settings().sounds, data::DefaultSoundEntries());
    EXPECT_TRUE(again.Settings().noSound) << "reset restores the nine entries only";
}

TEST_F(OptionsTest, FileTransferBoxesExcludeEachOtherAndEveryPageStoresItsValues) {
    CDlgOptions sheet(Settings(), false, player);
    auto* accept = Find<QCheckBox>(sheet, "autoAccept");
    auto* decline = Find<QCheckBox>(sheet, "autoDecline");
    accept->setChecked(true);
    decline->setChecked(true);
    EXPECT_FALSE(accept->isChecked());
    Find<QRadioButton>(sheet, "promptMe")->setChecked(true);
    Find<QLineEdit>(sheet, "path")->setText("/srv/incoming");
    Find<QCheckBox>(sheet, "useUserName")->setChecked(false);
    Find<QCheckBox>(sheet, "alwaysOnTop")->setChecked(false);
    Find<QCheckBox>(sheet, "autoPopup")->setChecked(true);
    Find<QCheckBox>(sheet, "popupViewer")->setChecked(true);
    Find<QSpinBox>(sheet, "markAsReadInterval")->setValue(3600);
    Find<QSlider>(sheet, "animationTime")->setValue(1000);
    Find<QSpinBox>(sheet, "port")->setValue(9000);
    sheet.accept();
    const auto& s = sheet.Settings();
    EXPECT_EQ(s.acceptMode, data::AcceptMode::Decline);
    EXPECT_EQ(s.overwriteMode, data::OverwriteMode::Ask);
    EXPECT_EQ(s.filePath, "/srv/incoming");
    EXPECT_FALSE(s.useUserName);
    EXPECT_FALSE(s.alwaysOnTop);
    EXPECT_TRUE(s.autoPopup);
    EXPECT_TRUE(s.popupViewer);
    EXPECT_EQ(s.markAsReadInterval, 3600);
    EXPECT_EQ(s.animationTime, 1000u);
    EXPECT_EQ(s.port, 9000);
    EXPECT_EQ(s.server, "messenger.example");
}

// Accepts the file dialog's choice; a dialog that refuses it (with a box, or by staying open)
// fails the test instead of waiting for ever.
void AcceptFileDialog(QFileDialog& dialog) {
    const auto boxes = AnswerBoxes([&] { static_cast<QDialog&>(dialog).accept(); });
    for (const auto& box : boxes) {
        ADD_FAILURE() << "the file dialog said: " << box.text.toStdString();
    }
    if (dialog.isVisible()) {
        ADD_FAILURE() << "the file dialog did not take "
                      << dialog.selectedFiles().join(',').toStdString();
        dialog.reject();
    }
}

TEST_F(OptionsTest, BrowsingPutsTheChosenFileAndFolderIntoTheirFields) {
    CDlgOptions sheet(Settings(), false, player);
    ASSERT_TRUE(sheet.ShowPage(3));
    const auto wav = home.Home() / "chime.wav";
    { std::ofstream(wav) << "RIFF"; }
    Find<QCheckBox>(sheet, "playSound")->setChecked(true);
    testing::WithModal<QFileDialog>([&] { Find<QPushButton>(sheet, "browse")->click(); },
                                    [&](QFileDialog& dialog) {
                                        EXPECT_EQ(dialog.defaultSuffix(), "wav");
                                        EXPECT_EQ(dialog.nameFilters().first(),
                                                  "Sound Files(*.wav)");
                                        dialog.selectFile(QString::fromStdString(wav.string()));
                                        AcceptFileDialog(dialog);
                                    });
    EXPECT_EQ(Find<QLineEdit>(sheet, "soundFile")->text().toStdString(), wav.string());

    ASSERT_TRUE(sheet.ShowPage(4));
    const auto folder = home.Home() / "Incoming";
    std::filesystem::create_directories(folder);
    testing::WithModal<QFileDialog>(
        [&] { Find<QPushButton>(sheet, "browseFolder")->click(); },
        [&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), "Select Default Folder");
            EXPECT_EQ(dialog.labelText(QFileDialog::FileName), "Select a folder:");
            dialog.setDirectory(QString::fromStdString(home.Home().string()));
            dialog.selectFile(QString::fromStdString(folder.string()));
            AcceptFileDialog(dialog);
        });
    EXPECT_EQ(Find<QLineEdit>(sheet, "path")->text().toStdString(), folder.string());
}

TEST_F(OptionsTest, CancelLeavesTheSettingsAsTheyWere) {
    DialogServices services;
    auto settings = Settings();
    const auto before = settings;
    bool accepted = true;
    testing::WithModal<CDlgOptions>(
        [&] { accepted = services.EditOptions(nullptr, settings, false); },
        [](CDlgOptions& sheet) {
            sheet.findChild<QSpinBox*>("port")->setValue(1234);
            sheet.reject();
        });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(settings.port, before.port);
    testing::WithModal<CDlgOptions>(
        [&] { accepted = services.EditOptions(nullptr, settings, true); },
        [](CDlgOptions& sheet) {
            sheet.findChild<QSpinBox*>("port")->setValue(1234);
            sheet.accept();
        });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(settings.port, 1234);
}

}  // namespace
}  // namespace talvorine::client::ui
