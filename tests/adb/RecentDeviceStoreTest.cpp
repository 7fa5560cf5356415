#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "adb/RecentDeviceStore.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Wall time the test sets; the store stamps records with it.
class SettableClock final : public Clock {
public:
    explicit SettableClock(std::chrono::system_clock::time_point wall) : wall_(wall) {}
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point wallNow() const override {
        std::lock_guard lock(mutex_);
        return wall_;
    }
    void sleepFor(Seconds) override {}
    void advance(std::chrono::system_clock::duration step) {
        std::lock_guard lock(mutex_);
        wall_ += step;
    }

private:
    mutable std::mutex mutex_;
    std::chrono::system_clock::time_point wall_;
};

// 2024-01-01 00:00:00 UTC: 725760000 s after 2001-01-01.
const auto kNewYear2024 = std::chrono::system_clock::time_point(std::chrono::seconds(1704067200));

class RecentDeviceStoreTest : public ::testing::Test {
protected:
    std::string fileText() const { return testing::readWholeFile(folder / "recent-devices.json"); }
    void writeFile(const std::string& bytes) const {
        fs::create_directories(folder);
        std::ofstream(folder / "recent-devices.json", std::ios::binary) << bytes;
    }
    std::vector<std::string> serials(const std::vector<ConnectedAdbDevice>& devices) const {
        std::vector<std::string> result;
        for (const auto& device : devices) result.push_back(device.serial);
        return result;
    }
    // Files beside the store's own: left-over temporaries would pile up in the user's folder.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != "recent-devices.json") names.push_back(entry.path().filename().string());
        return names;
    }

    testing::TempDir temporary{"orvan-recent"};
    fs::path root = temporary.path();
    fs::path folder = root / "data" / "OrvanMirror";
    SettableClock clock{kNewYear2024};
};

TEST_F(RecentDeviceStoreTest, FirstSaveWritesOneCompactRecordWithKeysInOrder) {
    RecentDeviceStore store(folder, clock);
    fs::remove_all(folder);  // removed since the store was made: the save makes it again
    clock.advance(500ms);
    store.saveRecentDevice("ABC123", "192.168.1.20", std::string("Office"), std::string("Tervo3"));
    EXPECT_EQ(
        fileText(),
        R"([{"serial":"ABC123","ip":"192.168.1.20","wifiName":"Office","model":"Tervo3","updatedAt":725760000.5}])");
    EXPECT_TRUE(strayFiles().empty());

    auto devices = store.loadRecentDevices(5);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], (ConnectedAdbDevice{"ABC123", "最近设备", std::string("192.168.1.20"), std::string("Office"),
                                              std::string("Tervo3"), std::string("ABC123"), false, false}));
    auto records = store.loadRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].updatedAt, kNewYear2024 + 500ms);
}

TEST_F(RecentDeviceStoreTest, SavingASerialAgainKeepsOneNewerRecordAtTheFrontAndLoadsWithinTheLimit) {
    RecentDeviceStore store(folder, clock);
    store.saveRecentDevice("ABC123", "192.168.1.20", std::nullopt, std::nullopt);
    clock.advance(1s);
    store.saveRecentDevice("DEF456", "192.168.1.30", std::nullopt, std::nullopt);
    clock.advance(1s);
    store.saveRecentDevice("ABC123", "192.168.1.21", std::string("Lab"), std::nullopt);
    store.saveRecentDevice("abc123", "192.168.1.22", std::nullopt, std::nullopt);  // serials are case-sensitive

    auto devices = store.loadRecentDevices(std::nullopt);
    EXPECT_EQ(serials(devices), (std::vector<std::string>{"abc123", "ABC123", "DEF456"}));
    EXPECT_EQ(devices[1].ip, "192.168.1.21");
    EXPECT_EQ(devices[1].wifiName, "Lab");
    // The newest within the limit are loaded, but every record is kept.
    for (int i = 1; i <= 7; ++i) {
        store.saveRecentDevice("SERIAL" + std::to_string(i), "10.0.0." + std::to_string(i), std::nullopt, std::nullopt);
        clock.advance(1s);
    }
    EXPECT_EQ(serials(store.loadRecentDevices(5)),
              (std::vector<std::string>{"SERIAL7", "SERIAL6", "SERIAL5", "SERIAL4", "SERIAL3"}));
    EXPECT_EQ(store.loadRecentDevices(std::nullopt).size(), 10u);
    EXPECT_TRUE(store.loadRecentDevices(0).empty());
}

