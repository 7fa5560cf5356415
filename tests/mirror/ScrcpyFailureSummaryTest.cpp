#include <gtest/gtest.h>

#include <string>

#include "mirror/ScrcpyFailureSummary.h"

namespace orvan {
namespace {

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// The last four non-empty lines, trimmed and joined; a long summary keeps its tail of 477
// characters (not bytes) behind an ellipsis.
TEST(ScrcpyFailureSummary, KeepsTheTrimmedTailOfTheLastFourLines) {
    std::string tenLines;
    for (int i = 1; i <= 10; ++i) tenLines += "line " + std::to_string(i) + "\n\n";
    const std::string endsInEnd = std::string(597, 'a') + "END";
    const std::vector<std::pair<std::string, std::string>> cases{
        {tenLines, "line 7 | line 8 | line 9 | line 10"},
        {"only\n", "only"},
        {"a\nb", "a | b"},
        {"", ""},
        {" \n\t\r\n   \n", ""},
        {"  one \r\ntwo\rthree\vfour\ffive\xC2\x85six\xE2\x80\xA8seven\xE2\x80\xA9  eight  ",
         "five | six | seven | eight"},
        {endsInEnd, "..." + endsInEnd.substr(600 - 477)},
        {std::string(480, 'b'), std::string(480, 'b')},
        {std::string(481, 'b'), "..." + std::string(477, 'b')},
        {repeated("错", 300), repeated("错", 300)},
        {repeated("误", 500), "..." + repeated("误", 477)},
    };
    for (const auto& [text, summary] : cases) EXPECT_EQ(scrcpyFailureSummary(text), summary) << text.substr(0, 40);
}

}  // namespace
}  // namespace orvan
