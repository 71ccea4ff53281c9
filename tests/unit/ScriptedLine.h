// The line to a scripted YMODEM receiver, on virtual time: a read returns as soon as a byte has
// arrived, and each frame the sender completes gets the receiver's answer 1 ms later. Nothing
// really sleeps.
#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "link/Clock.h"
#include "link/SerialPort.h"

class ScriptedLine : public SerialPort, public Clock {
public:
    // The receiver's start request, and when it comes (ms of virtual time).
    explicit ScriptedLine(char startChar = 'C', uint32_t startAtMs = 100) : startChar_(startChar) {
        Arrive(startAtMs, std::string(1, startChar));
    }

    // The answer to the frame with this index (0: the first frame completed), instead of what a
    // receiver that takes everything would say.
    std::map<size_t, std::string> answers;
    // Bytes sent while the frame of an attempt (0: the first begun) is being written, once this
    // many of its pieces have gone.
    std::map<std::pair<size_t, size_t>, std::string> answersWhileWriting;
    // How many bytes one Write takes at most; 0 makes every Write time out.
    size_t bytesPerWrite = 1 << 20;
    // From this read on (counted from 1), reads fail with readFailure.
    size_t failingRead = 0;
    int32_t readFailure = 0;

    bool opens = true;
    bool isOpen = false;
    std::vector<std::string> frames;
    std::vector<std::string> abandoned;  // frames the sender gave up half-way
    std::vector<uint32_t> frameTimes;    // when each frame was complete
    std::vector<uint32_t> readWaits;
    size_t writes = 0;
    uint32_t now = 0;

    void Arrive(uint32_t atMs, const std::string& bytes) {
        for (char c : bytes)
            incoming_.push_back({atMs, static_cast<uint8_t>(c)});
    }

    uint32_t NowMs() override { return now; }
    void SleepMs(uint32_t ms) override { now += ms; }

    bool Open() override {
        isOpen = opens;
        return opens;
    }
    void Close() override { isOpen = false; }

    int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) override {
        readWaits.push_back(waitMs);
        if (failingRead != 0 && readWaits.size() >= failingRead)
            return readFailure;
        if (incoming_.empty() || incoming_.front().atMs > now + waitMs) {
            now += waitMs;
            return 0;
        }
        now = std::max(now, incoming_.front().atMs);
        int32_t count = 0;
        for (; count < length && !incoming_.empty() && incoming_.front().atMs <= now; ++count) {
            buffer[count] = incoming_.front().byte;
            incoming_.pop_front();
        }
        return count;
    }

    int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) override {
        ++writes;
        if (!partial_.empty() && static_cast<size_t>(length) != unwritten_) {
            // Not the rest of the frame begun: the sender dropped it.
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
        unwritten_ = length - taken;
        ++pieces_;
        if (unwritten_ == 0) {
            frames.push_back(partial_);
            frameTimes.push_back(now);
            partial_.clear();
            pieces_ = 0;
            const auto answer = answers.find(frames.size() - 1);
            Arrive(now + 1, answer != answers.end() ? answer->second : UsualAnswer(frames.back()));
        } else {
            const auto answer = answersWhileWriting.find({frames.size() + abandoned.size(), pieces_});
            if (answer != answersWhileWriting.end())
                Arrive(now + 1, answer->second);
        }
        return static_cast<int32_t>(taken);
    }

private:
    // Block 0 and the end of file are answered with the start request again; in streaming mode
    // only the end of file is acknowledged.
    std::string UsualAnswer(const std::string& frame) {
        const std::string ack = "\x06", start(1, startChar_);
        if (frame == "\x04") {
            sawEnd_ = true;
            return ack + start;
        }
        const bool header = frame[1] == 0 && !sawData_ && !sawEnd_;
        sawData_ = sawData_ || !header;
        if (startChar_ == 'G')
            return header ? start : "";
        return header ? ack + start : ack;
    }

    struct Byte {
        uint32_t atMs;
        uint8_t byte;
    };
    char startChar_;
    bool sawEnd_ = false;
    bool sawData_ = false;
    std::deque<Byte> incoming_;
    std::string partial_;
    size_t pieces_ = 0;
    size_t unwritten_ = 0;
};
