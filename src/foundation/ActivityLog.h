#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace orvan {

// The single record of what the app does: each line goes to the screen (through `onScreenLine`,
// which the app hands to the main thread) and is appended to the log file.
class ActivityLog {
public:
    static constexpr const char* kFileName = "orvan-mirror-native.log";

    // `folder` is created (with parents) now; failures are ignored, like every log file error.
    explicit ActivityLog(std::filesystem::path folder);

    const std::filesystem::path& file() const { return file_; }

    // Receives each formatted line, on the thread that logged it. The app posts it to the main
    // thread; posting from one thread keeps that thread's order.
    void setScreenSink(std::function<void(const std::string& line)> sink);

    // Formats and records one line. Callable from any thread; appends from different threads are
    // serialised so lines never interleave in the file.
    void appendLog(const std::string& message);

    // Empties the file (a new empty file replaces it). False when that fails.
    bool clearLogFile();

    // "[HH:mm:ss] " + message, in local time.
    static std::string formatLine(const std::string& message, std::chrono::system_clock::time_point when);

private:
    void appendToFile(const std::string& bytes);

    std::filesystem::path file_;
    std::mutex fileMutex_;
    std::mutex sinkMutex_;
    std::function<void(const std::string&)> screenSink_;
};

}  // namespace orvan
