#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orvan {

// Keeps the most recent output of a long-running child (the mirroring client) and tells from it
// whether the client has started rendering video. Shared by the launcher, the pipe reader and the
// termination handler; `lock` and `readLock` are never held together.
class BoundedProcessOutput {
public:
    static constexpr size_t kByteLimit = 12288;

    void append(std::string_view chunk);
    // The pipe reader: takes what is available now unless the final drain has run.
    // Returns false at end of file.
    bool readAvailable(int fd);
    // The final drain of the read end, at most once per collector.
    void finishReading(int fd);
    bool hasFinishedReading() const;

    std::string text() const;
    std::optional<std::string> startupReadinessSignal() const;
    size_t size() const;

private:
    mutable std::mutex lock_;
    mutable std::mutex readLock_;
    std::string data_;
    bool hasFinishedReading_ = false;
};

}  // namespace orvan
