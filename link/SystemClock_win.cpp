#include "link/Clock.h"

#include <windows.h>

namespace {

// The performance counter, not the tick count: the tick count moves in steps of the system's
// timer (15.6 ms by default), far coarser than the waits on the tracker's line. And Sleep may
// end up to a tick early or late, so a sleep is made whole by the counter: no wait ends before
// its stated length, and none counts a Sleep at its nominal length.
class PerformanceCounterClock : public Clock {
public:
    PerformanceCounterClock() { ::QueryPerformanceFrequency(&frequency_); }
    uint32_t NowMs() override {
        LARGE_INTEGER count;
        ::QueryPerformanceCounter(&count);
        return static_cast<uint32_t>(count.QuadPart / frequency_.QuadPart * 1000 +
                                     count.QuadPart % frequency_.QuadPart * 1000 / frequency_.QuadPart);
    }
    void SleepMs(uint32_t ms) override {
        const uint32_t startMs = NowMs();
        for (uint32_t sleptMs = 0; sleptMs < ms; sleptMs = NowMs() - startMs)
            ::Sleep(ms - sleptMs);
    }

private:
    LARGE_INTEGER frequency_;
};

}  // namespace

Clock& SystemClock() {
    static PerformanceCounterClock clock;
    return clock;
}
