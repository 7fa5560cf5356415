#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/ProcessRunner.h"
#include "network/QrModuleBitmap.h"
#include "network/QrPngWriter.h"
#include "network/WirelessAdbWifiProfile.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

// Every QR code the app draws, rendered, written as PNG and read back by a real decoder, byte for
// byte: catches a wrong mode, a lost quiet zone, or UTF-8 mangled on the way to the symbol.
struct QrCase {
    const char* name;
    std::string payload;
    double scale;
};

class QrRoundTrip : public ::testing::TestWithParam<QrCase> {};

TEST_P(QrRoundTrip, ZbarimgReadsBackTheExactBytes) {
    if (::access("/usr/bin/zbarimg", X_OK) != 0) GTEST_SKIP() << "zbar-tools is not installed";
    auto bitmap = qrImage(GetParam().payload, GetParam().scale);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->pixelSize(), bitmap->modules * static_cast<int>(GetParam().scale));
    testing::TempDir folder("orvan-qr");
    std::string png = (folder / "code.png").string();
    ASSERT_TRUE(writeQrPng(*bitmap, png));
    auto run =
        runFinite(ProcessSpec{"/usr/bin/zbarimg", {"--raw", "-q", "-Sbinary", "--nodbus", png}, {}, {}}, Seconds(20.0));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.bytes, GetParam().payload);
}

const WirelessAdbWifiProfile kTricky{.ssid = "办公室 \\;,:\"", .password = "密码:\\;,\"x", .securityType = "WPA"};

INSTANTIATE_TEST_SUITE_P(
    WifiOnly, QrRoundTrip,
    ::testing::Values(QrCase{"personal", *wifiPayload(kTricky), 10.0},
                      QrCase{"open", *wifiPayload({.ssid = "咖啡;Café", .securityType = "NOPASS"}), 10.0},
                      QrCase{"enterprise",
                             *wifiPayload({"公司/\\;,:\"", "p:w", "EAP", "域\\alice", "PEAP", "MSCHAPV2"}), 10.0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(QrImage, RefusesWhatCannotBeASymbol) {
    EXPECT_EQ(qrImage("", 6.0), std::nullopt);
    EXPECT_EQ(qrImage("x", 0.0), std::nullopt);
    EXPECT_EQ(qrImage(std::string(3000, 'x'), 6.0), std::nullopt);  // beyond version 40 at level M
}

}  // namespace
}  // namespace orvan
