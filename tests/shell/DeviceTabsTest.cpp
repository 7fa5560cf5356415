#include <gtest/gtest.h>

#include "shell/DeviceTabs.h"

namespace orvan {
namespace {

ConnectedAdbDevice usb(const std::string& serial, std::optional<std::string> model = {}) {
    ConnectedAdbDevice d{serial, connection_kind::kUsb, std::nullopt, std::nullopt, model, serial, true, false};
    return d;
}

ConnectedAdbDevice wireless(const std::string& ip, std::optional<std::string> id = {}) {
    return ConnectedAdbDevice{ip + ":5555", connection_kind::kWireless, ip, std::nullopt, std::nullopt, id, false, true};
}

ConnectedAdbDevice recent(const std::string& serial, const std::string& ip) {
    return ConnectedAdbDevice{serial, connection_kind::kRecent, ip, std::nullopt, std::string("Tervo3"), serial, false, false};
}

TEST(MergedDevices, ARecentDeviceWithAConnectedAddressAddsNoTabAndRecentOnesComeLast) {
    auto live = wireless("127.0.0.2");
    auto merged = mergedDevices({live, usb("OTHER")}, {recent("T3ABC", "127.0.0.2"), recent("OLD", "10.0.0.9")});
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_TRUE(merged[0].hasWireless);
    EXPECT_EQ(merged[0].ip, "127.0.0.2");
    EXPECT_EQ(merged[1].serial, "OTHER");
    EXPECT_EQ(merged[2].serial, "OLD");
    EXPECT_TRUE(merged[2].isRecent());
}

TEST(MergedDevices, UnrelatedGlassesStaySeparate) {
    EXPECT_EQ(mergedDevices({usb("A"), usb("B"), wireless("127.0.0.3")}, {}).size(), 3u);
}

TEST(TabTitle, ShortensFromFifteenCharactersAndMarksMirroring) {
    EXPECT_EQ(tabTitle(usb("S", "ABCDEFGHIJKLMN"), false), "ABCDEFGHIJKLMN");  // 14: whole
    EXPECT_EQ(tabTitle(usb("S", "ABCDEFGHIJKLMNO"), false), "ABCDEFG...LMNO");
}

TEST(TabTitle, CountsCharactersNotBytesAndNeutralisesControlCharacters) {
    EXPECT_EQ(tabTitle(usb("S", "智能眼镜型号一二三四五六七八九"), false), "智能眼镜型号一...六七八九");
    EXPECT_EQ(tabTitle(usb("S", "e\xCC\x81" "bcdefghijklmnop"), false), "e\xCC\x81" "bcdefg...mnop");  // é as two code points
    EXPECT_EQ(tabTitle(usb("S", "Ter\nvo\t3\x1b"), false), "Ter vo 3 ");
}

TEST(TabTooltip, ListsOnlyTheKnownValues) {
    auto device = wireless("127.0.0.2");
    EXPECT_EQ(tabTooltip(device), "IP: 127.0.0.2");
    device.model = "Tervo3";
    device.deviceId = "T3ABC";
    EXPECT_EQ(tabTooltip(device), "型号: Tervo3\nDeviceId: T3ABC\nIP: 127.0.0.2");
}

TEST(KeptSelection, FollowsTheSameGlassesAcrossRenders) {
    std::vector<ConnectedAdbDevice> tabs{usb("A"), wireless("127.0.0.2", "B")};
    EXPECT_EQ(keptSelection(tabs, usb("B")), 1u);  // the selected pair is now reached over Wi-Fi
    EXPECT_EQ(keptSelection(tabs, usb("GONE")), 0u);
    EXPECT_EQ(keptSelection(tabs, std::nullopt), 0u);
    EXPECT_EQ(keptSelection({}, usb("A")), std::nullopt);
}

TEST(WithKnownDetails, FillsTheQuickListingFromTheLastDetection) {
    auto known = wireless("127.0.0.2", "T3ABC");
    known.model = "Tervo3";
    auto fresh = withKnownDetails({wireless("127.0.0.2"), usb("NEW")}, {known});
    EXPECT_EQ(fresh[0].model, "Tervo3");
    EXPECT_EQ(fresh[0].deviceId, "T3ABC");
    EXPECT_EQ(fresh[1].model, std::nullopt);
}

}  // namespace
}  // namespace orvan
