#pragma once

#include <map>
#include <mutex>
#include <utility>

#include "platform/SecretStore.h"

namespace orvan {

// An in-memory secret store for tests: items by (service, account), a status that every call
// answers instead when set, and a count of calls.
class FakeSecretStore final : public SecretStore {
public:
    struct Item {
        std::string label;
        std::string data;
    };

    void failWith(std::optional<int32_t> status) {
        std::lock_guard lock(mutex_);
        failure_ = status;
    }
    void put(const std::string& service, const std::string& account, std::string data) {
        std::lock_guard lock(mutex_);
        items_[{service, account}] = Item{"", std::move(data)};
    }
    std::optional<Item> item(const std::string& service, const std::string& account) const {
        std::lock_guard lock(mutex_);
        auto found = items_.find({service, account});
        if (found == items_.end()) return std::nullopt;
        return found->second;
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    SecretLookup find(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failure_) return {*failure_, std::nullopt};
        auto found = items_.find({service, account});
        if (found == items_.end()) return {};
        return {secret_status::success, found->second.data};
    }
    int32_t save(const std::string& service, const std::string& account, const std::string& label,
                 const std::string& data) override {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failure_) return *failure_;
        auto [entry, added] = items_.try_emplace({service, account}, Item{label, data});
        if (!added) entry->second.data = data;
        return secret_status::success;
    }
    int32_t remove(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failure_) return *failure_;
        return items_.erase({service, account}) ? secret_status::success : secret_status::itemNotFound;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, Item> items_;
    std::optional<int32_t> failure_;
    int calls_ = 0;
};

}  // namespace orvan
