#include "mirror/ui/GlassShellOverlayWindow.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <memory>

#include "mirror/ui/GlassShellOverlayView.h"
#include "platform/FakeWindowSystem.h"

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

    // The view as it draws itself, on a transparent canvas.
    static QImage rendered(GlassShellOverlayView& view) {
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    // Thin hard-edged strokes land within a pixel of their ideal position.
    static bool coversNear(const QRegion& shape, QPoint point) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (shape.contains(point + QPoint(dx, dy))) return true;
            }
        }
        return false;
    }

    std::shared_ptr<FakeWindowSystem> windows_ = std::make_shared<FakeWindowSystem>();
};

TEST_F(GlassShellOverlayWindowTest, IsAFramelessClickThroughToolWindowAboveOthers) {
    auto overlay = open();
    const Qt::WindowFlags flags = overlay->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(overlay->windowType(), Qt::Tool);
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(overlay->testAttribute(Qt::WA_DeleteOnClose));
    // The native window got the same flags: input really passes through it.
    ASSERT_NE(overlay->windowHandle(), nullptr);
    EXPECT_TRUE(overlay->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(overlay->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_FALSE(overlay->isActiveWindow());
    EXPECT_EQ(overlay->targetPid(), kScrcpyPid);
}

TEST_F(GlassShellOverlayWindowTest, OpensAroundTheDefaultFrameThenJumpsToTheScrcpyWindow) {
    // Only windows of other processes, or too small ones of this one, are listed at first.
    windows_->setWindows({scrcpyWindow(10, 10, 900, 900, 777), scrcpyWindow(10, 10, 80, 80)});
    auto overlay = open();

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(overlay->size(), QSize(764, 764));
    EXPECT_EQ(overlay->geometry().center(), area.center());
    EXPECT_EQ(overlay->geometry().topLeft(), area.topLeft() + QPoint(area.width() / 2 - 382, area.height() / 2 - 382));

    // A refresh that still finds nothing leaves it where it is.
    const QRect before = overlay->geometry();
    overlay->refresh();
    EXPECT_EQ(overlay->geometry(), before);

    windows_->addWindow(scrcpyWindow(100, 120));
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 764, 764), 1000)) << overlay->geometry().x();
}

TEST_F(GlassShellOverlayWindowTest, OpensDirectlyAroundAWindowThatIsAlreadyListed) {
    windows_->setWindows({scrcpyWindow(300, 200, 720, 720)});
    auto overlay = std::make_unique<GlassShellOverlayWindow>(kScrcpyPid, windows_, OverlayTransparency::blended);
    EXPECT_EQ(overlay->geometry(), QRect(278, 178, 764, 764));
    EXPECT_FALSE(overlay->isFollowing());  // nothing moves before it is shown
}

TEST_F(GlassShellOverlayWindowTest, FollowsAMovedWindowWithinARefreshInterval) {
    windows_->setWindows({scrcpyWindow(100, 120)});
    auto overlay = open();
    ASSERT_EQ(overlay->geometry(), QRect(78, 98, 764, 764));
    EXPECT_TRUE(overlay->isFollowing());
    // Wait out the early one-shot looks so that only the repeating timer is left.
    QTest::qWait(1500);

    windows_->setWindows({scrcpyWindow(400, 50, 700, 690)});
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(waitForGeometry(*overlay, QRect(378, 28, 744, 734), 2000));
    // One interval of 0.35 s plus a little room for a busy test machine.
    EXPECT_LE(elapsed.elapsed(), GlassShellOverlayWindow::kRefreshIntervalMs + 150);
}

TEST_F(GlassShellOverlayWindowTest, LooksEarlyOnceBeforeTheFirstInterval) {
    auto overlay = open();
    const int listedAtOpen = windows_->listCount();
    // The first one-shot look comes at 0.2 s, well before the repeating 0.35 s timer.
    windows_->addWindow(scrcpyWindow(100, 120));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windows_->listCount() > listedAtOpen; }, 330));
}

TEST_F(GlassShellOverlayWindowTest, CloseStopsFollowingAndHides) {
    auto overlay = open();
    overlay->close();
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_FALSE(overlay->isFollowing());

    const int listed = windows_->listCount();
    const QRect closedAt = overlay->geometry();
    windows_->setWindows({scrcpyWindow(100, 120)});
    // Longer than every early look and several intervals: nothing may look again.
    QTest::qWait(1600);
    EXPECT_EQ(windows_->listCount(), listed);
    EXPECT_EQ(overlay->geometry(), closedAt);
}

TEST_F(GlassShellOverlayWindowTest, DeletingWhileLooksArePendingIsSafe) {
    auto overlay = open();
    const int listed = windows_->listCount();
    overlay.reset();
    QTest::qWait(1600);
    EXPECT_EQ(windows_->listCount(), listed);
}

