#pragma once

#include <string>

#include "network/QrModuleBitmap.h"

namespace orvan {

// Writes the bitmap at its pixel size as an 8-bit grey PNG (for tests and tools; the app draws
// the bitmap itself). False when the file cannot be written.
bool writeQrPng(const QrModuleBitmap& bitmap, const std::string& path);

}  // namespace orvan
