#pragma once

// The fixture of the end-to-end mirroring tests: an AdbWorld, the scrcpy stand-in logging its
// events to a file of the world, no X display, and a MirrorService on the world's tool folder and
// private port with a fake window list. Header-only: the tests that use it link the service.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "mirror/MirrorService.h"
#include "support/FakeWindowSystem.h"
#include "support/AdbWorld.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"

namespace orvan::testing {

class MirrorWorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
            GTEST_SKIP() << "needs the real adb, glasses-sim and the scrcpy stand-in";
        world = std::make_unique<AdbWorld>();
        standinLog = world->root() / "standin.jsonl";
        env.set("ORVAN_STANDIN_LOG", standinLog.string());
        env.unset("DISPLAY");  // no window unless a test brings its own X server
        MirrorServiceOptions options;
        options.tools = ToolLocation::inToolFolder(world->toolFolder());
        options.privatePort = world->privateServerPort();
        options.windows = std::make_shared<FakeWindowSystem>();
        options.mainQueue = main;
        configure(options);
        service = std::make_unique<MirrorService>(std::move(options));
    }

    // A fixture's own tools, display or window list, before the service is made.
    virtual void configure(MirrorServiceOptions&) {}

    // Stops every window; a stand-in still running afterwards fails the test.
    void TearDown() override {
        if (!service) return;
        service->stopForTermination();
        auto& launcher = service->scrcpyLauncher();
        EXPECT_TRUE(waitUntil([&] { return launcher.registry().launchedChildrenNotEnded().empty(); }))
            << "a stand-in is still running";
    }

    // The stand-in's events of one kind, in order.
    std::vector<nlohmann::json> standinEvents(const std::string& kind) const {
        std::vector<nlohmann::json> events;
        std::ifstream in(standinLog);
        for (std::string line; std::getline(in, line);) {
            auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_discarded() && event.value("event", "") == kind) events.push_back(event);
        }
        return events;
    }

    std::unique_ptr<AdbWorld> world;
    ScopedEnvironment env;
    std::filesystem::path standinLog;
    std::shared_ptr<ManualMainQueue> main = std::make_shared<ManualMainQueue>();
    std::unique_ptr<MirrorService> service;
};

}  // namespace orvan::testing
