#include "mirror/GlassShellOverlayGeometry.h"

#include <cmath>

namespace orvan {

namespace {

int toLogical(int devicePixels, double devicePixelRatio) {
    return static_cast<int>(std::lround(devicePixels / devicePixelRatio));
}

RimRoundedRect insetRoundedRect(double width, double height, double inset, double radius) {
    return {inset, inset, width - 2 * inset, height - 2 * inset, radius};
}

}  // namespace

std::optional<OverlayRect> GlassShellOverlayGeometry::scrcpyFrame(const std::vector<WindowInfo>& windows, pid_t pid,
                                                                  double devicePixelRatio) {
    if (pid <= 0) return std::nullopt;
    // A broken ratio must not send the overlay to infinity.
    const double ratio = std::isfinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    for (const auto& window : windows) {
        if (window.pid != pid) continue;
        if (!window.isLargerThanHelperWindow()) continue;
        return OverlayRect{toLogical(window.x, ratio), toLogical(window.y, ratio), toLogical(window.width, ratio),
                           toLogical(window.height, ratio)};
    }
    return std::nullopt;
}

OverlayRect GlassShellOverlayGeometry::defaultFrame(const std::optional<OverlayRect>& availableGeometry) {
    if (!availableGeometry) return {0, 0, kFallbackSide, kFallbackSide};
    const int midX = availableGeometry->x + availableGeometry->width / 2;
    const int midY = availableGeometry->y + availableGeometry->height / 2;
    return {midX - kFallbackSide / 2, midY - kFallbackSide / 2, kFallbackSide, kFallbackSide};
}

OverlayRect GlassShellOverlayGeometry::grown(const OverlayRect& frame, int margin) {
    return {frame.x - margin, frame.y - margin, frame.width + 2 * margin, frame.height + 2 * margin};
}

OverlayRect GlassShellOverlayGeometry::initialOverlayFrame(const std::vector<WindowInfo>& windows, pid_t pid,
                                                           const std::optional<OverlayRect>& availableGeometry,
                                                           double devicePixelRatio) {
    return grown(scrcpyFrame(windows, pid, devicePixelRatio).value_or(defaultFrame(availableGeometry)));
}

std::optional<OverlayRect> GlassShellOverlayGeometry::followedOverlayFrame(const std::vector<WindowInfo>& windows,
                                                                           pid_t pid, double devicePixelRatio) {
    auto frame = scrcpyFrame(windows, pid, devicePixelRatio);
    if (!frame) return std::nullopt;
    return grown(*frame);
}

OverlayPoint GlassShellOverlayGeometry::toTopLeft(OverlayPoint bottomLeft, double viewHeight) {
    return {bottomLeft.x, viewHeight - bottomLeft.y};
}

GlassShellRim GlassShellOverlayGeometry::rim(double width, double height) {
    // The curves hang from the top edge (maxY in the bottom-left system they were drawn in).
    const double maxY = height;
    const double midX = width / 2;
    auto point = [height](double x, double y) { return toTopLeft({x, y}, height); };
    return GlassShellRim{
        insetRoundedRect(width, height, 7, 42),
        insetRoundedRect(width, height, 21, 30),
        RimCurve{point(72, maxY - 46), point(116, maxY - 70), point(180, maxY - 20), point(230, maxY - 25)},
        RimCurve{point(midX - 38, maxY - 18), point(midX - 18, maxY - 3), point(midX + 18, maxY - 3),
                 point(midX + 38, maxY - 18)},
    };
}

}  // namespace orvan
