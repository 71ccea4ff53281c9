// The tracker's end of the command port, on virtual time. A request the code writes gets the
// next reply queued for its text: the reply's lines arrive one every 50 ms from 10 ms after the
// request. A read takes what has arrived, waiting up to the port's 100 ms read time-out for the
// first byte. Opens, writes and closes are logged as "<ms since the start> <what>"; failed opens
// are only counted, as some tests make thousands.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/CommandPort.h"
#include "RecordingReport.h"

using Events = std::vector<std::string>;

// The time and the what of a logged event, "<ms> <what>".
inline uint32_t At(const std::string& event) {
    return static_cast<uint32_t>(std::stoul(event));
}
inline std::string What(const std::string& event) {
    return event.substr(event.find(' ') + 1);
}
inline std::vector<std::string> Whats(const std::vector<std::string>& events) {
    std::vector<std::string> whats;
    for (const std::string& event : events)
        whats.push_back(What(event));
    return whats;
}

struct Reply {
    std::vector<std::string> lines;
    // kLineError: the driver reports a line error as each line arrives, and reads take it all the
    // same, as without abort-on-error.
    enum How { kRead, kReadFails, kReadsNothing, kLineError } how = kRead;
    uint32_t notBeforeMs = 0;  // only a request written this long after the start gets it
};

class ScriptedTracker : public CommandPort {
public:
    static constexpr uint32_t kReadWaitMs = 100;
    static constexpr uint32_t kReplyAfterMs = 10;
    static constexpr uint32_t kLineGapMs = 50;

    // An open can be given a cost: without it, a loop that retries at once never sees a limit pass.
    explicit ScriptedTracker(uint32_t startMs = 1000, uint32_t openCostMs = 0)
        : clock(startMs), openCostMs(openCostMs), origin_(startMs) {}

    bool Open() override {
        clock.Advance(openCostMs);
        EXPECT_FALSE(open_) << "opened twice at " << Elapsed();
        if (lastOpenFailed_ && sleepsAtLastOpen_ == clock.sleeps.size())
            ++opensWithoutPause;
        open_ = canOpen();
        if (open_)
            Log("open");
        else
            ++failedOpens;
        lastOpenFailed_ = !open_;
        sleepsAtLastOpen_ = clock.sleeps.size();
        return open_;
    }
    bool IsOpen() const override { return open_; }
    bool Write(const void* data, uint32_t size) override {
        EXPECT_TRUE(open_) << "write on a closed port at " << Elapsed();
        const std::string text(static_cast<const char*>(data), size);
        Log("write " + text);
        std::deque<Reply>& queued = replies[text];
        if (!queued.empty() && Elapsed() >= queued.front().notBeforeMs) {
            uint32_t atMs = Elapsed() + kReplyAfterMs;
            for (const std::string& line : queued.front().lines) {
                if (queued.front().how == Reply::kLineError)
                    lineErrorsAt_.insert(atMs);
                for (char byte : line)
                    incoming_.insert({atMs, {byte, queued.front().how}});
                atMs += kLineGapMs;
            }
            queued.pop_front();
        }
        return ++writes < failingWrite || failingWrite == 0;
    }
    bool BytesWaiting(uint32_t* count, bool* lineError) override {
        const auto dueErrors = lineErrorsAt_.upper_bound(Elapsed());
        if (lineError)
            *lineError = dueErrors != lineErrorsAt_.begin() && Elapsed() < goneFromMs;
        lineErrorsAt_.erase(lineErrorsAt_.begin(), dueErrors);
        *count = 0;
        if (Elapsed() >= goneFromMs)
            return false;
        *count = static_cast<uint32_t>(std::distance(incoming_.begin(), incoming_.upper_bound(Elapsed())));
        return true;
    }
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        EXPECT_TRUE(open_) << "read on a closed port at " << Elapsed();
        *bytesRead = 0;
        // A read on a port that has gone fails at once, but not in no time.
        if (Elapsed() >= goneFromMs) {
            clock.Advance(1);
            return false;
        }
        if (incoming_.empty() || incoming_.begin()->first > Elapsed() + kReadWaitMs) {
            clock.Advance(kReadWaitMs);
            return true;
        }
        if (incoming_.begin()->first > Elapsed())
            clock.Advance(incoming_.begin()->first - Elapsed());
        const Reply::How how = incoming_.begin()->second.how;
        // The bytes land in the buffer even when the read fails, so that code using them anyway
        // is caught.
        uint32_t count = 0;
        for (auto next = incoming_.begin(); count < size && next != incoming_.upper_bound(Elapsed());
             next = incoming_.erase(next))
            static_cast<char*>(buffer)[count++] = next->second.byte;
        *bytesRead = how == Reply::kReadsNothing ? 0 : count;
        return how != Reply::kReadFails;
    }
    // What the tracker sent and the program did not read is gone with the connection.
    void Close() override {
        if (open_)
            Log("close");
        open_ = false;
        incoming_.clear();
    }

    uint32_t Elapsed() { return clock.NowMs() - origin_; }

    FakeClock clock;
    const uint32_t openCostMs;
    std::function<bool()> canOpen = [] { return true; };
    std::map<std::string, std::deque<Reply>> replies;
    size_t failingWrite = 0;  // from this write on (counted from 1), writes fail; 0: none
    size_t writes = 0;
    int failedOpens = 0;
    int opensWithoutPause = 0;         // a failed open tried again without a sleep between
    uint32_t goneFromMs = UINT32_MAX;  // from then on the port fails every read, as unplugged
    Events events;

private:
    struct Byte {
        char byte;
        Reply::How how;
    };
    void Log(const std::string& what) { events.push_back(std::to_string(Elapsed()) + " " + what); }

    const uint32_t origin_;
    bool open_ = false;
    bool lastOpenFailed_ = false;
    size_t sleepsAtLastOpen_ = 0;
    std::multimap<uint32_t, Byte> incoming_;
    std::set<uint32_t> lineErrorsAt_;  // reported by the next BytesWaiting once they are due
};
