#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>

#include "adb/SharedAdbServerGuard.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

EnvironmentLookup environmentOf(std::map<std::string, std::string> variables) {
    return [variables](const std::string& name) -> std::optional<std::string> {
        auto it = variables.find(name);
        if (it == variables.end()) return std::nullopt;
        return it->second;
    };
}

TEST(SharedAdbServerPortTest, FollowsAdbsOwnChoiceOfServerAndNothingElsewhereOrMalformed) {
    const struct {
        std::map<std::string, std::string> environment;
        std::optional<int> port;
    } rows[] = {
        {{}, 5037},
        {{{"ANDROID_ADB_SERVER_PORT", "27183"}}, 27183},
        {{{"ANDROID_ADB_SERVER_PORT", ""}}, 5037},
        {{{"ADB_SERVER_SOCKET", "tcp:27184"}}, 27184},
        {{{"ADB_SERVER_SOCKET", "tcp:localhost:27185"}}, 27185},
        {{{"ADB_SERVER_SOCKET", "tcp:127.0.0.1:27186"}}, 27186},
        {{{"ADB_SERVER_SOCKET", "tcp:[::1]:27187"}}, 27187},
        {{{"ADB_SERVER_SOCKET", "tcp:27188"}, {"ANDROID_ADB_SERVER_PORT", "27189"}}, 27188},  // as in adb
        {{{"ANDROID_ADB_SERVER_ADDRESS", "localhost"}}, 5037},
        {{{"ADB_SERVER_SOCKET", "localfilesystem:/tmp/adb.sock"}}, std::nullopt},
        {{{"ADB_SERVER_SOCKET", "tcp:192.168.1.9:5037"}}, std::nullopt},
        {{{"ADB_SERVER_SOCKET", "tcp:"}}, std::nullopt},
        {{{"ADB_SERVER_SOCKET", "tcp:localhost:"}}, std::nullopt},
        {{{"ADB_SERVER_SOCKET", "tcp:99999"}}, std::nullopt},
        {{{"ANDROID_ADB_SERVER_ADDRESS", "build-box"}}, std::nullopt},
        {{{"ANDROID_ADB_SERVER_PORT", "0"}}, std::nullopt},
        {{{"ANDROID_ADB_SERVER_PORT", "65536"}}, std::nullopt},
        {{{"ANDROID_ADB_SERVER_PORT", "50x"}}, std::nullopt},
        {{{"ANDROID_ADB_SERVER_PORT", "-5037"}}, std::nullopt},
    };
    for (const auto& row : rows) {
        std::string shown;
        for (const auto& [name, value] : row.environment) shown += name + "=" + value + " ";
        EXPECT_EQ(sharedAdbServerPort(environmentOf(row.environment)), row.port) << shown;
    }
}

constexpr const char* kTcpHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string hexPort(int port) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04X", port);
    return text;
}

// A proc tree of our own with one shared server, plus adb stand-ins that are shell scripts:
// each counts its `version` runs in a file and prints what the case needs.
class SharedAdbServerGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(proc() / "net");  // no tcp6: a kernel without IPv6
        noServer();
        ownAdb_ = versionScript("own/adb", "echo 'Android Debug Bridge version 1.0.41'; echo 'Version 29.0.6-debian'");
        log_->set([this](const std::string& line) { logged_.push_back(line); });
    }

    fs::path proc() const { return folder_ / "proc"; }

    // An executable at `relative` that records each run (arguments) in "<relative>.runs" and
    // then runs `body`.
    fs::path versionScript(const std::string& relative, const std::string& body) {
        fs::path path = folder_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\necho \"$*\" >> '" << path.string() << ".runs'\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    int runsOf(const fs::path& script) {
        return static_cast<int>(std::ranges::count(testing::readWholeFile(script.string() + ".runs"), '\n'));
    }

    void noServer() { std::ofstream(proc() / "net" / "tcp") << kTcpHeader; }
    // Process `pid` runs `executable` and listens on `port` with socket `inode`.
    void server(pid_t pid, const std::string& executable, long inode, int port = 5037) {
        std::ofstream(proc() / "net" / "tcp")
            << kTcpHeader << "   0: 0100007F:" << hexPort(port) << " 00000000:0000 0A 00000000:00000000 00:00000000 "
            << "00000000  1000        0 " << inode << " 1 0000000000000000 100 0 0 10 0\n";
        fs::path process = proc() / std::to_string(pid);
        fs::remove_all(process);
        fs::create_directories(process / "fd");
        fs::create_symlink("/dev/null", process / "fd" / "0");
        fs::create_symlink("socket:[" + std::to_string(inode) + "]", process / "fd" / "7");
        fs::create_symlink(executable, process / "exe");
    }
    void processEnds(pid_t pid) { fs::remove_all(proc() / std::to_string(pid)); }

    SharedAdbServerGuard guard(std::map<std::string, std::string> environment = {}) {
        return SharedAdbServerGuard(ownAdb_, log_,
                                    SharedAdbServerGuardOptions{proc(), Seconds(0.5), environmentOf(environment)});
    }

    TempDir folder_{"orvan-sharedguard"};
    fs::path ownAdb_;
    SharedLogSink log_ = std::make_shared<LogSink>();
    std::vector<std::string> logged_;
};

