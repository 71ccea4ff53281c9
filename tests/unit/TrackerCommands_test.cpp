#include "link/TrackerCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedTracker.h"
#include "link/BootLoaderWork.h"
#include "link/RestartWork.h"

namespace {

constexpr uint32_t kOpenCostMs = 2;
constexpr uint32_t kLimitMs = kTrackerWaitLimitMs;
// The tick counter wraps 4096 ms into a wait that starts here.
constexpr uint32_t kNearWrapMs = 0xFFFFF000;

// The pages' workers: true when one reported success, which its exit code must agree with.
bool Reported(int exitCode, const RecordingReport& report) {
    EXPECT_EQ(exitCode == 1 ? L"succeeded; " : L"Превышено время ожидания! 16; ", report.log);
    return exitCode == 1;
}

bool BootLoaderWorkSucceeds(ScriptedTracker& port) {
    RecordingReport report;
    return Reported(RunBootLoaderWork(port, port.clock, report), report);
}

bool RestartWorkSucceeds(ScriptedTracker& port, bool versionKnown = true) {
    RecordingReport report;
    return Reported(RunRestartWork(
                        port, port.clock, [versionKnown] { return versionKnown; }, report),
                    report);
}

}  // namespace

TEST(BootLoaderWork, OnlyAWholeVisibleLowerCaseAnswerEndsIt) {
    // Any answer but the boot loader's keeps the port open for the next request.
    const struct {
        std::deque<Reply> notAnswers;
        size_t failingWrite;  // the write's result does not matter
    } kCases[] = {
        {{}, 0},
        {{}, 1},
        {{{{"ready\r\n"}}}, 0},
        {{{{"ab"}}, {{"ort"}}}, 0},             // split over two reads
        {{{{std::string("x\0abort", 7)}}}, 0},  // behind a zero byte
        {{{{"ABORT"}}}, 0},
        {{{{"abort"}, Reply::kReadFails}}, 0},
        {{{{"abort"}, Reply::kReadsNothing}}, 0},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        ScriptedTracker port(1000, kOpenCostMs);
        port.failingWrite = kCases[i].failingWrite;
        port.replies["1"] = kCases[i].notAnswers;
        port.replies["1"].push_back({{"xabortx"}});
        EXPECT_TRUE(BootLoaderWorkSucceeds(port));
        const size_t requests = kCases[i].notAnswers.size() + 1;
        EXPECT_EQ(requests, port.writes) << "only the last answer may end the wait";
        // The port closes on the answer; the user lets go once the boot loader has settled.
        EXPECT_EQ((Events{"open", "close"}), (Events{What(port.events.front()), What(port.events.back())}));
        EXPECT_GE(port.Elapsed() - At(port.events.back()), 500u);
    }
}

