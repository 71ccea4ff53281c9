// The firmware sender against a line whose answers, silences, short writes and failures all
// come from the fuzzer's bytes. Whatever the line does, the transfer must end within its limits,
// every frame must carry the image's own bytes in order and nothing past its end, and no buffer
// may be read or written out of bounds.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "transfer/YModemTx.h"

namespace {

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kFill = 0x1A;
constexpr uint32_t kMaxImageBytes = 3 * 1024 + 300;
constexpr int32_t kMaxFrameBytes = 3 + 1024 + 2;

void Check(bool holds) {
    if (!holds)
        __builtin_trap();
}

// Every call takes at least one byte of the script while it lasts; after that the line is
// silent and takes whole frames. So the sender's own limits alone must end the transfer, and
// the port counts its calls against what those limits allow.
class FuzzedLine : public SerialPort, public Clock {
public:
    // Time passes as the line's reads wait: a read that gets bytes may take any part of its wait.
    uint32_t NowMs() override { return now_; }
    void SleepMs(uint32_t ms) override { now_ += ms; }

    FuzzedLine(FuzzedDataProvider& script, size_t callLimit) : script_(script), callLimit_(callLimit) {}

    bool Open() override { return true; }
    void Close() override {}

    int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) override {
        Count();
        Check(buffer != nullptr && length > 0);
        switch (script_.ConsumeIntegralInRange(0, 15)) {
            case 0:
                now_ += waitMs;
                return 0;  // nothing within the wait
            case 1:
                return kPortReadFailed;
            default: {
                now_ += script_.ConsumeIntegralInRange<uint32_t>(0, waitMs);
                const int32_t count = script_.ConsumeIntegralInRange<int32_t>(1, length);
                for (int32_t i = 0; i < count; ++i)
                    buffer[i] = script_.ConsumeIntegral<uint8_t>();
                return count;
            }
        }
    }

    int32_t Write(const uint8_t* data, int32_t length, uint32_t) override {
        Count();
        Check(data != nullptr && length > 0 && length <= kMaxFrameBytes);
        if (!partial_.empty() && static_cast<size_t>(length) != unwritten_)
            EndFrame(false);  // not the rest of the frame begun: the sender gave it up
        int32_t taken = length;
        switch (script_.ConsumeIntegralInRange(0, 15)) {
            case 1:
                taken = script_.ConsumeIntegralInRange<int32_t>(1, length);
                break;
            case 2:
                return 0;  // the line took nothing within the wait
            case 3:
                return kPortWriteFailed;
            default:
                break;
        }
        partial_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(taken));
        unwritten_ = static_cast<size_t>(length - taken);
        if (unwritten_ == 0)
            EndFrame(true);
        return taken;
    }

    void EndFrame(bool whole) {
        if (!partial_.empty())
            frames.push_back({partial_, whole});
        partial_.clear();
    }

    struct Frame {
        std::string bytes;
        bool whole;
    };
    std::vector<Frame> frames;

private:
    void Count() { Check(++calls_ <= callLimit_); }

    FuzzedDataProvider& script_;
    const size_t callLimit_;
    size_t calls_ = 0;
    uint32_t now_ = 0;
    std::string partial_;
    size_t unwritten_ = 0;
};

class Image : public YModemTx::InStream {
public:
    Image(const std::string& bytes, size_t failAtChunk) : bytes_(bytes), failAtChunk_(failAtChunk) {}
    // Whole chunks like a file on disk, until the end or the read that fails.
    int32_t Read(uint8_t* buffer, int32_t maxBytes) override {
        Check(buffer != nullptr && maxBytes > 0);
        if (chunks_++ == failAtChunk_)
            return -1;
        const size_t count = std::min(bytes_.size() - position_, static_cast<size_t>(maxBytes));
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<int32_t>(count);
    }

private:
    const std::string& bytes_;
    const size_t failAtChunk_;
    size_t chunks_ = 0;
    size_t position_ = 0;
};

// The frame for a block's data area, with a CRC or with an 8-bit sum.
std::string FrameFor(uint8_t number, const std::string& area, bool crc) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(area.data());
    const uint16_t check = crc ? YModemTx::Crc16(bytes, static_cast<int32_t>(area.size()))
                               : std::accumulate(bytes, bytes + area.size(), uint8_t{0});
    std::string frame{static_cast<char>(area.size() == 1024 ? kStx : kSoh), static_cast<char>(number),
                      static_cast<char>(255 - number)};
    frame += area;
    if (crc)
        frame += static_cast<char>(check >> 8);
    return frame + static_cast<char>(check & 0xFF);
}

