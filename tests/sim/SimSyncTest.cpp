#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <fstream>

#include "glasses-sim/ByteChannel.h"
#include "glasses-sim/MediaTree.h"
#include "glasses-sim/SyncProtocol.h"
#include "glasses-sim/SyncService.h"
#include "support/TempDir.h"

namespace orvan::sim {
namespace {

using namespace sync;

// A stream whose host side is scripted: each input chunk is one WRTE's worth of bytes.
class ScriptedChannel : public ByteChannel {
public:
    explicit ScriptedChannel(std::deque<std::string> input, std::size_t maxWrite = 1024 * 1024)
        : input_(std::move(input)), maxWrite_(maxWrite) {}
    bool read(std::string& out) override {
        if (input_.empty()) return false;
        out += input_.front();
        input_.pop_front();
        return true;
    }
    bool write(std::string_view bytes) override {
        output += bytes;
        writes.push_back(bytes.size());
        return true;
    }
    std::size_t maxWriteSize() const override { return maxWrite_; }

    std::string output;
    std::vector<std::size_t> writes;

private:
    std::deque<std::string> input_;
    std::size_t maxWrite_;
};

std::vector<Request> parseAll(const std::string& stream, std::size_t cut) {
    RequestParser parser;
    std::vector<Request> requests;
    parser.feed(stream.substr(0, cut));
    while (auto r = parser.next()) requests.push_back(*r);
    parser.feed(stream.substr(cut));
    while (auto r = parser.next()) requests.push_back(*r);
    return requests;
}

TEST(SimSyncProtocol, RecordSizesMatchWhatTheHostReads) {
    DirectoryEntry entry{"name", FileInfo{}, ""};
    EXPECT_EQ(encodeStatV1(nullptr).size(), kStatV1Size);
    EXPECT_EQ(encodeStatV1(nullptr), std::string("STAT") + std::string(12, '\0'));
    EXPECT_EQ(encodeStatV2(kSta2, 2, nullptr).size(), kStatV2Size);
    EXPECT_EQ(encodeDent(entry).size(), kDentSize + 4);
    EXPECT_EQ(encodeDnt2(entry).size(), kDnt2Size + 4);
    // A short terminator makes `adb ls` hang: it must be a full record.
    EXPECT_EQ(encodeListDone(false), std::string("DONE") + std::string(16, '\0'));
    EXPECT_EQ(encodeListDone(true), std::string("DONE") + std::string(72, '\0'));
}

TEST(SimSyncProtocol, StatV2LayoutCarriesErrnoModeAndSixtyFourBitSize) {
    FileInfo info;
    info.mode = 0100644;
    info.size = 0x1'0000'0005ull;
    info.mtime = 1714557600;
    const std::string ok = encodeStatV2(kSta2, 0, &info);
    EXPECT_EQ(ok.substr(0, 4), "STA2");
    EXPECT_EQ(readU32(ok, 4), 0u);
    EXPECT_EQ(readU32(ok, 24), 0100644u);
    EXPECT_EQ(readU64(ok, 40), 0x1'0000'0005ull);
    EXPECT_EQ(readU64(ok, 56), 1714557600ull);
    const std::string missing = encodeStatV2(kLst2, ENOENT, &info);
    EXPECT_EQ(missing.substr(0, 4), "LST2");
    EXPECT_EQ(readU32(missing, 4), 2u);
    EXPECT_EQ(readU32(missing, 24), 0u);  // nothing but the error for a failed stat

    DirectoryEntry entry{"IMG 1.jpg", info, ""};
    const std::string dnt2 = encodeDnt2(entry);
    EXPECT_EQ(readU32(dnt2, 72), 9u);
    EXPECT_EQ(dnt2.substr(76), "IMG 1.jpg");
}

TEST(SimSyncProtocol, RequestsSplitAtEveryByteOrPackedAreParsed) {
    const std::string stream = encodeRequest(kSta2, "/sdcard/a b.jpg") + encodeRequest(kSend, "/sdcard/x,33188") +
                               encodeRequest(kData, "0123456789") + std::string("DONE\x10\x00\x00\x00", 8) +
                               encodeRequest(kQuit, "");
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        const auto requests = parseAll(stream, cut);
        ASSERT_EQ(requests.size(), 5u) << "cut at " << cut;
        EXPECT_EQ(requests[0].payload, "/sdcard/a b.jpg");
        EXPECT_EQ(requests[2].payload, "0123456789");
        EXPECT_EQ(requests[3].id, kDone);
        EXPECT_EQ(requests[3].arg, 16u);  // DONE's length field is the mtime
        EXPECT_EQ(requests[4].id, kQuit);
    }
}

TEST(SimSyncProtocol, OversizedPathOrChunkIsAnError) {
    RequestParser path;
    path.feed(encodeRequest(kRecv, std::string(1025, 'a')));
    EXPECT_FALSE(path.next());
    EXPECT_TRUE(path.error());

    RequestParser chunk;
    std::string header = "DATA";
    appendU32(header, 64 * 1024 + 1);
    chunk.feed(header);
    EXPECT_FALSE(chunk.next());
    EXPECT_TRUE(chunk.error());
}

TEST(SimSyncProtocol, SendTargetIsPathCommaDecimalMode) {
    const auto target = parseSendTarget("/sdcard/a,b.jpg,33188");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, "/sdcard/a,b.jpg");
    EXPECT_EQ(target->mode, 33188u);
    EXPECT_FALSE(parseSendTarget("/sdcard/nomode"));
    EXPECT_FALSE(parseSendTarget("/sdcard/x,12ab"));
}

