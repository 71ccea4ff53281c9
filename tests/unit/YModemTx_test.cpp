#include "transfer/YModemTx.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedLine.h"

namespace {

using Answers = std::map<size_t, std::string>;
const std::string kAck = "\x06", kNak = "\x15", kCan = "\x18", kEot = "\x04";
const wchar_t kPath[] = L"C:\\Firmware\\KV718A.DFU";
const std::string kName = std::string("c:/firmware/kv718a.dfu") + '\0';

// The image's bytes as the sender reads them, in pieces of its asking.
struct ImageSource : YModemTx::InStream {
    explicit ImageSource(std::string bytes) : bytes(std::move(bytes)) {}
    int32_t Read(uint8_t* buffer, int32_t maxBytes) override {
        const size_t count = bytes.copy(reinterpret_cast<char*>(buffer), maxBytes, offset);
        offset += count;
        return static_cast<int32_t>(count);
    }
    const std::string bytes;
    size_t offset = 0;
};

std::string Image(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

int32_t Send(ScriptedLine& line, const std::string& image, YModemTx::ChunkListener onChunk = nullptr) {
    ImageSource source(image);
    return YModemTx(&line, &line, std::move(onChunk)).SendFile(kPath, uint32_t(image.size()), &source);
}

uint16_t Crc(const std::string& bytes) {
    return YModemTx::Crc16(reinterpret_cast<const uint8_t*>(bytes.data()),
                           static_cast<int32_t>(bytes.size()));
}

// The frame a receiver expects: the data padded with 0x1A to a short or a long block.
std::string Frame(int number, const std::string& data, bool crc = true) {
    const size_t size = data.size() > 128 ? 1024 : 128;
    const std::string area = data + std::string(size - data.size(), '\x1A');
    const uint16_t value = Crc(area);
    const int sum =
        std::accumulate(area.begin(), area.end(), 0, [](int s, char c) { return s + uint8_t(c); });
    const std::string check =
        crc ? std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)}
            : std::string(1, static_cast<char>(sum));
    return std::string{size == 1024 ? '\x02' : '\x01', static_cast<char>(number),
                       static_cast<char>(255 - number)} +
           area + check;
}

std::string BlockZero(const std::string& nameAndSize, bool crc = true) {
    return Frame(0, nameAndSize + std::string(1024 - nameAndSize.size(), '\0'), crc);
}

// A whole batch: block 0, data blocks of the given sizes in turn, the end of file and the
// closing block 0.
std::vector<std::string> Batch(const std::string& image, const std::vector<size_t>& blocks, bool crc = true) {
    std::vector<std::string> frames{BlockZero(kName + std::to_string(image.size()), crc)};
    size_t offset = 0;
    for (size_t i = 0; i < blocks.size(); offset += blocks[i++])
        frames.push_back(Frame(static_cast<int>(i + 1), image.substr(offset, blocks[i]), crc));
    frames.push_back(kEot);
    frames.push_back(BlockZero("", crc));
    return frames;
}

std::string HeaderBytes(const std::wstring& name, uint32_t size, int32_t* result) {
    uint8_t buffer[YModemTx::kHeaderSize];
    std::fill(buffer, buffer + sizeof buffer, 0xEE);
    *result = YModemTx::BuildHeader(size, buffer, name.c_str());
    return std::string(reinterpret_cast<char*>(buffer), sizeof buffer);
}

}  // namespace

TEST(Crc16, MatchesTheXmodemCheckValue) {
    EXPECT_EQ(0x31C3, Crc("123456789"));
}

TEST(BuildHeader, NameZeroSizeAndZerosToTheEnd) {
    const struct {
        std::wstring name;
        uint32_t size;
        std::string start;
    } kCases[] = {
        // Only A-Z are lowered; Прошивка keeps the low bytes of its characters.
        {L"C:\\Прошивка\\KV718A.DFU", 1500,
         "c:/\x1F\x40\x3E\x48\x38\x32\x3A\x30/kv718a.dfu" + std::string(1, '\0') + "1500"},
        // U+4E00's low byte is zero: as it is, it would end the name and put the rest of the path
        // where the size belongs.
        {L"D:\\\x4E00\\A.DFU", 7, "d:/?/a.dfu" + std::string(1, '\0') + "7"},
        {L"a", 4294967295u, "a" + std::string(1, '\0') + "4294967295"},
        // The longest that fits: 1022 bytes, the last one stays zero.
        {std::wstring(1017, L'x'), 1500, std::string(1017, 'x') + '\0' + "1500"},
    };
    for (const auto& c : kCases) {
        int32_t result;
        EXPECT_EQ(c.start + std::string(1024 - c.start.size(), '\0'), HeaderBytes(c.name, c.size, &result));
        EXPECT_EQ(0, result);
    }
    for (const auto& [length, size] : {std::pair<size_t, uint32_t>{1018, 1500}, {1023, 0}}) {
        int32_t result;
        EXPECT_EQ('\0', HeaderBytes(std::wstring(length, L'x'), size, &result)[1023]) << length;
        EXPECT_EQ(kHeaderOverflow, result) << length;
    }
}

