#include "link/Clock.h"

#include <windows.h>

namespace {

class WindowsClock : public Clock {
public:
    uint32_t NowMs() override { return GetTickCount(); }
    void SleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
    static WindowsClock clock;
    return clock;
}
