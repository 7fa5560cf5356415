#pragma once

#include <sys/types.h>

#include <QTimer>
#include <QWidget>
#include <memory>

#include "mirror/GlassShellOverlayGeometry.h"
#include "platform/WindowSystem.h"

namespace orvan {

class GlassShellOverlayView;

// How the overlay's see-through parts are made.
enum class OverlayTransparency {
    automatic,  // blended where a compositor runs (or the desktop composites anyway), else shaped
    blended,    // a translucent window that a compositor blends over the mirror
    shapeMask,  // a window shaped to the rim itself, for X11 without a compositor
};

// The rim of the glasses around a glasses-shell scrcpy window: a frameless, always-on-top,
// click-through tool window that follows that window, found through the window system by the
// scrcpy child's pid. Main thread only. close() stops the following; the object stays alive
// until its owner deletes it.
class GlassShellOverlayWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 350;
    // Extra looks soon after opening, while the mirror window is still being mapped and placed.
    static constexpr int kEarlyRefreshesMs[] = {200, 800, 1400};

    // Placed around the pid's scrcpy window, or centred on the primary screen until it appears.
    GlassShellOverlayWindow(pid_t targetPid, std::shared_ptr<WindowSystem> windowSystem,
                            OverlayTransparency transparency = OverlayTransparency::automatic);
    ~GlassShellOverlayWindow() override;

    pid_t targetPid() const { return targetPid_; }
    GlassShellOverlayView* view() const { return view_; }
    bool usesShapeMask() const { return usesShapeMask_; }
    bool isFollowing() const { return refreshTimer_.isActive(); }

    // Shows the overlay in front without taking the focus and starts following the window.
    void showAndFollow();
    // One following step: around the scrcpy window when it is listed, else unchanged.
    void refresh();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::optional<OverlayRect> availableScreenArea() const;
    double screenPixelRatio() const;
    void stopFollowing();

    pid_t targetPid_;
    std::shared_ptr<WindowSystem> windowSystem_;
    bool usesShapeMask_ = false;
    GlassShellOverlayView* view_ = nullptr;
    QTimer refreshTimer_;
    // Raised with every start, so that early refreshes of an earlier one never run after a close.
    unsigned followGeneration_ = 0;
};

}  // namespace orvan