TEST_F(GlassShellOverlayWindowTest, ReopeningAfterACloseFollowsAgain) {
    auto overlay = open();
    overlay->close();
    overlay->showAndFollow();
    EXPECT_TRUE(overlay->isFollowing());
    windows_->setWindows({scrcpyWindow(100, 120)});
    EXPECT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 764, 764), 1000));
}

TEST_F(GlassShellOverlayWindowTest, DrawsTheRimAndLeavesTheMiddleClear) {
    windows_->setWindows({scrcpyWindow(100, 120)});
    auto overlay = open();
    QTest::qWait(50);
    GlassShellOverlayView* view = overlay->view();
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->size(), QSize(764, 764));
    const QImage image = rendered(*view);

    // The outer rim on the left edge: bright over a blue halo.
    const QColor rim = image.pixelColor(7, 382);
    EXPECT_GT(rim.alpha(), 200);
    EXPECT_GT(rim.red(), 150);
    const QColor halo = image.pixelColor(3, 382);
    EXPECT_GT(halo.alpha(), 40);
    EXPECT_GT(halo.blue(), halo.red());
    // The lens edge is blue.
    const QColor lens = image.pixelColor(21, 382);
    EXPECT_GT(lens.alpha(), 100);
    EXPECT_GT(lens.blue(), lens.red() + 50);
    // The glint's midpoint lies near the top left; drawn upside down it would be near the bottom.
    EXPECT_GT(image.pixelColor(149, 43).alpha(), 30);
    EXPECT_EQ(image.pixelColor(149, 764 - 43).alpha(), 0);
    // The bridge's ends hang just below the outer rim at the top centre, clear of both rims.
    EXPECT_GT(image.pixelColor(344, 17).alpha(), 50);
    EXPECT_GT(image.pixelColor(420, 17).alpha(), 50);
    EXPECT_EQ(image.pixelColor(344, 764 - 17).alpha(), 0);
    // The mirror shows through everywhere else.
    EXPECT_EQ(image.pixelColor(382, 382).alpha(), 0);
    EXPECT_EQ(image.pixelColor(60, 382).alpha(), 0);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
}

TEST_F(GlassShellOverlayWindowTest, WithoutACompositorTheWindowIsShapedToTheRim) {
    windows_->setWindows({scrcpyWindow(100, 120)});
    auto overlay = open(OverlayTransparency::shapeMask);
    EXPECT_TRUE(overlay->usesShapeMask());
    EXPECT_TRUE(overlay->view()->opaqueStrokes());
    QRegion shape = overlay->mask();
    EXPECT_TRUE(shape.contains(QPoint(7, 382)));     // outer rim
    EXPECT_TRUE(coversNear(shape, QPoint(21, 382)));   // lens edge
    EXPECT_TRUE(coversNear(shape, QPoint(149, 43)));   // glint
    EXPECT_TRUE(coversNear(shape, QPoint(344, 17)));   // bridge
    EXPECT_FALSE(shape.contains(QPoint(149, 764 - 43)));
    EXPECT_FALSE(shape.contains(QPoint(382, 382)));  // the mirror itself
    EXPECT_FALSE(shape.contains(QPoint(60, 382)));

    // The shape follows a resize of the followed window.
    windows_->setWindows({scrcpyWindow(100, 120, 500, 400)});
    ASSERT_TRUE(waitForGeometry(*overlay, QRect(78, 98, 544, 444), 1000));
    shape = overlay->mask();
    EXPECT_TRUE(shape.contains(QPoint(7, 222)));
    EXPECT_TRUE(shape.contains(QPoint(544 - 8, 222)));
    EXPECT_FALSE(shape.contains(QPoint(700, 382)));  // beyond the new width
}

TEST_F(GlassShellOverlayWindowTest, BlendedWindowsHaveNoShape) {
    auto overlay = open(OverlayTransparency::blended);
    EXPECT_FALSE(overlay->usesShapeMask());
    EXPECT_TRUE(overlay->mask().isEmpty());
    // Off X11 nothing needs shaping: the platform blends.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GlassShellOverlayWindow automatic(kScrcpyPid, windows_, OverlayTransparency::automatic);
        EXPECT_FALSE(automatic.usesShapeMask());
    }
}

TEST_F(GlassShellOverlayWindowTest, AMissingWindowSystemLeavesTheDefaultFrame) {
    GlassShellOverlayWindow overlay(kScrcpyPid, nullptr, OverlayTransparency::blended);
    overlay.showAndFollow();
    EXPECT_EQ(overlay.size(), QSize(764, 764));
    overlay.refresh();
    EXPECT_EQ(overlay.size(), QSize(764, 764));
    overlay.close();
}

}  // namespace
}  // namespace orvan
