// Listings as Debian's adb prints them for glasses it cannot use, and what the user is told.
#include <gtest/gtest.h>

#include <fstream>

#include "adb/AdbDeviceDiagnosis.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

constexpr const char* kPermissionHint =
    "no permissions (missing udev rules? user is in the plugdev group); see "
    "[http://developer.android.com/tools/device.html]";

struct ListingCase {
    const char* name;
    std::string output;
    std::vector<UnusableAdbDevice> unusable;
    size_t usable;
};

class UnusableListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(UnusableListing, KeepsDevicesApartFromWhatCannotBeUsed) {
    auto devices = parseAdbDevices(GetParam().output);
    EXPECT_EQ(devices.unusable, GetParam().unusable);
    EXPECT_EQ(devices.usb.size() + devices.wireless.size(), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(
    RecordedListings, UnusableListing,
    ::testing::Values(
        ListingCase{"NoPermissionsWithHint",
                    std::string("List of devices attached\nT3A01\t") + kPermissionHint + "\n\n",
                    {{"T3A01", "no permissions"}},
                    0},
        ListingCase{"NoPermissionsLongForm",
                    std::string("List of devices attached\nT3A01                  ") + kPermissionHint +
                        " usb:1-1 transport_id:4\n",
                    {{"T3A01", "no permissions"}},
                    0},
        ListingCase{"UnauthorizedCrLf",
                    "List of devices attached\r\nT3A01\tunauthorized\r\n\r\n",
                    {{"T3A01", "unauthorized"}},
                    0},
        ListingCase{"OfflineLongForm",
                    "List of devices attached\nT3A01 offline usb:1-1 transport_id:2\n",
                    {{"T3A01", "offline"}},
                    0},
        ListingCase{
            "UnknownStateAsReported", "List of devices attached\nT3A01\tsideload\n", {{"T3A01", "sideload"}}, 0},
        ListingCase{"Mixed",
                    "List of devices attached\nT3A01\tunauthorized\n127.0.0.2:5555\tdevice\nT3A02\toffline\n",
                    {{"T3A01", "unauthorized"}, {"T3A02", "offline"}},
                    1}),
    [](const auto& param) { return std::string(param.param.name); });

// A sysfs tree with two USB devices; the glasses are the second.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        addDevice("1-1", "OTHER9", "05ac");
        addDevice("1-2", "T3A01", "2d4f\n");
    }
    void addDevice(const std::string& port, const std::string& serial, const std::string& vendor) {
        auto folder = dir_.path() / "bus/usb/devices" / port;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "serial") << serial << "\n";
        std::ofstream(folder / "idVendor") << vendor;
    }
    testing::TempDir dir_;
};

TEST_F(FakeSysfs, VendorIdIsTheOneOfTheDeviceWithTheSerial) {
    EXPECT_EQ(usbVendorIdForSerial("T3A01", dir_.path()), "2d4f");
    EXPECT_EQ(usbVendorIdForSerial("NOPE", dir_.path()), std::nullopt);
    EXPECT_EQ(usbVendorIdForSerial("T3A01", dir_.path() / "missing"), std::nullopt);
    // A device whose attribute cannot be read (a folder reads as nothing, even for root) does not
    // stop the search.
    std::filesystem::remove(dir_.path() / "bus/usb/devices/1-1/serial");
    std::filesystem::create_directory(dir_.path() / "bus/usb/devices/1-1/serial");
    EXPECT_EQ(usbVendorIdForSerial("T3A01", dir_.path()), "2d4f");
    std::filesystem::remove(dir_.path() / "bus/usb/devices/1-2/idVendor");
    EXPECT_EQ(usbVendorIdForSerial("T3A01", dir_.path()), std::nullopt);
}

TEST_F(FakeSysfs, DiagnosisNamesTheFixForEachState) {
    auto diagnose = [&](const std::string& listing) {
        return diagnoseUnusableDevices(parseAdbDevices("List of devices attached\n" + listing), dir_.path())
            .value_or("");
    };
    auto permissions = diagnose(std::string("T3A01\t") + kPermissionHint + "\n");
    EXPECT_NE(permissions.find("\nSUBSYSTEM==\"usb\", ATTR{idVendor}==\"2d4f\", TAG+=\"uaccess\"\n"), std::string::npos)
        << permissions;
    EXPECT_NE(permissions.find("/etc/udev/rules.d/51-orvan-glasses.rules"), std::string::npos);
    EXPECT_NE(permissions.find("udevadm control --reload-rules"), std::string::npos);
    EXPECT_NE(diagnose("UNSEEN\tno permissions\n").find("ATTR{idVendor}==\"<厂商ID>\""), std::string::npos);
    EXPECT_NE(diagnose("T3A01\tunauthorized\n").find("允许 USB 调试"), std::string::npos);
    EXPECT_NE(diagnose("T3A01\toffline\n").find("重新插拔 USB 线"), std::string::npos);
    EXPECT_NE(diagnose("T3A01\tbootloader\n").find("当前状态为 bootloader"), std::string::npos);
    // A usable pair beside them: nothing is wrong from the user's side.
    EXPECT_EQ(diagnose("T3A02\toffline\nT3A01\tdevice\n"), "");
    EXPECT_EQ(diagnose(""), "");
}

}  // namespace
}  // namespace orvan
