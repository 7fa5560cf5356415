#include "mirror/ui/GlassShellOverlayWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "mirror/ui/GlassShellOverlayView.h"
#include "platform/X11CompositorProbe.h"

namespace orvan {

namespace {

QScreen* mainScreen() {
    if (auto* screen = QGuiApplication::primaryScreen()) return screen;
    const auto screens = QGuiApplication::screens();
    return screens.isEmpty() ? nullptr : screens.first();
}

QRect toQRect(const OverlayRect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

bool needsShapeMask(OverlayTransparency transparency) {
    switch (transparency) {
        case OverlayTransparency::blended:
            return false;
        case OverlayTransparency::shapeMask:
            return true;
        case OverlayTransparency::automatic:
            break;
    }
    // Wayland compositors and the offscreen platform always blend; only bare X11 may not.
    return QGuiApplication::platformName() == QLatin1String("xcb") && !X11CompositorProbe::compositorRunning();
}

}  // namespace

GlassShellOverlayWindow::GlassShellOverlayWindow(pid_t targetPid, std::shared_ptr<WindowSystem> windowSystem,
                                                 OverlayTransparency transparency)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus),
      targetPid_(targetPid),
      windowSystem_(std::move(windowSystem)),
      usesShapeMask_(needsShapeMask(transparency)) {
    setObjectName("glassShellOverlay");
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_DeleteOnClose, false);

    view_ = new GlassShellOverlayView(this);
    view_->setOpaqueStrokes(usesShapeMask_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    const auto windows = windowSystem_ ? windowSystem_->visibleTopLevelWindows() : std::vector<WindowInfo>{};
    setGeometry(toQRect(GlassShellOverlayGeometry::initialOverlayFrame(windows, targetPid_, availableScreenArea(),
                                                                       screenPixelRatio())));

    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &GlassShellOverlayWindow::refresh);
}

GlassShellOverlayWindow::~GlassShellOverlayWindow() { stopFollowing(); }

void GlassShellOverlayWindow::showAndFollow() {
    show();
    raise();
    ++followGeneration_;
    refreshTimer_.start();
    // With `this` as context, a deleted overlay drops its pending refreshes.
    for (const int delay : kEarlyRefreshesMs) {
        QTimer::singleShot(delay, this, [this, generation = followGeneration_] {
            if (followGeneration_ == generation) refresh();
        });
    }
}

void GlassShellOverlayWindow::refresh() {
    if (!windowSystem_) return;
    const auto frame = GlassShellOverlayGeometry::followedOverlayFrame(windowSystem_->visibleTopLevelWindows(),
                                                                       targetPid_, screenPixelRatio());
    if (!frame) return;
    const QRect target = toQRect(*frame);
    if (geometry() != target) setGeometry(target);
    // The mirror window may have been raised over us since the last look.
    raise();
}

void GlassShellOverlayWindow::closeEvent(QCloseEvent* event) {
    stopFollowing();
    QWidget::closeEvent(event);
}

void GlassShellOverlayWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (usesShapeMask_) setMask(GlassShellOverlayView::rimMask(event->size()));
}

std::optional<OverlayRect> GlassShellOverlayWindow::availableScreenArea() const {
    const QScreen* screen = mainScreen();
    if (!screen) return std::nullopt;
    const QRect area = screen->availableGeometry();
    return OverlayRect{area.x(), area.y(), area.width(), area.height()};
}

double GlassShellOverlayWindow::screenPixelRatio() const {
    const QScreen* screen = mainScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

void GlassShellOverlayWindow::stopFollowing() {
    refreshTimer_.stop();
    ++followGeneration_;
}

}  // namespace orvan