TEST(SendFile, ImageGoesInLongBlocksAndItsTailInShortOnes) {
    const struct {
        char start;
        size_t size;
        std::vector<size_t> blocks;
        std::vector<uint32_t> chunks;
    } kCases[] = {
        {'C', 0, {}, {1}},
        {'C', 1024, {1024}, {1, 2}},
        {'C', 1500, {1024, 128, 128, 128, 128}, {1, 2, 3}},
        {'\x15', 200, {128, 128}, {1, 2}},                  // checksums
        {'G', 2304, {1024, 1024, 128, 128}, {1, 2, 3, 4}},  // streaming
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string("start ") + c.start + ", size " + std::to_string(c.size));
        ScriptedLine line(c.start);
        std::vector<uint32_t> chunks;
        const std::string image = Image(c.size);
        ASSERT_EQ(0, Send(line, image, [&chunks](uint32_t count) { chunks.push_back(count); }));
        EXPECT_EQ(Batch(image, c.blocks, c.start != '\x15'), line.frames);
        EXPECT_EQ(c.chunks, chunks);
    }
}

TEST(SendFile, BlockNumbersWrapAfter255) {
    ScriptedLine line;
    const std::string image = Image(257 * 1024);
    ASSERT_EQ(0, Send(line, image));
    EXPECT_EQ(Batch(image, std::vector<size_t>(257, 1024)), line.frames);
}

TEST(SendFile, ChecksumReceiverAskingForCrcGetsTheBlockAgainWithOne) {
    ScriptedLine line('\x15');
    line.answers[1] = "C";
    const std::string image = Image(200);
    ASSERT_EQ(0, Send(line, image));
    std::vector<std::string> expected = Batch(image, {128, 128});
    expected[0] = BlockZero(kName + "200", false);
    expected.insert(expected.begin() + 1, Frame(1, image.substr(0, 128), false));
    EXPECT_EQ(expected, line.frames);
}

TEST(SendFile, StreamingAwaitsOnlyTheEndOfFileAndKeepsTheQuietPauseBetweenBlocks) {
    ScriptedLine line('G');
    ASSERT_EQ(0, Send(line, Image(2304)));
    EXPECT_EQ(1, std::count(line.readWaits.begin(), line.readWaits.end(), 3000u));
    for (size_t i = 2; i <= 4; ++i)
        EXPECT_EQ(30u, line.frameTimes[i] - line.frameTimes[i - 1]) << "frame " << i;
}

TEST(SendFile, ReceiversAnswersDecideWhatGoesNext) {
    // A 1024-byte image: frame 1 is its block, frame 2 the end of file.
    auto naks = [](size_t count) {
        Answers answers;
        for (size_t i = 1; i <= count; ++i)
            answers[i] = kNak;
        return answers;
    };
    const struct {
        Answers answers;
        int32_t result;
        size_t frames;
        size_t repeated;  // the frame sent again, after half a second of quiet; 0: none
    } kCases[] = {
        {{{1, kNak}}, 0, 5, 1},
        {{{1, "\x55\xAA\x55"}}, 0, 5, 1},
        {{{1, kCan}}, 0, 5, 1},
        {{{2, kNak}}, 0, 5, 2},
        {naks(9), 0, 13, 1},
        {naks(10), kBlockNotAccepted, 11, 1},
        {{{1, kCan}, {2, kCan}}, kCancelledByReceiver, 3, 1},
        {{{1, kCan}, {2, kNak}, {3, kCan}}, 0, 7, 1},
        {{{1, ""}}, kNoAnswer, 2, 0},                   // silence is not worth a retry
        {{{0, kAck + kNak}}, kUnexpectedAnswer, 1, 0},  // not the start request after block 0
        {{{2, kAck + "G"}}, kUnexpectedAnswer, 3, 0},   // nor after the end of file
        // The closing block 0.
        {{{3, ""}}, kNoAnswer, 4, 0},
        {{{3, kNak}}, 0, 5, 3},
        {{{3, kCan}, {4, kCan}}, kCancelledByReceiver, 5, 3},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const auto& c = kCases[i];
        ScriptedLine line;
        line.answers = c.answers;
        EXPECT_EQ(c.result, Send(line, Image(1024)));
        ASSERT_EQ(c.frames, line.frames.size());
        if (c.repeated != 0) {
            EXPECT_EQ(line.frames[c.repeated], line.frames[c.repeated + 1]);
            EXPECT_GT(line.frameTimes[c.repeated + 1] - line.frameTimes[c.repeated], 500u);
        }
    }
}

