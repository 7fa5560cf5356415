#include "network/WifiProfileUpdatedNotification.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/Dispatch.h"

namespace orvan {
namespace {

struct Observers {
    std::mutex mutex;
    std::map<WifiProfileUpdatedNotification::ObserverId, std::function<void()>> functions;
    WifiProfileUpdatedNotification::ObserverId next = 1;
};

Observers& observers() {
    static Observers instance;
    return instance;
}

}  // namespace

WifiProfileUpdatedNotification::ObserverId WifiProfileUpdatedNotification::observe(std::function<void()> observer) {
    auto& all = observers();
    std::lock_guard lock(all.mutex);
    all.functions[all.next] = std::move(observer);
    return all.next++;
}

void WifiProfileUpdatedNotification::stopObserving(ObserverId id) {
    auto& all = observers();
    std::lock_guard lock(all.mutex);
    all.functions.erase(id);
}

void WifiProfileUpdatedNotification::post() {
    // Each delivery looks the observer up again on the main queue, so one removed meanwhile
    // is not called.
    std::vector<ObserverId> ids;
    {
        auto& all = observers();
        std::lock_guard lock(all.mutex);
        for (const auto& entry : all.functions) ids.push_back(entry.first);
    }
    for (auto id : ids) {
        Dispatch::main().post([id] {
            std::function<void()> observer;
            {
                auto& all = observers();
                std::lock_guard lock(all.mutex);
                auto found = all.functions.find(id);
                if (found == all.functions.end()) return;
                observer = found->second;
            }
            observer();
        });
    }
}

}  // namespace orvan
