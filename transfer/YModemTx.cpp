#include "transfer/YModemTx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log/SupportLog.h"

namespace {

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kCan = 0x18;
constexpr uint8_t kCrcStart = 'C';
constexpr uint8_t kStreamingStart = 'G';
constexpr uint8_t kFill = 0x1A;

constexpr int32_t kLongBlock = 1024;
constexpr int32_t kShortBlock = 128;
constexpr int32_t kMaxFrame = 3 + kLongBlock + 2;

constexpr uint32_t kStartBudgetMs = 30000;
constexpr uint32_t kQuietBeforeFrameMs = 30;
constexpr uint32_t kFrameWriteMs = 1000;
constexpr uint32_t kPeekWhileWritingMs = 10;
constexpr uint32_t kAnswerMs = 3000;
constexpr uint32_t kQuietBeforeRetryMs = 500;
constexpr uint32_t kStartAfterBlockZeroMs = 11000;
constexpr int kAttemptsPerBlock = 10;

uint8_t HeaderNameByte(wchar_t c) {
    if (c >= L'A' && c <= L'Z')
        return static_cast<uint8_t>(c - L'A' + 'a');
    if (c == L'\\')
        return '/';
    // A character such as U+4E00 would otherwise end the name early and leave the rest of the
    // path where the boot loader reads the file's size.
    if (c != 0 && (c & 0xFF) == 0)
        return '?';
    return static_cast<uint8_t>(c & 0xFF);
}

// A result's name for the support log.
const char* ResultName(int32_t result) {
    switch (result) {
        case 0:
            return "done";
        case kPortWriteFailed:
            return "port write failed";
        case kPortReadFailed:
            return "port read failed";
        case kNoAnswer:
            return "no answer";
        case kBlockNotAccepted:
            return "block not accepted";
        case kSourceFailed:
            return "image not read";
        case kUnexpectedAnswer:
            return "unexpected answer";
        case kCancelledByReceiver:
            return "cancelled by the receiver";
        case kHeaderOverflow:
            return "name too long for block 0";
        default:
            return "failed";
    }
}

// An answer to a block that did not accept it, for the support log.
const char* AnswerName(int32_t answer) {
    switch (answer) {
        case kNak:
            return "NAK";
        case kCan:
            return "CAN";
        default:
            return "another byte";
    }
}

}  // namespace

int32_t YModemTx::ReadByte(uint32_t waitMs) {
    uint8_t byte;
    const int32_t result = port->Read(&byte, 1, waitMs);
    if (result < 0)
        return result;
    if (result == 0)
        return kNoAnswer;
    lastTrafficMs = clock->NowMs();
    return byte;
}

int32_t YModemTx::Drain(uint32_t quietMs) {
    // A receiver that keeps sending (a start request every few milliseconds, status text) would
    // otherwise hold the upload here for ever with its bar frozen.
    const uint32_t startMs = clock->NowMs();
    for (;;) {
        // The quiet counts from the last byte heard or frame sent, so an answer just read has
        // begun it.
        const uint32_t quietMsSoFar = clock->NowMs() - lastTrafficMs;
        const int32_t answer = ReadByte(quietMsSoFar >= quietMs ? 0 : quietMs - quietMsSoFar);
        if (answer == kNoAnswer)
            return 0;
        if (answer < 0)
            return answer;
        if (HasExceeded(clock->NowMs(), startMs, kAnswerMs))
            return kNoAnswer;
    }
}

int32_t YModemTx::WaitForStart() {
    lastTrafficMs = clock->NowMs();
    const int32_t drained = Drain(0);
    if (drained < 0)
        return drained;
    canCount = 0;
    // Noise costs the time it takes, however fast it comes.
    const uint32_t startMs = clock->NowMs();
    for (;;) {
        const uint32_t waitedMs = clock->NowMs() - startMs;
        if (waitedMs >= kStartBudgetMs) {
            LogLine("upload: no start request within %u ms", kStartBudgetMs);
            return kNoAnswer;
        }
        const int32_t answer = ReadByte(kStartBudgetMs - waitedMs);
        switch (answer) {
            case kCrcStart:
            case kStreamingStart:
            case kNak:
                startChar = static_cast<uint8_t>(answer);
                crcMode = answer != kNak;
                LogLine("upload: the receiver asked to start with 0x%02x after %u ms", startChar,
                        clock->NowMs() - startMs);
                return 0;
            default:
                if (answer < 0 && answer != kNoAnswer)
                    return answer;
        }
    }
}

