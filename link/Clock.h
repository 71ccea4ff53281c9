// The one place where code that waits asks for the time. Production reads the performance
// counter and sleeps; unit tests pass a virtual clock so that a 40 s limit runs in microseconds.
#pragma once
#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds; wraps after about 49.7 days, so compare only as uint32_t(now - start) >= limit.
    virtual uint32_t NowMs() = 0;
    // Returns once at least ms have passed by NowMs.
    virtual void SleepMs(uint32_t ms) = 0;
};

// True once more than limitMs have passed: the tracker's limits are "more than 40000 ms".
inline bool HasExceeded(uint32_t nowMs, uint32_t startMs, uint32_t limitMs) {
    return static_cast<uint32_t>(nowMs - startMs) > limitMs;
}

Clock& SystemClock();
