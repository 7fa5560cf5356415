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
    EXPECT_EQ(mediaExportReport({1, {"/a.jpg", "/b.jpg"}, dir, {"/\uFFFD.png"}}).alert,
              "已保存到：" + dir.string() + "\n" + skipped2 + "\n有 1 个文件的名称含无法识别的字符，无法按名称读取，已跳过。");
}

}  // namespace
}  // namespace orvan
