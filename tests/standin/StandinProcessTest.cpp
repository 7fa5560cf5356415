// The scrcpy stand-in as the app meets it: a child process with one output pipe, checked
// against a scripted adb. Windows are covered by tests/platform (under Xvfb).

#include "standin/StandinHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>

namespace orvan::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class StandinProcessTest : public ::testing::Test {
protected:
    std::unique_ptr<RunningChild> start(std::map<std::string, std::optional<std::string>> environment,
                                        std::vector<std::string> arguments = {"-s", "SIMGLASSES01", "--no-audio"}) {
        environment.emplace("ORVAN_STANDIN_LOG", logPath().string());
        return std::make_unique<RunningChild>(standinSpec(adb_.path(), temp_.path(), std::move(arguments), environment));
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

    static void expectExit(RunningChild& child, ProcessExit::Reason reason, int status,
                           std::chrono::milliseconds timeout = 5s) {
        const auto exit = child.waitForExit(timeout);
        ASSERT_TRUE(exit) << "still running; output so far:\n" << child.output();
        EXPECT_EQ(exit->reason, reason) << child.output();
        EXPECT_EQ(exit->status, status) << child.output();
    }

    TempDir temp_;
    ScriptedAdb adb_{temp_.path()};
};

TEST_F(StandinProcessTest, ChecksItsTargetThroughTheAdbAndServerItWasGiven) {
    auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ADB_SERVER_SOCKET", "tcp:127.0.0.1:25037"}},
                         {"-s", "192.168.1.8:5555", "--no-audio", "-m", "1024"});
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture: 1280x720", 5s)) << standin->output();
    EXPECT_EQ(adb_.calls(), std::vector<std::string>{"-s 192.168.1.8:5555 get-state"});
    EXPECT_EQ(adb_.sockets(), std::vector<std::string>{"tcp:127.0.0.1:25037"});

    const auto start = logEvents("start");
    ASSERT_EQ(start.size(), 1U);
    EXPECT_EQ(start[0]["pid"], standin->pid());
    EXPECT_EQ(start[0]["argv"].size(), 6U);
    EXPECT_EQ(start[0]["argv"][1], "-s");
    EXPECT_EQ(start[0]["argv"][3], "--no-audio");
    EXPECT_EQ(start[0]["env"]["ADB"], adb_.path().string());
    EXPECT_EQ(start[0]["env"]["ADB_SERVER_SOCKET"], "tcp:127.0.0.1:25037");
    EXPECT_EQ(start[0]["cwd"], temp_.path().string());
    EXPECT_TRUE(standin->isRunning()) << "a ready stand-in keeps its window open";
}

TEST_F(StandinProcessTest, RefusesATargetThatIsNotInStateDevice) {
    struct Case {
        const char* adbOutput;
        int adbStatus;
    };
    for (const Case& c : {Case{"error: device offline\n", 1}, Case{"error: device unauthorized.\n", 1},
                          Case{"error: device 'SIMGLASSES01' not found\n", 1}, Case{"offline\n", 0},
                          Case{"", 0}, Case{"device\n", 1}, Case{"bootloader\n", 0}}) {
        SCOPED_TRACE(std::string("adb said '") + c.adbOutput + "' with status " + std::to_string(c.adbStatus));
        adb_.answer(c.adbOutput, c.adbStatus);
        auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}});
        expectExit(*standin, ProcessExit::Reason::exited, 1);
        EXPECT_NE(standin->output().find("ERROR: Could not find ADB device SIMGLASSES01"), std::string::npos);
        EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
        // adb's own words reach the app, which looks for "device offline" among others.
        const std::string firstLine = std::string(c.adbOutput).substr(0, std::string(c.adbOutput).find('\n'));
        EXPECT_NE(standin->output().find(firstLine), std::string::npos);
    }
}

TEST_F(StandinProcessTest, ReportsAnAdbThatCannotRunOrAServerFileThatIsMissing) {
    auto noAdb = std::make_unique<RunningChild>(
        standinSpec(temp_.path() / "missing-adb", temp_.path(), {"-s", "X"}, {{"ORVAN_STANDIN_DELAY_MS", "0"}}));
    expectExit(*noAdb, ProcessExit::Reason::exited, 1);
    EXPECT_NE(noAdb->output().find("ERROR: Command not found: adb"), std::string::npos) << noAdb->output();

    auto noServer = start({{"SCRCPY_SERVER_PATH", (temp_.path() / "scrcpy-server").string()}});
    expectExit(*noServer, ProcessExit::Reason::exited, 1);
    EXPECT_NE(noServer->output().find("ERROR: Server not found: " + (temp_.path() / "scrcpy-server").string()),
              std::string::npos);
    EXPECT_TRUE(adb_.calls().empty()) << "the server file is checked before the device";

    writeFile(temp_.path() / "scrcpy-server", "jar");
    auto withServer = start({{"SCRCPY_SERVER_PATH", (temp_.path() / "scrcpy-server").string()},
                             {"ORVAN_STANDIN_DELAY_MS", "0"}});
    EXPECT_TRUE(withServer->waitForOutput("INFO: Texture:", 5s)) << withServer->output();
}

