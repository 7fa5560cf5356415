// Discovery against a scripted adb answered in-process: the commands, their order, time-outs
// and flags, the validation of wireless transports and how every answer ends up in the result.
// A hanging command is the runner's time-out at once; the time-out asked for is asserted.

#include <gtest/gtest.h>

#include "adb/DeviceDiscovery.h"
#include "foundation/MirrorError.h"
#include "support/ErrorOf.h"
#include "support/FakeAdb.h"
#include "support/Recorders.h"

namespace orvan {
namespace {

using testing::errorOf;
using testing::FakeAdb;
using Lines = std::vector<std::string>;

constexpr const char* kIpAddr = "28: wlan0: <UP>\n    inet 192.168.1.20/24 brd 192.168.1.255 scope global wlan0\n";
constexpr const char* kWifiStatus = "Wifi is enabled\nWifiInfo: SSID: \"Office\", BSSID: 02:00:00:00:00:00\n";

class DeviceDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        logged.attach(*log);
        recorded.attach(runner);
        runner.setCommandRunner(adb.inProcess());
    }

    // A healthy USB pair ABC123 and its wireless transport 192.168.1.20:5555.
    void scriptHealthyPair() {
        adb.on({"devices"}).reply("List of devices attached\nABC123\tdevice\n192.168.1.20:5555\tdevice\n\n");
        adb.on({"-s", "*", "get-state"}).reply("device");
        adb.on({"-s", "*", "shell", "echo", "__ORVAN_MIRROR_ADB_READY__"}).reply("__ORVAN_MIRROR_ADB_READY__");
        adb.on({"-s", "*", "shell", "getprop", "ro.product.model"}).reply("Tervo3\n");
        adb.on({"-s", "*", "shell", "getprop", "ro.serialno"}).reply("ABC123\n");
        adb.on({"-s", "ABC123", "shell", "ip", "addr", "show", "wlan0"}).reply(kIpAddr);
        adb.on({"-s", "*", "shell", "cmd", "wifi", "status"}).reply(kWifiStatus);
    }

    double timeoutOf(const std::string& commandTail) const {
        for (const auto& invocation : recorded.invocations())
            if (invocation.arguments.ends_with(commandTail)) return invocation.timeout;
        ADD_FAILURE() << "no command ending in " << commandTail;
        return -1;
    }

    FakeAdb adb;
    SharedLogSink log = std::make_shared<LogSink>();
    AdbRunner runner{adb.adbPath(), 16241, log};
    ToolLocation tools = adb.tools();
    DeviceDiscovery discovery{runner, tools};
    testing::LogRecorder logged;
    testing::InvocationRecorder recorded;
};

TEST_F(DeviceDiscoveryTest, FullDetectionRunsEveryCommandInOrderOnTheSharedServerLoggedUnlessSilent) {
    scriptHealthyPair();
    auto devices = discovery.detectAdbDevices(true);

    EXPECT_EQ(adb.commandLines(), (Lines{
                                      "devices",
                                      "-s 192.168.1.20:5555 get-state",
                                      "-s 192.168.1.20:5555 shell echo __ORVAN_MIRROR_ADB_READY__",
                                      "-s ABC123 shell getprop ro.product.model",
                                      "-s ABC123 shell getprop ro.serialno",
                                      "-s ABC123 shell ip addr show wlan0",
                                      "-s ABC123 shell cmd wifi status",
                                      "-s 192.168.1.20:5555 shell getprop ro.product.model",
                                      "-s 192.168.1.20:5555 shell getprop ro.serialno",
                                      "-s 192.168.1.20:5555 shell cmd wifi status",
                                  }));
    EXPECT_TRUE(logged.lines().empty());
    auto invocations = recorded.invocations();
    for (const auto& invocation : invocations) EXPECT_FALSE(invocation.logCommand);
    EXPECT_DOUBLE_EQ(timeoutOf("devices"), 10.0);
    EXPECT_DOUBLE_EQ(timeoutOf("get-state"), 3.0);
    EXPECT_DOUBLE_EQ(timeoutOf("echo __ORVAN_MIRROR_ADB_READY__"), 2.5);  // silent
    EXPECT_DOUBLE_EQ(timeoutOf("ro.product.model"), 5.0);
    EXPECT_DOUBLE_EQ(timeoutOf("ro.serialno"), 5.0);
    EXPECT_DOUBLE_EQ(timeoutOf("show wlan0"), 10.0);
    EXPECT_DOUBLE_EQ(timeoutOf("wifi status"), 6.0);
    for (const auto& invocation : invocations) {
        // Only the listing and the address fail loudly; every other answer is optional.
        bool checked = invocation.arguments == "devices" || invocation.arguments.ends_with("show wlan0");
        EXPECT_EQ(invocation.check, checked) << invocation.arguments;
        EXPECT_EQ(invocation.scope, AdbServerScope::sharedDevelopment);
    }

    auto both = [](const std::string& value) {
        return std::map<std::string, std::string>{{"ABC123", value}, {"192.168.1.20:5555", value}};
    };
    EXPECT_EQ(devices, (AdbDevices{{"ABC123"},
                                   {"192.168.1.20:5555"},
                                   both("Tervo3"),
                                   both("ABC123"),
                                   both("192.168.1.20"),
                                   both("Office"),
                                   {}}));

    // Not silent: every command but the validation is logged, and the echo waits longer.
    recorded.clear();
    discovery.detectAdbDevices(false);
    for (const auto& invocation : recorded.invocations()) {
        bool validation =
            invocation.arguments.ends_with("get-state") || invocation.arguments.ends_with("__ORVAN_MIRROR_ADB_READY__");
        EXPECT_EQ(invocation.logCommand, !validation) << invocation.arguments;
    }
    EXPECT_DOUBLE_EQ(timeoutOf("echo __ORVAN_MIRROR_ADB_READY__"), 4.0);
    EXPECT_EQ(logged.lines().at(0), "$ " + adb.adbPath().string() + " devices");
    EXPECT_TRUE(logged.contains("Tervo3"));
}

