#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <memory>

#include "mirror/ui/GlassShellOverlayView.h"
#include "mirror/ui/GlassShellOverlayWindow.h"
#include "support/FakeWindowSystem.h"

namespace orvan {
namespace {

constexpr pid_t kScrcpyPid = 4242;

WindowInfo scrcpyWindow(int x, int y, int width = 720, int height = 720, pid_t pid = kScrcpyPid) {
    return {.windowId = 0x400006, .pid = pid, .x = x, .y = y, .width = width, .height = height};
}

class GlassShellOverlayWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<GlassShellOverlayWindow> open(OverlayTransparency transparency = OverlayTransparency::blended) {
        auto overlay = std::make_unique<GlassShellOverlayWindow>(kScrcpyPid, windows_, transparency);
        overlay->showAndFollow();
        return overlay;
    }

    bool waitForGeometry(const GlassShellOverlayWindow& overlay, const QRect& expected, int milliseconds) {
        return QTest::qWaitFor([&] { return overlay.geometry() == expected; }, milliseconds);
    }

    // The positive signal a "nothing more happens" check waits for: another overlay, on its own
    // window system, has looked `times` times, so every early look and several intervals of
    // the first one's timers would have come by now.
    static void letAnotherOverlayLook(int times) {
        auto other = std::make_shared<FakeWindowSystem>();
        GlassShellOverlayWindow overlay(kScrcpyPid, other, OverlayTransparency::blended);
        overlay.showAndFollow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return other->listCount() >= times; }, 20000));
    }

    std::shared_ptr<FakeWindowSystem> windows_ = std::make_shared<FakeWindowSystem>();
};

TEST_F(GlassShellOverlayWindowTest, TheNativeWindowLetsClicksThroughStaysOnTopAndTakesNoFocus) {
    auto overlay = open(OverlayTransparency::blended);
    EXPECT_FALSE(overlay->usesShapeMask());  // blended: the platform draws the see-through middle
    EXPECT_TRUE(overlay->mask().isEmpty());
    ASSERT_NE(overlay->windowHandle(), nullptr);
    const Qt::WindowFlags flags = overlay->windowHandle()->flags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_FALSE(overlay->isActiveWindow());
}

TEST_F(GlassShellOverlayWindowTest, OpensAroundTheDefaultFrameThenJumpsToTheScrcpyWindow) {
    // Only windows of other processes, or too small ones of this one, are listed at first.
    windows_->setWindows({scrcpyWindow(10, 10, 900, 900, 777), scrcpyWindow(10, 10, 80, 80)});
    auto overlay = open();

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(overlay->size(), QSize(764, 764));
    EXPECT_EQ(overlay->geometry().center(), area.center());

    // A refresh that still finds nothing leaves it where it is.
    const QRect before = overlay->geometry();
    overlay->refresh();
    EXPECT_EQ(overlay->geometry(), before);

    windows_->addWindow(scrcpyWindow(100, 120));
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 764, 764), 20000)) << overlay->geometry().x();
}

TEST_F(GlassShellOverlayWindowTest, FollowsAMovedWindowOnItsRepeatingTimer) {
    windows_->setWindows({scrcpyWindow(100, 120)});
    auto overlay = open();
    ASSERT_EQ(overlay->geometry(), QRect(78, 98, 764, 764));
    EXPECT_TRUE(overlay->isFollowing());
    // After the early one-shot looks only the repeating timer is left to notice the move.
    letAnotherOverlayLook(6);
    windows_->setWindows({scrcpyWindow(400, 50, 700, 690)});
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(378, 28, 744, 734), 20000));
}

TEST_F(GlassShellOverlayWindowTest, CloseStopsFollowingAndHidesUntilReopened) {
    auto overlay = open();
    overlay->close();
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_FALSE(overlay->isFollowing());
    const int listed = windows_->listCount();
    const QRect closedAt = overlay->geometry();
    windows_->setWindows({scrcpyWindow(100, 120)});
    letAnotherOverlayLook(6);
    EXPECT_EQ(windows_->listCount(), listed);
    EXPECT_EQ(overlay->geometry(), closedAt);
    overlay->showAndFollow();
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 764, 764), 20000));
}

TEST_F(GlassShellOverlayWindowTest, DeletingWhileLooksArePendingIsSafe) {
    auto overlay = open();
    const int listed = windows_->listCount();
    overlay.reset();
    letAnotherOverlayLook(6);
    EXPECT_EQ(windows_->listCount(), listed);
}

TEST_F(GlassShellOverlayWindowTest, WithoutACompositorTheWindowIsShapedToTheRimAndFollowsAResize) {
    windows_->setWindows({scrcpyWindow(100, 120)});
    auto overlay = open(OverlayTransparency::shapeMask);
    EXPECT_TRUE(overlay->usesShapeMask());
    EXPECT_TRUE(overlay->view()->opaqueStrokes());
    EXPECT_TRUE(overlay->mask().contains(QPoint(7, 382)));     // the rim
    EXPECT_FALSE(overlay->mask().contains(QPoint(382, 382)));  // the mirror shows through
    windows_->setWindows({scrcpyWindow(100, 120, 500, 400)});
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 544, 444), 20000));
    EXPECT_FALSE(overlay->mask().contains(QPoint(700, 382)));  // the mask follows the new width
}

TEST_F(GlassShellOverlayWindowTest, AMissingWindowSystemLeavesTheDefaultFrame) {
    GlassShellOverlayWindow overlay(kScrcpyPid, nullptr, OverlayTransparency::blended);
    overlay.showAndFollow();
    overlay.refresh();
    EXPECT_EQ(overlay.size(), QSize(764, 764));
    overlay.close();
}

}  // namespace
}  // namespace orvan
