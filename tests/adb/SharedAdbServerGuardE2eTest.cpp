// The shared-server guard against real processes and the real /proc: a stand-in adb of another
// protocol version serves an isolated "shared" port, Debian's adb is our tool (it would kill a
// server of another version). Through the app's runner every shared command runs the server's
// own binary and nothing is killed. The verdicts are unit-tested in SharedAdbServerGuardTest.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "adb/AdbRunner.h"
#include "adb/SharedAdbServerGuard.h"
#include "foundation/ProcessRunner.h"
#include "mirror/MirrorService.h"
#include "platform/Process.h"
#include "support/AdbWorld.h"
#include "support/Recorders.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
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
        environment_.set("ORVAN_OTHER_ADB_RECORD", record().string());
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
        otherServer_ = ChildProcess::launch(
            ProcessSpec{kOtherAdb.string(), {"-P", std::to_string(port_), "fork-server", "server"}, {}, {}});
        otherServer_->closeOutput();
        ASSERT_TRUE(testing::waitUntil([&] { return !recordsAfter("ready ").empty(); })) << "no other-version server";
    }

    fs::path record() const { return folder_ / "other-adb-record.txt"; }
    // The stand-in's record lines that start with `prefix`, without it.
    std::vector<std::string> recordsAfter(const std::string& prefix) const {
        std::ifstream in(record());
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(prefix)) result.push_back(line.substr(prefix.size()));
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
    testing::InvocationRecorder invocations;
    invocations.attach(service.adbRunner());

    // A device refresh, as the main window runs it, and a connect attempt on the shared server.
    EXPECT_FALSE(service.deviceDiscovery().detectAdbDevicePresence(true).hasAny());
    auto shared = AdbServerScope::sharedDevelopment;
    auto connect = service.runAdb({"connect", "127.0.0.2:5555"},
                                  {.timeout = std::chrono::seconds(10), .check = false, .scope = shared});
    EXPECT_EQ(connect.command.front(), kOtherAdb.string());
    // Every command ran the server's own binary, and no adb of ours ever asked the server to quit.
    EXPECT_EQ(recordsAfter("run "), invocations.lines());
    EXPECT_EQ(invocations.lines().size(), 2u);
    EXPECT_TRUE(recordsAfter("request host:kill").empty());
    EXPECT_TRUE(otherServer_->isRunning());
    // A server gone between two commands (our tool again) is SharedAdbServerGuardTest's; that the
    // private scope never follows the shared server, AdbRunnerTest's.
}

}  // namespace
}  // namespace orvan