TEST_F(SharedAdbServerGuardTest, FollowsAServerOfAnotherVersionOnTheSelectedPortLookingOncePerServer) {
    auto ideAdb = versionScript("sdk/platform-tools/adb", "echo 'Android Debug Bridge version 1.0.43'");
    server(4242, ideAdb.string(), 7001);
    auto guard = this->guard();

    auto check = guard.check();
    EXPECT_EQ(check.verdict, SharedServerVerdict::otherVersion);
    EXPECT_EQ(check.binary, ideAdb);
    EXPECT_EQ(check.pid, std::optional<pid_t>(4242));
    EXPECT_EQ(check.serverVersion, 43);
    EXPECT_EQ(check.ownVersion, 41);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(guard.sharedBinary(), ideAdb);

    // Once each, client-only: no server is ever contacted for the check.
    EXPECT_EQ(testing::readWholeFile(ideAdb.string() + ".runs"), "version\n");
    EXPECT_EQ(runsOf(ownAdb_), 1);
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_EQ(logged_[0], "共享 5037 ADB 服务属于另一版本的 adb（" + ideAdb.string() +
                              "，版本 1.0.43；本应用自带 1.0.41），本应用改用该服务自带的 adb，以保持 IDE 的连接");

    // The port watched is the one the environment selects.
    server(4242, ideAdb.string(), 7001, 27183);
    EXPECT_EQ(this->guard().sharedBinary(), std::nullopt);  // nobody on 5037
    EXPECT_EQ(this->guard({{"ANDROID_ADB_SERVER_PORT", "27183"}}).sharedBinary(), ideAdb);
    EXPECT_EQ(this->guard({{"ADB_SERVER_SOCKET", "tcp:27183"}}).sharedBinary(), ideAdb);
    EXPECT_EQ(this->guard({{"ADB_SERVER_SOCKET", "localfilesystem:/tmp/x"}}).check().verdict,
              SharedServerVerdict::notLocal);
}

TEST_F(SharedAdbServerGuardTest, KeepsOurToolWhenTheVersionsMatchOrNoServerRunsOrOurVersionIsUnreadable) {
    auto guard = this->guard();
    EXPECT_EQ(guard.check().verdict, SharedServerVerdict::noServer);
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    EXPECT_EQ(runsOf(ownAdb_), 0);  // nothing to compare with: our tool is not even asked

    auto sameAdb = versionScript("sdk/platform-tools/adb", "echo 'Android Debug Bridge version 1.0.41'");
    server(4242, sameAdb.string(), 7001);
    EXPECT_EQ(guard.check().verdict, SharedServerVerdict::sameVersion);
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    EXPECT_TRUE(logged_.empty());  // the ordinary case says nothing

    // Our own tool's version unreadable: nothing to compare, our tool stays.
    ownAdb_ = versionScript("broken/adb", "echo 'adb: unknown option'");
    auto check = this->guard().check();
    EXPECT_EQ(check.verdict, SharedServerVerdict::versionUnreadable);
    EXPECT_EQ(check.binary, std::nullopt);
}

