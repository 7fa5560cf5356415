// How the stand-in reads scrcpy's command line and the test's ORVAN_STANDIN_* controls.

#include "RunCounter.h"
#include "StandinConfig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace orvan::standin {
namespace {

using namespace std::chrono_literals;

TEST(StandinArguments, ReadsTheOptionsTheAppPassesInEveryForm) {
    const auto plain = parseScrcpyArguments({"-s", "192.168.1.8:5555", "--no-audio", "--window-title", "Orvan Glass Shell",
                                             "--window-width=720", "--window-height=720", "--window-borderless",
                                             "--always-on-top"});
    EXPECT_EQ(plain.serial, "192.168.1.8:5555");
    EXPECT_TRUE(plain.noAudio);
    EXPECT_EQ(plain.windowTitle, "Orvan Glass Shell");
    EXPECT_EQ(plain.windowWidth, 720);
    EXPECT_EQ(plain.windowHeight, 720);
    EXPECT_TRUE(plain.borderless);
    EXPECT_TRUE(plain.alwaysOnTop);
    EXPECT_TRUE(plain.ignored.empty());

    EXPECT_EQ(parseScrcpyArguments({"--serial=emulator-5554"}).serial, "emulator-5554");
    EXPECT_EQ(parseScrcpyArguments({"--serial", "ABC"}).serial, "ABC");
    EXPECT_EQ(parseScrcpyArguments({"-sABC123"}).serial, "ABC123");
    EXPECT_EQ(parseScrcpyArguments({"--window-title=A B"}).windowTitle, "A B");
    const auto position = parseScrcpyArguments({"--window-x", "-10", "--window-y=20"});
    EXPECT_EQ(position.windowX, -10);
    EXPECT_EQ(position.windowY, 20);
    EXPECT_FALSE(parseScrcpyArguments({"-s", "X"}).noAudio);
}

TEST(StandinArguments, IgnoresOptionsItDoesNotPlay) {
    const auto options = parseScrcpyArguments({"-m", "1024", "--video-bit-rate=8M", "-s", "T1", "--turn-screen-off", "-S"});
    EXPECT_EQ(options.serial, "T1");
    EXPECT_EQ(options.ignored, (std::vector<std::string>{"-m", "1024", "--video-bit-rate=8M", "--turn-screen-off", "-S"}));
    EXPECT_TRUE(parseScrcpyArguments({"--version"}).showVersion);
    EXPECT_TRUE(parseScrcpyArguments({"-h"}).showHelp);
    EXPECT_TRUE(parseScrcpyArguments({"--no-window"}).noWindow);
}

TEST(StandinArguments, RefusesMissingOrMalformedValuesLikeScrcpy) {
    EXPECT_THROW(parseScrcpyArguments({"-s"}), UsageError);
    EXPECT_THROW(parseScrcpyArguments({"--window-title"}), UsageError);
    EXPECT_THROW(parseScrcpyArguments({"--window-width=abc"}), UsageError);
    EXPECT_THROW(parseScrcpyArguments({"--window-width=-5"}), UsageError);
    EXPECT_THROW(parseScrcpyArguments({"--window-height", "99999999999"}), UsageError);
    EXPECT_THROW(parseScrcpyArguments({"--window-x=1.5"}), UsageError);
    try {
        parseScrcpyArguments({"--window-width=abc"});
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "Could not parse window width: abc");
    }
}

TEST(StandinControls, ModesParseSingleAndAsAListWhoseLastOneRepeats) {
    EXPECT_EQ(parseModes("hang"), std::vector<Mode>{Mode::hang});
    EXPECT_EQ(parseModes("server-error, ready"), (std::vector<Mode>{Mode::serverError, Mode::ready}));
    Behaviour behaviour;
    behaviour.modes = parseModes("exit0,signal,ready");
    EXPECT_EQ(modeForRun(behaviour, 0), Mode::exitEarly);
    EXPECT_EQ(modeForRun(behaviour, 1), Mode::signal);
    EXPECT_EQ(modeForRun(behaviour, 2), Mode::ready);
    EXPECT_EQ(modeForRun(behaviour, 57), Mode::ready);
    for (const char* name : {"ready", "window-only", "hang", "server-error", "exit0", "signal", "flood", "closed-output"}) {
        EXPECT_EQ(modeName(parseModes(name).front()), name);
    }
    EXPECT_THROW(parseModes("bogus"), ConfigError);
    EXPECT_THROW(parseModes("ready,"), ConfigError);
    EXPECT_THROW(parseModes(""), ConfigError);
}

TEST(StandinControls, WindowGeometryAcceptsSizeAndPositionOnly) {
    const auto size = parseWindowGeometry("200x100");
    EXPECT_EQ(size.width, 200);
    EXPECT_EQ(size.height, 100);
    EXPECT_FALSE(size.x.has_value());
    const auto placed = parseWindowGeometry("81x81+-5+40");
    EXPECT_EQ(placed.width, 81);
    EXPECT_EQ(placed.x, -5);
    EXPECT_EQ(placed.y, 40);
    for (const char* bad : {"", "abc", "200", "200x", "x100", "0x10", "200x100+5", "200x100+a+b", "-3x4", "99999x1"}) {
        EXPECT_THROW(parseWindowGeometry(bad), ConfigError) << bad;
    }
}

TEST(StandinControls, EndActionIsExitWithACodeOrSignal) {
    EXPECT_EQ(parseEndAction("exit0").value, 0);
    EXPECT_EQ(parseEndAction("exit3").value, 3);
    EXPECT_EQ(parseEndAction("signal").kind, EndAction::Kind::signal);
    for (const char* bad : {"exit", "exit256", "exit-1", "quit", "Signal"}) {
        EXPECT_THROW(parseEndAction(bad), ConfigError) << bad;
    }
}