int32_t YModemTx::Classify(int32_t answer, Verdict* verdict) {
    *verdict = Verdict::kNone;
    if (answer == kNoAnswer)
        return 0;
    if (answer < 0)
        return answer;
    if (answer == kCan) {
        // One CAN may be line noise; two in a row are the receiver giving up.
        if (++canCount >= 2) {
            LogLine("upload: the receiver cancelled (CAN CAN) at block %d", blockNumber);
            return kCancelledByReceiver;
        }
        *verdict = Verdict::kRejected;
        return 0;
    }
    canCount = 0;
    if (answer == kAck)
        *verdict = Verdict::kAccepted;
    else if (answer == kCrcStart && !crcMode)
        *verdict = Verdict::kWantsCrc;
    else
        *verdict = Verdict::kRejected;
    return 0;
}

int32_t YModemTx::BuildFrame(const uint8_t* data, int32_t length, uint8_t* frame, int32_t* count) const {
    const int32_t blockSize = length >= kLongBlock ? kLongBlock : kShortBlock;
    *count = std::min(length, blockSize);
    if (*count == 0) {
        frame[0] = kEot;
        return 1;
    }
    frame[0] = blockSize == kLongBlock ? kStx : kSoh;
    frame[1] = static_cast<uint8_t>(blockNumber);
    frame[2] = static_cast<uint8_t>(255 - frame[1]);
    uint8_t* area = frame + 3;
    std::memcpy(area, data, *count);
    std::memset(area + *count, kFill, blockSize - *count);
    int32_t frameLength = 3 + blockSize;
    if (crcMode) {
        const uint16_t crc = Crc16(area, blockSize);
        frame[frameLength++] = static_cast<uint8_t>(crc >> 8);
        frame[frameLength++] = static_cast<uint8_t>(crc);
    } else {
        uint8_t sum = 0;
        for (int32_t i = 0; i < blockSize; ++i)
            sum = static_cast<uint8_t>(sum + area[i]);
        frame[frameLength++] = sum;
    }
    return frameLength;
}

int32_t YModemTx::WriteFrame(const uint8_t* frame, int32_t frameLength, bool* rejected) {
    *rejected = false;
    for (int32_t written = 0; written < frameLength;) {
        const int32_t result = port->Write(frame + written, frameLength - written, kFrameWriteMs);
        if (result < 0)
            return result;
        if (result == 0)
            return kNoAnswer;
        written += result;
        if (written == frameLength)
            break;
        // An ACK meanwhile is the last block's late one; anything else turns this one down.
        Verdict verdict;
        const int32_t classified = Classify(ReadByte(kPeekWhileWritingMs), &verdict);
        if (classified < 0)
            return classified;
        if (verdict != Verdict::kNone && verdict != Verdict::kAccepted) {
            *rejected = true;
            return 0;
        }
    }
    return 0;
}

int32_t YModemTx::SendBlock(const uint8_t* data, int32_t length) {
    uint8_t frame[kMaxFrame];
    int32_t count = 0;
    int32_t frameLength = BuildFrame(data, length, frame, &count);
    // The end of file is always answered, streaming or not.
    const bool awaitAnswer = startChar != kStreamingStart || count == 0;
    for (int attempt = 0; attempt < kAttemptsPerBlock; ++attempt) {
        int32_t result = Drain(kQuietBeforeFrameMs);
        if (result < 0)
            return result;
        bool rejected = false;
        result = WriteFrame(frame, frameLength, &rejected);
        if (result < 0)
            return result;
        lastTrafficMs = clock->NowMs();
        if (!rejected) {
            Verdict verdict;
            const int32_t answer = ReadByte(awaitAnswer ? kAnswerMs : 0);
            if (awaitAnswer && answer == kNoAnswer) {
                LogLine("upload: no answer to block %d within %u ms", blockNumber, kAnswerMs);
                return kNoAnswer;
            }
            result = Classify(answer, &verdict);
            if (result < 0)
                return result;
            // Streaming: whatever came, the block counts as taken; only a CAN is remembered.
            if (!awaitAnswer || verdict == Verdict::kAccepted) {
                ++blockNumber;
                ++blocksSent;
                return count;
            }
            LogLine("upload: block %d answered with %s, attempt %d", blockNumber, AnswerName(answer),
                    attempt + 1);
            if (verdict == Verdict::kWantsCrc) {
                // The receiver asks for CRCs after all: the same block again, with one.
                crcMode = true;
                frameLength = BuildFrame(data, length, frame, &count);
                continue;
            }
        }
        if (rejected)
            LogLine("upload: block %d turned down while it was written, attempt %d", blockNumber,
                    attempt + 1);
        ++resends;
        result = Drain(kQuietBeforeRetryMs);
        if (result < 0)
            return result;
    }
    return kBlockNotAccepted;
}

