#include "link/TrackerCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/ModeChangeWaits.h"

namespace {

// An attempt to open the port takes real time; without it a loop that retries at once would
// never see the limit pass.
constexpr uint32_t kOpenCostMs = 2;
constexpr uint32_t kLimitMs = kTrackerWaitLimitMs;
// The tick counter wraps 4096 ms into a wait that starts here.
constexpr uint32_t kNearWrapMs = 0xFFFFF000;

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The tracker's answer to one request it gets.
struct Reply {
    std::string bytes;
    enum How { kRead, kReadFails, kReadsNothing } how = kRead;
    uint32_t notBeforeMs = 0;  // held back from requests written earlier (ms since the test began)
};

// Plays the tracker's port on the virtual clock and logs every open, write, read and close as
// "<ms since the test began> <what>". Failed opens are only counted: some tests make thousands.
class ScriptedPort : public CommandPort {
public:
    explicit ScriptedPort(FakeClock& clock) : clock_(clock), origin_(clock.NowMs()) {}

    bool Open() override {
        clock_.Advance(openCostMs);
        EXPECT_FALSE(open_) << "opened twice at " << Elapsed();
        if (!canOpen()) {
            ++failedOpens;
            return false;
        }
        open_ = true;
        ++opens;
        Log("open");
        return true;
    }
    bool IsOpen() const override { return open_; }
    bool Write(const void* data, uint32_t size) override {
        const std::string bytes(static_cast<const char*>(data), size);
        EXPECT_TRUE(open_) << "write on a closed port at " << Elapsed();
        written += bytes;
        Log("write " + Escaped(bytes));
        if (!replies.empty() && Elapsed() >= replies.front().notBeforeMs) {
            pending_ = replies.front();
            hasPending_ = true;
            replies.pop_front();
        }
        return writeSucceeds;
    }
    uint32_t BytesWaiting() override {
        return hasPending_ ? static_cast<uint32_t>(pending_.bytes.size()) : 0;
    }
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        EXPECT_TRUE(open_ && hasPending_) << "read with nothing waiting at " << Elapsed();
        Log("read " + std::to_string(size));
        // The bytes land in the buffer even when the read fails, so code that used them anyway
        // would be caught.
        const uint32_t count = std::min<uint32_t>(size, static_cast<uint32_t>(pending_.bytes.size()));
        std::memcpy(buffer, pending_.bytes.data(), count);
        *bytesRead = pending_.how == Reply::kReadsNothing ? 0 : count;
        hasPending_ = false;
        return pending_.how != Reply::kReadFails;
    }
    void Close() override {
        if (open_)
            Log("close");
        open_ = false;
        hasPending_ = false;
    }

    uint32_t Elapsed() const { return clock_.NowMs() - origin_; }
    uint32_t TimeOf(const std::string& what) const {  // of the first such event
        for (const std::string& event : events) {
            const size_t space = event.find(' ');
            if (event.substr(space + 1) == what)
                return static_cast<uint32_t>(std::stoul(event.substr(0, space)));
        }
        ADD_FAILURE() << "no event " << what;
        return 0;
    }

    uint32_t openCostMs = kOpenCostMs;
    std::function<bool()> canOpen = [] { return true; };
    std::deque<Reply> replies;
    bool writeSucceeds = true;
    int opens = 0;
    int failedOpens = 0;
    std::string written;
    std::vector<std::string> events;

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
    FakeClock clock;
    ScriptedPort port;
};

using Events = std::vector<std::string>;
using Sleeps = std::vector<uint32_t>;

// Names the first event that differs: a log of hundreds of passes is unreadable whole.
testing::AssertionResult SameEvents(const Events& expected, const Events& logged) {
    for (size_t at = 0; at < std::max(expected.size(), logged.size()); ++at) {
        const std::string want = at < expected.size() ? expected[at] : "(none)";
        const std::string got = at < logged.size() ? logged[at] : "(none)";
        if (want != got)
            return testing::AssertionFailure()
                   << "event " << at << ": expected \"" << want << "\", logged \"" << got << "\"";
    }
    return testing::AssertionSuccess();
}

// Given up on time: the limit had passed by no more than one attempt, then the 1000 ms pause.
void ExpectGaveUpOnTime(const Line& line, uint32_t attemptMs) {
    EXPECT_GT(line.port.Elapsed(), kLimitMs + 1000);
    EXPECT_LE(line.port.Elapsed(), kLimitMs + attemptMs + 1000);
    ASSERT_FALSE(line.clock.sleeps.empty());
    EXPECT_EQ(1000u, line.clock.sleeps.back());
    EXPECT_FALSE(line.port.IsOpen());
}

