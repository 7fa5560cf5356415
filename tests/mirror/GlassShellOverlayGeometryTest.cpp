#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "mirror/GlassShellOverlayGeometry.h"

namespace orvan {

// Readable failures: gtest finds these through argument-dependent lookup.
void PrintTo(const OverlayRect& rect, std::ostream* out) {
    *out << "{" << rect.x << ", " << rect.y << ", " << rect.width << "x" << rect.height << "}";
}
void PrintTo(const OverlayPoint& point, std::ostream* out) {
    *out << "(" << point.x << ", " << point.y << ")";
}
void PrintTo(const RimRoundedRect& rect, std::ostream* out) {
    *out << "{" << rect.x << ", " << rect.y << ", " << rect.width << "x" << rect.height << " r" << rect.radius << "}";
}

namespace {

using Geometry = GlassShellOverlayGeometry;

WindowInfo window(pid_t pid, int x, int y, int width, int height) {
    return {
        .windowId = static_cast<std::uint32_t>(x + 1), .pid = pid, .x = x, .y = y, .width = width, .height = height};
}

TEST(GlassShellOverlayGeometryTest, ScrcpyFrameIsTheFirstLargeEnoughWindowOfThePid) {
    const std::vector<WindowInfo> windows{
        window(41, 0, 0, 1000, 1000),  // another process
        window(42, 5, 5, 80, 500),     // exactly 80 wide: a helper, not the mirror
        window(42, 6, 6, 500, 80),     // exactly 80 high
        window(42, 300, 200, 81, 81),  // the first that counts
        window(42, 10, 10, 720, 720),  // later windows lose even when larger
    };
    EXPECT_EQ(Geometry::scrcpyFrame(windows, 42), (OverlayRect{300, 200, 81, 81}));
    EXPECT_EQ(Geometry::scrcpyFrame(windows, 41), (OverlayRect{0, 0, 1000, 1000}));
}

TEST(GlassShellOverlayGeometryTest, ScrcpyFrameIsAbsentWithoutAMatchingWindow) {
    EXPECT_EQ(Geometry::scrcpyFrame({}, 42), std::nullopt);
    EXPECT_EQ(Geometry::scrcpyFrame({window(42, 0, 0, 60, 60), window(7, 0, 0, 720, 720)}, 42), std::nullopt);
    // Windows whose owner the window system could not tell carry pid 0: never ours.
    EXPECT_EQ(Geometry::scrcpyFrame({window(0, 0, 0, 720, 720)}, 0), std::nullopt);
    EXPECT_EQ(Geometry::scrcpyFrame({window(-1, 0, 0, 720, 720)}, -1), std::nullopt);
}

TEST(GlassShellOverlayGeometryTest, ScrcpyFrameTurnsDevicePixelsIntoLogicalOnes) {
    const std::vector<WindowInfo> windows{window(42, 600, 401, 1440, 1440)};
    EXPECT_EQ(Geometry::scrcpyFrame(windows, 42, 2.0), (OverlayRect{300, 201, 720, 720}));  // 200.5 rounds away
    EXPECT_EQ(Geometry::scrcpyFrame(windows, 42, 1.5), (OverlayRect{400, 267, 960, 960}));
    // A nonsensical ratio falls back to 1 instead of producing infinite or negative frames.
    for (double ratio :
         {0.0, -2.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(Geometry::scrcpyFrame(windows, 42, ratio), (OverlayRect{600, 401, 1440, 1440})) << ratio;
    }
    // The size test applies to the window system's own pixels.
    EXPECT_EQ(Geometry::scrcpyFrame({window(42, 0, 0, 100, 100)}, 42, 2.0), (OverlayRect{0, 0, 50, 50}));
}

TEST(GlassShellOverlayGeometryTest, DefaultFrameIsCentredInTheAvailableArea) {
    EXPECT_EQ(Geometry::defaultFrame(OverlayRect{0, 0, 1280, 800}), (OverlayRect{280, 40, 720, 720}));
    // A panel on top and a second screen to the left move the available area.
    EXPECT_EQ(Geometry::defaultFrame(OverlayRect{1920, 32, 2560, 1408}), (OverlayRect{2840, 376, 720, 720}));
    // A screen smaller than the window still centres it, reaching past the edges.
    EXPECT_EQ(Geometry::defaultFrame(OverlayRect{0, 0, 640, 480}), (OverlayRect{-40, -120, 720, 720}));
    EXPECT_EQ(Geometry::defaultFrame(std::nullopt), (OverlayRect{0, 0, 720, 720}));
}

TEST(GlassShellOverlayGeometryTest, InitialFrameFallsBackToTheDefaultAndFollowingWaitsForTheWindow) {
    const OverlayRect screen{0, 0, 1280, 800};
    EXPECT_EQ(Geometry::initialOverlayFrame({}, 42, screen), (OverlayRect{258, 18, 764, 764}));
    EXPECT_EQ(Geometry::followedOverlayFrame({}, 42), std::nullopt);

    const std::vector<WindowInfo> windows{window(42, 100, 60, 720, 720)};
    EXPECT_EQ(Geometry::initialOverlayFrame(windows, 42, screen), (OverlayRect{78, 38, 764, 764}));
    EXPECT_EQ(Geometry::followedOverlayFrame(windows, 42), (OverlayRect{78, 38, 764, 764}));
    EXPECT_EQ(Geometry::followedOverlayFrame(windows, 42, 2.0), (OverlayRect{28, 8, 404, 404}));
}

}  // namespace
}  // namespace orvan
