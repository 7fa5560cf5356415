// The scrcpy stand-in as the app's end-to-end tests meet it: a child process with one output
// pipe that checks its target through the adb and server it was given, against a scripted adb.
// Its other modes and its window are no product test's concern (X11WindowSystemTest lists it).

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "standin/StandinHarness.h"
#include "support/FakeAdb.h"

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;
using Environment = std::map<std::string, std::optional<std::string>>;

class StandinProcessTest : public ::testing::Test {
protected:
    std::unique_ptr<RunningChild> start(Environment environment,
                                        std::vector<std::string> arguments = {"-s", "SIMGLASSES01", "--no-audio"}) {
        environment.emplace("ORVAN_STANDIN_LOG", logPath().string());
        environment.emplace("ORVAN_STANDIN_DELAY_MS", "0");
        return std::make_unique<RunningChild>(
            standinSpec(adb_.adbPath(), temp_.path(), std::move(arguments), environment));
    }
    std::filesystem::path logPath() const { return temp_.path() / "standin.jsonl"; }
    std::vector<nlohmann::json> logEvents(const std::string& event) const {
        std::vector<nlohmann::json> events;
        for (const auto& line : logLines(logPath())) {
            auto entry = nlohmann::json::parse(line);
            if (entry["event"] == event) events.push_back(std::move(entry));
        }
        return events;
    }

    TempDir temp_;
    FakeAdb adb_;
};

TEST_F(StandinProcessTest, ChecksItsTargetThroughTheAdbAndServerItWasGiven) {
    adb_.on({"**"}).reply("device\n");
    auto standin =
        start({{"ADB_SERVER_SOCKET", "tcp:127.0.0.1:25037"}}, {"-s", "192.168.1.8:5555", "--no-audio", "-m", "1024"});
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture: 1280x720", 20s)) << standin->output();
    EXPECT_EQ(adb_.commandLines(), std::vector<std::string>{"-s 192.168.1.8:5555 get-state"});
    const auto start = logEvents("start");
    ASSERT_EQ(start.size(), 1U);
    EXPECT_EQ(start[0]["pid"], standin->pid());
    EXPECT_EQ(start[0]["argv"].size(), 6U);
    EXPECT_EQ(start[0]["env"]["ADB"], adb_.adbPath().string());
    EXPECT_EQ(start[0]["env"]["ADB_SERVER_SOCKET"], "tcp:127.0.0.1:25037");  // its adb inherits it
}

// As when the app gave it an adb server that does not know the target.
TEST_F(StandinProcessTest, RefusesATargetThatIsNotInStateDevice) {
    adb_.on({"**"}).reply("error: device 'SIMGLASSES01' not found\n", 1);
    auto standin = start({});
    const auto exit = standin->waitForExit(20s);  // generous: only a broken stand-in waits it out
    ASSERT_TRUE(exit) << standin->output();
    EXPECT_EQ(exit->status, 1) << standin->output();
    EXPECT_NE(standin->output().find("ERROR: Could not find ADB device SIMGLASSES01"), std::string::npos);
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
}

}  // namespace
}  // namespace orvan::testing
