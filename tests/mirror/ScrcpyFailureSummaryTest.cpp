#include <gtest/gtest.h>

#include <string>

#include "foundation/BoundedProcessOutput.h"
#include "mirror/ScrcpyFailureCause.h"
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

// A real client's failure as the app receives it: its errors (stderr) before its banner and INFO
// lines (stdout, written at exit), every start's reverse-tunnel fallback notes, a Java stack.
const std::string kMismatchOutput =
    "adb: error: closed\n"
    "ERROR: \"adb reverse\" returned with value 1\n"
    "WARN: 'adb reverse' failed, fallback to 'adb forward'\n"
    "[server] ERROR: The server version (9.9) does not match the client (3.3.4)\n"
    "java.lang.IllegalArgumentException: The server version (9.9) does not match the client (3.3.4)\n"
    "\tat com.genymobile.scrcpy.Options.parse(Options.java:271)\n"
    "\tat com.genymobile.scrcpy.Server.main(Server.java:196)\n"
    "ERROR: Server connection failed\n"
    "scrcpy 3.3.4 <https://github.com/Genymobile/scrcpy>\n"
    "INFO: ADB device found:\n"
    "INFO:     --> (tcpip)  127.0.0.42:5555                 device  Sim_Glasses\n"
    "/tmp/x/server.jar: 1 file pushed, 0 skipped. 3.8 MB/s (1000 bytes in 0.000s)\n";

TEST(ScrcpyFailureSummary, TheCauseWinsOverTheBannerAndTheClientsWordsGiveTheCause) {
    EXPECT_EQ(scrcpyFailureSummary(kMismatchOutput),
              "[server] ERROR: The server version (9.9) does not match the client (3.3.4) | "
              "java.lang.IllegalArgumentException: The server version (9.9) does not match the client (3.3.4) | "
              "ERROR: Server connection failed");
    EXPECT_EQ(scrcpyFailureSummary("scrcpy 3.3.4 <https://github.com/Genymobile/scrcpy>\nINFO: Renderer: opengl\n"),
              "scrcpy 3.3.4 <https://github.com/Genymobile/scrcpy> | INFO: Renderer: opengl");  // nothing else
    // The cause is found in the whole retained output of 12,288 bytes, not only in its tail.
    BoundedProcessOutput output;
    output.append("ERROR: Device is unauthorized:\n");
    for (int i = 0; output.size() < 12200; ++i) output.append("INFO: frame " + std::to_string(i) + "\n");
    EXPECT_EQ(classifyScrcpyFailure(output.text()).cause, ScrcpyFailureCause::deviceUnauthorized);
    EXPECT_EQ(scrcpyFailureSummary(output.text()).substr(0, 30), "ERROR: Device is unauthorized:");

    using Cause = ScrcpyFailureCause;
    const std::vector<std::pair<std::string, Cause>> rows{
        {kMismatchOutput, Cause::versionMismatch},
        {"ERROR: Device is unauthorized:\nERROR: Server connection failed", Cause::deviceUnauthorized},
        {"ERROR: Device could not be connected (state=offline)", Cause::deviceOffline},
        {"adb: error: failed to get feature set: device offline\n", Cause::deviceOffline},
        {"scrcpy: unrecognized option '--no-audio'", Cause::unsupportedOption},
        {"INFO: Texture: 720x720\nWARN: Device disconnected", Cause::transportLost},
        {"ERROR: Demuxer 'video': stream disabled due to connection error\nERROR: Demuxer error", Cause::transportLost},
        {"ERROR: Could not find ADB device 127.0.0.5:5555:\nERROR: Server connection failed", Cause::transportLost},
        // The notes of every start and the generic end say nothing about a cause.
        {"adb: error: closed\nWARN: 'adb reverse' failed, fallback to 'adb forward'\nERROR: Server connection failed",
         Cause::unknown},
    };
    for (const auto& [text, cause] : rows) EXPECT_EQ(classifyScrcpyFailure(text).cause, cause) << text;
    auto mismatch = classifyScrcpyFailure(kMismatchOutput);
    EXPECT_EQ(mismatch.serverVersion, "9.9");
    EXPECT_EQ(mismatch.clientVersion, "3.3.4");
}

}  // namespace
}  // namespace orvan
