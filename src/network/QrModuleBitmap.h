#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvan {

// A QR symbol as dark and light modules, quiet zone included, plus the scale at which it is drawn.
// The view turns it into an image; tests and tools write it as PNG (QrPngWriter).
struct QrModuleBitmap {
    int modules = 0;            // width and height in modules, quiet zone included
    std::vector<uint8_t> dark;  // row-major, 1 for a dark module
    double scale = 1.0;         // pixels per module as asked

    // Side of the drawn image in pixels: whole pixels per module, at least one, so modules stay
    // square and sharp whatever scale was asked.
    int pixelsPerModule() const;
    int pixelSize() const { return modules * pixelsPerModule(); }
    bool isDark(int column, int row) const { return dark[static_cast<size_t>(row) * modules + column] != 0; }
};

// Modules of light margin on each side; four is what phone cameras and decoders expect.
inline constexpr int kQrQuietZoneModules = 4;

// Encodes the payload bytes in byte mode with error correction M, smallest version that fits.
// Nothing for an empty payload, one too long for a symbol, or a non-positive scale.
std::optional<QrModuleBitmap> qrImage(std::string_view payload, double scale);

}  // namespace orvan