TEST_F(DeviceDiscoveryTest, StaleWirelessTransportsAreLoggedDisconnectedAndLeftOut) {
    adb.on({"devices"})
        .reply(
            "List of devices attached\n10.0.0.1:5555\tdevice\n10.0.0.2:5555\tdevice\n10.0.0.3:5555\tdevice\n"
            "10.0.0.4:5555\tdevice\n10.0.0.5:5555\toffline\n10.0.0.6:5555\tunauthorized\n");
    adb.on({"-s", "10.0.0.2:5555", "get-state"}).reply("offline");  // went offline after the listing
    adb.on({"-s", "*", "get-state"}).reply("device");
    adb.on({"-s", "10.0.0.1:5555", "shell", "echo", "*"}).hangs();                                   // dead link
    adb.on({"-s", "10.0.0.3:5555", "shell", "echo", "*"}).reply("__ORVAN_MIRROR_ADB_READY__", 255);  // failing shell
    adb.on({"-s", "*", "shell", "echo", "*"}).reply("__ORVAN_MIRROR_ADB_READY__");
    adb.on({"disconnect", "10.0.0.3:5555"}).reply("error: no such device '10.0.0.3:5555'", 1);  // ignored
    adb.on({"disconnect", "*"}).reply("disconnected");
    adb.on({"-s", "*", "shell", "**"}).reply("", 1);

    auto devices = discovery.detectAdbDevices(false);

    EXPECT_EQ(devices.wireless, Lines{"10.0.0.4:5555"});
    EXPECT_TRUE(devices.usb.empty());
    EXPECT_EQ(devices.ips, (std::map<std::string, std::string>{{"10.0.0.4:5555", "10.0.0.4"}}));
    EXPECT_TRUE(devices.deviceIds.empty());  // a wireless serial is no device id
    Lines stale;
    for (const auto& line : logged.lines())
        if (line.starts_with("已忽略")) stale.push_back(line);
    EXPECT_EQ(stale, (Lines{"已忽略并清理失效的无线 ADB transport: 10.0.0.1:5555",
                            "已忽略并清理失效的无线 ADB transport: 10.0.0.2:5555",
                            "已忽略并清理失效的无线 ADB transport: 10.0.0.3:5555"}));
    Lines disconnects;
    for (const auto& line : adb.commandLines())
        if (line.starts_with("disconnect")) disconnects.push_back(line);
    EXPECT_EQ(disconnects, (Lines{"disconnect 10.0.0.1:5555", "disconnect 10.0.0.2:5555", "disconnect 10.0.0.3:5555"}));
    for (const auto& invocation : recorded.invocations())
        if (invocation.arguments.starts_with("disconnect")) {
            EXPECT_FALSE(invocation.logCommand);
            EXPECT_DOUBLE_EQ(invocation.timeout, 4.0);
        }
    EXPECT_DOUBLE_EQ(timeoutOf("10.0.0.1:5555 shell echo __ORVAN_MIRROR_ADB_READY__"), 4.0);  // the hung echo's
}

TEST_F(DeviceDiscoveryTest, AHungDisconnectFailsTheDiscovery) {
    adb.on({"devices"}).reply("List of devices attached\n10.0.0.1:5555\tdevice\n");
    adb.on({"-s", "*", "get-state"}).reply("offline");
    adb.on({"disconnect", "*"}).hangs();
    EXPECT_EQ(errorOf([&] { discovery.detectAdbDevices(true); }),
              "命令超时: " + adb.adbPath().string() + " disconnect 10.0.0.1:5555");
    EXPECT_DOUBLE_EQ(timeoutOf("disconnect 10.0.0.1:5555"), 4.0);
}