class SimSyncService : public ::testing::Test {
protected:
    SimSyncService() {
        prepareStorageRoot(dir_.path().string());
        storage_ = std::make_unique<DeviceStorage>(dir_.path().string());
    }
    std::string run(ScriptedChannel& channel) {
        SyncService service(channel, *storage_, [](const std::string&) {});
        return service.run();
    }
    testing::TempDir dir_;
    std::unique_ptr<DeviceStorage> storage_;
};

TEST_F(SimSyncService, PullSendsDataChunksPackedIntoWritesThenDone) {
    std::string content(200'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_EQ(storage_->writeWholeFile("/sdcard/big.bin", content, 0), 0);
    ScriptedChannel channel(
        {encodeRequest(kSta2, "/sdcard/big.bin") + encodeRequest(kRecv, "/sdcard/big.bin"), encodeRequest(kQuit, "")},
        150'000);
    EXPECT_EQ(run(channel), "QUIT");
    ASSERT_GE(channel.output.size(), kStatV2Size);
    EXPECT_EQ(readU64(channel.output, 40), 200'000u);
    // Reassemble DATA records; none may exceed 64 KiB, no write may exceed the stream's limit.
    std::string received;
    std::size_t at = kStatV2Size;
    while (channel.output.substr(at, 4) == "DATA") {
        const std::uint32_t n = readU32(channel.output, at + 4);
        EXPECT_LE(n, kMaxDataChunk);
        received += channel.output.substr(at + 8, n);
        at += 8 + n;
    }
    EXPECT_EQ(channel.output.substr(at), std::string("DONE\0\0\0\0", 8));
    EXPECT_EQ(received, content);
    for (const std::size_t size : channel.writes) EXPECT_LE(size, 150'000u);
}

TEST_F(SimSyncService, PullOfAMissingFileFailsWithTheSystemText) {
    ScriptedChannel channel({encodeRequest(kRecv, "/sdcard/gone.jpg"), encodeRequest(kQuit, "")});
    run(channel);
    EXPECT_EQ(channel.output, encodeFail("No such file or directory"));
}

TEST_F(SimSyncService, StatV1OfAMissingFileIsAllZero) {
    ScriptedChannel channel({encodeRequest(kStat, "/sdcard/nothing")});
    EXPECT_EQ(run(channel), "host closed the sync stream");
    EXPECT_EQ(channel.output, encodeStatV1(nullptr));
}

TEST_F(SimSyncService, PushWithRecordsSplitEverywhereStoresTheBytesAndMtime) {
    const std::string content = "photo bytes \x00\x01\x02 and more";
    std::string stream = encodeRequest(kSend, "/sdcard/DCIM/New/p.jpg,33188");
    stream += encodeRequest(kData, content.substr(0, 10)) + encodeRequest(kData, content.substr(10));
    std::string done = "DONE";
    appendU32(done, 1700000000);
    stream += done + encodeRequest(kQuit, "");
    for (std::size_t cut : {std::size_t{1}, std::size_t{9}, std::size_t{30}, stream.size() - 3}) {
        ScriptedChannel channel({stream.substr(0, cut), stream.substr(cut)});
        EXPECT_EQ(run(channel), "QUIT");
        EXPECT_EQ(channel.output, encodeOkay());
        std::ifstream in(storage_->hostPath("/storage/emulated/0/DCIM/New/p.jpg"), std::ios::binary);
        const std::string stored((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(stored, content);
        FileInfo info;
        ASSERT_EQ(storage_->stat("/sdcard/DCIM/New/p.jpg", true, info), 0);
        EXPECT_EQ(info.mtime, 1700000000);
    }
}

TEST_F(SimSyncService, PushInterruptedMidTransferLeavesNoPartialFile) {
    ScriptedChannel channel({encodeRequest(kSend, "/sdcard/half.bin,33188") + encodeRequest(kData, "abc")});
    const std::string outcome = run(channel);
    EXPECT_NE(outcome.find("host closed during SEND"), std::string::npos) << outcome;
    FileInfo info;
    EXPECT_EQ(storage_->stat("/sdcard/half.bin", true, info), ENOENT);
}

TEST_F(SimSyncService, ListingsEndWithFullTerminatorsAndIncludeDotEntries) {
    ASSERT_EQ(storage_->writeWholeFile("/sdcard/DCIM/a.jpg", "a", 0), 0);
    for (bool v2 : {false, true}) {
        ScriptedChannel channel({encodeRequest(v2 ? kLis2 : kList, "/sdcard/DCIM/")});
        run(channel);
        const std::string& out = channel.output;
        const std::size_t header = v2 ? kDnt2Size : kDentSize;
        std::vector<std::string> names;
        std::size_t at = 0;
        while (out.substr(at, 4) == (v2 ? "DNT2" : "DENT")) {
            const std::uint32_t length = readU32(out, at + header - 4);
            names.push_back(out.substr(at + header, length));
            at += header + length;
        }
        EXPECT_EQ(out.substr(at), encodeListDone(v2));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.jpg"}));
    }
}

TEST_F(SimSyncService, UnknownRequestIsAnsweredWithFailAndEndsTheStream) {
    ScriptedChannel channel({encodeRequest(makeId("ZZZZ"), "") + encodeRequest(kQuit, "")});
    EXPECT_NE(run(channel).find("unknown command"), std::string::npos);
    EXPECT_EQ(channel.output, encodeFail("unknown command ZZZZ"));
}

TEST_F(SimSyncService, PushOntoADirectoryFailsAtDoneAfterReadingTheData) {
    ASSERT_EQ(storage_->makeDirectories("/sdcard/Dir"), 0);
    std::string done = "DONE";
    appendU32(done, 0);
    ScriptedChannel channel({encodeRequest(kSend, "/sdcard/Dir,33188") + encodeRequest(kData, "x") + done});
    run(channel);
    EXPECT_TRUE(channel.output.starts_with("FAIL")) << channel.output;
    EXPECT_NE(channel.output.find("Is a directory"), std::string::npos);
}

}  // namespace
}  // namespace orvan::sim
