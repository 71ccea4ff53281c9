#include "link/TrackerCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/ModeChangeWaits.h"

namespace {

using Events = std::vector<std::string>;
using Sleeps = std::vector<uint32_t>;

// An attempt to open the port takes real time; without it a loop that retries at once would
// never see the limit pass.
constexpr uint32_t kOpenCostMs = 2;
constexpr uint32_t kLimitMs = kTrackerWaitLimitMs;
// The tick counter wraps 4096 ms into a wait that starts here.
constexpr uint32_t kNearWrapMs = 0xFFFFF000;

// The tracker's answer to one request.
struct Reply {
    std::string bytes;
    enum How { kRead, kReadFails, kReadsNothing } how = kRead;
    uint32_t notBeforeMs = 0;  // only a request written this long after the test began gets it
};

// Plays the tracker's port on the virtual clock and logs each open, write, read and close as
// "<ms since the test began> <what>". Failed opens are only counted: some tests make thousands.
class ScriptedPort : public CommandPort {
public:
    explicit ScriptedPort(FakeClock& clock) : clock_(clock), origin_(clock.NowMs()) {}

    bool Open() override {
        clock_.Advance(openCostMs);
        EXPECT_FALSE(open_) << "opened twice at " << Elapsed();
        open_ = canOpen();
        (open_ ? opens : failedOpens) += 1;
        if (open_)
            Log("open");
        return open_;
    }
    bool IsOpen() const override { return open_; }
    bool Write(const void* data, uint32_t size) override {
        EXPECT_TRUE(open_) << "write on a closed port at " << Elapsed();
        written.append(static_cast<const char*>(data), size);
        Log("write " + std::string(static_cast<const char*>(data), size));
        if (!replies.empty() && Elapsed() >= replies.front().notBeforeMs) {
            pending_ = replies.front();
            replies.pop_front();
            hasPending_ = true;
        }
        return writeSucceeds;
    }
    uint32_t BytesWaiting() override {
        return hasPending_ ? static_cast<uint32_t>(pending_.bytes.size()) : 0;
    }
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        EXPECT_TRUE(open_ && hasPending_) << "read with nothing waiting at " << Elapsed();
        Log("read " + std::to_string(size));
        // The bytes land in the buffer even when the read fails, so that code using them anyway
        // is caught.
        const uint32_t count = std::min<uint32_t>(size, static_cast<uint32_t>(pending_.bytes.size()));
        std::memcpy(buffer, pending_.bytes.data(), count);
        *bytesRead = pending_.how == Reply::kReadsNothing ? 0 : count;
        hasPending_ = false;
        return pending_.how != Reply::kReadFails;
    }
    void Close() override {
        if (open_)
            Log("close");
        open_ = hasPending_ = false;
    }

    uint32_t Elapsed() const { return clock_.NowMs() - origin_; }
    uint32_t openCostMs = kOpenCostMs;
    std::function<bool()> canOpen = [] { return true; };
    std::deque<Reply> replies;
    bool writeSucceeds = true;
    int opens = 0;
    int failedOpens = 0;
    std::string written;
    Events events;

private:
    void Log(const std::string& what) { events.push_back(std::to_string(Elapsed()) + " " + what); }

    FakeClock& clock_;
    const uint32_t origin_;
    bool open_ = false;
    Reply pending_;
    bool hasPending_ = false;
};

class RecordingReport : public WorkerReport {
public:
    void ProgressRange(uint16_t, uint16_t) override {}
    void ProgressPosition(uint32_t) override {}
    void Succeeded() override { calls.push_back("succeeded"); }
    void Failed(const wchar_t*, unsigned) override { calls.push_back("failed"); }
    std::vector<std::string> calls;
};

struct Line {
    explicit Line(uint32_t startMs = 1000) : clock(startMs), port(clock) {}

    // The pages' workers: true when one reported success, which its exit code must agree with.
    bool BootLoaderWait() { return Reported(RunBootLoaderWait(port, clock, report)); }
    bool ResetWait(bool versionKnown = true) {
        return Reported(RunResetWait(
            port, clock, [versionKnown] { return versionKnown; }, report));
    }
    bool Reported(int exitCode) {
        EXPECT_EQ(std::vector<std::string>{exitCode == 1 ? "succeeded" : "failed"}, report.calls);
        return exitCode == 1;
    }