TEST(StandinControls, BehaviourHasQuickDefaultsAndReadsEveryVariable) {
    const auto defaults = parseBehaviour({});
    EXPECT_EQ(defaults.modes, std::vector<Mode>{Mode::ready});
    EXPECT_EQ(defaults.delay, 200ms);
    EXPECT_EQ(defaults.deathSignal, 11);
    EXPECT_EQ(floodBytesFor(defaults, Mode::ready), 0U);
    EXPECT_EQ(floodBytesFor(defaults, Mode::flood), 50U * 1024 * 1024);

    const auto set = parseBehaviour({{"ORVAN_STANDIN_MODE", "hang"},
                                     {"ORVAN_STANDIN_DELAY_MS", "0"},
                                     {"ORVAN_STANDIN_WINDOW_DELAY_MS", "30"},
                                     {"ORVAN_STANDIN_WINDOW", "none"},
                                     {"ORVAN_STANDIN_FLOOD_BYTES", "123"},
                                     {"ORVAN_STANDIN_SIGNAL", "SIGABRT"},
                                     {"ORVAN_STANDIN_LIFETIME_MS", "500"},
                                     {"ORVAN_STANDIN_END", "exit4"},
                                     {"ORVAN_STANDIN_WATCH_MS", "100"},
                                     {"ORVAN_STANDIN_LOG", "/tmp/x.jsonl"}});
    EXPECT_EQ(set.modes, std::vector<Mode>{Mode::hang});
    EXPECT_EQ(set.delay, 0ms);
    EXPECT_EQ(set.windowDelay, 30ms);
    EXPECT_TRUE(set.windowDisabled);
    EXPECT_EQ(floodBytesFor(set, Mode::flood), 123U);
    EXPECT_EQ(set.deathSignal, 6);
    EXPECT_EQ(set.lifetime, 500ms);
    EXPECT_EQ(set.end.value, 4);
    EXPECT_EQ(set.watchInterval, 100ms);
    EXPECT_EQ(set.logPath, "/tmp/x.jsonl");
    EXPECT_EQ(parseBehaviour({{"ORVAN_STANDIN_SIGNAL", "KILL"}}).deathSignal, 9);
    EXPECT_EQ(parseBehaviour({{"ORVAN_STANDIN_SIGNAL", "15"}}).deathSignal, 15);
}

TEST(StandinControls, MalformedValuesAreRefusedNamingTheVariable) {
    const std::pair<const char*, const char*> bad[] = {
        {"ORVAN_STANDIN_DELAY_MS", "soon"},   {"ORVAN_STANDIN_DELAY_MS", "-1"},
        {"ORVAN_STANDIN_WINDOW", "big"},      {"ORVAN_STANDIN_FLOOD_BYTES", "50MB"},
        {"ORVAN_STANDIN_SIGNAL", "SIGNOPE"},  {"ORVAN_STANDIN_SIGNAL", "0"},
        {"ORVAN_STANDIN_END", "later"},       {"ORVAN_STANDIN_WATCH_MS", "0"},
        {"ORVAN_STANDIN_LIFETIME_MS", "1e3"}, {"ORVAN_STANDIN_MODE", "crash"},
    };
    for (const auto& [name, value] : bad) {
        try {
            parseBehaviour({{name, value}});
            ADD_FAILURE() << name << "=" << value << " was accepted";
        } catch (const ConfigError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
        }
    }
}

TEST(StandinControls, TheTestsWindowWinsOverScrcpysOptions) {
    ScrcpyOptions options;
    options.windowWidth = 720;
    options.windowHeight = 720;
    options.windowX = 10;
    Behaviour behaviour;
    const auto fromOptions = effectiveWindow(behaviour, options);
    ASSERT_TRUE(fromOptions);
    EXPECT_EQ(fromOptions->width, 720);
    EXPECT_EQ(fromOptions->x, 10);

    behaviour.window = parseWindowGeometry("80x80");
    EXPECT_EQ(effectiveWindow(behaviour, options)->width, 80);
    options.noWindow = true;
    EXPECT_EQ(effectiveWindow(behaviour, options)->width, 80) << "the test's explicit window wins";
    behaviour.window.reset();
    EXPECT_FALSE(effectiveWindow(behaviour, options));
    behaviour.windowDisabled = true;
    options.noWindow = false;
    EXPECT_FALSE(effectiveWindow(behaviour, options));

    const auto fallback = effectiveWindow(Behaviour{}, ScrcpyOptions{});
    EXPECT_EQ(fallback->width, 640);
    EXPECT_EQ(fallback->height, 360);
}

TEST(StandinRunCounter, CountsRunsAcrossCallsAndThreads) {
    const auto path = std::filesystem::temp_directory_path() / ("orvan-standin-count-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    EXPECT_EQ(claimRunIndex(""), 0U);
    EXPECT_EQ(claimRunIndex(path), 0U);
    EXPECT_EQ(claimRunIndex(path), 1U);

    std::vector<std::thread> threads;
    std::vector<std::uint64_t> indexes(16);
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        threads.emplace_back([&, i] { indexes[i] = claimRunIndex(path); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<std::uint64_t>(indexes.begin(), indexes.end()).size(), indexes.size()) << "every run its own index";
    EXPECT_EQ(claimRunIndex(path), 18U);

    std::ofstream(path) << "garbage";
    EXPECT_THROW(claimRunIndex(path), ConfigError);
    std::filesystem::remove(path);
    EXPECT_THROW(claimRunIndex("/nonexistent-folder/count"), ConfigError);
}

}  // namespace
}  // namespace orvan::standin
