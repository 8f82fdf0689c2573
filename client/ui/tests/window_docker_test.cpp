// Docking and effects on a plain window offscreen, and their rules without one.

#include "talvorine/client/ui/contacts/window_docker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/testing/qt_test_support.h"
#include "test_folders.h"

namespace talvorine::client::ui::contacts {
namespace {

using namespace std::chrono_literals;
using data::testing::TempHome;
using talvorine::testing::PumpUntil;

TEST(DockRules, EdgesSnapsSlidesAndTheTwentyPixelRule) {
    EXPECT_EQ(EdgeFromValue(0), DockEdge::Left);
    EXPECT_EQ(EdgeFromValue(2), DockEdge::Right);
    EXPECT_EQ(EdgeFromValue(7), DockEdge::Right);
    const QRect screen(0, 0, 1000, 700);
    EXPECT_EQ(SnapEdge(QRect(8, 100, 200, 300), screen), DockEdge::Left);
    EXPECT_EQ(SnapEdge(QRect(795, 100, 200, 300), screen), DockEdge::Right);
    EXPECT_FALSE(SnapEdge(QRect(11, 100, 200, 300), screen));
    EXPECT_EQ(DockedRect(DockEdge::Right, 120, screen), QRect(880, 0, 120, 700));
    EXPECT_EQ(HiddenRect(DockEdge::Right, QRect(880, 0, 120, 700), screen).left(), 999);
    EXPECT_EQ(HiddenRect(DockEdge::Left, QRect(0, 0, 120, 700), screen).right(), 0);
    EXPECT_EQ(SlidePosition(0, 300, 150ms, 300ms), 150);
    EXPECT_EQ(SlidePosition(0, 300, 400ms, 300ms), 300);
    EXPECT_EQ(UndockedRect({0, 0, 200, 400}, QPoint(500, 300), 24), QRect(400, 288, 200, 400));
    EXPECT_EQ(RestorableRect({980, 680, 1100, 800}, screen), QRect(980, 680, 120, 120));
    EXPECT_FALSE(RestorableRect({981, 100, 1100, 200}, screen)) << "19 pixels wide on screen";
    EXPECT_FALSE(RestorableRect({-500, -500, -100, -100}, screen));
}

class DockerTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        window.setGeometry(200, 150, 180, 300);
        window.show();
        screen = QGuiApplication::primaryScreen()->geometry();
    }
    static void Store(const char* name, std::uint32_t value) {
        data::WindowSettings("Window").SetDword(name, value);
    }
    static std::uint32_t Stored(const char* name) {
        return data::WindowSettings("Window").GetDword(name, 12345);
    }
    QWidget window;
    QRect screen;
    data::ClientSettings settings = data::ClientSettings::Defaults();
};

TEST_F(DockerTest, RestoreDocksSlidesOutAndInAndUndocksWhereTheCursorIs) {
    data::SaveWindowPlacement("Window", {100, 120, 340, 520});
    Store("AppBarMode", 1);
    Store("AppBarEdge", 0);
    Store("AppBarSizeLeft", 150);
    WindowDocker docker(window, settings, WindowDocker::Support::Window);
    docker.Restore();
    ASSERT_TRUE(docker.IsDocked());
    EXPECT_EQ(docker.Edge(), DockEdge::Left);
    EXPECT_EQ(window.frameGeometry(), QRect(screen.left(), screen.top(), 150, screen.height()));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);

    PumpUntil([] { return false; }, 300ms);  // the activation of the shown window comes first
    docker.SlideOut();
    ASSERT_TRUE(PumpUntil([&] { return docker.IsSlidOut(); }, 3s));
    // One pixel stays on the screen (the offscreen platform may shift a frame by its margin).
    EXPECT_GE(window.frameGeometry().right(), screen.left());
    EXPECT_LE(window.frameGeometry().right(), screen.left() + 2);
    docker.SlideIn();
    ASSERT_TRUE(PumpUntil([&] { return !docker.Sliding(); }, 3s));
    EXPECT_EQ(window.frameGeometry().left(), screen.left());
    EXPECT_FALSE(docker.IsSlidOut());

    docker.Undock(QPoint(400, 300));
    EXPECT_FALSE(docker.IsDocked());
    // The frame's corner where the rectangle starts, the client area its size.
    EXPECT_EQ(QRect(window.frameGeometry().topLeft(), window.size()), QRect(280, 288, 240, 400));
    docker.Save();
    EXPECT_EQ(Stored("AppBarMode"), 0u);
    EXPECT_EQ(Stored("AppBarEdge"), 0u);
    EXPECT_EQ(Stored("AppBarSizeLeft"), 150u);
    EXPECT_EQ(Stored("Left"), 280u);
    EXPECT_EQ(Stored("Bottom"), 688u);
}

