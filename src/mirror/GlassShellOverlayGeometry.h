#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

#include "platform/WindowSystem.h"

namespace orvan {

// A rectangle on the desktop with its origin at the top left, the system both X11 and the
// toolkit use, so a window frame never needs flipping between them.
struct OverlayRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const OverlayRect&) const = default;
};

struct OverlayPoint {
    double x = 0;
    double y = 0;

    bool operator==(const OverlayPoint&) const = default;
};

// The rim's shapes in the overlay's own coordinates, origin at the top left.
struct RimRoundedRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double radius = 0;

    bool operator==(const RimRoundedRect&) const = default;
};

struct RimCurve {
    OverlayPoint start;
    OverlayPoint control1;
    OverlayPoint control2;
    OverlayPoint end;

    bool operator==(const RimCurve&) const = default;
};

struct GlassShellRim {
    RimRoundedRect outer;  // the frame of the glasses, drawn as a wide halo and a bright line
    RimRoundedRect inner;  // the lens edge
    RimCurve glint;        // a reflection near the top-left corner
    RimCurve bridge;       // the nose bridge, centred on the top edge
};

// Where the glasses-shell overlay goes and what it draws, apart from any toolkit.
class GlassShellOverlayGeometry {
public:
    // The rim reaches this far beyond the scrcpy window on every side.
    static constexpr int kRimMargin = 22;
    // The glasses-shell window's own size, assumed until the real window shows up.
    static constexpr int kFallbackSide = 720;
    // The first window of `pid` larger than a helper window (WindowInfo::isLargerThanHelperWindow),
    // in logical pixels:
    // the window system counts device pixels, the toolkit places windows in logical ones.
    static std::optional<OverlayRect> scrcpyFrame(const std::vector<WindowInfo>& windows, pid_t pid,
                                                  double devicePixelRatio = 1.0);
    // A fallback-sized square centred in the screen's available area; at the origin when there
    // is no screen at all.
    static OverlayRect defaultFrame(const std::optional<OverlayRect>& availableGeometry);
    static OverlayRect grown(const OverlayRect& frame, int margin = kRimMargin);

    // The overlay's frame when it opens: around the scrcpy window, else around the default frame.
    static OverlayRect initialOverlayFrame(const std::vector<WindowInfo>& windows, pid_t pid,
                                           const std::optional<OverlayRect>& availableGeometry,
                                           double devicePixelRatio = 1.0);
    // The overlay's frame on a refresh: around the scrcpy window, or none to stay where it is.
    static std::optional<OverlayRect> followedOverlayFrame(const std::vector<WindowInfo>& windows, pid_t pid,
                                                           double devicePixelRatio = 1.0);

    // The rim was designed in a system whose origin is at the bottom left (y grows upwards);
    // this turns such a point of a view `viewHeight` high into the top-left system.
    static OverlayPoint toTopLeft(OverlayPoint bottomLeft, double viewHeight);
    static GlassShellRim rim(double width, double height);
};

}  // namespace orvan