TEST(BootLoaderWork, BootLoaderMustHaveSettledWithinTheLimit) {
    // Silent passes take 102 ms, so the answer is read at 39474, 39678 or 40086 ms. One read
    // within the limit counts even when its 500 ms of settling run past it; after a late answer
    // comes the 1000 ms pause of giving up.
    const struct {
        uint32_t answerFromMs;
        bool answered;
        uint32_t endMs;
    } kCases[] = {{39300, true, 39974}, {39500, true, 40178}, {39950, false, 41086}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("answer from " + std::to_string(c.answerFromMs));
        ScriptedTracker port(1000, kOpenCostMs);
        port.replies["1"] = {{{"abort"}, Reply::kRead, c.answerFromMs}};
        EXPECT_EQ(c.answered, BootLoaderWorkSucceeds(port));
        EXPECT_EQ(c.endMs, port.Elapsed());
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST(BootLoaderWork, SilentTrackerIsOpenedAfreshEveryPassUntilTheLimit) {
    for (uint32_t start : {1000u, kNearWrapMs}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        ScriptedTracker port(start, kOpenCostMs);
        EXPECT_FALSE(BootLoaderWorkSucceeds(port));
        // Each pass opens the port, asks once and closes it when no answer came; the first pass
        // to end past the limit is the last, then the pause of giving up.
        const Events& events = port.events;
        for (size_t pass = 0; pass + 2 < events.size(); pass += 3)
            EXPECT_EQ((Events{"open", "write 1", "close"}),
                      (Events{What(events[pass]), What(events[pass + 1]), What(events[pass + 2])}));
        EXPECT_GT(At(events[events.size() - 3]), kLimitMs);
        EXPECT_LE(At(events[events.size() - 6]), kLimitMs);
        EXPECT_GE(port.Elapsed() - At(events.back()), 1000u);
    }
}

TEST(TrackerWaits, PortThatNeverOpensIsTriedWithPausesUntilTheLimitHasPassed) {
    // The attempt that first ends past the limit is the last; each is followed by a pause, so
    // that the wait leaves the processor to the rest of the PC.
    const struct {
        bool reset;
        uint32_t attemptMs;  // the open's cost and the pause after it
    } kCases[] = {{false, kOpenCostMs + kReopenPauseMs}, {true, 25 + 100}};
    for (const auto& c : kCases) {
        for (uint32_t start : {1000u, kNearWrapMs}) {
            SCOPED_TRACE(std::string(c.reset ? "reset" : "boot loader") + ", start tick " +
                         std::to_string(start));
            ScriptedTracker port(start, c.reset ? 25 : kOpenCostMs);
            port.canOpen = [] { return false; };
            EXPECT_FALSE(c.reset ? RestartWorkSucceeds(port) : BootLoaderWorkSucceeds(port));
            EXPECT_EQ(0, port.opensWithoutPause);
            const uint32_t waitedMs = port.Elapsed() - 1000;  // the pause of giving up
            EXPECT_GT(waitedMs, kLimitMs);
            EXPECT_LE(waitedMs, kLimitMs + c.attemptMs);
        }
    }
}

TEST(RestartWork, ResetGoesOutOnceThePortHasSettledThenTheRestartIsAwaited) {
    const struct {
        bool versionKnown;
        size_t failingWrite;
        bool succeeded;
        Events events;
    } kCases[] = {
        {true, 0, true, {"open", "write 2", "close", "open", "close"}},
        {true, 1, false, {"open", "write 2", "close"}},  // a reset that did not go out is not awaited
        {false, 0, false, {}},                           // without the system's version it is not tried
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.versionKnown) + std::to_string(c.failingWrite));
        ScriptedTracker port(1000, kOpenCostMs);
        port.failingWrite = c.failingWrite;
        EXPECT_EQ(c.succeeded, RestartWorkSucceeds(port, c.versionKnown));
        const Events& events = port.events;
        ASSERT_EQ(c.events, Whats(events));
        EXPECT_EQ(0, port.failedOpens);
        // The tracker's bridge passes a command on only a second after the port opens, and the
        // tracker needs a second to restart before its port is looked for.
        if (!events.empty()) {
            EXPECT_GE(At(events[1]) - At(events[0]), kBridgeSettleMs);
        }
        if (events.size() == 5) {
            EXPECT_GE(At(events[3]) - At(events[2]), 1000u);
        }
    }
}

TEST(RestartWork, PortThatOpensLateGetsTheResetButFailsPastTheLimit) {
    for (uint32_t opensFromMs : {3000u, 39500u}) {
        SCOPED_TRACE("opens from " + std::to_string(opensFromMs));
        ScriptedTracker port(1000, kOpenCostMs);
        port.canOpen = [&port, opensFromMs] { return port.Elapsed() >= opensFromMs; };
        // The reset goes out a second after the late open: past the 40 s it is a failure.
        EXPECT_EQ(opensFromMs < 39000, SendResetCommand(
                                           port, port.clock, [] { return true; }));
        EXPECT_EQ((Events{"open", "write 2", "close"}), Whats(port.events));
    }
}
