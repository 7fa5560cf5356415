#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace orvan {

// The names of the Wi-Fi networks whose credentials the keyring holds for us, the last used
// first. The keyring cannot be listed without asking it for every item, so the names (never a
// password) are kept beside it in a small JSON file; without a file they live for the run only.
// A file that is missing or cannot be read counts as empty. Safe from any thread.
class SavedWifiNames {
public:
    explicit SavedWifiNames(std::filesystem::path file = {});

    std::vector<std::string> names();
    // Puts the name first (adding it when new) and writes the file; a failed write is ignored:
    // the list is a convenience, the keyring holds the credentials.
    void noteUsed(const std::string& ssid);
    void forget(const std::string& ssid);

private:
    void load();
    void write() const;

    std::filesystem::path file_;
    std::mutex lock_;
    bool loaded_ = false;
    std::vector<std::string> names_;
};

}  // namespace orvan
