// The scrcpy stand-in as the app meets it: a child process with one output pipe, checked
// against a scripted adb. Later tests rely on it checking its target through the adb and server
// it was given and on the ends a launcher tells apart; windows are covered under Xvfb in
// StandinWindowTest.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "standin/StandinHarness.h"

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
            standinSpec(adb_.path(), temp_.path(), std::move(arguments), environment));
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
    // Generous: the end comes by itself or after a signal; only a broken stand-in waits it out.
    static void expectExit(RunningChild& child, ProcessExit::Reason reason, int status) {
        const auto exit = child.waitForExit(20s);
        ASSERT_TRUE(exit) << "still running; output so far:\n" << child.output();
        EXPECT_EQ(exit->reason, reason) << child.output();
        EXPECT_EQ(exit->status, status) << child.output();
    }

    TempDir temp_;
    ScriptedAdb adb_{temp_.path()};
};

// One run per row: the controls ("MODE=hang" sets ORVAN_STANDIN_MODE), the arguments (none: a
// plain target), how it must end and what it must have said by then.
enum class End { runs, exits, dies };  // runs: until SIGTERM, once it has said `said`
struct ModeCase {
    const char* label;
    const char* controls;
    const char* arguments;
    End end;
    int status;  // the exit status, or the signal
    const char* said;
    bool texture;  // whether "INFO: Texture:", the readiness line, appears
};

std::vector<std::string> words(const char* text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) result.push_back(word);
    return result;
}

class StandinMode : public StandinProcessTest, public ::testing::WithParamInterface<ModeCase> {};

// Hang and window-only never signal readiness; their exit after SIGTERM closes the output, so a
// readiness line printed at any time before would be seen.
INSTANTIATE_TEST_SUITE_P(
    Modes, StandinMode,
    ::testing::Values(ModeCase{"ready", "", nullptr, End::runs, 0, "INFO: Texture: 1280x720", true},
                      ModeCase{"serverError", "MODE=server-error", nullptr, End::exits, 1, "Server connection failed",
                               false},
                      ModeCase{"exit0", "MODE=exit0", nullptr, End::exits, 0, "ADB device found", false},
                      ModeCase{"signalDefault", "MODE=signal", nullptr, End::dies, SIGSEGV, "", false},
                      ModeCase{"hang", "MODE=hang", nullptr, End::runs, 0, "ADB device found", false},
                      ModeCase{"badMode", "MODE=explode", nullptr, End::exits, 2, "unknown mode 'explode'", false},
                      ModeCase{"version", "", "--version", End::exits, 0, "scrcpy 2.1", false}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_P(StandinMode, EndsAsScrcpyWouldAndSaysSo) {
    const ModeCase& c = GetParam();
    Environment environment;
    for (const auto& control : words(c.controls)) {
        environment["ORVAN_STANDIN_" + control.substr(0, control.find('='))] = control.substr(control.find('=') + 1);
    }
    auto standin = c.arguments ? start(environment, words(c.arguments)) : start(environment);
    if (c.end == End::runs) {
        ASSERT_TRUE(standin->waitForOutput(c.said, 20s)) << standin->output();
        standin->child().terminate();
    }
    expectExit(*standin, c.end == End::dies ? ProcessExit::Reason::signaled : ProcessExit::Reason::exited, c.status);
    EXPECT_NE(standin->output().find(c.said), std::string::npos) << standin->output();
    EXPECT_EQ(standin->output().find("INFO: Texture:") != std::string::npos, c.texture) << standin->output();
    // A crash mode must not litter the test's folder with core files.
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("core")) << entry.path();
    }
    if (c.status == 2 || c.arguments) {
        EXPECT_TRUE(adb_.calls().empty()) << "nothing is run with a bad setup";
    }
}

TEST_F(StandinProcessTest, ChecksItsTargetThroughTheAdbAndServerItWasGiven) {
    auto standin =
        start({{"ADB_SERVER_SOCKET", "tcp:127.0.0.1:25037"}}, {"-s", "192.168.1.8:5555", "--no-audio", "-m", "1024"});
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture: 1280x720", 20s)) << standin->output();
    EXPECT_EQ(adb_.calls(), std::vector<std::string>{"-s 192.168.1.8:5555 get-state"});
    const auto start = logEvents("start");
    ASSERT_EQ(start.size(), 1U);
    EXPECT_EQ(start[0]["pid"], standin->pid());
    EXPECT_EQ(start[0]["argv"].size(), 6U);
    EXPECT_EQ(start[0]["env"]["ADB"], adb_.path().string());
    EXPECT_EQ(start[0]["env"]["ADB_SERVER_SOCKET"], "tcp:127.0.0.1:25037");  // its adb inherits it
}

TEST_F(StandinProcessTest, RefusesATargetThatIsNotInStateDevice) {
    for (const auto& [adbOutput, adbStatus] :
         std::vector<std::pair<std::string, int>>{{"error: device offline\n", 1},
                                                  {"error: device 'SIMGLASSES01' not found\n", 1},
                                                  {"offline\n", 0},
                                                  {"", 0},
                                                  {"device\n", 1}}) {
        SCOPED_TRACE("adb said '" + adbOutput + "' with status " + std::to_string(adbStatus));
        adb_.answer(adbOutput, adbStatus);
        auto standin = start({});
        expectExit(*standin, ProcessExit::Reason::exited, 1);
        EXPECT_NE(standin->output().find("ERROR: Could not find ADB device SIMGLASSES01"), std::string::npos);
        EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
        // adb's own words reach the app, which looks for "device offline" among others.
        EXPECT_NE(standin->output().find(adbOutput.substr(0, adbOutput.find('\n'))), std::string::npos);
    }
}

}  // namespace
}  // namespace orvan::testing
