// The whole app as a process, against the isolated adb world: how it ends on signals, and that a
// second launch hands over to the first instead of running beside it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/X11WindowSystem.h"
#include "support/AdbWorld.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
auto now = [] { return std::chrono::steady_clock::now(); };

// The app (tests/app/AppLifecycleHarness.cpp), offscreen, on the world's tools and private port.
struct App {
    using Environment = std::map<std::string, std::optional<std::string>>;
    App(const AdbWorld& world, std::optional<std::string> mirrorTarget = std::nullopt, Environment session = {})
        : child(ChildProcess::launch({ORVAN_LIFECYCLE_HARNESS, {}, environment(world, mirrorTarget, session), {}})) {}
    static Environment environment(const AdbWorld& world, std::optional<std::string> mirrorTarget, Environment session) {
        session.insert({{"QT_QPA_PLATFORM", "offscreen"},
                        {"ORVAN_PRIVATE_ADB_PORT", std::to_string(world.privateServerPort())},
                        {"ORVAN_TEST_TOOL_FOLDER", world.toolFolder().string()},
                        {"ORVAN_CALLBACK_PORT", "0"},
                        {"ORVAN_CALLBACK_BIND_ADDRESS", "127.0.0.1"},
                        {"ORVAN_TEST_MIRROR_TARGET", mirrorTarget}});
        return session;
    }
    ~App() {
        if (child->isRunning()) child->sendSignal(SIGKILL);
        child->waitForExit();
    }
    // The text after `word ` on the first output line that starts with it.
    std::optional<std::string> waitForLine(const std::string& word) {
        for (auto deadline = now() + 60s; now() < deadline && !child->exit();) {
            child->waitForExit(now() + 50ms, [this](std::string_view chunk) { output += chunk; });
            if (auto at = ("\n" + output).find("\n" + word); at != std::string::npos)
                return output.substr(at + word.size(), output.find('\n', at) - at - word.size());
        }
        return std::nullopt;
    }
    std::optional<ProcessExit> waitForExit() {
        child->waitForExit(now() + 30s, [this](std::string_view chunk) { output += chunk; });
        return child->exit();
    }
    std::unique_ptr<ChildProcess> child;
    std::string output;
};

bool listening(int port) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

bool eventually(const std::function<bool()>& condition) { return testing::waitUntil(condition, 30s); }

bool logHas(const std::string& text) {
    std::ifstream file(paths::appStateFolder() / "orvan-mirror-native.log");
    return std::string(std::istreambuf_iterator<char>(file), {}).find(text) != std::string::npos;
}

struct SignalCase {
    int signal;
    std::string name;
    bool burst;  // sent again 10 ms later, as a closed terminal does
};
class AppSignalE2E : public ::testing::TestWithParam<SignalCase> {};

TEST_P(AppSignalE2E, SignalRunsTheTerminationSequence) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
        GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
    AdbWorld world;
    App app(world, world.startConnectedGlasses({.media = false}).wifiSerial());
    auto mirror = app.waitForLine("mirror ");
    ASSERT_TRUE(mirror && eventually([&] { return listening(world.privateServerPort()); })) << app.output;

    app.child->sendSignal(GetParam().signal);
    if (GetParam().burst) {
        std::this_thread::sleep_for(10ms);  // the shape of the burst, not a synchronisation
        app.child->sendSignal(GetParam().signal);
    }
    auto exit = app.waitForExit();
    ASSERT_TRUE(exit) << "still running after the signal";
    EXPECT_TRUE(exit->reason == ProcessExit::Reason::exited && exit->status == 0)
        << "reason " << static_cast<int>(exit->reason) << ", status " << exit->status << "\n" << app.output;
    EXPECT_FALSE(listening(world.privateServerPort()));
    EXPECT_TRUE(kill(std::stoi(*mirror), 0) == -1 && errno == ESRCH) << "the mirror outlived the app";
    EXPECT_TRUE(logHas("Orvan Mirror 正在退出：收到信号 " + GetParam().name + "。"));
    EXPECT_TRUE(logHas("应用退出，已停止投屏专用 ADB Server"));
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignalE2E,
                         ::testing::Values(SignalCase{SIGTERM, "SIGTERM", false}, SignalCase{SIGINT, "SIGINT", false},
                                           SignalCase{SIGHUP, "SIGHUP", false}, SignalCase{SIGHUP, "SIGHUP", true}),
                         [](const auto& param) { return param.param.name + (param.param.burst ? "Burst" : ""); });

