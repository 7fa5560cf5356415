// The overlay's frame follows only a mirror window of its own process, and bad window-system
// values never send it off screen. The 80x80 helper-window rule is tested with ScrcpyWindow.

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

namespace {

using Geometry = GlassShellOverlayGeometry;

WindowInfo window(pid_t pid, int x, int y, int width, int height) {
    return {
        .windowId = static_cast<std::uint32_t>(x + 1), .pid = pid, .x = x, .y = y, .width = width, .height = height};
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

}  // namespace
}  // namespace orvan