TEST(SendFile, ReceiverThatNeverFallsQuietEndsTheTransferLikeSilence) {
    // Chatter for far longer than any step may wait: every 20 ms the line is never quiet for the
    // 30 ms a frame waits for; every 40 ms it is, but never for the 500 ms that a resend of
    // block 0, which the receiver turns down, waits for.
    for (uint32_t gapMs : {20u, 40u}) {
        ScriptedLine line('C', 10);
        line.answers[0] = "x";
        for (uint32_t ms = gapMs; ms < 1000000; ms += gapMs)
            line.Arrive(ms, "x");
        EXPECT_EQ(kNoAnswer, Send(line, Image(10))) << gapMs;
        EXPECT_EQ(gapMs == 20 ? 0u : 1u, line.frames.size()) << gapMs;
    }
}

TEST(SendFile, PathTooLongForBlockZeroTouchesNeitherLineNorFile) {
    const std::wstring path(1020, L'x');
    ScriptedLine line;
    ImageSource source(Image(100));
    EXPECT_EQ(kHeaderOverflow, YModemTx(&line, &line, nullptr).SendFile(path.c_str(), 100, &source));
    EXPECT_EQ(0u, line.writes);
    EXPECT_TRUE(line.readWaits.empty());
    EXPECT_EQ(0u, source.offset);
}

TEST(SendFile, ReceiverHasThirtySecondsToAskForTheFile) {
    // Noise costs the time as silence does, however fast it comes; the start request that comes
    // just in time is taken.
    const struct {
        uint32_t startAtMs;
        bool noisy;
        int32_t result;
    } kCases[] = {{1000000, false, kNoAnswer}, {1000000, true, kNoAnswer}, {29999, false, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("start at " + std::to_string(c.startAtMs) + ", noisy " + std::to_string(c.noisy));
        ScriptedLine line('C', c.startAtMs);
        for (uint32_t ms = 1; c.noisy && ms < 40000; ms += 5)
            line.Arrive(ms, "~");
        EXPECT_EQ(c.result, Send(line, Image(10)));
        EXPECT_EQ(c.result == 0, !line.frames.empty());
        if (c.result != 0) {
            EXPECT_GE(line.now, 30000u);
            EXPECT_LT(line.now, 30010u) << "ends when the 30 s are over";
        }
    }
}

TEST(SendFile, FailedReadOrStalledWriteEndsTheTransfer) {
    ScriptedLine failing, stalled;
    failing.failingRead = 4;
    failing.readFailure = kPortReadFailed;
    stalled.bytesPerWrite = 0;
    EXPECT_EQ(kPortReadFailed, Send(failing, Image(10)));
    EXPECT_EQ(kNoAnswer, Send(stalled, Image(10)));
    EXPECT_EQ(1u, stalled.writes);
}

TEST(SendFile, AnswerWhileAFrameIsWrittenInPiecesIsHeard) {
    // A NAK after the third of eleven pieces: the rest is not written, and the block goes again.
    ScriptedLine nak;
    nak.bytesPerWrite = 100;
    nak.answersWhileWriting[{1, 3}] = kNak;
    const std::string image = Image(1024);
    ASSERT_EQ(0, Send(nak, image));
    EXPECT_EQ(std::vector<std::string>{Frame(1, image).substr(0, 300)}, nak.abandoned);
    EXPECT_EQ(Batch(image, {1024}), nak.frames);
    // A CAN while the first attempt is written; in the second an ACK comes before the frame's
    // CAN, so the two CANs are not in a row.
    ScriptedLine can;
    can.bytesPerWrite = 100;
    can.answersWhileWriting = {{{1, 2}, kCan}, {{2, 2}, kAck}};
    can.answers[1] = kCan;
    ASSERT_EQ(0, Send(can, image));
    EXPECT_EQ(1u, can.abandoned.size());
    EXPECT_EQ(5u, can.frames.size());
}
