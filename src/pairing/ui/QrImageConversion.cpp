#include "pairing/ui/QrImageConversion.h"

namespace orvan {

QImage qrQImage(const QrModuleBitmap& bitmap) {
    if (bitmap.modules <= 0) return {};
    const int perModule = bitmap.pixelsPerModule();
    QImage image(bitmap.pixelSize(), bitmap.pixelSize(), QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x) line[x] = bitmap.isDark(x / perModule, y / perModule) ? 0 : 255;
    }
    return image;
}

}  // namespace orvan