TEST_F(StandinProcessTest, FindsAdbInPathWhenAdbIsUnset) {
    auto spec = standinSpec(adb_.path(), temp_.path(), {"-s", "P1"}, {{"ORVAN_STANDIN_DELAY_MS", "0"}});
    spec.environmentChanges["ADB"] = std::nullopt;
    spec.environmentChanges["PATH"] = temp_.path().string() + ":/usr/bin:/bin";
    RunningChild standin(spec);
    EXPECT_TRUE(standin.waitForOutput("INFO: Texture:", 5s)) << standin.output();
    EXPECT_EQ(adb_.calls(), std::vector<std::string>{"-s P1 get-state"});
}

TEST_F(StandinProcessTest, PrintsTheTextureLineAfterTheDelayAndStopsCleanlyOnSigterm) {
    const auto launched = Clock::now();
    auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "400"}});
    ASSERT_TRUE(standin->waitForOutput("INFO: ADB device found: SIMGLASSES01", 5s)) << standin->output();
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture: 1280x720", 5s));
    const auto seen = Clock::now() - launched;
    EXPECT_GE(seen, 400ms);
    EXPECT_LT(seen, 2000ms);

    const auto ready = logEvents("ready");
    ASSERT_EQ(ready.size(), 1U);
    EXPECT_EQ(ready[0]["signal"], "texture");
    EXPECT_GE(ready[0]["elapsedMs"].get<double>(), 400.0);
    EXPECT_EQ(logEvents("no-window").size(), 1U) << "no DISPLAY, no window";

    standin->child().terminate();
    expectExit(*standin, ProcessExit::Reason::exited, 0, 2s);
    const auto exit = logEvents("exit");
    ASSERT_EQ(exit.size(), 1U);
    EXPECT_EQ(exit[0]["signal"], SIGTERM);
}

TEST_F(StandinProcessTest, ServerErrorFailsAfterTheDelayWithTheClientsWords) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "server-error"}, {"ORVAN_STANDIN_DELAY_MS", "100"}});
    expectExit(*standin, ProcessExit::Reason::exited, 1);
    EXPECT_NE(standin->output().find("ERROR: Server connection failed"), std::string::npos);
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
}

TEST_F(StandinProcessTest, HangNeverSignalsReadinessUntilTerminated) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "hang"}, {"ORVAN_STANDIN_DELAY_MS", "0"}});
    EXPECT_FALSE(standin->waitForOutput("Texture", 800ms));
    EXPECT_TRUE(standin->isRunning());
    standin->child().terminate();
    expectExit(*standin, ProcessExit::Reason::exited, 0, 2s);
}

TEST_F(StandinProcessTest, Exit0EndsCleanlyBeforeReadiness) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "exit0"}, {"ORVAN_STANDIN_DELAY_MS", "50"}});
    expectExit(*standin, ProcessExit::Reason::exited, 0);
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
}

TEST_F(StandinProcessTest, SignalModeDiesOfTheChosenSignalWithoutACoreFile) {
    for (const auto& [setting, signal] : {std::pair{"", SIGSEGV}, std::pair{"SIGABRT", SIGABRT}, std::pair{"9", SIGKILL}}) {
        SCOPED_TRACE(setting);
        auto standin = start({{"ORVAN_STANDIN_MODE", "signal"},
                              {"ORVAN_STANDIN_DELAY_MS", "0"},
                              {"ORVAN_STANDIN_SIGNAL", std::string(setting)}});
        expectExit(*standin, ProcessExit::Reason::signaled, signal);
        EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
    }
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("core")) << entry.path();
    }
}

TEST_F(StandinProcessTest, FloodPrintsFiftyMebibytesThenBecomesReady) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "flood"}, {"ORVAN_STANDIN_DELAY_MS", "0"}});
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture: 1280x720", 30s)) << standin->output().size() << " bytes so far";
    EXPECT_GE(standin->output().size(), 50U * 1024 * 1024);
    EXPECT_LT(standin->output().size(), 50U * 1024 * 1024 + 4096);
    EXPECT_NE(standin->output().find("DEBUG: flood line 000000000000 "), std::string::npos);
}

TEST_F(StandinProcessTest, AStalledReaderCannotKeepItFromStopping) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "flood"}, {"ORVAN_STANDIN_DELAY_MS", "0"}});
    // Nobody reads: the pipe fills and the stand-in waits for room.
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(standin->isRunning());
    const auto stopAt = Clock::now();
    standin->child().terminate();
    const auto exit = standin->child().waitForExit(Clock::now() + 2s, {});
    EXPECT_TRUE(exit) << "a stand-in blocked on a full pipe must still end on SIGTERM";
    EXPECT_LT(Clock::now() - stopAt, 1s);
    EXPECT_EQ(standin->child().exit()->status, 0);
}

