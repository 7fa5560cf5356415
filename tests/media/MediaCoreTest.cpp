// The media core's pure rules: listing parsing and order, remote paths, sizes, cache names,
// device choice, and the local files of an export (in a temporary folder).

#include <gtest/gtest.h>

#include <fstream>

#include "foundation/MirrorError.h"
#include "media/MediaDeviceChoice.h"
#include "media/MediaExporter.h"
#include "media/MediaFiles.h"
#include "media/MediaListing.h"
#include "media/NaturalOrder.h"
#include "media/RemotePath.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

std::string line(const std::string& perms, const std::string& size, const std::string& name) {
    return perms + " 1 u0_a123 media_rw " + size + " 2024-05-01 10:00 " + name + "\n";
}

TEST(MediaListing, ParsesSensibleLinesAndSkipsTheRest) {
    struct Row {
        std::string output;
        std::vector<MediaBrowserItem> expected;
    };
    const std::string f = "-rw-rw----", d = "drwxrwx--x";
    const std::vector<Row> rows = {
        {line(f, "2048", "IMG 0001.JPG"), {{"/sdcard/DCIM/IMG 0001.JPG", "IMG 0001.JPG", 2048, false}}},
        {line(d, "4096", "Camera"), {{"/sdcard/DCIM/Camera", "Camera", 4096, true}}},
        // Exactly as listed: two inner spaces, a trailing space, a control character.
        {line(f, "1", "IMG  1.jpg"), {{"/sdcard/DCIM/IMG  1.jpg", "IMG  1.jpg", 1, false}}},
        {line(d, "1", "Dir "), {{"/sdcard/DCIM/Dir ", "Dir ", 1, true}}},
        {line(f, "1", "a\x01\tb.png"), {{"/sdcard/DCIM/a\x01\tb.png", "a\x01\tb.png", 1, false}}},
        {"-rw-rw---- 1 u g 12 2024-05-01 10:00 x.mov\r\n", {{"/sdcard/DCIM/x.mov", "x.mov", 12, false}}},
        {line(f, "9223372036854775807", "big.mp4"), {{"/sdcard/DCIM/big.mp4", "big.mp4", INT64_MAX, false}}},
        {line(f, "99999999999999999999", "o.heic") + line(f, "-5", "n.jpeg") + line(f, "1k", "k.jpg"),
         {{"/sdcard/DCIM/k.jpg", "k.jpg", 0, false},
          {"/sdcard/DCIM/n.jpeg", "n.jpeg", 0, false},
          {"/sdcard/DCIM/o.heic", "o.heic", 0, false}}},
        {"total 24\n" + line(f, "1", "notes.txt") + line("lrwxrwxrwx", "1", "l.jpg -> /x.jpg") + line(d, "1", ".") +
             line(d, "1", "..") + "ls: /x: Permission denied\n-rw 1 u g 5 2024-05-01\n\n\xff\xfe garbage\n" +
             line(f, "3", ""),
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.output);
        EXPECT_EQ(parseDirectoryListing("sdcard/DCIM/", row.output), row.expected);
    }
}

TEST(MediaListing, OrdersDirectoriesFirstThenNaturallyIgnoringCase) {
    const std::string f = "-rw-r--r--";
    const auto items = parseDirectoryListing("/d", line(f, "1", "IMG_10.jpg") + line(f, "1", "b.png") +
                                                       line("drwx------", "1", "zoo") + line(f, "1", "IMG_2.jpg") +
                                                       line(f, "1", "A.png") + line("drwx------", "1", "Album 10") +
                                                       line("drwx------", "1", "album 9"));
    std::string order;
    for (const auto& item : items) order += item.name + "|";
    EXPECT_EQ(order, "album 9|Album 10|zoo|A.png|b.png|IMG_2.jpg|IMG_10.jpg|");
    const NaturalOrder chinese("zh");
    EXPECT_TRUE(chinese.less("阿明.jpg", "李四.jpg") && chinese.less("李四.jpg", "张三.jpg"));
}

