// Which failure texts ask for a recovery of the shared server: network and time-out failures, in
// any letter case, and nothing else.

#include <gtest/gtest.h>

#include "adb/PrivateAdbServer.h"

namespace orvan {
namespace {

TEST(AdbServerRecoveryText, NetworkAndTimeOutPhrasesInAnyCaseAndNothingElse) {
    const std::string huge(1 << 20, 'x');  // searched whole, not only its start
    for (const std::string& text : std::vector<std::string>{
             "failed to connect to '192.168.1.20:5555': No route to host", "Network is unreachable", "HOST IS DOWN",
             "destination host unreachable", "failed to connect to 192.168.1.20:5555: Connection timed out",
             "failed to connect: Operation Timed Out", "read timed out",
             "命令超时: /usr/bin/adb connect 192.168.1.20:5555", huge + "\xe2\x80\x94 Timed Out"})
        EXPECT_TRUE(isSharedAdbServerRecoveryCandidate(text)) << text.substr(0, 80);
    for (const std::string& text :
         std::vector<std::string>{"failed to authenticate to 192.168.1.20:5555", "unauthorized",
                                  "failed to connect to '192.168.1.20:5555': Connection refused", "", "offline",
                                  "命令失败: adb connect", "time out", huge, "\xff\xfe\x80 timed\xffout"})
        EXPECT_FALSE(isSharedAdbServerRecoveryCandidate(text)) << text.substr(0, 80);
}

}  // namespace
}  // namespace orvan
