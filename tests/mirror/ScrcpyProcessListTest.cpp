#include <gtest/gtest.h>

#include <string>

#include "mirror/ScrcpyProcessList.h"

namespace orvan {
namespace {

using Pids = std::vector<int32_t>;

TEST(ScrcpyProcessList, TheTargetMustEndAtABlankOrTheEndOfTheLine) {
    std::string listing =
        "100 /x/scrcpy -s ABC123 --no-audio\n"
        "101 /x/scrcpy -s ABC123\n"
        "102 /x/scrcpy -s 10.0.0.1:55550\n"
        "103 /x/scrcpy -s ABC\t--no-audio\n"
        "104 /x/scrcpy -s ABC12 -s ABC\n";
    EXPECT_EQ(scrcpyProcessIdsInListing(listing, "ABC"), (Pids{103, 104}));
    EXPECT_EQ(scrcpyProcessIdsInListing(listing, "ABC123"), (Pids{100, 101}));
    EXPECT_EQ(scrcpyProcessIdsInListing(listing, "10.0.0.1:5555"), Pids{});
}

TEST(ScrcpyProcessList, NeedsScrcpyAndTheSerialOption) {
    std::string listing =
        "200 /usr/bin/adb -s 10.0.0.2:5555 shell\n"       // not scrcpy
        "201 /x/scrcpy --serial 10.0.0.2:5555\n"          // another spelling
        "202 /x/scrcpy -s10.0.0.2:5555\n"                 // no blank after -s
        "203 /x/SCRCPY -s 10.0.0.2:5555\n"                // case matters
        "204 vim notes-about-scrcpy -s 10.0.0.2:5555\n";  // mentions both: counts
    EXPECT_EQ(scrcpyProcessIdsInListing(listing, "10.0.0.2:5555"), Pids{204});
}

TEST(ScrcpyProcessList, SkipsGarbageLines) {
    std::string listing =
        "\n"
        "abc /x/scrcpy -s T\n"          // non-numeric pid
        "12x /x/scrcpy -s T\n"          // trailing garbage in the pid
        "99999999999 /x/scrcpy -s T\n"  // does not fit 32 bits
        "2147483648 /x/scrcpy -s T\n"   // one past the largest pid field
        "0 /x/scrcpy -s T\n"            // would signal our process group
        "-1 /x/scrcpy -s T\n"           // would signal every process
        "+5 /x/scrcpy -s T\n"           // signs are not pids
        "300\n"                         // no command
        "301    \n"                     // blanks only
        "   \n"                         // nothing
        "/x/scrcpy -s T\n"              // no pid
        "\x01\x02 scrcpy -s T\n"        // control bytes
        "2147483647 /x/scrcpy -s T\n"   // the largest 32-bit pid: kept
        "\t 302\t/x/scrcpy -s T";       // tabs, and no trailing newline
    EXPECT_EQ(scrcpyProcessIdsInListing(listing, "T"), (Pids{2147483647, 302}));
    EXPECT_EQ(scrcpyProcessIdsInListing("", "T"), Pids{});
    EXPECT_EQ(scrcpyProcessIdsInListing("\n\n\n", "T"), Pids{});
}

}  // namespace
}  // namespace orvan