TEST_F(StandinProcessTest, ClosedOutputGivesEndOfFileWhileItKeepsRunning) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "closed-output"}, {"ORVAN_STANDIN_DELAY_MS", "0"}});
    const auto deadline = Clock::now() + 5s;
    bool open = true;
    while (open && Clock::now() < deadline) {
        open = standin->collect();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(open) << "the reader sees end of file";
    EXPECT_TRUE(standin->isRunning());
    EXPECT_EQ(standin->output().find("Texture"), std::string::npos);
    EXPECT_EQ(logEvents("output-closed").size(), 1U);
}

TEST_F(StandinProcessTest, LifetimeEndsWithTheChosenExitOrSignal) {
    auto exits = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_LIFETIME_MS", "200"}, {"ORVAN_STANDIN_END", "exit3"}});
    ASSERT_TRUE(exits->waitForOutput("INFO: Texture:", 5s));
    expectExit(*exits, ProcessExit::Reason::exited, 3);

    auto dies = start({{"ORVAN_STANDIN_DELAY_MS", "0"},
                       {"ORVAN_STANDIN_LIFETIME_MS", "100"},
                       {"ORVAN_STANDIN_END", "signal"},
                       {"ORVAN_STANDIN_SIGNAL", "KILL"}});
    ASSERT_TRUE(dies->waitForOutput("INFO: Texture:", 5s));
    expectExit(*dies, ProcessExit::Reason::signaled, SIGKILL);
}

TEST_F(StandinProcessTest, AModeListFailsTheFirstRunAndWorksTheNext) {
    const std::map<std::string, std::optional<std::string>> environment{
        {"ORVAN_STANDIN_MODE", "server-error,ready"},
        {"ORVAN_STANDIN_STATE", (temp_.path() / "runs").string()},
        {"ORVAN_STANDIN_DELAY_MS", "0"}};
    auto first = start(environment);
    expectExit(*first, ProcessExit::Reason::exited, 1);
    EXPECT_NE(first->output().find("Server connection failed"), std::string::npos);
    for (int run = 1; run <= 2; ++run) {
        auto next = start(environment);
        EXPECT_TRUE(next->waitForOutput("INFO: Texture:", 5s)) << "run " << run << ": " << next->output();
    }
    const auto starts = logEvents("start");
    ASSERT_EQ(starts.size(), 3U);
    EXPECT_EQ(starts[0]["mode"], "server-error");
    EXPECT_EQ(starts[1]["mode"], "ready");
    EXPECT_EQ(starts[2]["run"], 2);
}

TEST_F(StandinProcessTest, WatchEndsTheMirrorWhenTheTargetLeavesStateDevice) {
    auto standin = start({{"ORVAN_STANDIN_DELAY_MS", "0"}, {"ORVAN_STANDIN_WATCH_MS", "50"}});
    ASSERT_TRUE(standin->waitForOutput("INFO: Texture:", 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(standin->isRunning());
    adb_.answer("error: device offline\n", 1);
    expectExit(*standin, ProcessExit::Reason::exited, 2, 3s);
    EXPECT_NE(standin->output().find("WARN: Device disconnected"), std::string::npos);
    EXPECT_GE(adb_.calls().size(), 3U);
}

TEST_F(StandinProcessTest, WindowOnlyWithoutDisplayNeverSignals) {
    auto standin = start({{"ORVAN_STANDIN_MODE", "window-only"}, {"ORVAN_STANDIN_DELAY_MS", "0"}});
    EXPECT_FALSE(standin->waitForOutput("Texture", 500ms));
    EXPECT_TRUE(standin->isRunning());
    EXPECT_TRUE(logEvents("ready").empty());
}

TEST_F(StandinProcessTest, BadControlsAndArgumentsAreRefusedClearly) {
    auto badWindow = start({{"ORVAN_STANDIN_WINDOW", "large"}});
    expectExit(*badWindow, ProcessExit::Reason::exited, 2);
    EXPECT_NE(badWindow->output().find("scrcpy-standin: ORVAN_STANDIN_WINDOW='large'"), std::string::npos)
        << badWindow->output();

    auto badMode = start({{"ORVAN_STANDIN_MODE", "explode"}});
    expectExit(*badMode, ProcessExit::Reason::exited, 2);
    EXPECT_NE(badMode->output().find("unknown mode 'explode' (known: ready, window-only"), std::string::npos);

    auto badArgument = start({}, {"-s", "X", "--window-width=wide"});
    expectExit(*badArgument, ProcessExit::Reason::exited, 1);
    EXPECT_NE(badArgument->output().find("ERROR: Could not parse window width: wide"), std::string::npos);
    EXPECT_TRUE(adb_.calls().empty()) << "nothing is run with a bad setup";

    auto version = start({}, {"--version"});
    expectExit(*version, ProcessExit::Reason::exited, 0);
    EXPECT_NE(version->output().find("scrcpy 2.1"), std::string::npos);
}

}  // namespace
}  // namespace orvan::testing
