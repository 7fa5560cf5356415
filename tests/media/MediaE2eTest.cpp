// Browsing and exporting against the simulated glasses' media tree through the real adb.

#include <gtest/gtest.h>

#include <fstream>
#include <future>

#include "foundation/MirrorError.h"
#include "media/MediaExporter.h"
#include "media/MediaFiles.h"
#include "media/MediaSession.h"
#include "support/AdbWorld.h"
#include "support/ErrorOf.h"
#include "support/Recorders.h"
#include "support/Wait.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using testing::AdbWorld;

std::vector<std::string> entryNames(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct MediaRig {
    AdbWorld world;
    testing::SimulatedGlasses& glasses = world.startConnectedGlasses({.media = true, .bulkCount = 0});
    std::string serial = glasses.wifiSerial();
    SharedLogSink sink = std::make_shared<LogSink>();
    AdbRunner runner{world.toolFolder() / "adb", world.privateServerPort(), sink};
    ToolLocation tools = ToolLocation::inToolFolder(world.toolFolder());
    DeviceDiscovery discovery{runner, tools};
    MediaBrowser browser{runner, discovery};
    FakeClock clock;  // a known export time names the folder
    MediaExporter exporter{browser, clock, {.exportPull = std::chrono::seconds(60)}};
    MediaSession media = MediaSession::open(browser, exporter, std::nullopt);
    testing::TempDir target;
    testing::LogRecorder log;
    MediaRig() { log.attach(*sink); }

    MediaBrowserItem itemNamed(const std::vector<MediaBrowserItem>& items, const std::string& name) const {
        for (const auto& item : items)
            if (item.name == name) return item;
        throw std::runtime_error("not listed: " + name);
    }
};

TEST(MediaE2e, ScanExportAndPreviewFollowTheGlassesAsTheyChange) {
    if (!AdbWorld::available()) GTEST_SKIP();
    MediaRig rig;
    auto& glasses = rig.glasses;
    ASSERT_EQ(rig.media.serial(), rig.serial);

    std::vector<std::string> names;
    const auto scan = rig.media.loadDefaultMedia();
    for (const auto& item : scan) names.push_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"burst.HEIC", "clip.MOV", "cover.png", "IMG 0001.JPG", "IMG_2.jpeg",
                                               "IMG_10.jpg", "IMG_20240501_100000.jpg", "IMG_20240501_101000.jpg",
                                               "IMG_20240501_102000.jpg", "IMG_20240501_103000.jpg",
                                               "IMG_20240501_104000.jpg", "photo.png", "rec.mp4", "Trip Video.MP4",
                                               "VID_1.mp4", "VID_20240501_103000.mp4"}));

    // A folder named to break out of the command line lists as itself and runs nothing else.
    const std::string odd = "/sdcard/a 'b' \"c\"; mkdir Evil";
    glasses.makeFile(odd + "/p.jpg", 7);
    const auto oddItems = rig.media.loadDirectory(odd);
    EXPECT_FALSE(fs::exists(glasses.storageRoot() / "Evil"));
    ASSERT_EQ(oddItems, (std::vector<MediaBrowserItem>{{odd + "/p.jpg", "p.jpg", 7, false}}));

    // The selection as the window showed it; then the glasses change under it.
    const auto moved = rig.itemNamed(scan, "IMG_20240501_102000.jpg");
    const auto deleted = rig.itemNamed(scan, "IMG_10.jpg");
    const auto beach = rig.itemNamed(rig.media.loadDirectory("/sdcard/DCIM/album/Summer 2024"), "beach.PNG");
    glasses.makeFile("/sdcard/Trip/IMG 0001.JPG", 5);  // shares a name with a camera photo of another size
    const auto trip = rig.itemNamed(rig.media.loadDirectory("/sdcard/Trip"), "IMG 0001.JPG");
    glasses.makeFile("/sdcard/Download/p.jpg", 3);
    glasses.moveFile(moved.path, "/sdcard/Pictures/" + moved.name);
    glasses.removeFile(deleted.path);
    glasses.removeFile(trip.path);

    // A name the listing could only decode lossily is not the file's name: skipped as unreadable.
    MediaBrowserItem lossy{"/sdcard/Download/x\xEF\xBF\xBD.jpg", "x\xEF\xBF\xBD.jpg", 3, false};
    std::string progress;
    const auto result = rig.media.exportSelectedMedia(
        {moved, deleted, beach, trip, oddItems[0], rig.itemNamed(rig.media.loadDirectory("/sdcard/Download"), "p.jpg"),
         lossy},
        rig.target.path(),
        [&](int i, int n, const std::string& name) { progress = std::to_string(i) + "/" + std::to_string(n) + name; });
    EXPECT_EQ(result.exportedCount, 4);
    EXPECT_EQ(result.skippedMissingFiles, (std::vector<std::string>{deleted.path, trip.path}));
    EXPECT_EQ(result.skippedUnreadableFiles, std::vector<std::string>{lossy.path});
    const fs::path folder = rig.target.path() / exportFolderName(rig.clock.wallNow());
    EXPECT_EQ(result.exportDirectory, folder);
    EXPECT_EQ(entryNames(folder), (std::vector<std::string>{moved.name, "beach.PNG", "p.jpg", "p_2.jpg"}));
    EXPECT_EQ(testing::readWholeFile(folder / moved.name),
              testing::readWholeFile(glasses.hostPath("/sdcard/Pictures/" + moved.name)));
    EXPECT_EQ(progress, "4/4p.jpg");
    EXPECT_TRUE(
        rig.log.contains("媒体文件路径已变化，改用当前路径: " + moved.path + " -> /sdcard/Pictures/" + moved.name));

    // Nothing left to export: no folder at all.
    const auto none = rig.media.exportSelectedMedia({deleted}, rig.target.path());
    EXPECT_EQ(none, (MediaExportResult{0, {deleted.path}, std::nullopt}));
    EXPECT_EQ(entryNames(rig.target.path()), std::vector<std::string>{folder.filename()});

    // The export drive goes away after the first file: the failure still says what was saved.
    std::string failure = testing::errorOf([&] {
        rig.media.exportSelectedMedia({beach, moved}, rig.target.path(), [&](int index, int, const std::string&) {
            if (index != 2) return;
            for (const auto& entry : fs::directory_iterator(rig.target.path())) {
                if (entry.path() == folder) continue;
                fs::remove_all(entry.path());
                std::ofstream(entry.path()) << "not a folder any more";
            }
        });
    });
    EXPECT_TRUE(failure.starts_with("已成功导出 1 个文件到 ")) << failure;
    EXPECT_NE(failure.find(" 失败："), std::string::npos) << failure;

    // A preview is pulled once, then served from the cache.
    rig.world.clearAdbTrace();
    const auto cover = rig.itemNamed(scan, "cover.png");
    const fs::path cached = rig.media.cacheImagePreview(cover.path);
    EXPECT_EQ(rig.media.cacheImagePreview(cover.path), cached);
    EXPECT_EQ(testing::readWholeFile(cached), testing::readWholeFile(glasses.hostPath(cover.path)));
    EXPECT_EQ(rig.world.adbTrace().size(), 1u);
}

TEST(MediaE2e, PullCutOffByVanishingGlassesLeavesNoFile) {
    if (!AdbWorld::available()) GTEST_SKIP();
    MediaRig rig;
    rig.glasses.makeFile("/sdcard/Big/big.mp4", 64 << 20);
    const auto big = rig.media.loadDirectory("/sdcard/Big");
    rig.glasses.delayReplies(std::chrono::milliseconds(50));  // several seconds for the whole file
    auto exporting =
        std::async(std::launch::async, [&] { return rig.media.exportSelectedMedia(big, rig.target.path()); });
    // Cut the glasses off once the pull has written part of the file.
    auto partialGrew = [&] {
        for (const auto& entry : fs::recursive_directory_iterator(rig.target.path())) {
            if (entry.is_regular_file() && entry.file_size() > 0) return true;
        }
        return false;
    };
    ASSERT_TRUE(testing::waitUntil(partialGrew));
    rig.world.stopGlasses(rig.glasses);
    EXPECT_THROW(exporting.get(), MirrorError);
    EXPECT_EQ(entryNames(rig.target.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace orvan
