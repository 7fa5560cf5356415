#include <gtest/gtest.h>

#include "shell/MediaExportController.h"

namespace orvan {
namespace {

TEST(MediaExportRules, ResultTextsSayWhatWasSavedAndWhatWasSkipped) {
    const std::filesystem::path dir = "/home/u/OrvanMedia_20240501_093015";
    const std::string skipped2 = "有 2 个文件已被移动或删除，已跳过并刷新列表。";
    EXPECT_EQ(mediaExportReport({3, {}, dir}), (MediaExportReport{"导出完成，共 3 个文件。", "导出完成，共 3 个文件。", false}));
    EXPECT_EQ(mediaExportReport({1, {"/a.jpg", "/b.jpg"}, dir}),
              (MediaExportReport{"导出完成：成功 1 个，已跳过 2 个失效文件。", "已保存到：" + dir.string() + "\n" + skipped2, false}));
    EXPECT_EQ(mediaExportReport({0, {"/a.jpg", "/b.jpg"}, std::nullopt}),
              (MediaExportReport{"导出完成：成功 0 个，已跳过 2 个失效文件。", skipped2, true}));
}

TEST(MediaExportRules, SelectAllAndTheSummaryCountOnlyTheListsFiles) {
    const std::vector<MediaBrowserItem> items{
        {"/d/sub", "sub", 0, true}, {"/d/a.jpg", "a.jpg", 1}, {"/d/b.MOV", "b.MOV", 2}, {"/d/c.png", "c.png", 3}};
    EXPECT_EQ(selectAllState({items[0]}, {}), (SelectAllState{false, SelectAllCheck::off}));
    EXPECT_EQ(selectAllState(items, {"/d/a.jpg", "/old/x.jpg"}), (SelectAllState{true, SelectAllCheck::mixed}));
    EXPECT_EQ(selectAllState(items, {"/d/a.jpg", "/d/b.MOV", "/d/c.png"}), (SelectAllState{true, SelectAllCheck::on}));
    EXPECT_EQ(selectionSummary("/d", {}, {}), "/d：共 0 项。点击目录进入，多选照片/视频后导出。");
    EXPECT_EQ(selectionSummary("/d", items, {"/d/a.jpg", "/old/x.jpg"}),
              "/d：共 4 项，已选 1 个文件。点击目录进入，可继续选择或导出。");
}

}  // namespace
}  // namespace orvan
