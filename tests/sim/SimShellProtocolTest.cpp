#include <gtest/gtest.h>

#include "glasses-sim/ShellProtocol.h"

namespace orvan::sim {
namespace {

std::vector<ShellPacket> drain(ShellPacketDecoder& decoder) {
    std::vector<ShellPacket> packets;
    while (auto packet = decoder.next()) packets.push_back(*packet);
    return packets;
}

TEST(SimShellProtocol, PacketLayoutIsIdLengthPayload) {
    const std::string packet = encodeShellPacket(ShellPacketId::stdoutData, "hi\n");
    EXPECT_EQ(packet, std::string("\x01\x03\x00\x00\x00hi\n", 8));
    EXPECT_EQ(encodeShellExit(127), std::string("\x03\x01\x00\x00\x00\x7f", 6));
    EXPECT_EQ(encodeShellExit(256 + 3), std::string("\x03\x01\x00\x00\x00\x03", 6));  // status & 0xff
}

TEST(SimShellProtocol, PacketsSplitAtEveryByteOrPackedThreeToOneAreDecoded) {
    const std::string stream = encodeShellPacket(ShellPacketId::stdinData, "abc") +
                               encodeShellPacket(ShellPacketId::windowSize, std::string("24x80,0x0\0", 10)) +
                               encodeShellPacket(ShellPacketId::closeStdin, "");
    {
        ShellPacketDecoder packed;
        packed.feed(stream);
        const auto packets = drain(packed);
        ASSERT_EQ(packets.size(), 3u);
        EXPECT_EQ(packets[0].payload, "abc");
        EXPECT_EQ(packets[1].id, ShellPacketId::windowSize);
        EXPECT_EQ(packets[2].id, ShellPacketId::closeStdin);
    }
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        ShellPacketDecoder decoder;
        decoder.feed(stream.substr(0, cut));
        auto packets = drain(decoder);
        decoder.feed(stream.substr(cut));
        for (auto& p : drain(decoder)) packets.push_back(p);
        ASSERT_EQ(packets.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(packets[0].payload, "abc");
    }
}

TEST(SimShellProtocol, UnknownIdOrHugeLengthIsAnError) {
    ShellPacketDecoder unknown;
    unknown.feed(std::string("\x09\x00\x00\x00\x00", 5));
    EXPECT_FALSE(unknown.next());
    EXPECT_TRUE(unknown.error());

    ShellPacketDecoder huge(1024);
    huge.feed(std::string("\x00\x01\x04\x00\x00", 5));  // 1025 bytes announced
    EXPECT_FALSE(huge.next());
    EXPECT_TRUE(huge.error());
}

TEST(SimShellProtocol, ServiceStringsAsAdb29SendsThem) {
    const auto v2 = parseShellService("shell,v2,TERM=xterm,raw:echo hi there");
    ASSERT_TRUE(v2);
    EXPECT_TRUE(v2->v2);
    EXPECT_FALSE(v2->pty);
    EXPECT_EQ(v2->term, "xterm");
    EXPECT_EQ(v2->command, "echo hi there");

    const auto legacy = parseShellService("shell:getprop ro.product.model");
    ASSERT_TRUE(legacy);
    EXPECT_FALSE(legacy->v2);
    EXPECT_EQ(legacy->command, "getprop ro.product.model");

    // The split is at the first ':' only, and unknown arguments are ignored.
    const auto colon = parseShellService("shell,v2,weird:echo a:b");
    ASSERT_TRUE(colon);
    EXPECT_EQ(colon->command, "echo a:b");

    const auto interactive = parseShellService("shell,v2:");
    ASSERT_TRUE(interactive);
    EXPECT_TRUE(interactive->pty);

    const auto exec = parseShellService("exec:echo 'eo'");
    ASSERT_TRUE(exec);
    EXPECT_TRUE(exec->exec);

    EXPECT_FALSE(parseShellService("sync:"));
    EXPECT_FALSE(parseShellService("shellfoo:echo"));
    EXPECT_FALSE(parseShellService("shell"));
}

TEST(SimShellProtocol, WordsSplitLikeAShell) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(splitShellWords("ls  -la   /sdcard/"), (Words{"ls", "-la", "/sdcard/"}));
    EXPECT_EQ(splitShellWords("ls -la '/sdcard/DCIM/My Album/'"), (Words{"ls", "-la", "/sdcard/DCIM/My Album/"}));
    EXPECT_EQ(splitShellWords("echo \"a \\\"b\\\"\" c\\ d"), (Words{"echo", "a \"b\"", "c d"}));
    EXPECT_EQ(splitShellWords("echo ''"), (Words{"echo", ""}));
    EXPECT_EQ(splitShellWords(""), Words{});
    EXPECT_FALSE(splitShellWords("echo 'unterminated"));
    EXPECT_FALSE(splitShellWords("echo \"unterminated"));
}

}  // namespace
}  // namespace orvan::sim