    FakeClock clock;
    ScriptedPort port;
    RecordingReport report;
};

}  // namespace

TEST(BootLoaderWait, OnlyAWholeVisibleLowerCaseAnswerEndsIt) {
    // Each request has 100 ms for its answer, and any answer keeps the port open; on the boot
    // loader's the port closes, then the boot loader has 500 ms to settle.
    const struct {
        std::vector<Reply> notAnswers;
        bool writeSucceeds;
    } kCases[] = {
        {{}, true},
        {{}, false},  // the write's result does not matter
        {{{"ready\r\n"}}, true},
        {{{"ab"}, {"ort"}}, true},               // split over two reads
        {{{std::string("x\0abort", 7)}}, true},  // behind a zero byte
        {{{"ABORT"}}, true},
        {{{"abort", Reply::kReadFails}}, true},
        {{{"abort", Reply::kReadsNothing}}, true},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        Line line;
        line.port.writeSucceeds = kCases[i].writeSucceeds;
        line.port.replies.assign(kCases[i].notAnswers.begin(), kCases[i].notAnswers.end());
        line.port.replies.push_back({"xabortx"});
        EXPECT_TRUE(line.BootLoaderWait());
        const std::string requests(kCases[i].notAnswers.size() + 1, '1');
        EXPECT_EQ(requests, line.port.written) << "only the last answer may end the wait";
        EXPECT_EQ(1, line.port.opens);
        EXPECT_EQ(100u * requests.size() + 500 + kOpenCostMs, line.port.Elapsed());
        EXPECT_EQ(std::to_string(line.port.Elapsed() - 500) + " close", line.port.events.back());
    }
}

TEST(BootLoaderWait, BootLoaderMustHaveSettledWithinTheLimit) {
    // Silent passes take 102 ms, so the answer is read at 39474, 39678 or 40086 ms; 500 ms of
    // settling follow, and after a late answer the 1000 ms pause of giving up.
    const struct {
        uint32_t answerFromMs;
        bool answered;
        uint32_t endMs;
    } kCases[] = {{39300, true, 39974}, {39500, false, 41178}, {39950, false, 41586}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("answer from " + std::to_string(c.answerFromMs));
        Line line;
        line.port.replies = {{"abort", Reply::kRead, c.answerFromMs}};
        EXPECT_EQ(c.answered, line.BootLoaderWait());
        EXPECT_EQ(c.endMs, line.port.Elapsed());
        EXPECT_FALSE(line.port.IsOpen());
    }
}

TEST(BootLoaderWait, SilentTrackerIsOpenedAfreshEveryPassUntilTheLimit) {
    for (uint32_t start : {1000u, kNearWrapMs}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        Line line(start);
        EXPECT_FALSE(line.BootLoaderWait());
        // Passes of 102 ms (open, "1", 100 ms for an answer, close) until one ends past the
        // limit; the port opened after it is closed at once.
        EXPECT_EQ(std::string(393, '1'), line.port.written);
        EXPECT_EQ(394, line.port.opens);
        EXPECT_EQ((Events{"39986 write 1", "40086 close", "40088 open", "40088 close"}),
                  Events(line.port.events.end() - 4, line.port.events.end()));
        EXPECT_EQ(41088u, line.port.Elapsed()) << "the 1000 ms pause of giving up";
        EXPECT_FALSE(line.port.IsOpen());
    }
}

TEST(BootLoaderWait, PortFoundLaterStillGetsItsAnswer) {
    Line line(kNearWrapMs);  // the tick counter wraps while the port is still missing
    ScriptedPort& port = line.port;
    port.canOpen = [&port] { return port.Elapsed() >= 30000; };
    port.replies = {{"abort"}};
    EXPECT_TRUE(line.BootLoaderWait());
    EXPECT_EQ((Events{"30000 open", "30000 write 1", "30100 read 5", "30100 close"}), port.events);
    EXPECT_EQ(30600u, port.Elapsed());
}

