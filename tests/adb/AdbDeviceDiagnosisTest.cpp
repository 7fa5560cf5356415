// Listings as Debian's adb prints them for glasses it cannot use, and the vendor id for the fix.
#include <gtest/gtest.h>

#include <fstream>

#include "adb/AdbDeviceDiagnosis.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

const std::string kNoPermissions =
    "no permissions (missing udev rules? user is in the plugdev group); see "
    "[http://developer.android.com/tools/device.html]";

TEST(UnusableListing, KeepsDevicesApartFromWhatCannotBeUsed) {
    using Row = std::tuple<std::string, std::vector<UnusableAdbDevice>, size_t>;
    for (const auto& [listing, unusable, usable] : std::vector<Row>{
             std::tuple("T3A01\t" + kNoPermissions + "\n\n",
                        std::vector<UnusableAdbDevice>{{"T3A01", "no permissions"}}, 0),
             std::tuple("T3A01   " + kNoPermissions + " usb:1-1 transport_id:4\n",  // devices -l
                        std::vector<UnusableAdbDevice>{{"T3A01", "no permissions"}}, 0),
             std::tuple("T3A01\tunauthorized\r\n\r\n", std::vector<UnusableAdbDevice>{{"T3A01", "unauthorized"}}, 0),
             std::tuple("T3A01 offline usb:1-1 transport_id:2\n", std::vector<UnusableAdbDevice>{{"T3A01", "offline"}},
                        0),
             std::tuple("T3A01\tsideload\n127.0.0.2:5555\tdevice\nT3A02\toffline\n",
                        std::vector<UnusableAdbDevice>{{"T3A01", "sideload"}, {"T3A02", "offline"}}, 1)}) {
        // As the client prints it when it had to start the shared server: its messages are no devices.
        auto devices = parseAdbDevices(
            "* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
            "List of devices attached\n" +
            listing);
        EXPECT_EQ(devices.unusable, unusable) << listing;
        EXPECT_EQ(devices.usb.size() + devices.wireless.size(), usable) << listing;
    }
}

TEST(UsbVendorId, IsTheOneOfTheDeviceWithTheSerial) {
    testing::TempDir sysfs;
    for (auto [port, serial, vendor] : {std::tuple("1-1", "OTHER9", "05ac"), std::tuple("1-2", "T3A01", "2d4f\n")}) {
        auto folder = sysfs.path() / "bus/usb/devices" / port;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "serial") << serial << "\n";
        std::ofstream(folder / "idVendor") << vendor;
    }
    // An attribute that cannot be read (a folder, even for root) does not stop the search.
    std::filesystem::remove(sysfs / "bus/usb/devices/1-1/serial");
    std::filesystem::create_directory(sysfs / "bus/usb/devices/1-1/serial");
    EXPECT_EQ(usbVendorIdForSerial("T3A01", sysfs.path()), "2d4f");
    EXPECT_EQ(usbVendorIdForSerial("NOPE", sysfs.path()), std::nullopt);
    auto rule = diagnoseUnusableDevices(parseAdbDevices("List\nT3A01\t" + kNoPermissions), sysfs.path());
    EXPECT_NE(rule.value_or("").find("\nSUBSYSTEM==\"usb\", ATTR{idVendor}==\"2d4f\", TAG+=\"uaccess\"\n"),
              std::string::npos);
    // A usable pair beside them: nothing to explain.
    EXPECT_EQ(diagnoseUnusableDevices(parseAdbDevices("List\nT3A02\toffline\nT3A01\tdevice\n"), sysfs.path()),
              std::nullopt);
}

}  // namespace
}  // namespace orvan
