#include <gtest/gtest.h>

#include <atomic>

#include "network/ComputerNetworkWatcher.h"
#include "platform/Dispatch.h"

namespace orvan {
namespace {

// One step of the main window's refresh tick: time passes, the network may change, a check runs.
struct Step {
    double after;  // seconds since the previous step
    std::optional<std::string> ssid;
    std::optional<LanInterfaceAddress> lan;
    int changesSoFar;
};

TEST(ComputerNetworkWatcher, ReportsEachChangeOnceAtMostEveryTwoSeconds) {
    const LanInterfaceAddress wlan{"wlan0", "192.168.1.20"};
    const std::vector<Step> steps{
        {0.0, std::nullopt, wlan, 0},                                    // the baseline: the name read failed
        {2.1, "Office", wlan, 0},                                        // read at last: the same network
        {1.0, "Home", wlan, 0},                                          // within 2 s of the last check: no read
        {1.5, "Home", wlan, 1},                                          // another network
        {2.1, "Home", wlan, 1},                                          // unchanged
        {2.1, std::nullopt, wlan, 1},                                    // the name read timed out: unknown
        {2.1, "Home", wlan, 1},                                          // ... so this is no change back
        {2.1, "Home", LanInterfaceAddress{"wlan0", "192.168.1.21"}, 2},  // new address
        {2.1, "Office", LanInterfaceAddress{"wlan0", "192.168.1.21"}, 3},
        {2.1, std::nullopt, std::nullopt, 4},  // off every network: "-|-|-"
    };
    auto main = std::make_shared<ManualMainQueue>();
    Dispatch::setMain(main);
    FakeClock clock;
    std::atomic<size_t> current = 0;  // the step whose network the (background) reads see
    std::atomic<int> reads = 0;
    std::vector<std::string> logs;
    std::string shown;
    int changes = 0;
    auto watcher = std::make_shared<ComputerNetworkWatcher>(
        ComputerNetworkWatcher::Sources{[&] { return ++reads, steps[current].ssid; },
                                        [&] { return steps[current].lan; }},
        ComputerNetworkWatcher::Hooks{[&](const std::string& name) { shown = name; }, [&] { ++changes; },
                                      [&](const std::string& line) { logs.push_back(line); }},
        clock);
    for (; current < steps.size(); ++current) {
        clock.advance(Seconds(steps[current].after));
        watcher->checkIfNeeded(current == 0);
        ASSERT_TRUE(main->runUntil([&] { return !watcher->isCheckInProgress(); }, Seconds(10)));
        EXPECT_EQ(changes, steps[current].changesSoFar) << "step " << current;
    }
    EXPECT_EQ(reads, static_cast<int>(steps.size()) - 1);  // the rate-limited step read nothing
    EXPECT_EQ(logs, std::vector<std::string>(4, ComputerNetworkWatcher::kChangeLogLine));
    EXPECT_EQ(shown, "-");
    EXPECT_EQ(ComputerNetworkWatcher::identityText("Office", wlan), "Office|wlan0|192.168.1.20");
}

}  // namespace
}  // namespace orvan