// A mirror start that comes once the quit has begun launches nothing; the app ends as usual.
TEST(AppQuitE2E, AStartAfterTheQuitBeganLaunchesNothing) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
        GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
    AdbWorld world;
    App app(world, std::nullopt,
            {{"ORVAN_TEST_START_AT_QUIT", world.startConnectedGlasses({.media = false}).wifiSerial()}});
    ASSERT_TRUE(app.waitForLine("launched")) << app.output;
    app.child->sendSignal(SIGTERM);
    auto exit = app.waitForExit();
    ASSERT_TRUE(exit && exit->reason == ProcessExit::Reason::exited && exit->status == 0) << app.output;
    EXPECT_NE(app.output.find("start cancelled"), std::string::npos) << app.output;
    EXPECT_FALSE(listening(world.privateServerPort()));
}

TEST(AppSingleInstanceE2E, SecondLaunchShowsTheFirstAndACrashLeavesNoBlock) {
    if (!AdbWorld::available()) GTEST_SKIP() << "adb or the simulator is missing";
    AdbWorld world;
    {
        App first(world);
        ASSERT_TRUE(first.waitForLine("launched")) << first.output;
        App second(world);
        auto secondExit = second.waitForExit();
        EXPECT_TRUE(secondExit && secondExit->status == 0 && second.output.find("launched") == std::string::npos);
        EXPECT_TRUE(eventually([] { return logHas("收到再次启动请求，已显示主窗口。"); }));
        first.child->sendSignal(SIGKILL);  // a crash: the lock and the socket file stay behind
    }
    App next(world);
    EXPECT_TRUE(next.waitForLine("launched")) << next.output;
}

// A launch while the first instance quits waits for it instead of handing over to it.
TEST(AppSingleInstanceE2E, RelaunchDuringTheQuitRunsOnceTheFirstIsGone) {
    if (!AdbWorld::available()) GTEST_SKIP() << "adb or the simulator is missing";
    AdbWorld world;
    App first(world, std::nullopt, {{"ORVAN_TEST_BUSY_AT_QUIT", "1"}});
    ASSERT_TRUE(first.waitForLine("launched")) << first.output;
    first.child->sendSignal(SIGTERM);
    ASSERT_TRUE(eventually([] { return logHas("Orvan Mirror 正在退出：收到信号 SIGTERM。"); }));
    App second(world);
    std::thread reaper([&] { first.waitForExit(); });  // a zombie would still hold the lock
    EXPECT_TRUE(second.waitForLine("launched")) << second.output;
    reaper.join();
    EXPECT_TRUE(first.child->exit() && first.child->exit()->status == 0) << first.output;
    EXPECT_FALSE(logHas("收到再次启动请求，已显示主窗口。"));
    second.child->sendSignal(SIGTERM);
    EXPECT_TRUE(second.waitForExit());
}

// A headless Wayland compositor for one test, with XWayland beside it or without.
struct Weston {
    Weston(const std::filesystem::path& folder, bool xwayland) : runtime(folder) {
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        std::filesystem::create_directories("/tmp/.X11-unix");  // where XWayland puts its socket
        std::vector<std::string> arguments = {"--backend=headless-backend.so", "--socket=orvan-test",
                                              "--idle-time=0", "--log=" + (runtime / "weston.log").string()};
        if (xwayland) arguments.push_back("--xwayland");
        child = ChildProcess::launch({"/usr/bin/weston", arguments, {{"XDG_RUNTIME_DIR", runtime.string()}}, {}});
        eventually([&] {
            std::ifstream log(runtime / "weston.log");
            std::string text(std::istreambuf_iterator<char>(log), {});
            auto at = text.find("xserver listening on display ");
            if (at != std::string::npos) display = text.substr(at + 29, text.find('\n', at) - at - 29);
            return std::filesystem::exists(runtime / "orvan-test") && (!xwayland || !display.empty());
        });
    }
    ~Weston() {
        child->sendSignal(SIGTERM);
        child->waitForExit();
    }
    // What a desktop session on this compositor hands its apps.
    App::Environment session() const {
        return {{"XDG_RUNTIME_DIR", runtime.string()}, {"WAYLAND_DISPLAY", "orvan-test"},
                {"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", display.empty() ? std::nullopt : std::optional(display)},
                {"QT_QPA_PLATFORM", std::nullopt}, {"SDL_VIDEODRIVER", std::nullopt}, {"SDL_VIDEO_DRIVER", std::nullopt},
                {"ORVAN_TEST_GLASS_SHELL", "1"}};
    }
    std::filesystem::path runtime;
    std::unique_ptr<ChildProcess> child;
    std::string display;
};