TEST(TrackerWaits, PortThatNeverOpensIsTriedUntilTheLimitHasPassed) {
    // The boot loader is asked for again at once, the reset 100 ms later; either way one attempt
    // ends right on the limit, which has not passed then.
    const struct {
        bool reset;
        uint32_t openCostMs;
        int attempts;
    } kCases[] = {{false, kOpenCostMs, 20001}, {true, 25, 321}};
    for (const auto& c : kCases) {
        for (uint32_t start : {1000u, kNearWrapMs}) {
            SCOPED_TRACE(std::string(c.reset ? "reset" : "boot loader") + ", start tick " +
                         std::to_string(start));
            Line line(start);
            line.port.canOpen = [] { return false; };
            line.port.openCostMs = c.openCostMs;
            EXPECT_FALSE(c.reset ? line.ResetWait() : line.BootLoaderWait());
            EXPECT_EQ(c.attempts, line.port.failedOpens);
            EXPECT_EQ(c.attempts * (c.openCostMs + (c.reset ? 100 : 0)) + 1000, line.port.Elapsed())
                << "the 1000 ms pause of giving up";
        }
    }
}

TEST(ResetWait, ResetGoesOutOnceThePortHasSettledThenTheRestartIsAwaited) {
    const struct {
        bool versionKnown;
        bool writeSucceeds;
        bool succeeded;
        Events events;
        uint32_t endMs;
    } kCases[] = {
        // 1000 ms for the bridge to settle, 100 after the write, 1000 while the tracker
        // restarts; then its port opens again.
        {true, true, true, {"2 open", "1002 write 2", "1102 close", "2104 open", "2104 close"}, 2104},
        {true, false, false, {"2 open", "1002 write 2", "1102 close"}, 2102},  // no wait after a failed reset
        {false, true, false, {}, 0},  // without the system's version the reset is not tried
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.versionKnown) + std::to_string(c.writeSucceeds));
        Line line;
        line.port.writeSucceeds = c.writeSucceeds;
        EXPECT_EQ(c.succeeded, line.ResetWait(c.versionKnown));
        EXPECT_EQ(c.events, line.port.events);
        EXPECT_EQ(0, line.port.failedOpens);
        EXPECT_EQ(c.endMs, line.port.Elapsed());
    }
}

TEST(ResetCommand, PortThatOpensLateGetsTheResetButFailsPastTheLimit) {
    // Attempts take 102 ms: the port opens at 3062 or 39578 ms.
    const struct {
        uint32_t opensFromMs;
        bool sent;
        Events events;
    } kCases[] = {{3000, true, {"3062 open", "4062 write 2", "4162 close"}},
                  {39500, false, {"39578 open", "40578 write 2", "40678 close"}}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("opens from " + std::to_string(c.opensFromMs));
        Line line;
        ScriptedPort& port = line.port;
        port.canOpen = [&port, c] { return port.Elapsed() >= c.opensFromMs; };
        EXPECT_EQ(c.sent, SendResetCommand(port, line.clock, [] { return true; }));
        EXPECT_EQ(c.events, port.events);
        EXPECT_EQ(std::stoul(c.events[0]) + 2100, port.Elapsed());
    }
}

TEST(ResetWait, TrackersReturnHasALimitOfItsOwn) {
    // The reset ends 2102 ms into the test; the second start puts the counter's wrap after it.
    const struct {
        uint32_t start;
        uint32_t backAfterMs;  // after the reset; 0: never
        uint32_t waitedMs;
    } kCases[] = {{1000, 0, kLimitMs + kOpenCostMs},
                  {kNearWrapMs - 2102, 0, kLimitMs + kOpenCostMs},
                  {1000, 39000, 39000}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("start tick " + std::to_string(c.start) + ", back after " +
                     std::to_string(c.backAfterMs));
        Line line(c.start);
        ScriptedPort& port = line.port;
        port.canOpen = [&port, c] {
            return port.events.empty() || (c.backAfterMs != 0 && port.Elapsed() >= 2102 + c.backAfterMs);
        };
        EXPECT_EQ(c.backAfterMs != 0, line.ResetWait());
        EXPECT_EQ((Sleeps{1000, 100, 1000}), line.clock.sleeps) << "no pause between attempts";
        EXPECT_EQ(c.waitedMs, port.Elapsed() - 2102);
    }
}
