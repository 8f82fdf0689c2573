// The main window's rules without a display: the tray picture on each tick, the enabling and
// check marks of the status commands, and the shutdown order.
#include "talvorine/client/ui/shell/shell_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "talvorine/client/ui/shell/shutdown_order.h"

namespace talvorine::client::ui {
namespace {

using protocol::OnlineStatus;
using TP = TrayPicture;

std::vector<std::optional<TP>> Ticks(TrayPictureRule& rule, const TrayInputs& inputs, int count) {
    std::vector<std::optional<TP>> shown;
    for (int i = 0; i < count; ++i) {
        shown.push_back(rule.Tick(inputs));
    }
    return shown;
}

TEST(TrayPictureRule, StatusPictureIsSetOnlyWhenItChanges) {
    TrayPictureRule rule;
    EXPECT_EQ(rule.Tick({}), TP::Offline);
    EXPECT_EQ(rule.Tick({}), std::nullopt);
    EXPECT_EQ(rule.Tick({false, false, false, OnlineStatus::Online}), TP::Online);
    EXPECT_EQ(rule.Tick({false, false, false, OnlineStatus::Away}), TP::Away);
    EXPECT_EQ(rule.Tick({false, false, false, OnlineStatus::NotAvailable}), TP::NotAvailable);
    EXPECT_EQ(rule.Tick({false, false, false, OnlineStatus::NotAvailable}), std::nullopt);
    EXPECT_EQ(rule.Current(), TP::NotAvailable);
}

TEST(TrayPictureRule, ConnectingStepsThroughFourPicturesThenShowsTheStatus) {
    TrayPictureRule rule;
    const TrayInputs connecting{false, false, true, OnlineStatus::Offline};
    EXPECT_EQ(Ticks(rule, connecting, 5),
              (std::vector<std::optional<TP>>{TP::Connecting1, TP::Connecting2, TP::Connecting3,
                                              TP::Connecting4, TP::Connecting1}));
    EXPECT_EQ(rule.Tick({false, false, false, OnlineStatus::Online}), TP::Online);
    // A new attempt starts again at the first picture.
    EXPECT_EQ(rule.Tick(connecting), TP::Connecting1);
}

TEST(TrayPictureRule, UnreadMessagesBlinkOnlyWhileTheWindowIsOutOfSight) {
    TrayPictureRule rule;
    const TrayInputs hiddenUnread{true, true, true, OnlineStatus::Online};
    // Out of sight with something unread: the two message pictures, even while connecting.
    EXPECT_EQ(Ticks(rule, hiddenUnread, 3),
              (std::vector<std::optional<TP>>{TP::Message1, TP::Message2, TP::Message1}));
    // Shown again: the unread messages are visible in the list, the tray shows the status.
    EXPECT_EQ(rule.Tick({false, true, false, OnlineStatus::Online}), TP::Online);
    // Hidden with nothing unread: the status.
    EXPECT_EQ(rule.Tick({true, false, false, OnlineStatus::Online}), std::nullopt);
    EXPECT_EQ(rule.Tick({true, true, false, OnlineStatus::Online}), TP::Message1);
}

TEST(MainMenuState, EnablingAndCheckMarksFollowTheSession) {
    const auto offline = MainMenuState::For({false, false, OnlineStatus::Offline});
    EXPECT_TRUE(offline.connect.enabled);
    EXPECT_FALSE(offline.disconnect.enabled);
    for (const auto& item : {offline.online, offline.away, offline.notAvailable}) {
        EXPECT_EQ(item, (MenuItemState{false, false}));
    }

    const auto connecting = MainMenuState::For({false, true, OnlineStatus::Offline});
    EXPECT_FALSE(connecting.connect.enabled);
    EXPECT_FALSE(connecting.disconnect.enabled);
    EXPECT_FALSE(connecting.online.enabled);

    const auto online = MainMenuState::For({true, false, OnlineStatus::Online});
    EXPECT_FALSE(online.connect.enabled);
    EXPECT_TRUE(online.disconnect.enabled);
    EXPECT_EQ(online.online, (MenuItemState{true, true}));
    EXPECT_EQ(online.away, (MenuItemState{true, false}));
    EXPECT_EQ(online.notAvailable, (MenuItemState{true, false}));

    const auto notAvailable = MainMenuState::For({true, false, OnlineStatus::NotAvailable});
    EXPECT_EQ(notAvailable.online, (MenuItemState{true, false}));
    EXPECT_EQ(notAvailable.notAvailable, (MenuItemState{true, true}));
    const auto away = MainMenuState::For({true, false, OnlineStatus::Away});
    EXPECT_EQ(away.away, (MenuItemState{true, true}));

    EXPECT_EQ(ShowHideText(true), "&Hide Window");
    EXPECT_EQ(ShowHideText(false), "&Show Window");
}

TEST(NetworkFrom, ValuesTheOptionsWouldRefuseFallBackToTheirDefaults) {
    auto settings = data::ClientSettings::Defaults();
    settings.server = "  host.example  ";
    settings.port = 9000;
    settings.connectInterval = 60;
    settings.autoConnect = false;
    auto network = NetworkFrom(settings);
    EXPECT_EQ(network.server, "host.example");
    EXPECT_EQ(network.port, 9000);
    EXPECT_EQ(network.connectInterval, 60);
    EXPECT_FALSE(network.autoConnect);

    for (const int port : {0, -1, 65535, 70000}) {
        settings.port = port;
        EXPECT_EQ(NetworkFrom(settings).port, 8000) << port;
    }
    settings.port = 1;  // the options refuse it, yet it is a port: kept
    EXPECT_EQ(NetworkFrom(settings).port, 1);
    for (const int interval : {0, -5, 4, 3601}) {
        settings.connectInterval = interval;
        EXPECT_EQ(NetworkFrom(settings).connectInterval, 5) << interval;
    }
}

class RecordingSteps : public ShutdownSteps {
public:
    void RememberTrayOnly() override { steps.push_back("tray-only"); }
    void HideAndAnnounce() override { steps.push_back("hide"); }
    void StopTimerAndTray() override { steps.push_back("timer"); }
    bool EndSession() override {
        steps.push_back("session");
        return workersEnd;
    }
    void SaveContactList(bool workersLeftBehind) override {
        steps.push_back(workersLeftBehind ? "save-without-list-lock" : "save");
    }
    void Finish() override { steps.push_back("finish"); }

    bool workersEnd = true;
    std::vector<std::string> steps;
};

TEST(ShutdownOrder, RunsEveryStepOnceInOrder) {
    RecordingSteps steps;
    ShutdownOrder order(steps);
    EXPECT_FALSE(order.Started());
    EXPECT_TRUE(order.Run());
    EXPECT_FALSE(order.Run());  // a second request is ignored
    EXPECT_EQ(steps.steps, (std::vector<std::string>{"tray-only", "hide", "timer", "session",
                                                     "save", "finish"}));
    EXPECT_TRUE(order.Finished());
    EXPECT_FALSE(order.WorkersLeftBehind());
}

TEST(ShutdownOrder, AWorkerLeftRunningStillGetsTheListSavedWithoutItsLock) {
    RecordingSteps steps;
    steps.workersEnd = false;
    ShutdownOrder order(steps);
    EXPECT_TRUE(order.Run());
    EXPECT_EQ(steps.steps, (std::vector<std::string>{"tray-only", "hide", "timer", "session",
                                                     "save-without-list-lock", "finish"}));
    EXPECT_TRUE(order.WorkersLeftBehind());
}

}  // namespace
}  // namespace talvorine::client::ui
