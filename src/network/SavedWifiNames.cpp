#include "network/SavedWifiNames.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace orvan {

namespace {

constexpr size_t kMaximumNames = 20;

}  // namespace

SavedWifiNames::SavedWifiNames(std::filesystem::path file) : file_(std::move(file)) {}

void SavedWifiNames::load() {
    if (loaded_) return;
    loaded_ = true;
    if (file_.empty()) return;
    std::ifstream stream(file_);
    if (!stream) return;
    auto parsed = nlohmann::json::parse(stream, nullptr, false);
    if (!parsed.is_array()) return;
    for (const auto& entry : parsed) {
        if (!entry.is_string()) continue;
        auto name = entry.get<std::string>();
        if (!name.empty() && std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
        if (names_.size() == kMaximumNames) break;
    }
}

void SavedWifiNames::write() const {
    if (file_.empty()) return;
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    auto temporary = file_;
    temporary += ".tmp";
    {
        std::ofstream stream(temporary, std::ios::trunc);
        // Names are bytes from the Wi-Fi tools: replace what is not UTF-8 rather than fail.
        stream << nlohmann::json(names_).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (!stream) return;
    }
    std::filesystem::rename(temporary, file_, error);
}

std::vector<std::string> SavedWifiNames::names() {
    std::lock_guard lock(lock_);
    load();
    return names_;
}

void SavedWifiNames::noteUsed(const std::string& ssid) {
    std::lock_guard lock(lock_);
    load();
    if (!names_.empty() && names_.front() == ssid) return;
    std::erase(names_, ssid);
    names_.insert(names_.begin(), ssid);
    if (names_.size() > kMaximumNames) names_.resize(kMaximumNames);
    write();
}

void SavedWifiNames::forget(const std::string& ssid) {
    std::lock_guard lock(lock_);
    load();
    if (std::erase(names_, ssid) > 0) write();
}

}  // namespace orvan
