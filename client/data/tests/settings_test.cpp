#include "talvorine/client/data/client_settings.h"
#include "talvorine/platform/registry_store.h"
#include "test_folders.h"

namespace talvorine::client::data {
namespace {

using platform::Hive;
using platform::RegistryKey;

class SettingsTest : public testing::TempHome {
protected:
    static void StoreDword(std::string_view section, std::string_view name, std::uint32_t value) {
        RegistryKey::Create(Hive::CurrentUser,
                            std::string("Software\\Talvorine\\Messenger\\") + std::string(section))
            .SetDword(name, value);
    }
    static std::optional<std::uint32_t> StoredDword(std::string_view section,
                                                    std::string_view name) {
        auto key =
            RegistryKey::Open(Hive::CurrentUser, std::string("Software\\Talvorine\\Messenger\\") +
                                                     std::string(section));
        return key ? key->QueryDword(name) : std::nullopt;
    }
};

TEST_F(SettingsTest, NothingStoredGivesEveryDefault) {
    const ClientSettings s = ClientSettings::Load();
    EXPECT_FALSE(s.popupViewer);
    EXPECT_TRUE(s.closeViewerOnReply);
    EXPECT_TRUE(s.minimizeOnSend);
    EXPECT_TRUE(s.markAsRead);
    EXPECT_EQ(s.markAsReadInterval, 1);
    EXPECT_EQ(s.animationTime, 200u);
    EXPECT_EQ(s.server, "");
    EXPECT_EQ(s.port, 8000);
    EXPECT_TRUE(s.autoConnect);
    EXPECT_EQ(s.connectInterval, 5);
    EXPECT_TRUE(s.alwaysOnTop);
    EXPECT_FALSE(s.autoPopup);
    EXPECT_TRUE(s.taskbarStyle);
    EXPECT_TRUE(s.autoHide);
    EXPECT_FALSE(s.noSound);
    EXPECT_EQ(s.acceptMode, AcceptMode::Ask);
    EXPECT_EQ(s.overwriteMode, OverwriteMode::Rename);
    EXPECT_TRUE(s.useUserName);
    EXPECT_EQ(s.filePath, (Home() / "Received Files").string());
    EXPECT_EQ(s.sounds[0], (SoundEntry{false, (Home() / "Sound" / "Startup.wav").string()}));
    EXPECT_EQ(s.sounds[1], (SoundEntry{true, (Home() / "Sound" / "Message.wav").string()}));
    EXPECT_EQ(s.sounds[8], (SoundEntry{false, (Home() / "Sound" / "Shutdown.wav").string()}));
    EXPECT_EQ(s.sounds, s.defaultSounds);
    EXPECT_FALSE(
        std::filesystem::exists(Root() / "registry" / "user.reg"));  // reading never writes
}

TEST_F(SettingsTest, AnimationTimeIsClampedAsUnsigned) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {50, 100},  {5000, 1000}, {static_cast<std::uint32_t>(-50), 1000},
        {100, 100}, {1000, 1000}, {450, 450}};
    for (auto [stored, used] : cases) {
        StoreDword("Settings\\General", "Animation Time", stored);
        EXPECT_EQ(ClientSettings::Load().animationTime, used) << stored;
    }
}

TEST_F(SettingsTest, SavedValuesLoadBackUnderTheirNames) {
    ClientSettings s = ClientSettings::Defaults();
    s.popupViewer = true;
    s.markAsReadInterval = 0;
    s.server = "chat.example.net";
    s.port = 9000;
    s.connectInterval = 60;
    s.autoHide = false;
    s.sounds[3] = {false, "/tmp/other.wav"};
    s.noSound = true;
    s.acceptMode = AcceptMode::Decline;
    s.overwriteMode = OverwriteMode::Ask;
    s.filePath = "/srv/inbox";
    s.Save();

    const ClientSettings loaded = ClientSettings::Load();
    EXPECT_TRUE(loaded.popupViewer);
    EXPECT_EQ(loaded.markAsReadInterval, 0);
    EXPECT_EQ(loaded.server, "chat.example.net");
    EXPECT_EQ(loaded.port, 9000);
    EXPECT_EQ(loaded.connectInterval, 60);
    EXPECT_FALSE(loaded.autoHide);
    EXPECT_EQ(loaded.sounds[3], (SoundEntry{false, "/tmp/other.wav"}));
    EXPECT_EQ(loaded.sounds[4], s.defaultSounds[4]);
    EXPECT_TRUE(loaded.noSound);
    EXPECT_EQ(loaded.acceptMode, AcceptMode::Decline);
    EXPECT_EQ(loaded.overwriteMode, OverwriteMode::Ask);
    EXPECT_EQ(loaded.filePath, "/srv/inbox");

    EXPECT_EQ(StoredDword("Settings\\Network", "Port"), 9000u);
    EXPECT_EQ(StoredDword("Settings\\Sounds\\Chat Request", "PlaySound"), 0u);
    EXPECT_EQ(StoredDword("Settings\\Sounds", "NoSound"), 1u);
    EXPECT_EQ(StoredDword("Settings\\File", "AcceptMode"), 2u);
    EXPECT_EQ(StoredDword("Settings\\General", "Mark as read interval"), 0u);
}

