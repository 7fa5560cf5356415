#include "network/QrPngWriter.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace orvan {

bool writeQrPng(const QrModuleBitmap& bitmap, const std::string& path) {
    if (bitmap.modules <= 0) return false;
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const int side = bitmap.pixelSize();
    const int perModule = bitmap.pixelsPerModule();
    std::vector<png_byte> row(static_cast<size_t>(side));
    // libpng reports errors by longjmp; nothing with a destructor is created after this point.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, side, side, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) row[x] = bitmap.isDark(x / perModule, y / perModule) ? 0 : 255;
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(file.get()) == 0;
}

}  // namespace orvan