TEST_F(RecentDeviceStoreTest, SortsByTimeNewestFirstKeepingFileOrderForTies) {
    writeFile(R"([{"serial":"OLD","ip":"1.1.1.1","updatedAt":100},)"
              R"({"serial":"TIE1","ip":"1.1.1.2","updatedAt":300.25,"unknownKey":[1,2]},)"
              R"({"serial":"NEW","ip":"1.1.1.3","updatedAt":9e8},)"
              R"({"serial":"TIE2","ip":"1.1.1.4","updatedAt":300.25,"wifiName":null},)"
              R"({"serial":"ANCIENT","ip":"1.1.1.5","updatedAt":-5e20}])");
    RecentDeviceStore store(folder, clock);
    EXPECT_EQ(serials(store.loadRecentDevices(std::nullopt)),
              (std::vector<std::string>{"NEW", "TIE1", "TIE2", "OLD", "ANCIENT"}));
}

// Each of these files is unusable as a whole; the store reads it as empty and the next save
// replaces it with a file holding only the new record.
TEST_F(RecentDeviceStoreTest, BadFilesReadAsEmptyAndAreReplacedByTheNextSave) {
    std::string big = "[";
    while (big.size() <= RecentDeviceStore::kMaximumFileSize)
        big += R"({"serial":"S)" + std::to_string(big.size()) + R"(","ip":"10.0.0.1","updatedAt":1},)";
    big += R"({"serial":"LAST","ip":"10.0.0.1","updatedAt":1}])";

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"corrupt", "this is not json {"},
        {"truncated", R"([{"serial":"ABC123","ip":"192.168.1.20","updatedAt":7257)"},
        {"record without ip", R"([{"serial":"ABC123","updatedAt":1}])"},
        {"serial of the wrong type", R"([{"serial":123,"ip":"1.2.3.4","updatedAt":1}])"},
        {"time as text", R"([{"serial":"A","ip":"1.2.3.4","updatedAt":"2024-01-01"}])"},
        {"model of the wrong type", R"([{"serial":"A","ip":"1.2.3.4","model":["x"],"updatedAt":1}])"},
        {"one bad record among good ones", R"([{"serial":"A","ip":"1.2.3.4","updatedAt":1},{"serial":"B"}])"},
        {"an object instead of an array", R"({"serial":"A","ip":"1.2.3.4","updatedAt":1})"},
        {"an array of arrays", R"([["A","1.2.3.4",1]])"},
        {"time out of range", R"([{"serial":"A","ip":"1.2.3.4","updatedAt":1e999}])"},
        {"invalid UTF-8", "[{\"serial\":\"A\xff\",\"ip\":\"1.2.3.4\",\"updatedAt\":1}]"},
        {"deep nesting", std::string(100000, '[')},
        {"empty file", ""},
    };
    for (const auto& [name, contents] : cases) {
        SCOPED_TRACE(name);
        writeFile(contents);
        RecentDeviceStore store(folder, clock);
        EXPECT_TRUE(store.loadRecentDevices(5).empty());
        store.saveRecentDevice("NEW1", "10.0.0.7", std::nullopt, std::nullopt);
        EXPECT_EQ(fileText(), R"([{"serial":"NEW1","ip":"10.0.0.7","updatedAt":725760000.0}])");
        EXPECT_EQ(serials(store.loadRecentDevices(5)), std::vector<std::string>{"NEW1"});
    }
    // A file over the cap reads as empty but is never replaced: that would wipe its records.
    writeFile(big);
    RecentDeviceStore store(folder, clock);
    EXPECT_TRUE(store.loadRecentDevices(5).empty());
    auto skipped = store.saveRecentDevice("NEW1", "10.0.0.7", std::nullopt, std::nullopt);
    ASSERT_TRUE(skipped);
    EXPECT_EQ(*skipped, "最近设备文件超过 1 MB 上限，已保留原文件: " + (folder / "recent-devices.json").string());
    EXPECT_EQ(fileText(), big);
}

