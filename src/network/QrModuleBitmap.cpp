#include "network/QrModuleBitmap.h"

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace orvan {

int QrModuleBitmap::pixelsPerModule() const {
    if (!(scale >= 1.0)) return 1;
    return static_cast<int>(std::lround(std::min(scale, 100.0)));
}

std::optional<QrModuleBitmap> qrImage(std::string_view payload, double scale) {
    if (payload.empty() || !(scale > 0.0)) return std::nullopt;
    // QRcode_encodeData takes the bytes as they are (byte mode), unlike the string entry points
    // that stop at a NUL byte and would switch modes.
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(payload.size()), reinterpret_cast<const unsigned char*>(payload.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return std::nullopt;
    QrModuleBitmap bitmap;
    bitmap.scale = scale;
    bitmap.modules = code->width + 2 * kQrQuietZoneModules;
    bitmap.dark.assign(static_cast<size_t>(bitmap.modules) * bitmap.modules, 0);
    for (int row = 0; row < code->width; ++row) {
        for (int column = 0; column < code->width; ++column) {
            // Bit 0 of each libqrencode cell is the module's colour; the others say what it is part of.
            uint8_t cell = code->data[row * code->width + column];
            size_t at = static_cast<size_t>(row + kQrQuietZoneModules) * bitmap.modules + column + kQrQuietZoneModules;
            bitmap.dark[at] = cell & 1;
        }
    }
    return bitmap;
}

}  // namespace orvan
