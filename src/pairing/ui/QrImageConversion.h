#pragma once

#include <QImage>

#include "network/QrModuleBitmap.h"

namespace orvan {

// The scan page's and the Wi-Fi window's QR image: each module a solid square of whole pixels,
// never smoothed, so the code stays sharp for a camera. A null image for an empty bitmap.
QImage qrQImage(const QrModuleBitmap& bitmap);

}  // namespace orvan
