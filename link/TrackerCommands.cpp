#include "link/TrackerCommands.h"

#include <cstring>
#include <vector>

#include "log/SupportLog.h"

namespace {

constexpr uint8_t kBootLoaderRequest = '1';
constexpr uint8_t kResetCommand = '2';
// The boot loader needs a moment to answer a request.
constexpr uint32_t kBootLoaderAnswerMs = 100;
// The user lets go of the power button when the page closes; give the boot loader time to
// settle first.
constexpr uint32_t kBootLoaderSettleMs = 500;
constexpr uint32_t kResetAfterWriteMs = 100;
// The tracker restarts on the command: its port goes away during this pause.
constexpr uint32_t kResetAfterCloseMs = 1000;
constexpr uint32_t kGiveUpPauseMs = 1000;

bool GiveUp(CommandPort& port, Clock& clock) {
    port.Close();
    clock.SleepMs(kGiveUpPauseMs);
    return false;
}

// Reads what is waiting in one piece and looks for the boot loader's answer in it.
bool ReadBootLoaderAnswer(CommandPort& port, uint32_t waiting) {
    std::vector<uint8_t> answer(waiting + 1);
    uint32_t bytesRead = 0;
    if (!port.Read(answer.data(), waiting, &bytesRead) || bytesRead == 0)
        return false;
    return IsBootLoaderAnswer(answer.data(), bytesRead);
}

}  // namespace

bool IsBootLoaderAnswer(const uint8_t* bytes, size_t count) {
    const char* text = reinterpret_cast<const char*>(bytes);
    const size_t length = strnlen(text, count);
    static const char kAnswer[] = "abort";
    const size_t answerLength = sizeof kAnswer - 1;
    for (size_t at = 0; at + answerLength <= length; ++at) {
        if (std::memcmp(text + at, kAnswer, answerLength) == 0)
            return true;
    }
    return false;
}

bool WaitForBootLoader(CommandPort& port, Clock& clock) {
    const uint32_t startMs = clock.NowMs();
    unsigned requests = 0;
    // The support log hears how the wait ended, and after how long.
    const auto timeOut = [&]() {
        LogLine("boot loader: no answer within %u ms, %u requests sent", kTrackerWaitLimitMs, requests);
        return GiveUp(port, clock);
    };
    for (;;) {
        if (!port.Open())
            clock.SleepMs(kReopenPauseMs);
        while (port.IsOpen()) {
            port.Write(&kBootLoaderRequest, 1);
            ++requests;
            clock.SleepMs(kBootLoaderAnswerMs);
            uint32_t waiting = 0;
            port.BytesWaiting(&waiting, nullptr);
            if (waiting == 0) {
                // A silent tracker may be restarting into its boot loader: its port can come
                // back as a new device, possibly under another name, so open it afresh.
                port.Close();
                port.Open();
            } else if (ReadBootLoaderAnswer(port, waiting)) {
                // An answer read within the limit counts, however little of it is left: the
                // settling pause may run past it.
                port.Close();
                if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs))
                    return timeOut();
                LogLine("boot loader: answered after %u ms, %u requests sent", clock.NowMs() - startMs,
                        requests);
                clock.SleepMs(kBootLoaderSettleMs);
                return true;
            }
            if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs))
                return timeOut();
        }
        if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs))
            return timeOut();
    }
}

bool SendResetCommand(CommandPort& port, Clock& clock, const std::function<bool()>& queryWindowsVersion) {
    const uint32_t startMs = clock.NowMs();
    bool sent = false;
    if (!queryWindowsVersion()) {
        LogLine("reset not sent: the system's version could not be read");
        return false;
    }
    for (;;) {
        if (port.Open()) {
            clock.SleepMs(kBridgeSettleMs);
            sent = port.Write(&kResetCommand, 1);
        }
        clock.SleepMs(kResetAfterWriteMs);
        if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs)) {
            LogLine("reset not sent: the port did not open within %u ms", kTrackerWaitLimitMs);
            return GiveUp(port, clock);
        }
        if (port.IsOpen()) {
            port.Close();
            LogLine("reset %s", sent ? "sent" : "not sent: the write failed");
            clock.SleepMs(kResetAfterCloseMs);
            return sent;
        }
    }
}
