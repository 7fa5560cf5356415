#include "adb/CoalescedDeviceListing.h"

#include <exception>

namespace orvan {

std::optional<std::string> CoalescedDeviceListing::fresh(AdbServerScope scope) {
    std::unique_lock lock(mutex_);
    Flights& flights = flights_[scope];
    const uint64_t wanted = flights.started + 1;  // the first run to begin from now on
    while (flights.completed < wanted) {
        if (flights.running) {
            done_.wait(lock);
            continue;
        }
        flights.running = true;
        const uint64_t id = ++flights.started;
        lock.unlock();
        std::optional<std::string> result;
        try {
            auto run = runner_.runAdb({"devices"}, {.timeout = Seconds(kTimeout), .check = false, .scope = scope});
            if (run.status == 0) result = std::move(run.output);
        } catch (const std::exception&) {
            // No listing: the caller asks its own way.
        }
        lock.lock();
        flights.result = std::move(result);
        flights.completed = id;
        flights.running = false;
        done_.notify_all();
    }
    return flights.result;
}

}  // namespace orvan