bool VersionKnown() {
    return true;
}

}  // namespace

// --- The wait for the boot loader's answer ---------------------------------------------------

TEST(BootLoaderExchange, AnswerOnFirstPassEndsIt) {
    for (bool writeSucceeds : {true, false}) {  // the write's result does not matter
        SCOPED_TRACE(writeSucceeds ? "write succeeds" : "write fails");
        Line line;
        line.port.writeSucceeds = writeSucceeds;
        line.port.replies = {{"press to abort\r\n"}};
        EXPECT_TRUE(WaitForBootLoader(line.port, line.clock));
        EXPECT_EQ((Events{"2 open", "2 write 1", "102 read 16", "102 close"}), line.port.events);
        EXPECT_EQ((Sleeps{100, 500}), line.clock.sleeps);
        EXPECT_EQ(602u, line.port.Elapsed()) << "100 ms for the answer, 500 for the boot loader to settle";
        EXPECT_EQ("1", Escaped(line.port.written));
        EXPECT_FALSE(line.port.IsOpen());
    }
}

TEST(BootLoaderExchange, OtherAnswerKeepsPortOpenAndAsksAgain) {
    Line line;
    line.port.replies = {{"ready\r\n"}, {"xabortx"}};
    EXPECT_TRUE(WaitForBootLoader(line.port, line.clock));
    EXPECT_EQ((Events{"2 open", "2 write 1", "102 read 7", "102 write 1", "202 read 7", "202 close"}),
              line.port.events);
    EXPECT_EQ((Sleeps{100, 100, 500}), line.clock.sleeps);
    EXPECT_EQ("11", line.port.written);
}

TEST(BootLoaderExchange, AnswerOnlyCountsWhenWholeVisibleAndLowerCase) {
    const std::vector<std::vector<Reply>> notAnswers = {
        {{"ab"}, {"ort"}},                  // split over two reads
        {{std::string("x\0abort", 7)}},     // hidden behind a zero byte
        {{"ABORT"}},                        // wrong case
        {{"abort", Reply::kReadFails}},     // the read failed
        {{"abort", Reply::kReadsNothing}},  // the read brought nothing
    };
    for (const std::vector<Reply>& replies : notAnswers) {
        SCOPED_TRACE("first answer " + Escaped(replies.front().bytes));
        Line line;
        line.port.replies.assign(replies.begin(), replies.end());
        line.port.replies.push_back({"abort"});
        EXPECT_TRUE(WaitForBootLoader(line.port, line.clock));
        const std::string requests(replies.size() + 1, '1');
        EXPECT_EQ(requests, line.port.written) << "only the last, whole answer may end the wait";
        EXPECT_EQ(1, line.port.opens) << "an answer, even an unusable one, keeps the port open";
        EXPECT_EQ(100u * requests.size() + 500 + kOpenCostMs, line.port.Elapsed());
    }
}

TEST(BootLoaderExchange, AnswerMustSettleWithinLimit) {
    struct Case {
        uint32_t answerFromMs;  // the first request after this gets the answer
        bool answered;
    };
    // Silent passes take 102 ms; the reads fall at 39474, 39678 and 40086 ms.
    for (const Case& c : {Case{39300, true}, Case{39500, false}, Case{39950, false}}) {
        SCOPED_TRACE("answer from " + std::to_string(c.answerFromMs));
        Line line;
        line.port.replies = {{"abort", Reply::kRead, c.answerFromMs}};
        EXPECT_EQ(c.answered, WaitForBootLoader(line.port, line.clock));
        const uint32_t readAt = line.port.TimeOf("read 5");
        EXPECT_EQ(c.answered, readAt + 500 <= kLimitMs) << "read at " << readAt;
        EXPECT_EQ(readAt + (c.answered ? 500 : 1500), line.port.Elapsed());
        const Sleeps tail = c.answered ? Sleeps{100, 500} : Sleeps{100, 500, 1000};
        EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), line.clock.sleeps.rbegin()));
        EXPECT_FALSE(line.port.IsOpen());
    }
}

