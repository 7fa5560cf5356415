#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace orvan::sim {

// Runs delayed actions (an authorization accepted after N seconds, adbd coming back after
// "tcpip" or a reboot) on one thread, in time order.
class Scheduler {
public:
    Scheduler();
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void after(std::chrono::milliseconds delay, std::function<void()> action);
    // Drops pending actions and ends the thread; later calls to `after` are ignored.
    void stop();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace orvan::sim
