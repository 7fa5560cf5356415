#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/ProcessRunner.h"
#include "network/QrModuleBitmap.h"
#include "network/QrPngWriter.h"
#include "network/WirelessAdbWifiProfile.h"
#include "pairing/WirelessAdbPayload.h"
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

const std::string kUrl = "http://192.168.1.20:18080/orvan/wireless-adb/callback";
const std::string kSid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";

INSTANTIATE_TEST_SUITE_P(
    Payloads, QrRoundTrip,
    ::testing::Values(
        QrCase{"personal", *wifiPayload(kTricky), 10.0},
        QrCase{"open", *wifiPayload({.ssid = "咖啡;Café", .securityType = "NOPASS"}), 10.0},
        QrCase{"enterprise", *wifiPayload({"公司/\\;,:\"", "p:w", "EAP", "域\\alice", "PEAP", "MSCHAPV2"}), 10.0},
        QrCase{"enablePersonal", makeWirelessAdbPayload(kEnableWirelessAdbPayload, kSid, kUrl, 5555, kTricky), 6.0},
        QrCase{"disable", makeWirelessAdbPayload(kDisableWirelessAdbPayload, kSid, kUrl, 5555, std::nullopt), 6.0}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace orvan
