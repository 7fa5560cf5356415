#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace orvan::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away (also when the test fails), so a test never touches the user's home or a
// shared path. Header-only, so that any test can use it without the end-to-end rig.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "orvan-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder from " + pattern);
        path_ = pattern;
    }
    ~TempDir() {
        if (keep_) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Leave the folder in place (for looking into a failed run).
    void keep() { keep_ = true; }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

// A file's bytes; empty when it cannot be read.
inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace orvan::testing
