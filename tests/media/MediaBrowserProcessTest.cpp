// Listing a folder through a scripted adb, answered in-process: what each kind of adb answer
// becomes, and the exact command the glasses' shell receives.

#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/MirrorError.h"
#include "media/MediaBrowser.h"
#include "support/FakeAdb.h"

namespace orvan {
namespace {

using testing::FakeAdb;

constexpr const char* kSerial = "127.0.0.2:5555";
const std::string kFile = "-rw-rw---- 1 u0_a1 media_rw 7 2024-05-01 10:00 a.jpg\n";

struct ListingCase {
    std::string reply;
    int status;
    bool deviceListed;
    std::string expected;  // the names listed, or "throws: <text>"
};

class MediaBrowserListing : public ::testing::TestWithParam<ListingCase> {
protected:
    void SetUp() override {
        runner.setCommandRunner(adb.inProcess());
        sink->set([this](const std::string& line) { lines.push_back(line); });
    }
    FakeAdb adb;
    ToolLocation tools = adb.tools();
    SharedLogSink sink = std::make_shared<LogSink>();
    std::vector<std::string> lines;
    AdbRunner runner{adb.adbPath(), 16071, sink};
    DeviceDiscovery discovery{runner, tools};
    MediaBrowser browser{runner, discovery};
};

TEST_P(MediaBrowserListing, AnswerBecomesEntriesOrAnError) {
    const auto& c = GetParam();
    adb.on({"-s", kSerial, "shell", "ls", "-la", "'/sdcard/a b'\\''c; rm -r x/'"}).replyBytes(c.reply, c.status);
    adb.on({"devices"}).reply(std::string("List of devices attached\n") + (c.deviceListed ? kSerial : "") + "\tdevice");
    std::string outcome;
    try {
        for (const auto& item : browser.loadDirectory(kSerial, " /sdcard/a b'c; rm -r x ")) outcome += item.name + ";";
    } catch (const MirrorError& error) {
        outcome = std::string("throws: ") + error.what();
    }
    EXPECT_EQ(outcome, c.expected);
    EXPECT_TRUE(adb.unmatchedCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MediaBrowserListing,
    ::testing::Values(ListingCase{"total 8\n" + kFile, 0, true, "a.jpg;"},
                      ListingCase{"ls: /sdcard/x/: No such file or directory\n", 1, true, ""},
                      ListingCase{kFile + "ls: ./b: Permission denied\n", 1, true, "a.jpg;"},
                      ListingCase{"error: closed\n", 1, true, "throws: error: closed"},
                      ListingCase{"error: device '127.0.0.2:5555' not found\n", 1, false,
                                  "throws: 眼镜 127.0.0.2:5555 已断开连接，请重新连接后再打开导出窗口。"},
                      // One undecodable name shows with replacement characters; the rest of the folder shows.
                      ListingCase{kFile + "-rw-rw---- 1 u g 7 2024-05-01 10:00 \xff.png\n", 0, true,
                                  "a.jpg;\uFFFD.png;"}));

// One default folder the glasses refuse to list is named in the log; the others' media show.
TEST_F(MediaBrowserListing, AnUnreadableDefaultFolderIsSkipped) {
    adb.on({"-s", kSerial, "shell", "ls", "-la", "'/sdcard/DCIM/album/'"})
        .reply("ls: /sdcard/DCIM/album/: Permission denied\n", 1);
    adb.on({"-s", kSerial, "shell", "ls", "-la", "*"}).reply(kFile);
    adb.on({"devices"}).reply(std::string("List of devices attached\n") + kSerial + "\tdevice");
    EXPECT_EQ(browser.loadDefaultMedia(kSerial).size(), 6u);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "无法读取默认媒体目录 /sdcard/DCIM/album，已跳过：ls: /sdcard/DCIM/album/: Permission denied"),
              lines.end());
}

}  // namespace
}  // namespace orvan
