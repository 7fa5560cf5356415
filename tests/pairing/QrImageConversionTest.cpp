#include <gtest/gtest.h>

#include "pairing/ui/QrImageConversion.h"

namespace orvan {
namespace {

// Catches a smoothed or transposed image: every pixel must be its module's colour.
TEST(QrQImage, EveryPixelIsItsModule) {
    auto bitmap = qrImage("WIFI:T:WPA;S:Lab;P:12345678;;", 6.0);
    ASSERT_TRUE(bitmap);
    bitmap->dark[static_cast<size_t>(kQrQuietZoneModules) * bitmap->modules + bitmap->modules - 1] = 1;  // asymmetric
    QImage image = qrQImage(*bitmap);
    ASSERT_EQ(image.width(), bitmap->modules * 6);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(qGray(image.pixel(x, y)), bitmap->isDark(x / 6, y / 6) ? 0 : 255) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace orvan
