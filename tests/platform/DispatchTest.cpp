#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/StoppableClock.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/TaskScope.h"
#include "support/Wait.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundPool, GrowsWhenEveryWorkerIsBlockedAndSurvivesATaskThatThrows) {
    // 64 tasks that each wait for all the others: a fixed-size pool would deadlock here, as it
    // would when every worker waits on a slow adb.
    constexpr int kTasks = 64;
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0, finished = 0;
    for (int i = 0; i < kTasks; ++i) {
        Dispatch::async([&] {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            changed.wait_for(lock, 60s, [&] { return started == kTasks; });
            ++finished;
            changed.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 60s, [&] { return finished == kTasks; }));

    std::atomic<bool> ran{false};
    Dispatch::async([] { throw std::runtime_error("boom"); });
    Dispatch::async([&] { ran = true; });
    EXPECT_TRUE(testing::waitUntil([&] { return ran.load(); }));
}

// An owner's stop wakes its tasks' waits at once, its join sees them return, and a stopped scope
// starts nothing; a queue of the owner's own counts its run until it has run.
TEST(TaskScope, StopWakesTheWaitsJoinSeesTheTasksReturnAndNothingStartsAfter) {
    TaskScope scope;
    std::atomic<int> woken{0};
    for (int i = 0; i < 2; ++i) scope.async([&, stop = scope.token()] { woken += stop.waitFor(600s) ? 1 : 0; });
    SerialQueue queue("test.scope");
    queue.async(scope.counted([&, stop = scope.token()] { woken += SystemClock::shared().waitFor(600s, stop) ? 1 : 0; }));
    scope.stop();
    EXPECT_TRUE(scope.joinUntil(std::chrono::steady_clock::now() + 60s));
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(scope.running(), 0u);
    EXPECT_FALSE(scope.async([] {}));
    EXPECT_FALSE(scope.counted([] {}));

    // A service clock's wait ends on either stop: the caller's returns true, the owner's throws.
    StopSource owner, caller;
    StoppableClock clock(SystemClock::shared(), owner.token());
    auto callerStopped = std::async(std::launch::async, [&] { return clock.waitFor(600s, caller.token()); });
    caller.stop();
    EXPECT_TRUE(callerStopped.get());
    auto ownerStopped = std::async(std::launch::async, [&] {
        try {
            clock.waitFor(600s, StopToken());
        } catch (const MirrorError& error) {
            return error.kind() == MirrorError::Kind::cancelled;
        }
        return false;
    });
    owner.stop();
    EXPECT_TRUE(ownerStopped.get());
}

TEST(SerialQueue, SerialQueueRunsTasksOneAtATimeAndTheManualMainQueueInOrderFromAnyThread) {
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    {
        SerialQueue queue("test.serial");
        for (int i = 0; i < 50; ++i) {
            queue.async([&, i] {
                if (running.fetch_add(1) != 0) overlapped = true;
                std::this_thread::sleep_for(100us);
                order.push_back(i);
                running.fetch_sub(1);
            });
        }
        int seen = -1;
        queue.sync([&] { seen = static_cast<int>(order.size()); });
        EXPECT_EQ(seen, 50);
    }
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_FALSE(overlapped);

    ManualMainQueue queue;
    std::vector<std::string> ran;
    queue.postAfter(Seconds(0.15), [&] { ran.push_back("late"); });
    queue.post([&] { ran.push_back("first"); });
    queue.post([&] { ran.push_back("second"); });
    EXPECT_EQ(queue.runPending(), 2u);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    std::thread poster([&] { queue.post([&] { ran.push_back("from another thread"); }); });
    EXPECT_TRUE(queue.runUntil([&] { return ran.size() == 4; }, Seconds(20)));
    poster.join();
    EXPECT_NE(std::find(ran.begin() + 2, ran.end(), "late"), ran.end());  // posted first, run when due
}

}  // namespace
}  // namespace orvan
