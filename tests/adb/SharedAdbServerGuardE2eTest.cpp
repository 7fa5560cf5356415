// The shared-server guard against real processes: a stand-in adb of another protocol version
// serving an isolated "shared" port, and Debian's adb as our tool (which would kill a server of
// another version): through the app's runner nothing is killed and every request reaches that
// server from its own binary. The verdicts themselves are unit-tested in SharedAdbServerGuardTest.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "adb/AdbRunner.h"
#include "adb/SharedAdbServerGuard.h"
#include "foundation/ProcessRunner.h"
#include "mirror/MirrorService.h"
#include "platform/Process.h"
#include "support/AdbWorld.h"
#include "support/Recorders.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using testing::LogRecorder;
using testing::TempDir;

const fs::path kOtherAdb = ORVAN_OTHER_VERSION_ADB;
const fs::path kDebianAdb = "/usr/bin/adb";

class SharedAdbServerGuardE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDebianAdb)) GTEST_SKIP() << "Debian's adb is not installed";
        port_ = testing::pickFreePort();
        fs::create_directories(folder_ / "home");
        fs::create_directories(folder_ / "tools");
        fs::create_symlink(kDebianAdb, folder_ / "tools" / "adb");
        std::ofstream(folder_ / "tools" / "scrcpy") << "";
        // Every adb of this test, ours or the stand-in, finds the "shared" server on port_.
        environment_.set("ANDROID_ADB_SERVER_PORT", std::to_string(port_));
        environment_.set("HOME", (folder_ / "home").string());
        environment_.set("TMPDIR", folder_.path().string());
        for (const char* name : {"ADB_SERVER_SOCKET", "ANDROID_ADB_SERVER_ADDRESS", "ANDROID_SERIAL"})
            environment_.unset(name);
        for (const char* name : {"ADB_MDNS", "ADB_USB", "ADB_EMU"}) environment_.set(name, "0");
    }

    void TearDown() override {
        if (otherServer_ && otherServer_->isRunning()) {
            otherServer_->terminate();
            otherServer_->waitForExit();
        }
        // Had the guard failed, our adb killed that server and took the port over: end it the way
        // adb servers are ended.
        runFinite(ProcessSpec{kDebianAdb.string(), {"-P", std::to_string(port_), "kill-server"}, {}, {}},
                  Seconds(10.0));
    }

    void startOtherServer() {
        otherServer_ = ChildProcess::launch(ProcessSpec{kOtherAdb.string(),
                                                        {"-P", std::to_string(port_), "fork-server", "server"},
                                                        {{"ORVAN_OTHER_ADB_RECORD", record().string()}},
                                                        {}});
        otherServer_->closeOutput();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (records().empty() || !records().front().starts_with("ready ")) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the other-version server did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    fs::path record() const { return folder_ / "other-adb-record.txt"; }
    std::vector<std::string> records() const {
        std::ifstream in(record());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> requests() const {
        std::vector<std::string> result;
        for (const auto& line : records())
            if (line.starts_with("request ")) result.push_back(line.substr(8));
        return result;
    }

    MirrorServiceOptions serviceOptions() {
        MirrorServiceOptions options;
        options.tools = ToolLocation::inToolFolder(folder_ / "tools");
        options.privatePort = testing::pickFreePort();
        return options;
    }

    TempDir folder_{"orvan-guard-e2e"};
    testing::ScopedEnvironment environment_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> otherServer_;
};

TEST_F(SharedAdbServerGuardE2eTest, SharedCommandsRunTheServersOwnAdbAndNeverKillIt) {
    startOtherServer();
    MirrorService service(serviceOptions());
    LogRecorder log;
    log.attach(*service.log());
    std::mutex mutex;
    std::vector<AdbInvocation> invocations;
    service.adbRunner().setInvocationObserver([&](const AdbInvocation& invocation) {
        std::lock_guard lock(mutex);
        invocations.push_back(invocation);
    });

    // A device refresh and a detection, as the main window and the scan page run them.
    EXPECT_FALSE(service.deviceDiscovery().detectAdbDevicePresence(true).hasAny());
    EXPECT_FALSE(service.deviceDiscovery().detectAdbDevices(false).hasAny());
    // A connect attempt and the commands around it, on the shared server.
    auto shared = AdbServerScope::sharedDevelopment;
    auto connect = service.runAdb({"connect", "127.0.0.2:5555"},
                                  {.timeout = std::chrono::seconds(10), .check = false, .log = true, .scope = shared});
    EXPECT_EQ(connect.output, "failed to connect to '127.0.0.2:5555': Connection refused");
    auto state = service.runAdb(
        {"get-state"},
        {.timeout = std::chrono::seconds(5), .check = false, .serial = std::string("127.0.0.2:5555"), .scope = shared});
    EXPECT_EQ(state.status, 1);
    EXPECT_EQ(state.output, "error: device '127.0.0.2:5555' not found");
    service.runAdb({"devices", "-l"}, {.timeout = std::chrono::seconds(5), .scope = shared});
    service.runAdb({"disconnect", "127.0.0.2:5555"},
                   {.timeout = std::chrono::seconds(5), .check = false, .scope = shared});

    ASSERT_GE(invocations.size(), 6u);
    for (const auto& invocation : invocations) EXPECT_EQ(invocation.command.front(), kOtherAdb.string());
    auto seen = requests();
    int versionChecks = 0;
    for (const auto& request : seen) {
        EXPECT_TRUE(request.starts_with("127.0.0.7 ")) << "a request from another binary: " << request;
        EXPECT_EQ(request.find("host:kill"), std::string::npos) << request;
        if (request == "127.0.0.7 host:version") ++versionChecks;
    }
    EXPECT_EQ(versionChecks, static_cast<int>(invocations.size()));  // every command reached the server
    EXPECT_TRUE(otherServer_->isRunning());

    int guardLines = 0;
    for (const auto& line : log.lines()) {
        if (line.find("ADB 服务") != std::string::npos) {
            ++guardLines;
            EXPECT_EQ(line, "共享 " + std::to_string(port_) + " ADB 服务属于另一版本的 adb（" + kOtherAdb.string() +
                                "，版本 1.0.99；本应用自带 1.0.41），本应用改用该服务自带的 adb，以保持 IDE 的连接");
        }
    }
    EXPECT_EQ(guardLines, 1);

    // The server goes away between two commands: the next one is ours again, and says so.
    otherServer_->terminate();
    otherServer_->waitForExit();
    EXPECT_EQ(service.adbRunner().binaryFor(shared), folder_ / "tools" / "adb");
    EXPECT_TRUE(log.contains("共享 " + std::to_string(port_) + " ADB 服务已不在运行，改回使用本应用自带的 adb"));
    // The private server is ours alone, whatever serves the shared port.
    EXPECT_EQ(service.adbRunner().binaryFor(AdbServerScope::privateMirroring), folder_ / "tools" / "adb");
}

}  // namespace
}  // namespace orvan