// Paths that cannot be read as a file: a fifo (an open for reading would block for ever), a
// symlink loop (ELOOP) and a file without read permission (root reads it anyway).
TEST_F(RecentDeviceStoreTest, UnreadablePathsReadAsEmptyAndAreReplacedByAFile) {
    const fs::path file = folder / "recent-devices.json";
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"symlink loop", [&] { fs::create_symlink("recent-devices.json", file); }},
        {"no read permission",
         [&] {
             writeFile(R"([{"serial":"A","ip":"1.2.3.4","updatedAt":1}])");
             fs::permissions(file, fs::perms::none);
         }},
    };
    for (const auto& [name, make] : cases) {
        if (name == "no read permission" && ::geteuid() == 0) continue;
        SCOPED_TRACE(name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        make();
        RecentDeviceStore store(folder, clock);
        EXPECT_TRUE(store.loadRecentDevices(5).empty());
        store.saveRecentDevice("NEW1", "10.0.0.7", std::nullopt, std::nullopt);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
        EXPECT_EQ(serials(store.loadRecentDevices(5)), std::vector<std::string>{"NEW1"});
    }
}

TEST_F(RecentDeviceStoreTest, AFailedWriteLeavesThePreviousFileAndNoLitter) {
    RecentDeviceStore store(folder, clock);
    store.saveRecentDevice("KEEP", "10.0.0.1", std::nullopt, std::nullopt);
    auto before = fileText();
    // Text that is not UTF-8 cannot be encoded as JSON.
    store.saveRecentDevice("BAD\xff", "10.0.0.2", std::nullopt, std::nullopt);
    EXPECT_EQ(fileText(), before);

    // A folder in the file's place cannot be replaced by a file.
    RecentDeviceStore blocked(root / "blocked", clock);
    fs::create_directories(blocked.fileUrl());
    blocked.saveRecentDevice("X", "10.0.0.3", std::nullopt, std::nullopt);
    EXPECT_TRUE(fs::is_directory(blocked.fileUrl()));
    EXPECT_TRUE(blocked.loadRecentDevices(5).empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "blocked"), fs::directory_iterator()), 1);
    EXPECT_TRUE(strayFiles().empty());
}

// Every refresh saves the USB glasses it found; saves of different glasses racing each other
// must all end up in the file.
TEST_F(RecentDeviceStoreTest, ConcurrentSavesLoseNoUpdate) {
    RecentDeviceStore store(folder, clock);
    RecentDeviceStore secondStore(folder, clock);  // a second owner of the same file
    constexpr int kThreads = 8;
    constexpr int kSavesPerThread = 25;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < kSavesPerThread; ++i) {
                auto& target = (t % 2 == 0) ? store : secondStore;
                target.saveRecentDevice("T" + std::to_string(t) + "-" + std::to_string(i), "10.0.0.1", std::nullopt,
                                        std::nullopt);
            }
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(store.loadRecords().size(), static_cast<size_t>(kThreads * kSavesPerThread));
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(RecentDeviceStoreTest, ReadersNeverSeeATornFile) {
    RecentDeviceStore store(folder, clock);
    store.saveRecentDevice("FIRST", "10.0.0.1", std::string(2000, 'w'), std::nullopt);
    std::atomic<bool> done{false};
    std::atomic<int> emptyReads{0};
    std::thread reader([&] {
        while (!done)
            if (store.loadRecords().empty()) ++emptyReads;
    });
    for (int i = 0; i < 60; ++i)
        store.saveRecentDevice("S" + std::to_string(i), "10.0.0.2", std::string(2000, 'w'), std::nullopt);
    done = true;
    reader.join();
    EXPECT_EQ(emptyReads.load(), 0);
}

TEST(RecentDeviceStoreLocation, DefaultsToTheXdgDataFolder) {
    testing::ScopedEnvironment environment;
    environment.set("XDG_DATA_HOME", "/tmp/orvan-xdg-data-check");
    EXPECT_EQ(RecentDeviceStore::defaultFolder(), fs::path("/tmp/orvan-xdg-data-check/OrvanMirror"));
}

}  // namespace
}  // namespace orvan
