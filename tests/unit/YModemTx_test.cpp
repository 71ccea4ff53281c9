#include "transfer/YModemTx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedLine.h"
#include "transfer/InFile.h"

namespace {

using Reports = std::vector<std::pair<uint32_t, uint32_t>>;
const std::string kAck(1, '\x06');
const std::string kNak(1, '\x15');
const std::string kCan(1, '\x18');
const std::string kEot(1, '\x04');
const wchar_t kPath[] = L"C:\\Firmware\\KV718A.DFU";

class MemorySource : public YModemTx::InStream {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    int32_t Read(uint8_t* buffer, int32_t maxBytes) override {
        const size_t count = std::min(bytes_.size() - position_, static_cast<size_t>(maxBytes));
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<int32_t>(count);
    }

private:
    std::string bytes_;
    size_t position_ = 0;
};

class RecordedProgress : public UploadProgress {
public:
    void ChunkSent(uint32_t chunks, uint32_t sizeKiB) override { reports.emplace_back(chunks, sizeKiB); }
    Reports reports;
};

std::string Image(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

int32_t Send(ScriptedLine& line, const std::string& image, RecordedProgress* progress = nullptr) {
    g_sendPath = kPath;
    MemorySource source(image);
    YModemTx sender(&line, progress);
    return sender.SendFile(static_cast<uint32_t>(image.size()), &source);
}

uint16_t Crc(const std::string& bytes) {
    return YModemTx::Crc16(reinterpret_cast<const uint8_t*>(bytes.data()),
                           static_cast<int32_t>(bytes.size()));
}

// The frame a receiver expects for this block, data padded with 0x1A to the block's size.
std::string Frame(uint8_t number, const std::string& data, size_t blockSize, bool crc = true) {
    std::string area = data + std::string(blockSize - data.size(), '\x1A');
    std::string frame = std::string(1, blockSize == 1024 ? '\x02' : '\x01') + static_cast<char>(number) +
                        static_cast<char>(255 - number) + area;
    if (crc) {
        const uint16_t value = Crc(area);
        frame += static_cast<char>(value >> 8);
        frame += static_cast<char>(value & 0xFF);
    } else {
        uint8_t sum = 0;
        for (char c : area)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        frame += static_cast<char>(sum);
    }
    return frame;
}

std::string Header(const std::string& nameAndSize, bool crc = true) {
    return Frame(0, nameAndSize + std::string(1024 - nameAndSize.size(), '\0'), 1024, crc);
}

std::string Closing(bool crc = true) {
    return Frame(0, std::string(1024, '\0'), 1024, crc);
}

const std::string kHeaderName = std::string("c:/firmware/kv718a.dfu") + '\0';

TEST(Crc16, HasTheXmodemCheckValues) {
    EXPECT_EQ(0x31C3, Crc("123456789"));
    EXPECT_EQ(0x58E5, Crc("A"));
    EXPECT_EQ(0x0000, Crc(std::string(1024, '\0')));
}

std::string HeaderBytes(uint32_t size, const wchar_t* name, int32_t* result) {
    uint8_t buffer[YModemTx::kHeaderSize];
    std::memset(buffer, 0xEE, sizeof buffer);
    *result = YModemTx::BuildHeader(size, buffer, name);
    return std::string(reinterpret_cast<char*>(buffer), sizeof buffer);
}

TEST(BuildHeader, LowersOnlyLatinCapitalsAndKeepsTheLowByteOfOtherCharacters) {
    int32_t result;
    const std::string header = HeaderBytes(1500, L"C:\\Прошивка\\KV718A.DFU", &result);
    EXPECT_EQ(0, result);
    // П р о ш и в к а: U+041F U+0440 U+043E U+0448 U+0438 U+0432 U+043A U+0430, not lowered.
    const std::string name = std::string("c:/\x1F\x40\x3E\x48\x38\x32\x3A\x30/kv718a.dfu") + '\0' + "1500";
    EXPECT_EQ(name + std::string(1024 - name.size(), '\0'), header);
}

TEST(BuildHeader, NeverEndsTheNameInsideThePath) {
    // U+4E00's low byte is zero; written as it is, it would end the name and leave the rest of
    // the path where the size belongs.
    int32_t result;
    const std::string header = HeaderBytes(7, L"D:\\\x4E00\\A.DFU", &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::string("d:/?/a.dfu") + '\0' + "7" + '\0', header.substr(0, 13));
}

TEST(BuildHeader, TakesSizesFromZeroToTheLargestAsPlainDigits) {
    int32_t result;
    EXPECT_EQ(std::string("a") + '\0' + "0" + '\0', HeaderBytes(0, L"a", &result).substr(0, 4));
    EXPECT_EQ(std::string("a") + '\0' + "4294967295" + '\0',
              HeaderBytes(4294967295u, L"a", &result).substr(0, 13));
}

TEST(BuildHeader, KeepsTheLastByteZero) {
    // Name, zero byte and four digits: 1022 bytes fit, 1023 do not.
    int32_t result;
    const std::wstring fits(1017, L'x');
    const std::string header = HeaderBytes(1500, fits.c_str(), &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ(std::string("1500") + '\0', header.substr(1018, 5));

    const std::wstring tooLong(1018, L'x');
    EXPECT_EQ(kHeaderOverflow, (HeaderBytes(1500, tooLong.c_str(), &result), result));
    EXPECT_EQ('\0', HeaderBytes(1500, tooLong.c_str(), &result)[1023]);
    const std::wstring noRoomForTheZero(1023, L'x');
    EXPECT_EQ(kHeaderOverflow, (HeaderBytes(0, noRoomForTheZero.c_str(), &result), result));
}

TEST(SendFile, EmptyFileIsBlockZeroEndOfFileAndTheClosingBlock) {
    ScriptedLine line;
    RecordedProgress progress;
    ASSERT_EQ(0, Send(line, "", &progress));
    const std::vector<std::string> expected = {Header(kHeaderName + "0"), kEot, Closing()};
    EXPECT_EQ(expected, line.frames);
    EXPECT_EQ((Reports{{1, 0}}), progress.reports);
}

TEST(SendFile, FullChunkGoesAsOneLongBlock) {
    ScriptedLine line;
    RecordedProgress progress;
    const std::string image = Image(1024);
    ASSERT_EQ(0, Send(line, image, &progress));
    const std::vector<std::string> expected = {Header(kHeaderName + "1024"), Frame(1, image, 1024), kEot,
                                               Closing()};
    EXPECT_EQ(expected, line.frames);
    EXPECT_EQ((Reports{{1, 1}, {2, 1}}), progress.reports);
}

TEST(SendFile, TailGoesAsShortBlocksWithTheLastPadded) {
    ScriptedLine line;
    RecordedProgress progress;
    const std::string image = Image(1500);
    ASSERT_EQ(0, Send(line, image, &progress));
    const std::vector<std::string> expected = {Header(kHeaderName + "1500"),
                                               Frame(1, image.substr(0, 1024), 1024),
                                               Frame(2, image.substr(1024, 128), 128),
                                               Frame(3, image.substr(1152, 128), 128),
                                               Frame(4, image.substr(1280, 128), 128),
                                               Frame(5, image.substr(1408), 128),
                                               kEot,
                                               Closing()};
    EXPECT_EQ(expected, line.frames);
    EXPECT_EQ(std::string(36, '\x1A'), line.frames[5].substr(3 + 92, 36));
    EXPECT_EQ((Reports{{1, 1}, {2, 1}, {3, 1}}), progress.reports);
}

TEST(SendFile, BlockNumbersWrapAfter255) {
    ScriptedLine line;
    const std::string image = Image(257 * 1024);
    ASSERT_EQ(0, Send(line, image));
    ASSERT_EQ(1u + 257 + 2, line.frames.size());
    EXPECT_EQ(Frame(255, image.substr(254 * 1024, 1024), 1024), line.frames[255]);
    EXPECT_EQ(Frame(0, image.substr(255 * 1024, 1024), 1024), line.frames[256]);
    EXPECT_EQ(Frame(1, image.substr(256 * 1024, 1024), 1024), line.frames[257]);
}

TEST(SendFile, NakStartGetsChecksumsUntilTheReceiverAsksForCrc) {
    const std::string image = Image(200);
    ScriptedLine checksums('\x15');
    ASSERT_EQ(0, Send(checksums, image));
    const std::vector<std::string> expected = {Header(kHeaderName + "200", false),
                                               Frame(1, image.substr(0, 128), 128, false),
                                               Frame(2, image.substr(128), 128, false), kEot, Closing(false)};
    EXPECT_EQ(expected, checksums.frames);

    // Block 1 answered with 'C': the same block again with a CRC, and every block after it.
    ScriptedLine switching('\x15');
    switching.answers[1] = "C";
    ASSERT_EQ(0, Send(switching, image));
    const std::vector<std::string> switched = {Header(kHeaderName + "200", false),
                                               Frame(1, image.substr(0, 128), 128, false),
                                               Frame(1, image.substr(0, 128), 128),
                                               Frame(2, image.substr(128), 128),
                                               kEot,
                                               Closing()};
    EXPECT_EQ(switched, switching.frames);
}

TEST(SendFile, StreamingSendsBlocksWithoutAwaitingAnswersButAwaitsTheEndOfFile) {
    ScriptedLine line('G');
    const std::string image = Image(2304);
    ASSERT_EQ(0, Send(line, image));
    const std::vector<std::string> expected = {Header(kHeaderName + "2304"),
                                               Frame(1, image.substr(0, 1024), 1024),
                                               Frame(2, image.substr(1024, 1024), 1024),
                                               Frame(3, image.substr(2048, 128), 128),
                                               Frame(4, image.substr(2176), 128),
                                               kEot,
                                               Closing()};
    EXPECT_EQ(expected, line.frames);
    // The only long wait for an answer is the one after the end of file.
    EXPECT_EQ(1, std::count(line.readWaits.begin(), line.readWaits.end(), 3000u));
    // Each data block follows the one before after the 30 ms of quiet, not after an answer.
    for (size_t i = 2; i <= 4; ++i)
        EXPECT_EQ(30u, line.frameTimes[i] - line.frameTimes[i - 1]) << "frame " << i;
}

TEST(SendFile, RejectedBlockIsSentAgainAfterHalfASecondOfQuiet) {
    for (const std::string& rejection : {kNak, std::string("\x55\xAA\x55"), kCan}) {
        ScriptedLine line;
        line.answers[1] = rejection;
        const std::string image = Image(1024);
        ASSERT_EQ(0, Send(line, image));
        ASSERT_EQ(5u, line.frames.size());
        EXPECT_EQ(line.frames[1], line.frames[2]);
        EXPECT_GE(line.frameTimes[2] - line.frameTimes[1], 500u + 30u);
    }
}

TEST(SendFile, RejectedEndOfFileIsSentAgain) {
    ScriptedLine line;
    line.answers[2] = kNak;
    ASSERT_EQ(0, Send(line, Image(1024)));
    ASSERT_EQ(5u, line.frames.size());
    EXPECT_EQ(kEot, line.frames[2]);
    EXPECT_EQ(kEot, line.frames[3]);
    EXPECT_GE(line.frameTimes[3] - line.frameTimes[2], 500u);
}

TEST(SendFile, TenRejectionsEndTheTransfer) {
    ScriptedLine line;
    for (size_t attempt = 1; attempt <= 10; ++attempt)
        line.answers[attempt] = kNak;
    EXPECT_EQ(kBlockNotAccepted, Send(line, Image(1024)));
    EXPECT_EQ(11u, line.frames.size());

    // Nine are not enough.
    ScriptedLine patient;
    for (size_t attempt = 1; attempt <= 9; ++attempt)
        patient.answers[attempt] = kNak;
    EXPECT_EQ(0, Send(patient, Image(1024)));
}

TEST(SendFile, TwoCancelsInARowEndTheTransferButNotWithAnAnswerBetween) {
    ScriptedLine cancelled;
    cancelled.answers[1] = kCan;
    cancelled.answers[2] = kCan;
    EXPECT_EQ(kCancelledByReceiver, Send(cancelled, Image(1024)));
    EXPECT_EQ(3u, cancelled.frames.size());

    ScriptedLine interrupted;
    interrupted.answers[1] = kCan;
    interrupted.answers[2] = kNak;
    interrupted.answers[3] = kCan;
    EXPECT_EQ(0, Send(interrupted, Image(1024)));
    EXPECT_EQ(7u, interrupted.frames.size());
}

TEST(SendFile, SilenceAfterABlockIsNotRetried) {
    ScriptedLine line;
    line.answers[1] = "";
    EXPECT_EQ(kNoAnswer, Send(line, Image(2048)));
    EXPECT_EQ(2u, line.frames.size());
    EXPECT_EQ(3000u, line.now - line.frameTimes[1]);
}

TEST(SendFile, AnythingButTheStartRequestAfterBlockZeroEndsTheTransfer) {
    ScriptedLine line;
    line.answers[0] = kAck + kNak;
    EXPECT_EQ(kUnexpectedAnswer, Send(line, Image(1024)));
    EXPECT_EQ(1u, line.frames.size());

    ScriptedLine afterTheEnd;
    afterTheEnd.answers[2] = kAck + "G";
    EXPECT_EQ(kUnexpectedAnswer, Send(afterTheEnd, Image(1024)));
    EXPECT_EQ(3u, afterTheEnd.frames.size());
}

TEST(SendFile, PathTooLongForBlockZeroTouchesNeitherLineNorFile) {
    const std::wstring path(1020, L'x');
    g_sendPath = path.c_str();
    ScriptedLine line;
    MemorySource source(Image(100));
    YModemTx sender(&line, nullptr);
    EXPECT_EQ(kHeaderOverflow, sender.SendFile(100, &source));
    EXPECT_EQ(0u, line.writes);
    EXPECT_TRUE(line.readWaits.empty());
    uint8_t first;
    EXPECT_EQ(1, source.Read(&first, 1));
}

TEST(SendFile, StartRequestComesAfterWhatWasAlreadyWaiting) {
    // Bytes on the line before the transfer are stale, a start request among them too.
    ScriptedLine line('C', 0);
    line.Arrive(0, "xyz");
    line.Arrive(1000, "C");
    ASSERT_EQ(0, Send(line, ""));
    EXPECT_GE(line.frameTimes[0], 1000u);
}

TEST(SendFile, SilentReceiverIsGivenThirtySeconds) {
    ScriptedLine line('C', 1000000);
    EXPECT_EQ(kNoAnswer, Send(line, Image(10)));
    EXPECT_EQ(30010u, line.now);
    EXPECT_EQ(1u + 3001u, line.readWaits.size());
    EXPECT_TRUE(line.frames.empty());

    // Noise costs the budget as silence does, however fast it comes.
    ScriptedLine noisy('C', 1000000);
    for (uint32_t ms = 1; ms < 40000; ms += 5)
        noisy.Arrive(ms, "~");
    EXPECT_EQ(kNoAnswer, Send(noisy, Image(10)));
    EXPECT_EQ(1u + 3001u, noisy.readWaits.size());
}

TEST(SendFile, PortFailurePassesThrough) {
    ScriptedLine line;
    line.readFailure = kPortReadFailed;
    line.failingRead = 3;
    EXPECT_EQ(kPortReadFailed, Send(line, Image(10)));
}

TEST(SendFile, FrameWrittenInPiecesArrivesWhole) {
    ScriptedLine line;
    line.bytesPerWrite = 100;
    const std::string image = Image(1024);
    ASSERT_EQ(0, Send(line, image));
    EXPECT_EQ(Frame(1, image, 1024), line.frames[1]);
    // Between the pieces the sender looks for an answer for 10 ms.
    EXPECT_GE(std::count(line.readWaits.begin(), line.readWaits.end(), 10u), 2 * 10);
}

TEST(SendFile, AnswerWhileAFrameIsWrittenIsHeard) {
    // A NAK after the third of eleven pieces: the rest is not written, and the block goes again
    // after the quiet pause.
    ScriptedLine line;
    line.bytesPerWrite = 100;
    line.answersWhileWriting[{1, 3}] = kNak;
    const std::string image = Image(1024);
    ASSERT_EQ(0, Send(line, image));
    ASSERT_EQ(1u, line.abandoned.size());
    EXPECT_EQ(Frame(1, image, 1024).substr(0, 300), line.abandoned[0]);
    const std::vector<std::string> expected = {Header(kHeaderName + "1024"), Frame(1, image, 1024), kEot,
                                               Closing()};
    EXPECT_EQ(expected, line.frames);
}

TEST(SendFile, AckWhileWritingEndsACancelRun) {
    // CAN during the first attempt; during the second an ACK comes before the frame's CAN, so
    // the two CANs are not in a row.
    ScriptedLine line;
    line.bytesPerWrite = 100;
    line.answersWhileWriting[{1, 2}] = kCan;
    line.answersWhileWriting[{2, 2}] = kAck;
    line.answers[1] = kCan;
    ASSERT_EQ(0, Send(line, Image(1024)));
    EXPECT_EQ(1u, line.abandoned.size());
    EXPECT_EQ(5u, line.frames.size());
}

TEST(SendFile, StalledLineEndsTheTransferAfterASecond) {
    ScriptedLine line;
    line.bytesPerWrite = 0;
    EXPECT_EQ(kNoAnswer, Send(line, Image(10)));
    EXPECT_EQ(1u, line.writes);
    EXPECT_TRUE(line.frames.empty());
}

class TemporaryImage {
public:
    explicit TemporaryImage(const std::string& bytes) : file_(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }
    ~TemporaryImage() { std::fclose(file_); }
    FILE* get() const { return file_; }

private:
    FILE* file_;
};

TEST(InFile, FileShorterThanItsSizeIsAFailure) {
    TemporaryImage shorter(Image(1500));
    InFile source(shorter.get(), 2000);
    uint8_t buffer[1024];
    EXPECT_EQ(1024, source.Read(buffer, 1024));
    EXPECT_EQ(476, source.Read(buffer, 1024));
    EXPECT_EQ(kSourceFailed, source.Read(buffer, 1024));

    TemporaryImage whole(Image(1500));
    InFile exact(whole.get(), 1500);
    EXPECT_EQ(1024, exact.Read(buffer, 1024));
    EXPECT_EQ(476, exact.Read(buffer, 1024));
    EXPECT_EQ(0, exact.Read(buffer, 1024));
}

TEST(InFile, TransferOfAFileThatShrankFails) {
    TemporaryImage shorter(Image(1500));
    InFile source(shorter.get(), 2000);
    ScriptedLine line;
    g_sendPath = kPath;
    YModemTx sender(&line, nullptr);
    EXPECT_EQ(kSourceFailed, sender.SendFile(2000, &source));
    // Everything the file had went out, but never the end of file.
    ASSERT_EQ(6u, line.frames.size());
    EXPECT_NE(kEot, line.frames.back());
}

}  // namespace
