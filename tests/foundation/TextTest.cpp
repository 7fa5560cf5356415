#include <gtest/gtest.h>

#include "foundation/Text.h"

namespace orvan::text {
namespace {

TEST(Utf8, AcceptsWellFormedAndRejectsMalformedBytesAndTerminalControlsAreDropped) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("ascii"));
    EXPECT_TRUE(isValidUtf8("投屏 😀"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xe6\x8a"));          // truncated
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // beyond U+10FFFF

    EXPECT_EQ(withoutTerminalControls("\x1b[1;31mERROR\x1b[0m: x\r\n\x1b]0;title\aok\x1b]2;t\x1b\\!\x07\x08"),
              "ERROR: x\r\nok!");
    EXPECT_EQ(withoutTerminalControls("\x1b(Bkept\x1b[2K"), "kept");
    EXPECT_EQ(withoutTerminalControls("cut\x1b["), "cut");  // an escape the window cut short
    EXPECT_EQ(withoutTerminalControls("投屏\ttab"), "投屏\ttab");
}

TEST(Lines, TrimmedAtBothEndsOnlySplitOnEveryLineEndingAndFieldsAtAnySeparator) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(containsIgnoringCase("Failed To Connect", "failed to connect"));
    EXPECT_EQ(splitFields("  ABC123 \t\t device  x:y "), (std::vector<std::string>{"ABC123", "device", "x:y"}));
    EXPECT_EQ(splitFields(" \t "), std::vector<std::string>{});
    EXPECT_EQ(splitFields("a/b//c", "/"), (std::vector<std::string>{"a", "b", "c"}));

    EXPECT_EQ(trimmed("  \r\n device \t\n"), "device");
    EXPECT_EQ(trimmed("\xC2\xA0name\xE3\x80\x80"), "name");
    EXPECT_EQ(trimmed("a  b"), "a  b");
    EXPECT_EQ(trimmed(" \n\t"), "");
    EXPECT_EQ(decodedTrimmed(" ok \xff"), "");
    EXPECT_EQ(trimmedOf("\t \"Office\" ", " \t\""), "Office");
    EXPECT_EQ(trimmedOf("\r\n", " \t"), "\r\n");  // only the given characters
    EXPECT_EQ(trimmedOf("   ", " "), "");
}

}  // namespace
}  // namespace orvan::text
