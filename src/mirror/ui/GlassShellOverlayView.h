#pragma once

#include <QBitmap>
#include <QWidget>

class QPainter;

namespace orvan {

// Draws the rim of the glasses around a glasses-shell mirror. Everything else stays transparent.
class GlassShellOverlayView : public QWidget {
    Q_OBJECT

public:
    explicit GlassShellOverlayView(QWidget* parent = nullptr);

    // Where transparency is a 1-bit shape (no compositor), half-transparent strokes would show
    // over black, not over the mirror: draw them solid instead.
    void setOpaqueStrokes(bool opaque);
    bool opaqueStrokes() const { return opaqueStrokes_; }

    // The pixels the rim covers at `size`, for a window shape.
    static QBitmap rimMask(const QSize& size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool opaqueStrokes_ = false;
};

}  // namespace orvan