bool westonAvailable() {
    return std::system("command -v weston >/dev/null && command -v Xwayland >/dev/null") == 0 &&
           std::filesystem::exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so");
}

// With XWayland the app and scrcpy both run as X11 clients: the overlay can find and cover the
// mirror window.
TEST(WaylandSessionE2E, WithXWaylandTheOverlayCoversTheMirrorWindow) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath() || !westonAvailable())
        GTEST_SKIP() << "needs adb, the simulator, the stand-in, weston, Xwayland and qt6-wayland";
    AdbWorld world;
    Weston weston(world.root() / "run", true);
    ASSERT_FALSE(weston.display.empty()) << "XWayland did not start";
    auto standinLog = world.root() / "standin.jsonl";
    auto session = weston.session();
    session["ORVAN_STANDIN_LOG"] = standinLog.string();
    App app(world, world.startConnectedGlasses({.media = false}).wifiSerial(), session);
    auto mirror = app.waitForLine("mirror ");
    ASSERT_TRUE(mirror) << app.output;
    X11WindowSystem windows(weston.display);
    pid_t appPid = app.child->pid(), mirrorPid = std::stoi(*mirror);
    // Both the app's windows and the mirror's are X11 windows; one of the app's (the overlay, kept
    // above by the app itself: Weston sets no "above" state) covers the mirror window's centre.
    std::string seen;
    bool placed = eventually([&] {
        std::vector<WindowInfo> ours;
        std::optional<WindowInfo> mirrorWindow;
        seen.clear();
        for (const auto& window : windows.visibleTopLevelWindows()) {
            seen += std::to_string(window.pid) + " " + std::to_string(window.width) + "x" +
                    std::to_string(window.height) + "+" + std::to_string(window.x) + "+" + std::to_string(window.y) + "; ";
            if (window.pid == mirrorPid) mirrorWindow = window;
            if (window.pid == appPid) ours.push_back(window);
        }
        if (!mirrorWindow || ours.size() < 2) return false;
        int x = mirrorWindow->x + mirrorWindow->width / 2, y = mirrorWindow->y + mirrorWindow->height / 2;
        return std::any_of(ours.begin(), ours.end(), [&](const WindowInfo& w) {
            return w.width > mirrorWindow->width && x > w.x && x < w.x + w.width && y > w.y && y < w.y + w.height;
        });
    });
    EXPECT_TRUE(placed) << "windows (pid size+x+y): " << seen << "\n" << app.output;
    std::string firstLine;  // the stand-in's "start" record
    std::ifstream log(standinLog);
    std::getline(log, firstLine);
    EXPECT_EQ(nlohmann::json::parse(firstLine)["env"].value("SDL_VIDEODRIVER", ""), "x11");
    EXPECT_EQ(nlohmann::json::parse(firstLine)["env"].value("SDL_VIDEO_DRIVER", ""), "x11");
}

// Without any X server the app is a Wayland client: the mirror still becomes ready (from
// scrcpy's own output), the overlay is skipped with one log line, and the app ends cleanly.
TEST(WaylandSessionE2E, WithoutXTheMirrorRunsAndTheOverlayIsSkipped) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath() || !westonAvailable())
        GTEST_SKIP() << "needs adb, the simulator, the stand-in, weston, Xwayland and qt6-wayland";
    AdbWorld world;
    Weston weston(world.root() / "run", false);
    App app(world, world.startConnectedGlasses({.media = false}).wifiSerial(), weston.session());
    ASSERT_TRUE(app.waitForLine("mirror ")) << app.output;
    EXPECT_TRUE(eventually([] { return logHas("当前为 Wayland 会话且没有可用的 X11 显示"); }));
    app.child->sendSignal(SIGTERM);
    auto exit = app.waitForExit();
    ASSERT_TRUE(exit);
    EXPECT_TRUE(exit->reason == ProcessExit::Reason::exited && exit->status == 0) << app.output;
}

}  // namespace
}  // namespace orvan
