#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "foundation/ActivityLog.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

class ActivityLogTest : public ::testing::Test {
protected:
    std::string fileText(const ActivityLog& log) { return testing::readWholeFile(log.file()); }

    testing::TempDir root_{"orvan-log"};
    fs::path folder_ = root_ / "OrvanMirror";
};

// That time of day on a fixed date, in the machine's time zone.
std::chrono::system_clock::time_point localTime(const char* clock) {
    std::tm parts{};
    strptime((std::string("2026-12-06 ") + clock).c_str(), "%Y-%m-%d %H:%M:%S", &parts);
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

TEST(ActivityLogFormat, BracketsTheLocalTimeThenOneBlank) {
    EXPECT_EQ(ActivityLog::formatLine("连接成功", localTime("09:05:07")), "[09:05:07] 连接成功");
    EXPECT_EQ(ActivityLog::formatLine("", localTime("23:59:00")), "[23:59:00] ");
    EXPECT_EQ(ActivityLog::formatLine("a\nb", localTime("00:00:01")), "[00:00:01] a\nb");
}

TEST_F(ActivityLogTest, AppendsEachLineWithOneNewlineAndFeedsTheScreen) {
    ActivityLog log(folder_ / "nested" / "OrvanMirror");
    std::vector<std::string> screen;
    log.setScreenSink([&](const std::string& line) { screen.push_back(line); });
    log.appendLog("$ adb devices");
    log.appendLog("List of devices attached\n127.0.0.2:5555\tdevice");
    auto text = fileText(log);
    EXPECT_EQ(log.file().filename(), "orvan-mirror-native.log");
    ASSERT_EQ(screen.size(), 2u);
    EXPECT_EQ(text, screen[0] + "\n" + screen[1] + "\n");
    EXPECT_NE(screen[1].find("\n127.0.0.2:5555\tdevice"), std::string::npos);
}

TEST_F(ActivityLogTest, ADeletedOrClearedFileTakesTheNextLineAndFileErrorsNeverReachTheCaller) {
    ActivityLog log(folder_);
    log.appendLog("one");
    fs::remove(log.file());
    log.appendLog("two");
    EXPECT_EQ(fileText(log).substr(11), "two\n");
    ASSERT_TRUE(log.clearLogFile());
    EXPECT_EQ(fs::file_size(log.file()), 0u);
    log.appendLog("new");
    EXPECT_EQ(fileText(log).substr(11), "new\n");

    // File errors never reach the caller.
    fs::create_directories(folder_);
    std::ofstream(folder_ / "blocker") << "a file where the folder should be";
    ActivityLog blocked(folder_ / "blocker" / "OrvanMirror");
    int shown = 0;
    blocked.setScreenSink([&](const std::string&) { ++shown; });
    EXPECT_NO_THROW(blocked.appendLog("still shown"));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(blocked.clearLogFile());
}

TEST_F(ActivityLogTest, LinesFromManyThreadsArriveWholeInPerThreadOrder) {
    ActivityLog log(folder_);
    constexpr int kThreads = 8, kLines = 1250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.appendLog("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                              std::string(40, 'x'));
        });
    }
    for (auto& thread : threads) thread.join();

    std::ifstream in(log.file());
    std::map<int, int> next;
    std::string line;
    int total = 0;
    while (std::getline(in, line)) {
        ++total;
        int thread = -1, index = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "[%*2d:%*2d:%*2d] thread %d line %d", &thread, &index), 2) << line;
        ASSERT_EQ(line.substr(line.size() - 41), " " + std::string(40, 'x')) << "torn line: " << line;
        EXPECT_EQ(index, next[thread]) << "out of order for thread " << thread;
        next[thread] = index + 1;
    }
    EXPECT_EQ(total, kThreads * kLines);
}

}  // namespace
}  // namespace orvan
