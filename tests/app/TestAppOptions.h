#pragma once

#include <filesystem>

#include "app/AppDelegate.h"
#include "support/FakeWifiSystem.h"
#include "support/FakeWindowSystem.h"

namespace orvan::testing {

// The app for a test: its tools, logs and recent devices under folders of the test, the test's
// private adb port, the callback server on an ephemeral loopback port, fake windows and Wi-Fi.
inline AppDelegate::Options appOptions(const std::filesystem::path& root, const std::filesystem::path& tools,
                                       int privatePort) {
    AppDelegate::Options options;
    options.service.tools = ToolLocation::inToolFolder(tools);
    options.service.privatePort = privatePort;
    options.service.windows = std::make_shared<FakeWindowSystem>();
    options.wifi = std::make_shared<FakeWifiSystem>();
    options.callbackPort = 0;
    options.callbackBindAddress = "127.0.0.1";
    options.logFolder = root / "logs";
    options.recentDevicesFolder = root / "data";
    return options;
}

}  // namespace orvan::testing