TEST_F(SettingsTest, NoSoundSilencesEveryEvent) {
    ClientSettings s = ClientSettings::Defaults();
    EXPECT_EQ(s.SoundToPlay(SoundEvent::IncomingMessage), std::filesystem::path(s.sounds[1].file));
    EXPECT_FALSE(s.SoundToPlay(SoundEvent::Startup));  // its own flag is off
    EXPECT_FALSE(s.SoundToPlay(64999));
    EXPECT_FALSE(s.SoundToPlay(65009));
    s.noSound = true;
    for (const auto& event : SoundEvents) {
        EXPECT_FALSE(s.SoundToPlay(event.number)) << event.name;
    }
}

TEST_F(SettingsTest, PlacementNeedsTwentyByTwentyPixelsOnScreen) {
    const Rect present{10, 10, 110, 110};
    const int w = 1024;
    const int h = 768;
    EXPECT_EQ(ChoosePlacement({200, 200, 400, 300}, present, w, h), (Rect{200, 200, 400, 300}));
    EXPECT_EQ(ChoosePlacement({2000, 100, 2400, 300}, present, w, h), present);  // wholly off
    EXPECT_EQ(ChoosePlacement({1005, 100, 1400, 300}, present, w, h), present);  // 19 wide
    EXPECT_EQ(ChoosePlacement({1004, 100, 1400, 300}, present, w, h), (Rect{1004, 100, 1400, 300}));
    EXPECT_EQ(ChoosePlacement({-300, -300, 50, -281}, present, w, h), present);  // above the top
    EXPECT_EQ(ChoosePlacement({-300, -300, 20, 20}, present, w, h), (Rect{-300, -300, 20, 20}));
    EXPECT_EQ(ChoosePlacement({500, 500, 400, 400}, present, w, h), present);  // inverted

    EXPECT_EQ(RestoreWindowPlacement(WindowSection::ChatHistory, present, w, h), present);
    SaveWindowPlacement(WindowSection::ChatHistory, {-40, 30, 300, 400});
    EXPECT_EQ(RestoreWindowPlacement(WindowSection::ChatHistory, present, w, h),
              (Rect{-40, 30, 300, 400}));
    SaveWindowPlacement(WindowSection::ChatHistory, {-400, 30, 10, 400});
    EXPECT_EQ(RestoreWindowPlacement(WindowSection::ChatHistory, present, w, h), present);
}

TEST_F(SettingsTest, WindowValuesHaveTheirDefaults) {
    EXPECT_EQ(WindowSettings(WindowSection::Window).GetDword("AppBarEdge"), 2u);
    EXPECT_EQ(WindowSettings(WindowSection::FileTransferHistory).GetDword("Col6"), 120u);
    EXPECT_EQ(WindowSettings(WindowSection::ShutDown).GetDword("Prompt"), 1u);
    EXPECT_EQ(WindowSettings(WindowSection::SendMessage).GetDword("Prompt"), 0u);
    EXPECT_EQ(WindowValueDefault("chathistory", "COL4"), 70u);
    EXPECT_FALSE(WindowValueDefault("ChatHistory", "Col9"));
    EXPECT_EQ(WindowSettings::AwayText(), "I've received your message. I will return shortly.");

    WindowSettings send(WindowSection::SendMessage);
    EXPECT_TRUE(send.GetBool("Word Wrap"));
    send.SetBool("Word Wrap", false);
    EXPECT_FALSE(send.GetBool("Word Wrap"));
    EXPECT_EQ(StoredDword("SendMessage", "Word Wrap"), 0u);
    WindowSettings::SetAwayText("Out for lunch");
    EXPECT_EQ(WindowSettings::AwayText(), "Out for lunch");
}

TEST_F(SettingsTest, ServerTextIsTrimmed) {
    EXPECT_EQ(TrimServerAddress("  host.lan \t"), "host.lan");
    EXPECT_FALSE(TrimServerAddress("   "));
    EXPECT_FALSE(TrimServerAddress(""));
}

}  // namespace
}  // namespace talvorine::client::data