TEST(BootLoaderExchange, SilentTrackerIsReopenedEveryPassUntilLimit) {
    for (uint32_t start : {1000u, kNearWrapMs}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        Line line(start);
        EXPECT_FALSE(WaitForBootLoader(line.port, line.clock));
        // Each pass: open, "1", 100 ms for an answer, close; the next open follows at once.
        const uint32_t passes = static_cast<uint32_t>(line.port.written.size());
        Events expected;
        for (uint32_t pass = 0; pass <= passes; ++pass) {
            const uint32_t openAt = kOpenCostMs + pass * (100 + kOpenCostMs);
            const std::string at = std::to_string(openAt);
            if (pass == passes)  // the limit has passed: the port just reopened is closed again
                expected.insert(expected.end(), {at + " open", at + " close"});
            else
                expected.insert(expected.end(),
                                {at + " open", at + " write 1", std::to_string(openAt + 100) + " close"});
        }
        EXPECT_TRUE(SameEvents(expected, line.port.events));
        EXPECT_EQ(std::string(passes, '1'), line.port.written);
        EXPECT_EQ(passes + 1, line.clock.sleeps.size());
        ExpectGaveUpOnTime(line, 100 + kOpenCostMs);
    }
}

TEST(BootLoaderExchange, PortThatNeverOpensGivesUpWithoutWriting) {
    for (uint32_t start : {1000u, kNearWrapMs}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        Line line(start);
        line.port.canOpen = [] { return false; };
        EXPECT_FALSE(WaitForBootLoader(line.port, line.clock));
        EXPECT_EQ("", line.port.written);
        EXPECT_EQ((Sleeps{1000}), line.clock.sleeps) << "a failed open is retried with no pause";
        ExpectGaveUpOnTime(line, kOpenCostMs);
    }
}

TEST(BootLoaderExchange, PortFoundLaterStillGetsItsAnswer) {
    Line line(kNearWrapMs);  // the tick counter wraps while the port is still missing
    ScriptedPort& port = line.port;
    port.canOpen = [&port] { return port.Elapsed() >= 30000; };
    port.replies = {{"abort"}};
    EXPECT_TRUE(WaitForBootLoader(port, line.clock));
    EXPECT_EQ((Events{"30000 open", "30000 write 1", "30100 read 5", "30100 close"}), port.events);
    EXPECT_EQ((Sleeps{100, 500}), line.clock.sleeps);
    EXPECT_EQ(30600u, port.Elapsed());
}

// --- The reset command ------------------------------------------------------------------------

TEST(ResetCommand, SentOnceAfterPortSettles) {
    for (bool writeSucceeds : {true, false}) {
        SCOPED_TRACE(writeSucceeds ? "write succeeds" : "write fails");
        Line line;
        line.port.writeSucceeds = writeSucceeds;
        EXPECT_EQ(writeSucceeds, SendResetCommand(line.port, line.clock, VersionKnown));
        EXPECT_EQ((Events{"2 open", "1002 write 2", "1102 close"}), line.port.events);
        EXPECT_EQ((Sleeps{1000, 100, 1000}), line.clock.sleeps);
        EXPECT_EQ(2102u, line.port.Elapsed());
        EXPECT_FALSE(line.port.IsOpen());
    }
}

TEST(ResetCommand, UnknownWindowsVersionSkipsReset) {
    Line line;
    int queries = 0;
    EXPECT_FALSE(SendResetCommand(line.port, line.clock, [&] {
        ++queries;
        return false;
    }));
    EXPECT_EQ(1, queries);
    EXPECT_EQ(0, line.port.opens + line.port.failedOpens);
    EXPECT_EQ(0u, line.port.Elapsed());
}

TEST(ResetCommand, PortThatNeverOpensGivesUpPausingBetweenAttempts) {
    for (uint32_t start : {1000u, kNearWrapMs}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        Line line(start);
        line.port.canOpen = [] { return false; };
        // Attempts of 125 ms: one check falls exactly on the limit, which has not yet passed then.
        line.port.openCostMs = 25;
        EXPECT_FALSE(SendResetCommand(line.port, line.clock, VersionKnown));
        EXPECT_EQ("", line.port.written);
        Sleeps expected(line.port.failedOpens, 100);
        expected.push_back(1000);
        EXPECT_EQ(expected, line.clock.sleeps);
        ExpectGaveUpOnTime(line, 125);
    }
}

TEST(ResetCommand, PortFoundLaterGetsReset) {
    Line line;
    ScriptedPort& port = line.port;
    port.canOpen = [&port] { return port.Elapsed() >= 3000; };
    EXPECT_TRUE(SendResetCommand(port, line.clock, VersionKnown));
    ASSERT_EQ(3u, port.events.size());
    const uint32_t openedAt = port.TimeOf("open");
    EXPECT_GE(openedAt, 3000u);
    EXPECT_LE(openedAt, 3000u + 100 + kOpenCostMs);
    EXPECT_EQ(openedAt + 2100, port.Elapsed());
    EXPECT_EQ("2", port.written);
}

