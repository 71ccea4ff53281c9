// The line to a scripted YMODEM receiver, on virtual time: reads wait for the receiver's bytes as
// the port's polling would (a byte is seen at the first 10 ms poll after it arrives), and each
// frame the sender completes gets the receiver's answer 1 ms later, the time a frame takes to
// be checked. Nothing really sleeps.
#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "transfer/SerialPort.h"

class ScriptedLine : public SerialPort {
public:
    static constexpr uint8_t kAck = 0x06, kNak = 0x15, kCan = 0x18, kEot = 0x04, kSoh = 0x01, kStx = 0x02;

    // What the receiver sends first, and when (ms of virtual time).
    explicit ScriptedLine(uint8_t startChar = 'C', uint32_t startAtMs = 100) : startChar_(startChar) {
        Arrive(startAtMs, std::string(1, static_cast<char>(startChar)));
    }

    // The receiver's answer to the frame with this index (0: the first frame written), instead of
    // what a well-behaved receiver would answer.
    std::map<size_t, std::string> answers;
    // How many bytes one Write takes at most; 0 makes every Write time out.
    size_t bytesPerWrite = 1 << 20;
    // Bytes the receiver sends while the frame of an attempt (0: the first frame begun) is still
    // being written, once a given number of its pieces has gone.
    std::map<std::pair<size_t, size_t>, std::string> answersWhileWriting;

    std::vector<std::string> frames;
    // Frames the sender gave up half-way.
    std::vector<std::string> abandoned;
    // The time each frame was complete.
    std::vector<uint32_t> frameTimes;
    std::vector<uint32_t> readWaits;
    size_t writes = 0;
    uint32_t now = 0;
    // A read fails with this code from this read on (0: never).
    int32_t readFailure = 0;
    size_t failingRead = 0;

    // Bytes that the receiver puts on the line at the given time.
    void Arrive(uint32_t atMs, const std::string& bytes) {
        for (char c : bytes)
            incoming_.push_back({atMs, static_cast<uint8_t>(c)});
    }

    int32_t Open(const char*) override { return kPortOk; }
    int32_t Configure(uint32_t) override { return kPortOk; }
    void Close() override {}

    int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) override {
        readWaits.push_back(waitMs);
        if (readFailure != 0 && readWaits.size() > failingRead)
            return readFailure;
        if (incoming_.empty() || incoming_.front().atMs > now + waitMs) {
            now += waitMs;
            return 0;
        }
        if (incoming_.front().atMs > now) {
            // Seen at the first poll after it arrived, or at the end of the wait.
            const uint32_t polls = (incoming_.front().atMs - now + 9) / 10;
            now = std::min(now + polls * 10, now + waitMs);
        }
        int32_t count = 0;
        while (count < length && !incoming_.empty() && incoming_.front().atMs <= now) {
            buffer[count++] = incoming_.front().byte;
            incoming_.pop_front();
        }
        return count;
    }

    int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) override {
        ++writes;
        if (!partial_.empty() && static_cast<size_t>(length) != unwritten_) {
            // Not the rest of the frame begun: the sender dropped it and starts another.
            abandoned.push_back(partial_);
            partial_.clear();
            pieces_ = 0;
        }
        const size_t taken = std::min(bytesPerWrite, static_cast<size_t>(length));
        if (taken == 0) {
            now += waitMs;
            return 0;
        }
        partial_.append(reinterpret_cast<const char*>(data), taken);
        ++pieces_;
        unwritten_ = length - taken;
        if (unwritten_ == 0) {
            pieces_ = 0;
            FrameDone();
        } else {
            const auto answer = answersWhileWriting.find({frames.size() + abandoned.size(), pieces_});
            if (answer != answersWhileWriting.end())
                Arrive(now + kAnswerDelayMs, answer->second);
        }
        return static_cast<int32_t>(taken);
    }

private:
    static constexpr uint32_t kAnswerDelayMs = 1;

    struct Byte {
        uint32_t atMs;
        uint8_t byte;
    };

    void FrameDone() {
        const size_t index = frames.size();
        frames.push_back(partial_);
        frameTimes.push_back(now);
        partial_.clear();
        const auto answer = answers.find(index);
        Arrive(now + kAnswerDelayMs, answer != answers.end() ? answer->second : UsualAnswer(frames.back()));
    }

    // A receiver that takes everything: block 0 and the end of file are answered with the
    // start request again; in streaming mode only the end of file is acknowledged.
    std::string UsualAnswer(const std::string& frame) {
        const bool streaming = startChar_ == 'G';
        const std::string ack(1, static_cast<char>(kAck));
        const std::string start(1, static_cast<char>(startChar_));
        if (frame[0] == static_cast<char>(kEot)) {
            sawEnd_ = true;
            return ack + start;
        }
        const bool header = frame[1] == 0 && !sawData_ && !sawEnd_;
        sawData_ = sawData_ || !header;
        if (streaming)
            return header ? start : "";
        return header ? ack + start : ack;
    }

    uint8_t startChar_;
    bool sawEnd_ = false;
    bool sawData_ = false;
    std::deque<Byte> incoming_;
    std::string partial_;
    size_t pieces_ = 0;
    size_t unwritten_ = 0;
};