TEST(RemotePath, NormalisesJoinsAndGoesUpSizesReadAsTextAndCacheNamesAreUniquePerPairAndPath) {
    EXPECT_EQ(normalizeRemoteDirectory("  \n"), "/sdcard");
    EXPECT_EQ(normalizeRemoteDirectory(" 默认媒体目录\n"), "/sdcard");
    EXPECT_EQ(normalizeRemoteDirectory("storage/x/"), "/storage/x/");
    EXPECT_EQ(joinRemotePath("/", "a.jpg"), "/a.jpg");
    EXPECT_EQ(joinRemotePath("sdcard/DCIM/", "a b.jpg"), "/sdcard/DCIM/a b.jpg");
    const std::vector<std::string> up = {
        "/sdcard/DCIM/Camera", "/sdcard/DCIM", "/sdcard",       "/sdcard", "/storage", "/", "/", "/sdcard",
        "默认媒体目录",        "/sdcard",      "/sdcard/DCIM/", "/sdcard"};
    for (std::size_t i = 0; i < up.size(); i += 2) EXPECT_EQ(parentRemoteDirectory(up[i]), up[i + 1]) << up[i];
    EXPECT_EQ(remoteFolderOf("/a.jpg"), "/");

    const std::vector<std::pair<int64_t, std::string>> rows = {
        {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KB"}, {1048575, "1024.0 KB"}, {1048576, "1.0 MB"}};
    for (const auto& [bytes, expected] : rows) EXPECT_EQ(formatSize(bytes), expected);
    EXPECT_TRUE((MediaBrowserItem{"/a/Trip.MOV", "Trip.MOV", 1, false}.isVideo()));

    // Cache names are readable and unique per pair and path.
    EXPECT_EQ(sanitizedCacheFileName("/sdcard/DCIM/Camera/IMG_1.jpg"), "sdcard_DCIM_Camera_IMG_1.jpg");
    const std::string uuid = sanitizedCacheFileName("//::/");
    EXPECT_EQ(uuid.size(), 36u);
    EXPECT_NE(uuid, sanitizedCacheFileName("//::/"));

    const std::string a = previewCacheFileName("127.0.0.2:5555", "/a/b_c.jpg");
    EXPECT_TRUE(a.ends_with("_127.0.0.2_5555_a_b_c.jpg")) << a;
    EXPECT_EQ(a, previewCacheFileName("127.0.0.2:5555", "/a/b_c.jpg"));
    EXPECT_NE(a, previewCacheFileName("127.0.0.2:5555", "/a_b/c.jpg"));
    EXPECT_NE(a, previewCacheFileName("emulator-5554", "/a/b_c.jpg"));
    EXPECT_LE(previewCacheFileName("s", "/" + std::string(300, 'x') + "/图片.jpg").size(), 255u);
}

TEST(MediaExportFiles, NeverReuseAFolderOrReplaceAFileAndOnlyAGlassesFileCountsAsMissing) {
    testing::TempDir dir;
    const auto first = createExportFolder(dir / "new/parent", "OrvanMedia_20240501_093015");
    EXPECT_EQ(createExportFolder(dir / "new/parent", "OrvanMedia_20240501_093015").filename(),
              "OrvanMedia_20240501_093015_2");
    std::ofstream(first / "IMG_1.jpg") << "earlier";
    EXPECT_EQ(uniqueExportFileUrl("IMG_1.jpg", first).filename(), "IMG_1_2.jpg");

    const auto partial = makePartialFile(first);
    std::ofstream(partial) << "pulled";
    EXPECT_EQ(placeWithoutReplacing(partial, first, "IMG_1.jpg").filename(), "IMG_1_2.jpg");
    EXPECT_EQ(testing::readWholeFile(first / "IMG_1.jpg"), "earlier");
    EXPECT_FALSE(std::filesystem::exists(partial));

    std::ofstream(dir / "file") << "x";
    EXPECT_THROW(createExportFolder(dir / "file", "OrvanMedia_x"), MirrorError);

    const std::string remote = "/sdcard/DCIM/a.jpg";
    EXPECT_TRUE(pullFailureMeansMissing(
        "adb: error: failed to stat remote object '" + remote + "': No such file or directory", remote, false));
    EXPECT_TRUE(pullFailureMeansMissing("ADB: ERROR: FAILED TO STAT REMOTE OBJECT", remote, true));
    EXPECT_FALSE(pullFailureMeansMissing("adb: error: cannot create '/media/usb/x/a.jpg': No such file or directory",
                                         remote, false));
    EXPECT_FALSE(pullFailureMeansMissing("adb: error: failed to read data", remote, true));

    // The preferred device, else the only one.
    const AdbDevices two = parseAdbDevices("List of devices attached\nUSB1\tdevice\n127.0.0.2:5555\tdevice\n");
    EXPECT_EQ(chooseMediaDevice(two, "127.0.0.2:5555"), "127.0.0.2:5555");
    EXPECT_EQ(chooseMediaDevice(parseAdbDevices("List\n127.0.0.2:5555\tdevice\nX\toffline\n"), "X"), "127.0.0.2:5555");
    EXPECT_THROW(chooseMediaDevice(two, std::nullopt), MirrorError);
    EXPECT_THROW(chooseMediaDevice({}, "127.0.0.2:5555"), MirrorError);
}

}  // namespace
}  // namespace orvan
