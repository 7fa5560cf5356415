#include "mirror/ui/GlassShellOverlayView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include "mirror/GlassShellOverlayGeometry.h"

namespace orvan {

namespace {

const QColor kSystemBlue(0, 122, 255);

struct RimStroke {
    QPainterPath path;
    QColor color;
    double width;
    Qt::PenCapStyle cap;
};

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QColor white(double level, double alpha) { return QColor::fromRgbF(level, level, level, alpha); }

QPainterPath roundedRectPath(const RimRoundedRect& rect) {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect.x, rect.y, rect.width, rect.height), rect.radius, rect.radius);
    return path;
}

QPainterPath curvePath(const RimCurve& curve) {
    QPainterPath path(QPointF(curve.start.x, curve.start.y));
    path.cubicTo(QPointF(curve.control1.x, curve.control1.y), QPointF(curve.control2.x, curve.control2.y),
                 QPointF(curve.end.x, curve.end.y));
    return path;
}

// In drawing order: the outer rim's blue halo under its bright line, the lens edge, the glint
// and the bridge.
std::vector<RimStroke> rimStrokes(const QSize& size) {
    const GlassShellRim rim = GlassShellOverlayGeometry::rim(size.width(), size.height());
    const QPainterPath outer = roundedRectPath(rim.outer);
    return {
        {outer, withAlpha(kSystemBlue, 0.34), 9, Qt::FlatCap},
        {outer, white(0.92, 0.86), 5, Qt::FlatCap},
        {roundedRectPath(rim.inner), withAlpha(kSystemBlue, 0.78), 2, Qt::FlatCap},
        {curvePath(rim.glint), white(1.0, 0.42), 2, Qt::RoundCap},
        {curvePath(rim.bridge), white(0.95, 0.7), 4, Qt::RoundCap},
    };
}

}  // namespace

GlassShellOverlayView::GlassShellOverlayView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

void GlassShellOverlayView::setOpaqueStrokes(bool opaque) {
    if (opaqueStrokes_ == opaque) return;
    opaqueStrokes_ = opaque;
    update();
}

QBitmap GlassShellOverlayView::rimMask(const QSize& size) {
    QBitmap mask(size);
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    for (const auto& stroke : rimStrokes(size)) {
        painter.strokePath(stroke.path, QPen(Qt::color1, stroke.width, Qt::SolidLine, stroke.cap));
    }
    return mask;
}

void GlassShellOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Clear to fully transparent: the window's pixels are the rim and nothing else.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // Under a 1-bit shape, smoothed edges would only blend with black: draw hard pixels that
    // match the mask exactly.
    painter.setRenderHint(QPainter::Antialiasing, !opaqueStrokes_);
    for (const auto& stroke : rimStrokes(size())) {
        QColor color = stroke.color;
        if (opaqueStrokes_) color.setAlpha(255);
        painter.strokePath(stroke.path, QPen(color, stroke.width, Qt::SolidLine, stroke.cap));
    }
}

}  // namespace orvan