TEST_F(DockerTest, TurningTaskbarStyleOffUndocksToTheSavedRectangle) {
    data::SaveWindowPlacement("Window", {100, 120, 340, 520});
    Store("AppBarMode", 1);
    WindowDocker docker(window, settings, WindowDocker::Support::Window);
    docker.Restore();
    ASSERT_TRUE(docker.IsDocked());
    EXPECT_EQ(docker.Edge(), DockEdge::Right) << "the default edge";
    settings.taskbarStyle = false;
    docker.ApplySettings(settings);
    EXPECT_FALSE(docker.IsDocked());
    EXPECT_EQ(QRect(window.frameGeometry().topLeft(), window.size()), QRect(100, 120, 240, 400));
}

TEST_F(DockerTest, MovingNearAnEdgeDocksAndOnlyTheInnerSideResizes) {
    WindowDocker docker(window, settings, WindowDocker::Support::Window);
    docker.Restore();
    EXPECT_FALSE(docker.IsDocked());
    window.move(screen.right() - window.width() - 4, 100);
    ASSERT_TRUE(PumpUntil([&] { return docker.IsDocked(); }, 3s));
    EXPECT_EQ(docker.Edge(), DockEdge::Right);
    EXPECT_EQ(window.frameGeometry(),
              QRect(screen.right() - 99, screen.top(), 100, screen.height()));

    const int frameWidth = window.frameGeometry().width() - window.width();
    window.resize(180 - frameWidth, 200);  // dragged wider; top and bottom stay
    EXPECT_EQ(window.frameGeometry(),
              QRect(screen.right() - 179, screen.top(), 180, screen.height()));
    EXPECT_EQ(docker.Values().sizeRight, 180);

    window.move(screen.center());  // dragged away from the edge
    ASSERT_TRUE(PumpUntil([&] { return !docker.IsDocked(); }, 3s));
    EXPECT_EQ(window.size(), QSize(180, 300)) << "the last undocked size";

    settings.taskbarStyle = false;
    docker.ApplySettings(settings);
    window.move(screen.left() + 2, 100);
    PumpUntil([] { return false; }, 600ms);
    EXPECT_FALSE(docker.IsDocked()) << "no docking while TaskbarStyle is off";
    settings.alwaysOnTop = false;
    docker.ApplySettings(settings);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(DockerTest, WithoutDockingTheValuesAreWrittenBackUnchangedAndOffScreenIsRefused) {
    data::SaveWindowPlacement("Window", {-3000, -3000, -2800, -2600});
    Store("AppBarMode", 1);
    Store("AppBarEdge", 9);
    Store("AppBarSizeLeft", 77);
    Store("AppBarSizeRight", 88);
    WindowDocker docker(window, settings, WindowDocker::Support::None);
    docker.Restore();
    EXPECT_FALSE(docker.IsDocked());
    EXPECT_EQ(window.geometry(), QRect(200, 150, 180, 300)) << "off-screen rectangle not applied";
    docker.Save();
    EXPECT_EQ(Stored("AppBarMode"), 1u);
    EXPECT_EQ(Stored("AppBarEdge"), 2u) << "read as right";
    EXPECT_EQ(Stored("AppBarSizeLeft"), 77u);
    EXPECT_EQ(Stored("AppBarSizeRight"), 88u);
    EXPECT_FALSE(docker.StrutSet());

    EXPECT_FALSE(WindowDocker::StartsHidden());
    WindowDocker::SaveHidden(true);
    EXPECT_TRUE(WindowDocker::StartsHidden());
}

TEST(FadeIn, OpacityRisesToOpaqueOverTheAnimationTime) {
    QWidget dialog;
    FadeInWindow(&dialog, FadeSettings{true, true, 200});
    QWidget page(&dialog);
    FadeInPage(&page, FadeSettings{true, true, 100});
    dialog.show();
    EXPECT_LT(dialog.windowOpacity(), 0.5);
    EXPECT_NE(page.graphicsEffect(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return dialog.windowOpacity() >= 1.0; }, 3s));
    ASSERT_TRUE(PumpUntil([&] { return page.graphicsEffect() == nullptr; }, 3s));
}

}  // namespace
}  // namespace talvorine::client::ui::contacts
