// Many threads starting, stopping and querying mirror windows of a few targets at once, while
// windows end by themselves and their ends are reported on a busy main queue. Afterwards no
// registry entry may dangle and no window process may still run.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "foundation/MirrorError.h"
#include "mirror/ScrcpyLauncher.h"
#include "platform/FakeWindowSystem.h"
#include "support/FakeScrcpy.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::FakeScrcpyFolder;
using testing::isLiveProcess;

// Runs end in every way a window can: ready and staying, ready and closing soon, failing at
// once, dying of a signal, closing normally before readiness. A random byte picks the way.
const std::string kMixedBehaviour = R"(case $(( $(od -An -N1 -tu1 /dev/urandom) % 5 )) in
  0) echo 'ERROR: Server connection failed'; exit 1 ;;
  1) echo 'INFO: Texture: 1x1'; sleep 0.1; exit 0 ;;
  2) sleep 0.02; kill -KILL $$ ;;
  3) echo 'INFO: Texture: 1x1'; sleep 0.05; echo 'WARN: Device disconnected'; exit 2 ;;
  *) sleep 0.02; echo 'INFO: Texture: 1x1'; exec sleep 60 ;;
esac)";

// The registry's maps agree with each other: every window has its pipe and its identity, and
// no identity or pipe outlives its window.
::testing::AssertionResult consistent(const ScrcpyRegistrySnapshot& registry) {
    std::set<std::string> windows, pipes(registry.outputPipeKeys.begin(), registry.outputPipeKeys.end()), identities,
        children;
    for (const auto& [key, _] : registry.processes) windows.insert(key), children.insert(key);
    for (const auto& [key, _] : registry.externalProcessIds) windows.insert(key);
    for (const auto& [key, _] : registry.mirrorIdentities) identities.insert(key);
    if (pipes != children) return ::testing::AssertionFailure() << "pipes and children differ";
    if (identities != windows) return ::testing::AssertionFailure() << "identities and windows differ";
    return ::testing::AssertionSuccess();
}

TEST(ScrcpyLauncherStress, ConcurrentStartsAndStopsLeaveNothingBehind) {
    FakeScrcpyFolder folder(kMixedBehaviour);
    auto main = std::make_shared<ManualMainQueue>();
    auto windows = std::make_shared<FakeWindowSystem>();
    auto sink = std::make_shared<LogSink>();
    std::atomic<int> readyLines{0};
    sink->set([&](const std::string& line) {
        if (line.starts_with("scrcpy 启动就绪")) ++readyLines;
    });
    auto launcher = ScrcpyLauncher::create(ScrcpyLauncherSettings{
        folder.tools(), 15997, sink, &SystemClock::shared(), windows, [] { return FiniteRun{}; }, main, {}});
    // Reports race with the look-ups, which drop dead windows first; they only must not break
    // anything.
    std::atomic<int> reported{0};
    launcher->setOnScrcpyTerminated([&](const std::string&, const std::shared_ptr<ScrcpyChild>&) { ++reported; });

    const std::vector<std::string> targets{"127.0.0.71:5555", "127.0.0.72:5555", "127.0.0.73:5555", "SERIAL-74"};
    std::atomic<bool> done{false};
    std::atomic<int> inconsistencies{0}, unexpected{0};

    std::thread mainThread([&] {
        while (!done) main->runUntil([&] { return done.load(); }, 20ms);
    });
    std::thread checker([&] {
        while (!done) {
            if (!consistent(launcher->registrySnapshot())) ++inconsistencies;
            std::this_thread::sleep_for(5ms);
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&, w] {
            std::mt19937 random(static_cast<unsigned>(w * 7919 + 1));
            for (int i = 0; i < 12; ++i) {
                const auto& target = targets[random() % targets.size()];
                bool glassShell = random() % 3 == 0;
                try {
                    switch (random() % 4) {
                        case 0:
                        case 1:
                            launcher->startScrcpy(target, glassShell, std::nullopt, nullptr,
                                                  AdbServerScope::sharedDevelopment);
                            break;
                        case 2:
                            launcher->stopProcessKeys({target, target + "#glass-shell"});
                            break;
                        default:
                            launcher->isAnyMirroring(target);
                            launcher->isMirroringDevice("target:" + target, target, std::nullopt);
                    }
                } catch (const MirrorError&) {
                    // Failed and closed starts are part of the mix.
                } catch (...) {
                    ++unexpected;
                }
            }
        });
    }
    for (auto& worker : workers) worker.join();

    // The last reports reach the main queue, which keeps running until the registry is empty.
    launcher->stopProcessKeys(launcher->registeredProcessKeys());
    EXPECT_TRUE(testing::waitUntil(
        [&] { return launcher->launchedChildrenNotEnded().empty() && launcher->registrySnapshot().empty(); }));
    done = true;
    mainThread.join();
    checker.join();
    main->runPending();

    EXPECT_EQ(unexpected, 0);
    EXPECT_GT(readyLines, 0) << "no start became ready: the mix went untested";
    EXPECT_EQ(inconsistencies, 0);
    EXPECT_TRUE(launcher->registrySnapshot().empty());
    EXPECT_TRUE(launcher->launchedChildrenNotEnded().empty());
    auto pids = folder.runPids();
    EXPECT_GT(pids.size(), 10u);
    for (pid_t pid : pids) EXPECT_FALSE(isLiveProcess(pid)) << "window process " << pid << " still runs";
    for (const auto& target : targets) EXPECT_FALSE(launcher->isAnyMirroring(target));
}

}  // namespace
}  // namespace orvan
