#include <gtest/gtest.h>

#include <string>

#include "mirror/ScrcpyFailureSummary.h"

namespace orvan {
namespace {

TEST(ScrcpyFailureSummary, KeepsTheLastFourNonEmptyLinesJoined) {
    std::string text;
    for (int i = 1; i <= 10; ++i) text += "line " + std::to_string(i) + "\n\n";
    EXPECT_EQ(scrcpyFailureSummary(text), "line 7 | line 8 | line 9 | line 10");
    EXPECT_EQ(scrcpyFailureSummary("only\n"), "only");
    EXPECT_EQ(scrcpyFailureSummary("a\nb"), "a | b");
}

TEST(ScrcpyFailureSummary, EmptyAndBlankTextGiveNothing) {
    EXPECT_EQ(scrcpyFailureSummary(""), "");
    EXPECT_EQ(scrcpyFailureSummary(" \n\t\r\n   \n"), "");
}

TEST(ScrcpyFailureSummary, SplitsAtEveryKindOfLineBreakAndTrimsEachLine) {
    std::string text = "  one \r\ntwo\rthree\vfour\ffive\xC2\x85six\xE2\x80\xA8seven\xE2\x80\xA9  eight  ";
    EXPECT_EQ(scrcpyFailureSummary(text), "five | six | seven | eight");
}

TEST(ScrcpyFailureSummary, ALongSummaryKeepsItsTailBehindAnEllipsis) {
    std::string line(600, 'a');
    line.replace(600 - 3, 3, "END");
    auto summary = scrcpyFailureSummary(line);
    ASSERT_EQ(summary.size(), 480u);
    EXPECT_EQ(summary.substr(0, 3), "...");
    EXPECT_EQ(summary.substr(3), line.substr(600 - 477));

    EXPECT_EQ(scrcpyFailureSummary(std::string(480, 'b')), std::string(480, 'b'));
    EXPECT_EQ(scrcpyFailureSummary(std::string(481, 'b')), "..." + std::string(477, 'b'));
}

TEST(ScrcpyFailureSummary, CountsCharactersNotBytes) {
    // 300 Chinese characters are 900 bytes but stay under the limit.
    std::string chinese;
    for (int i = 0; i < 300; ++i) chinese += "错";
    EXPECT_EQ(scrcpyFailureSummary(chinese), chinese);

    std::string longer;
    for (int i = 0; i < 500; ++i) longer += "误";
    auto summary = scrcpyFailureSummary(longer);
    std::string tail;
    for (int i = 0; i < 477; ++i) tail += "误";
    EXPECT_EQ(summary, "..." + tail);
}

}  // namespace
}  // namespace orvan
