// The export window's previews against the simulated glasses through the real adb: pulled in
// list order, one at a time, and an earlier list's never shown once the user has moved on.
#include <gtest/gtest.h>

#include <condition_variable>

#include "media/MediaFiles.h"
#include "platform/Dispatch.h"
#include "shell/MediaExportController.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

struct Tagged final : MediaPreviewImage {
    explicit Tagged(size_t n) : call(n) {}
    size_t call;  // which decoder call made it
};

struct Rig : MediaExportView {
    testing::AdbWorld world;
    std::string serial = world.startConnectedGlasses({.media = true, .bulkCount = 0}).wifiSerial();
    AdbRunner runner{world.toolFolder() / "adb", world.privateServerPort(), nullptr};
    ToolLocation tools = ToolLocation::inToolFolder(world.toolFolder());
    DeviceDiscovery discovery{runner, tools};
    std::shared_ptr<MediaBrowser> browser = std::make_shared<MediaBrowser>(runner, discovery);
    FakeClock clock;
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
    std::vector<std::string> decoded;  // cache file names, in decoding order
    std::vector<size_t> shown;         // decoder calls whose preview a cell showed
    std::string alert;                 // the last error shown, for a failure's message
    std::shared_ptr<MediaExportController> controller;

    Rig() {
        Dispatch::setMain(queue);
        controller = std::make_shared<MediaExportController>(
            browser, std::make_shared<MediaExporter>(*browser, clock), *this, [this](const fs::path& file) {
                std::unique_lock lock(mutex);
                decoded.push_back(file.filename().string());
                released.wait(lock, [&] { return !held; });
                return std::make_shared<Tagged>(decoded.size());
            });
    }
    ~Rig() override {
        controller->stop();
        hold(false);
        joined();  // before the runner goes
    }
    bool joined() {
        return controller->tasks().joinUntil(std::chrono::steady_clock::now() + std::chrono::seconds(60));
    }
    void hold(bool value) {
        std::lock_guard lock(mutex);
        held = value;
        released.notify_all();
    }
    bool settle(const std::function<bool()>& done) { return queue->runUntil(done, Seconds(60)); }
    std::vector<std::string> imageCacheNames() {
        std::vector<std::string> names;
        for (const auto& item : controller->items())
            if (item.isImage()) names.push_back(previewCacheFileName(serial, item.path));
        return names;
    }

    void reloadItems() override {}
    void updateItem(size_t index) override {
        if (auto tagged = std::dynamic_pointer_cast<const Tagged>(controller->preview(controller->items()[index])))
            shown.push_back(tagged->call);
    }
    void setPathText(const std::string&) override {}
    void setStatus(const std::string&) override {}
    void setSelectAll(const SelectAllState&) override {}
    void setExportEnabled(bool) override {}
    void showProgress(int, int) override {}
    void hideProgress() override {}
    std::optional<fs::path> chooseExportFolder(const std::string&) override { return std::nullopt; }
    void showAlert(AlertKind, const std::string&, const std::string& text, std::function<void()>) override { alert = text; }
};

TEST(MediaExportController, PreviewsFollowTheListAndAnOldListsNeverShow) {
    if (!testing::AdbWorld::available()) GTEST_SKIP();
    Rig rig;
    rig.hold(true);  // the first preview waits until the user has moved on
    rig.controller->open(std::nullopt);
    ASSERT_TRUE(rig.settle([&] { return !rig.controller->isLoadingMediaList(); }));
    ASSERT_EQ(rig.alert, "");
    const auto defaultImages = rig.imageCacheNames();
    ASSERT_GT(defaultImages.size(), 1u);
    EXPECT_LT(defaultImages.size(), rig.controller->items().size());  // videos get no preview

    rig.controller->loadDirectory("/sdcard/DCIM/Camera");
    ASSERT_TRUE(rig.settle([&] { return !rig.controller->isLoadingMediaList(); }));
    ASSERT_EQ(rig.controller->currentPath(), "/sdcard/DCIM/Camera") << rig.alert;
    const auto cameraImages = rig.imageCacheNames();
    rig.hold(false);
    ASSERT_TRUE(rig.joined());  // both runs have pulled and posted everything
    rig.queue->runPending();
    EXPECT_EQ(rig.shown.size(), cameraImages.size());
    for (size_t call : rig.shown) EXPECT_GT(call, defaultImages.size()) << "a preview of the earlier list was shown";
    std::lock_guard lock(rig.mutex);
    ASSERT_GE(rig.decoded.size(), defaultImages.size());
    EXPECT_EQ(std::vector(rig.decoded.begin(), rig.decoded.begin() + defaultImages.size()), defaultImages);
}

}  // namespace
}  // namespace orvan