int32_t YModemTx::SendData(InStream* source) {
    blockNumber = 1;
    uint32_t chunks = 0;
    uint8_t chunk[kLongBlock];
    for (;;) {
        const int32_t chunkLength = source->Read(chunk, kLongBlock);
        if (chunkLength < 0)
            return kSourceFailed;
        int32_t sent = 0;
        do {
            const int32_t taken = SendBlock(chunk + sent, chunkLength - sent);
            if (taken < 0)
                return taken;
            sent += taken;
        } while (sent < chunkLength);
        ++chunks;
        if (onChunk)
            onChunk(chunks);
        if (chunkLength == 0)
            return 0;
    }
}

int32_t YModemTx::AwaitStartAgain() {
    // The receiver asks again, the same way, before the data and before the closing block.
    const int32_t answer = ReadByte(kStartAfterBlockZeroMs);
    if (answer < 0)
        return answer;
    return answer == startChar ? 0 : kUnexpectedAnswer;
}

// Nothing per block is logged on the way: the summary says what the transfer did, and how fast.
int32_t YModemTx::SendFile(const wchar_t* path, uint32_t size, InStream* source) {
    const uint32_t startMs = clock->NowMs();
    const int32_t result = SendBatch(path, size, source);
    const uint32_t tookMs = clock->NowMs() - startMs;
    LogLine("upload: %s; %u blocks sent, %u sent again, %u ms, %u bytes/s", ResultName(result), blocksSent,
            resends, tookMs,
            result == 0 ? static_cast<uint32_t>(uint64_t{size} * 1000 / (tookMs > 0 ? tookMs : 1)) : 0);
    return result;
}

int32_t YModemTx::SendBatch(const wchar_t* path, uint32_t size, InStream* source) {
    uint8_t block[kHeaderSize];
    if (BuildHeader(size, block, path) != 0)
        return kHeaderOverflow;

    int32_t result = WaitForStart();
    if (result < 0)
        return result;
    blockNumber = 0;
    result = SendBlock(block, kHeaderSize);
    if (result < 0)
        return result;
    result = AwaitStartAgain();
    if (result < 0)
        return result;
    result = SendData(source);
    if (result < 0)
        return result;
    result = AwaitStartAgain();
    if (result < 0)
        return result;

    std::memset(block, 0, sizeof block);
    blockNumber = 0;
    result = SendBlock(block, kHeaderSize);
    return result < 0 ? result : 0;
}

int32_t YModemTx::BuildHeader(uint32_t size, uint8_t (&buffer)[kHeaderSize], const wchar_t* name) {
    constexpr int32_t kLast = kHeaderSize - 1;  // always stays zero
    std::memset(buffer, 0, sizeof buffer);
    int32_t position = 0;
    for (const wchar_t* c = name; position < kLast; ++c) {
        buffer[position++] = HeaderNameByte(*c);
        if (*c == 0)
            break;
    }
    char digits[16];
    // Ten digits at most: they always fit.
    (void)std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(size));
    for (const char* digit = digits; *digit != '\0' && position < kLast; ++digit)
        buffer[position++] = static_cast<uint8_t>(*digit);
    return position < kLast ? 0 : kHeaderOverflow;
}

uint16_t YModemTx::Crc16(const uint8_t* data, int32_t length) {
    uint16_t crc = 0;
    for (int32_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}
