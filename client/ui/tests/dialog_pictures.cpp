// Pictures of every dialog and page, offscreen, in build/<preset>/dialog-pictures/*.png, for
// a person to look at: texts not cut, nothing overlapping, sensible sizes.

#include <gtest/gtest.h>

#include <QImage>
#include <QTabWidget>
#include <filesystem>

#include "dialog_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/ui/accounts/dlg_aw.h"
#include "talvorine/client/ui/accounts/dlg_change_password.h"
#include "talvorine/client/ui/accounts/dlg_select_account.h"
#include "talvorine/client/ui/common/sound_player.h"
#include "talvorine/client/ui/options/dlg_about.h"
#include "talvorine/client/ui/options/dlg_away_mode.h"
#include "talvorine/client/ui/options/dlg_options.h"
#include "talvorine/client/ui/options/dlg_shut_down.h"

namespace talvorine::client::ui {
namespace {

class DialogPictures : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(DIALOG_PICTURES_DIR);
        settings = data::ClientSettings::Defaults();
        settings.server = "messenger.office.lan";
        // A fading window would be caught half drawn.
        settings.windowAnimation = false;
        settings.propertyPageAnimation = false;
    }
    // Shows the window at its natural size, saves it, and checks that it was drawn.
    void Save(QWidget& window, const std::string& name) {
        window.show();
        window.adjustSize();
        QApplication::processEvents();
        const QImage image = window.grab().toImage();
        const auto file = std::filesystem::path(DIALOG_PICTURES_DIR) / (name + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file.string()))) << file;
        EXPECT_GE(image.width(), 150) << name;
        EXPECT_GE(image.height(), 80) << name;
        EXPECT_LE(image.width(), 900) << name;
        EXPECT_LE(image.height(), 700) << name;
        // The window's own minimum must fit: nothing squeezed below what its layout needs.
        EXPECT_GE(window.width(), window.minimumSizeHint().width()) << name;
        EXPECT_GE(window.height(), window.minimumSizeHint().height()) << name;
    }

    testing::TempClientHome home;
    SoundPlayer player;
    data::ClientSettings settings;
    data::CurrentAccount current;
};

TEST_F(DialogPictures, Options) {
    CDlgOptions sheet(settings, false, player);
    auto* tabs = sheet.findChild<QTabWidget*>("pages");
    const char* names[] = {"general", "network", "contact-list", "sounds", "file-transfer"};
    for (int i = 0; i < tabs->count(); ++i) {
        ASSERT_TRUE(sheet.ShowPage(i));
        Save(sheet, std::string("options-") + names[i]);
    }
    CDlgOptions network(settings, true, player);
    Save(network, "network-settings");
}

TEST_F(DialogPictures, Accounts) {
    protocol::UserProfile profile;
    profile.userId = "10000001";
    profile.nickname = "Alice";
    ASSERT_TRUE(data::WriteProfile("10000001", profile));
    ASSERT_TRUE(data::SavePassword("10000001", "secret"));
    current.userId = "10000001";
    CDlgSelectAccount select(current);
    Save(select, "select-login-account");
    CDlgChangePassword change(settings, current);
    Save(change, "change-password");

    const char* names[] = {"wizard-select", "wizard-account-info", "wizard-select-password",
                           "wizard-finish"};
    for (int id = CDlgAW::SelectPage; id <= CDlgAW::FinishPage; ++id) {
        CDlgAW wizard(settings, current, player);
        wizard.State().userId = "10000002";
        wizard.State().profile.nickname = "Bob";
        wizard.setStartId(id);
        wizard.restart();
        Save(wizard, names[id]);
    }
}

TEST_F(DialogPictures, SmallDialogs) {
    CDlgAwayMode away;
    Save(away, "away-mode");
    away.Tick();
    Save(away, "away-mode-counting");
    CDlgShutDown shutDown;
    Save(shutDown, "shut-down");
    CDlgAbout about;
    Save(about, "about");
}

}  // namespace
}  // namespace talvorine::client::ui