// Walks the frames as a receiver would see them: block 0 naming the file, the data blocks in
// order (a block again only after the same one), the end of file, the empty closing block 0.
// Returns whether the batch was complete: the last frame went out as the whole closing block.
bool CheckFrames(const std::vector<FuzzedLine::Frame>& frames,
                 const std::string& image,
                 const std::string& header) {
    // The end of file may go out again and again until the closing block begins.
    enum { kHeader, kData, kEndOfFile, kClosing } phase = kHeader;
    size_t offset = 0, count = 0;  // of the last data block
    uint8_t number = 0;
    bool complete = false;
    for (const auto& frame : frames) {
        const std::string& sent = frame.bytes;
        if (static_cast<uint8_t>(sent[0]) == kEot) {
            Check(sent.size() == 1 && phase != kClosing && offset + count == image.size());
            phase = kEndOfFile;
            continue;
        }
        Check(sent[0] == kSoh || sent[0] == kStx);
        if (sent.size() < 3 && !frame.whole)
            continue;  // given up before its number was out: the next frame shows which block
        Check(sent.size() >= 3);
        const size_t areaSize = sent[0] == kStx ? 1024 : 128;
        std::string area;
        const uint8_t sentNumber = static_cast<uint8_t>(sent[1]);
        if (phase >= kEndOfFile) {
            phase = kClosing;
            Check(sentNumber == 0);
            area.assign(areaSize, '\0');
        } else if (sentNumber == 0 && phase == kHeader) {
            area = header;
        } else {
            Check(sentNumber == number || sentNumber == static_cast<uint8_t>(number + 1));
            if (sentNumber != number) {
                offset += count;
                number = sentNumber;
            }
            phase = kData;
            // Never a block past the image's end, and the image's own bytes before the fill.
            Check(offset < image.size());
            count = std::min(image.size() - offset, areaSize);
            area = image.substr(offset, count) + std::string(areaSize - count, static_cast<char>(kFill));
        }
        Check(area.size() == areaSize);
        // A frame given up half-way may be of either kind; a whole one shows by its length.
        bool matches = false;
        for (bool crc : {false, true}) {
            const std::string expected = FrameFor(sentNumber, area, crc);
            matches |= frame.whole ? sent == expected : expected.compare(0, sent.size(), sent) == 0;
        }
        Check(matches);
        complete = frame.whole && phase == kClosing;
    }
    return complete;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider script(data, size);
    const uint32_t imageSize = script.ConsumeIntegralInRange<uint32_t>(0, kMaxImageBytes);
    const size_t failAtChunk = script.ConsumeIntegralInRange<size_t>(0, 8);
    // Paths up to one that no longer fits block 0, with letters the name lowers, a character
    // whose low byte is zero, and one outside 16 bits.
    std::wstring path = L"C:\\Firmware\\KV\x4E00\x1F600_";
    path += std::wstring(script.ConsumeIntegralInRange<size_t>(0, 1010), L'a');
    path += L".DFU";
    std::string image(imageSize, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    const size_t blocks = imageSize / 128 + 1;

    // Before the script runs out each call takes a byte of it; after that, the start request
    // is awaited by one read after a first one, and each block (block 0 and the end of file twice
    // at most) at most 10 attempts of four calls, with one more read after each block 0.
    FuzzedLine line(script, size + 2 + (blocks + 3) * 40 + 2);
    Image source(image, failAtChunk);
    uint8_t header[YModemTx::kHeaderSize];
    const bool fits = YModemTx::BuildHeader(imageSize, header, path.c_str()) == 0;
    const int32_t result = YModemTx(&line, &line, nullptr).SendFile(path.c_str(), imageSize, &source);
    line.EndFrame(false);

    Check(fits || (result == kHeaderOverflow && line.frames.empty()));
    const bool complete =
        CheckFrames(line.frames, image, std::string(reinterpret_cast<char*>(header), sizeof header));
    // Success only for a whole batch: the sender never claims more than it sent.
    Check(result != 0 || complete);
    Check(result == 0 || result == kPortReadFailed || result == kPortWriteFailed ||
          (result <= kNoAnswer && result >= kHeaderOverflow));
    return 0;
}
