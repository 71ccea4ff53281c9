// The sending side of a YMODEM batch of one file: how the tracker's boot loader takes a new
// firmware image. Every wait is the port's read or write, which ends as soon as a byte has moved,
// measured on the clock.
#pragma once
#include <cstdint>
#include <functional>
#include <utility>

#include "link/Clock.h"
#include "link/SerialPort.h"

// Results of the transfer beyond the port's own codes, which pass through unchanged.
enum YModemResult : int32_t {
    kNoAnswer = -200,             // no start request, no answer to a block, a write that stalled,
                                  // or a receiver that never fell quiet
    kBlockNotAccepted = -201,     // a block (or the end of file) was sent 10 times in vain
    kSourceFailed = -300,         // the file could not be read, or ended before its size
    kUnexpectedAnswer = -301,     // not the start request after block 0 or after the end of file
    kCancelledByReceiver = -302,  // two CAN bytes in a row
    kHeaderOverflow = -303,       // the path and the size do not fit into block 0
    kNoFirmware = -304,           // an empty image (a download cut short), or one of 2 GiB and
                                  // more: nothing is sent
};

class YModemTx {
public:
    // A source of the file's bytes.
    class InStream {
    public:
        // Fills buffer with the next bytes, at most maxBytes; returns their count, 0 at the end
        // of the source, or a negative value when it cannot be read.
        virtual int32_t Read(uint8_t* buffer, int32_t maxBytes) = 0;
        virtual ~InStream() = default;
    };

    static constexpr int32_t kHeaderSize = 1024;

    // Hears how many 1024-byte chunks of the file have been handled, from 1, the end of the
    // file counting as one more.
    using ChunkListener = std::function<void(uint32_t chunks)>;

    // port and clock stay the caller's; the clock bounds the waits for a quiet line. onChunk,
    // which may be empty, hears of every chunk as soon as the receiver has taken it.
    YModemTx(SerialPort* port, Clock* clock, ChunkListener onChunk)
        : port(port), clock(clock), onChunk(std::move(onChunk)) {}

    // The whole batch: block 0 naming the file by its full path, the data, the end of file and
    // the closing empty block 0. 0 or a negative result code.
    int32_t SendFile(const wchar_t* path, uint32_t fileSize, InStream* source);

    // Block 0's data: the name (letters A-Z lowered, '\' as '/'), a zero byte and the size in
    // decimal digits, the rest zeros. 0, or kHeaderOverflow when they do not fit.
    static int32_t BuildHeader(uint32_t fileSize, uint8_t (&buffer)[kHeaderSize], const wchar_t* name);
    // CRC-16 with polynomial 0x1021, initial value 0, most significant bit first.
    static uint16_t Crc16(const uint8_t* data, int32_t length);

private:
    // The whole batch, as SendFile, without the support log's summary.
    int32_t SendBatch(const wchar_t* path, uint32_t fileSize, InStream* source);
    // Waits up to 30 s for the receiver's start request, which sets how blocks are checked.
    int32_t WaitForStart();
    // Sends one block made of up to a block's worth of data (none: the end of file) until it is
    // accepted; returns the data bytes it took.
    int32_t SendBlock(const uint8_t* data, int32_t length);
    // Every data block of the source, then the end of file.
    int32_t SendData(InStream* source);
    // The next byte from the receiver, kNoAnswer when none came within waitMs, or a port code.
    int32_t ReadByte(uint32_t waitMs);
    // What an answer to a block means for it.
    enum class Verdict { kNone, kAccepted, kRejected, kWantsCrc };

    // Reads and drops what the receiver sends until the line has been quiet for quietMs since
    // the last byte heard or frame sent; kNoAnswer
    // when it will not fall quiet within the time it has to answer a block.
    int32_t Drain(uint32_t quietMs);
    // Classifies one answer of ReadByte and keeps count of CANs in a row; returns 0, or the
    // code that ends the transfer (a failed port, or the second CAN in a row).
    int32_t Classify(int32_t answer, Verdict* verdict);
    // The frame that carries up to a block of data (none: the end of file); *count is the data
    // it carries, the result its length.
    int32_t BuildFrame(const uint8_t* data, int32_t length, uint8_t* frame, int32_t* count) const;
    // Writes the frame, listening between the pieces the port takes; *rejected when the
    // receiver turned it down meanwhile.
    int32_t WriteFrame(const uint8_t* frame, int32_t frameLength, bool* rejected);
    // 0 when the receiver's next byte, within 11 s, is its first start request again.
    int32_t AwaitStartAgain();

    SerialPort* port;
    Clock* clock;
    ChunkListener onChunk;
    int32_t blockNumber = 0;
    bool crcMode = true;
    uint8_t startChar = 0;
    int32_t canCount = 0;
    uint32_t lastTrafficMs = 0;
    // For the support log's summary.
    uint32_t blocksSent = 0;
    uint32_t resends = 0;
};