TEST(ResetCommand, PortOpeningNearLimitSendsButFails) {
    Line line;
    ScriptedPort& port = line.port;
    port.canOpen = [&port] { return port.Elapsed() >= 39500; };
    EXPECT_FALSE(SendResetCommand(port, line.clock, VersionKnown));
    EXPECT_EQ("2", port.written) << "exactly one write once the port opened";
    const uint32_t openedAt = port.TimeOf("open");
    EXPECT_EQ((Events{std::to_string(openedAt) + " open", std::to_string(openedAt + 1000) + " write 2",
                      std::to_string(openedAt + 1100) + " close"}),
              port.events);
    EXPECT_EQ(openedAt + 2100, port.Elapsed());
    EXPECT_TRUE(
        std::equal(line.clock.sleeps.end() - 3, line.clock.sleeps.end(), Sleeps{1000, 100, 1000}.begin()));
}

// --- The two pages' workers -------------------------------------------------------------------

TEST(ModeChangeWorkers, BootLoaderWaitReportsOnce) {
    Line answered;
    answered.port.replies = {{"abort"}};
    RecordingReport good;
    EXPECT_EQ(1, RunBootLoaderWait(answered.port, answered.clock, good));
    EXPECT_EQ((std::vector<std::string>{"succeeded"}), good.calls);

    Line silent;
    RecordingReport bad;
    EXPECT_EQ(0, RunBootLoaderWait(silent.port, silent.clock, bad));
    EXPECT_EQ((std::vector<std::string>{"failed"}), bad.calls);
    ExpectGaveUpOnTime(silent, 100 + kOpenCostMs);
}

TEST(ModeChangeWorkers, ResetWaitSucceedsWhenPortIsBackAtOnce) {
    Line line;
    RecordingReport report;
    EXPECT_EQ(1, RunResetWait(line.port, line.clock, VersionKnown, report));
    EXPECT_EQ((std::vector<std::string>{"succeeded"}), report.calls);
    EXPECT_EQ((Events{"2 open", "1002 write 2", "1102 close", "2104 open", "2104 close"}), line.port.events);
    EXPECT_EQ(2104u, line.port.Elapsed());
}

TEST(ModeChangeWorkers, ResetWaitCountsItsLimitAfresh) {
    // The reset returns 2102 ms into the test; the second start tick falls 4096 ms before the wrap.
    for (uint32_t start : {1000u, kNearWrapMs - 2102}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        Line line(start);
        ScriptedPort& port = line.port;
        port.canOpen = [&port] { return port.opens == 0; };
        RecordingReport report;
        EXPECT_EQ(0, RunResetWait(port, line.clock, VersionKnown, report));
        EXPECT_EQ((std::vector<std::string>{"failed"}), report.calls);
        EXPECT_EQ((Sleeps{1000, 100, 1000}), line.clock.sleeps) << "no pause between attempts";
        const uint32_t sinceReset = port.Elapsed() - 2102;
        EXPECT_GT(sinceReset, kLimitMs);
        EXPECT_LE(sinceReset, kLimitMs + kOpenCostMs);
    }
}

TEST(ModeChangeWorkers, ResetWaitSucceedsWhenPortComesBackLater) {
    Line line;
    ScriptedPort& port = line.port;
    port.canOpen = [&port] { return port.opens == 0 || port.Elapsed() >= 2102 + 39000; };
    RecordingReport report;
    EXPECT_EQ(1, RunResetWait(port, line.clock, VersionKnown, report));
    EXPECT_EQ((std::vector<std::string>{"succeeded"}), report.calls);
    EXPECT_EQ("41102 open", port.events.at(3));
    EXPECT_EQ(5u, port.events.size());
}

TEST(ModeChangeWorkers, FailedResetIsReportedWithoutWaiting) {
    Line unknown;
    RecordingReport first;
    EXPECT_EQ(0, RunResetWait(
                     unknown.port, unknown.clock, [] { return false; }, first));
    EXPECT_EQ((std::vector<std::string>{"failed"}), first.calls);
    EXPECT_EQ(0, unknown.port.opens + unknown.port.failedOpens);

    Line unsent;
    unsent.port.writeSucceeds = false;
    RecordingReport second;
    EXPECT_EQ(0, RunResetWait(unsent.port, unsent.clock, VersionKnown, second));
    EXPECT_EQ((std::vector<std::string>{"failed"}), second.calls);
    EXPECT_EQ(1, unsent.port.opens + unsent.port.failedOpens) << "no wait for the port after a failed reset";
}