TEST_F(DeviceDiscoveryTest, ListingFailuresAndMissingToolsArePassedOn) {
    adb.on({"devices"}).reply("* daemon not running; starting now at tcp:5037\ncannot connect to daemon", 1);
    EXPECT_EQ(errorOf([&] { discovery.detectAdbDevicePresence(true); }),
              "* daemon not running; starting now at tcp:5037\ncannot connect to daemon");
    EXPECT_THROW(discovery.detectAdbDevices(true), MirrorError);
    const auto missing = ToolLocation::inToolFolder("/nonexistent/orvan-tools");  // the discovery keeps a reference
    DeviceDiscovery withoutTools{runner, missing};
    EXPECT_TRUE(errorOf([&] { withoutTools.detectAdbDevices(true); }).starts_with("缺少工具文件"));
    EXPECT_EQ(adb.commandLines().size(), 2u);  // no adb ran for the missing tools
}

TEST_F(DeviceDiscoveryTest, EachDetailIsTrimmedOrNoneOnFailureButAWlanIpFailsWithItsOwnText) {
    adb.on({"-s", "A", "shell", "getprop", "ro.product.model"}).reply("  Tervo3 Pro\r\n");
    adb.on({"-s", "B", "shell", "getprop", "ro.product.model"}).reply("Tervo3", 1);
    adb.on({"-s", "C", "shell", "getprop", "ro.product.model"}).reply("\n");
    adb.on({"-s", "D", "shell", "getprop", "ro.product.model"}).hangs();
    adb.on({"-s", "A", "shell", "cmd", "wifi", "status"}).reply("Wifi is enabled\nSSID: <unknown ssid>, BSSID: x\n");
    adb.on({"-s", "A", "shell", "dumpsys", "wifi"}).reply("mWifiInfo SSID: \"Lab\", BSSID: x\n");
    adb.on({"-s", "B", "shell", "cmd", "wifi", "status"}).reply("SSID: \"Office\"", 1);  // failing: not believed
    adb.on({"-s", "B", "shell", "dumpsys", "wifi"}).reply("Wi-Fi is disabled");
    EXPECT_EQ(discovery.getDeviceModel("A", true), "Tervo3 Pro");
    EXPECT_EQ(discovery.getDeviceModel("B", true), std::nullopt);
    EXPECT_EQ(discovery.getDeviceModel("C", true), std::nullopt);
    EXPECT_EQ(discovery.getDeviceModel("D", true), std::nullopt);
    EXPECT_EQ(recorded.timeouts(), (std::vector<double>{5.0, 5.0, 5.0, 5.0}));
    EXPECT_EQ(discovery.getWlanSsid("A", true), "Lab");
    EXPECT_EQ(discovery.getWlanSsid("B", true), std::nullopt);
    EXPECT_DOUBLE_EQ(timeoutOf("dumpsys wifi"), 6.0);

    adb.on({"-s", "A", "shell", "ip", "**"}).reply("28: wlan0: <BROADCAST> mtu 1500\n    link/ether 02:00\n");
    adb.on({"-s", "B", "shell", "ip", "**"}).reply("Device \"wlan0\" does not exist.", 1);
    adb.on({"-s", "C", "shell", "ip", "**"}).reply(kIpAddr);
    EXPECT_EQ(errorOf([&] { discovery.getWlanIp("A", true); }),
              "无法从 wlan0 获取眼镜 IP，请确认眼镜已接入公司内网或可互访局域网后重试。");
    EXPECT_EQ(errorOf([&] { discovery.getWlanIp("B", true); }), "Device \"wlan0\" does not exist.");
    EXPECT_EQ(discovery.getWlanIp("C", true), "192.168.1.20");

    adb.on({"-s", "A", "shell", "getprop", "ro.serialno"}).reply("unknown\n");
    adb.on({"-s", "A", "shell", "getprop", "ro.boot.serialno"}).reply(" HW-A \n");
    EXPECT_EQ(discovery.getDeviceHardwareId("A", true), "HW-A");

    adb.on({"-s", "B", "shell", "getprop", "ro.serialno"}).reply("HW-B", 1);  // a failing command is no answer
    adb.on({"-s", "B", "shell", "getprop", "ro.boot.serialno"}).reply("  \n");
    EXPECT_EQ(discovery.getDeviceHardwareId("B", true), std::nullopt);

    adb.on({"devices"}).reply("List of devices attached\nB\tdevice\n");
    adb.on({"-s", "*", "shell", "**"}).reply("", 1);
    auto devices = discovery.detectAdbDevices(true);
    EXPECT_EQ(devices.deviceIds.at("B"), "B");
    EXPECT_EQ(devices.ips.count("B"), 0u);  // getWlanIp failed: left out, nothing thrown
    EXPECT_EQ(devices.models.count("B"), 0u);
    EXPECT_EQ(devices.wifiNames.count("B"), 0u);
}

}  // namespace
}  // namespace orvan
