#include <gtest/gtest.h>

#include "glasses-sim/AdbMessage.h"
#include "glasses-sim/ByteOrder.h"

namespace orvan::sim {
namespace {

TEST(SimAdbMessage, HeaderRoundTripsWithMagicAndChecksum) {
    const AdbMessage original{kWrte, 7, 0x0a, std::string("hello\0world", 11)};
    const std::string bytes = encodeMessage(original, true);
    ASSERT_EQ(bytes.size(), kHeaderSize + 11);
    EXPECT_EQ(bytes.substr(0, 4), "WRTE");
    EXPECT_EQ(readU32(bytes, 12), 11u);
    EXPECT_EQ(readU32(bytes, 16), payloadChecksum(original.payload));
    EXPECT_EQ(readU32(bytes, 20), kWrte ^ 0xffffffffu);

    MessageDecoder decoder;
    decoder.feed(bytes);
    const auto decoded = decoder.next();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->command, kWrte);
    EXPECT_EQ(decoded->arg0, 7u);
    EXPECT_EQ(decoded->arg1, 0x0au);
    EXPECT_EQ(decoded->payload, original.payload);
    EXPECT_FALSE(decoder.next());
    EXPECT_FALSE(decoder.error());
}

TEST(SimAdbMessage, ChecksumIsAByteSumNotACrc) {
    EXPECT_EQ(payloadChecksum(""), 0u);
    EXPECT_EQ(payloadChecksum("\xff\xff\x01"), 0x1ffu);
    const std::string withoutSum = encodeMessage({kOkay, 1, 2, "abc"}, false);
    EXPECT_EQ(readU32(withoutSum, 16), 0u);
}

TEST(SimAdbMessage, ZeroOrWrongChecksumIsAccepted) {
    // A reconnecting host sends its CNXN with checksum 0; others may be wrong: neither matters.
    std::string bytes = encodeMessage({kCnxn, kVersionSkipChecksum, kMaxPayload, "host::features=shell_v2"}, false);
    std::string wrong = encodeMessage({kOpen, 3, 0, std::string("shell:id\0", 9)}, true);
    wrong[16] ^= 0x5a;
    MessageDecoder decoder;
    decoder.feed(bytes + wrong);
    ASSERT_TRUE(decoder.next());
    const auto open = decoder.next();
    ASSERT_TRUE(open);
    EXPECT_EQ(open->command, kOpen);
    EXPECT_FALSE(decoder.error());
}

TEST(SimAdbMessage, MessagesSplitAtEveryByteAreReassembled) {
    const std::string stream = encodeMessage({kOpen, 1, 0, std::string("sync:\0", 6)}, false) +
                               encodeMessage({kWrte, 1, 5, "0123456789"}, false) +
                               encodeMessage({kClse, 1, 5, ""}, false);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        MessageDecoder decoder;
        std::vector<std::uint32_t> commands;
        decoder.feed(std::string_view(stream).substr(0, cut));
        while (auto m = decoder.next()) commands.push_back(m->command);
        decoder.feed(std::string_view(stream).substr(cut));
        while (auto m = decoder.next()) commands.push_back(m->command);
        EXPECT_EQ(commands, (std::vector<std::uint32_t>{kOpen, kWrte, kClse})) << "cut at " << cut;
        EXPECT_EQ(decoder.buffered(), 0u);
    }
}

TEST(SimAdbMessage, BadMagicIsAnErrorThatStopsDecoding) {
    std::string bytes = encodeMessage({kOkay, 1, 2, ""}, false);
    bytes[20] ^= 1;
    MessageDecoder decoder;
    decoder.feed(bytes + encodeMessage({kOkay, 1, 2, ""}, false));
    EXPECT_FALSE(decoder.next());
    ASSERT_TRUE(decoder.error());
    EXPECT_NE(decoder.error()->find("bad magic"), std::string::npos);
    EXPECT_FALSE(decoder.next());  // no resynchronising inside a binary stream
}

TEST(SimAdbMessage, OversizedPayloadIsRejectedBeforeItArrives) {
    MessageDecoder decoder(4096);
    // Only the header: the decoder must not wait for (or buffer) a payload it will never accept.
    decoder.feed(encodeHeader(kWrte, 1, 2, std::string(4097, 'x'), false));
    EXPECT_FALSE(decoder.next());
    ASSERT_TRUE(decoder.error());
    EXPECT_NE(decoder.error()->find("exceeds"), std::string::npos);

    MessageDecoder exact(4096);
    exact.feed(encodeMessage({kWrte, 1, 2, std::string(4096, 'x')}, false));
    EXPECT_TRUE(exact.next());
}

TEST(SimAdbMessage, TruncatedMessageWaitsWithoutError) {
    const std::string bytes = encodeMessage({kWrte, 1, 2, "payload"}, false);
    MessageDecoder decoder;
    decoder.feed(std::string_view(bytes).substr(0, bytes.size() - 1));
    EXPECT_FALSE(decoder.next());
    EXPECT_FALSE(decoder.error());
    EXPECT_EQ(decoder.buffered(), bytes.size() - 1);
}

TEST(SimAdbMessage, CommandNamesForLogs) {
    EXPECT_EQ(commandName(kCnxn), "CNXN");
    EXPECT_EQ(commandName(kClse), "CLSE");
    EXPECT_EQ(commandName(0x12345678), "0x12345678");
}

}  // namespace
}  // namespace orvan::sim
