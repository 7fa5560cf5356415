#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/BoundedProcessOutput.h"

namespace orvan {
namespace {

constexpr size_t kLimit = BoundedProcessOutput::kByteLimit;

TEST(BoundedProcessOutput, KeepsTheLastBytesUpToTheLimitUnreadableWhileTheyStartInsideACharacter) {
    BoundedProcessOutput output;
    output.append(std::string(kLimit - 1, 'a'));
    output.append("b");
    EXPECT_EQ(output.size(), kLimit);
    EXPECT_EQ(output.text(), std::string(kLimit - 1, 'a') + "b");
    output.append("c");
    EXPECT_EQ(output.size(), kLimit);
    EXPECT_EQ(output.text(), std::string(kLimit - 2, 'a') + "bc");
    output.append(std::string(kLimit, 'x') + "tail");  // a chunk larger than the limit leaves its tail
    EXPECT_EQ(output.size(), kLimit);
    EXPECT_EQ(output.text().substr(kLimit - 4), "tail");

    // A window starting inside a character is unreadable until newer output pushes it out.
    BoundedProcessOutput window;
    window.append("投");                          // three bytes
    window.append(std::string(kLimit - 2, 'x'));  // the window now starts at the second byte
    EXPECT_EQ(window.text(), "");
    window.append("INFO: Texture: 1280x720");  // pushes the broken character out
    EXPECT_FALSE(window.text().empty());
    EXPECT_EQ(window.startupReadinessSignal(), "Texture");
}

// 2.x and 3.x print "Texture", 1.x "Initial texture"; through a terminal a line may come coloured.
TEST(BoundedProcessOutput, ReadinessIsEitherTextureLineInAnyLetterCase) {
    for (const char* line : {"INFO: Texture: 1920x1080", "info: texture: 1x1", "[server] Info: TEXTURE: x",
                             "INFO: Initial texture: 720x720", "\x1b[1;32mINFO\x1b[0m: Texture: 720x720"}) {
        BoundedProcessOutput output;
        output.append(std::string("scrcpy 2.4\n") + line + "\n");
        EXPECT_EQ(output.startupReadinessSignal(), "Texture") << line;
    }
    BoundedProcessOutput plain;
    plain.append("INFO: Renderer: opengl\nINFO: texture 1280x720");
    EXPECT_EQ(plain.startupReadinessSignal(), std::nullopt);
}

TEST(BoundedProcessOutput, TheFinalDrainRunsOnceAndLatches) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    ASSERT_EQ(write(fds[1], "first ", 6), 6);
    BoundedProcessOutput output;
    EXPECT_TRUE(output.readAvailable(fds[0]));
    ASSERT_EQ(write(fds[1], "last", 4), 4);
    output.finishReading(fds[0]);
    EXPECT_TRUE(output.hasFinishedReading());
    ASSERT_EQ(write(fds[1], " late", 5), 5);
    output.finishReading(fds[0]);
    EXPECT_FALSE(output.readAvailable(fds[0]));
    EXPECT_EQ(output.text(), "first last");
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace orvan