TEST_F(SharedAdbServerGuardTest, DoubtfulServersKeepOurToolAndAreNeverRunUnlessAnAdb) {
    struct Case {
        std::string name;
        std::string executable;  // relative to the folder, or absolute
        std::string body;
        SharedServerVerdict verdict;
    };
    const auto unreadable = SharedServerVerdict::versionUnreadable;
    std::vector<Case> cases{
        {"garbage version", "garbage/adb", "printf 'Segmentation fault\\n'", unreadable},
        {"binary output", "binary/adb", "printf '\\377\\376\\000\\001'", unreadable},
        {"failing version", "failing/adb", "echo 'Android Debug Bridge version 1.0.43'; exit 3", unreadable},
        {"hanging version", "hanging/adb", "exec sleep 30", unreadable},
        {"not an adb", "other/python3", "echo 'Android Debug Bridge version 1.0.43'", SharedServerVerdict::notAdb},
    };
    pid_t pid = 5000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto executable = versionScript(c.executable, c.body);
        ++pid;
        server(pid, executable.string(), 8000 + pid);
        auto guard = this->guard();
        auto start = std::chrono::steady_clock::now();
        auto check = guard.check();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // not the 30 s hang
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.binary, std::nullopt);
        EXPECT_EQ(guard.sharedBinary(), std::nullopt);
        EXPECT_EQ(runsOf(executable), c.verdict == SharedServerVerdict::notAdb ? 0 : 1);
        processEnds(pid);
    }
}

TEST_F(SharedAdbServerGuardTest, UnreadableOwnersKeepOurTool) {
    auto guard = this->guard();
    // A listener whose process we cannot see: another user's server.
    std::ofstream(proc() / "net" / "tcp") << kTcpHeader << "   0: 0100007F:13AD 00000000:0000 0A 00000000:00000000 "
                                          << "00:00000000 00000000  1001        0 7001 1 0 100 0 0 10 0\n";
    auto check = guard.check();
    EXPECT_EQ(check.verdict, SharedServerVerdict::ownerUnreadable);
    EXPECT_EQ(check.binary, std::nullopt);
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    EXPECT_EQ(logged_.size(), 1u);  // once per server

    // A server whose executable link cannot be read, and one whose binary was deleted under it.
    fs::create_directories(proc() / "4242" / "fd");
    fs::create_symlink("socket:[7001]", proc() / "4242" / "fd" / "3");
    EXPECT_EQ(guard.check().verdict, SharedServerVerdict::ownerUnreadable);  // same socket: the cached answer
    auto deleted = versionScript("gone/adb", "echo 'Android Debug Bridge version 1.0.43'");
    server(4343, deleted.string() + " (deleted)", 7002);
    EXPECT_EQ(guard.check().verdict, SharedServerVerdict::versionUnreadable);
    EXPECT_EQ(runsOf(deleted), 0);
}

TEST_F(SharedAdbServerGuardTest, LooksAgainWhenTheServerChangesAndLogsEachChangeOnce) {
    auto ideAdb = versionScript("sdk/platform-tools/adb", "echo 'Android Debug Bridge version 1.0.43'");
    auto sameAdb = versionScript("sdk2/platform-tools/adb", "echo 'Android Debug Bridge version 1.0.41'");
    auto guard = this->guard();

    server(4242, ideAdb.string(), 7001);
    EXPECT_EQ(guard.sharedBinary(), ideAdb);
    // The IDE restarts its server: another pid, the same binary. A new look, but no new line.
    processEnds(4242);
    server(4300, ideAdb.string(), 7002);
    EXPECT_EQ(guard.check().pid, std::optional<pid_t>(4300));
    EXPECT_EQ(guard.sharedBinary(), ideAdb);
    EXPECT_EQ(runsOf(ideAdb), 2);
    EXPECT_EQ(logged_.size(), 1u);

    // The socket passes to another process (same inode, the old pid no longer holds it).
    processEnds(4300);
    server(4301, sameAdb.string(), 7002);
    EXPECT_EQ(guard.check().pid, std::optional<pid_t>(4301));
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    EXPECT_EQ(logged_.size(), 2u);

    server(4400, ideAdb.string(), 7003);
    processEnds(4301);
    EXPECT_EQ(guard.sharedBinary(), ideAdb);
    // The server exits between two commands: the next one runs our own tool, also while its socket
    // still lingers in the table.
    processEnds(4400);
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    noServer();
    EXPECT_EQ(guard.check().verdict, SharedServerVerdict::noServer);
    EXPECT_EQ(guard.sharedBinary(), std::nullopt);
    EXPECT_EQ(logged_.size(), 5u);
    EXPECT_EQ(runsOf(ownAdb_), 1);  // our version is read once
}

}  // namespace
}  // namespace orvan
