// Virtual time for unit tests: sleeping moves the tick count on at once, and every sleep is
// recorded so that tests can check the pauses the code makes.
#pragma once
#include <cstdint>
#include <vector>

#include "link/Clock.h"

class FakeClock : public Clock {
public:
    explicit FakeClock(uint32_t startMs = 1000) : now_(startMs) {}
    uint32_t NowMs() override { return now_; }
    void SleepMs(uint32_t ms) override {
        sleeps.push_back(ms);
        now_ += ms;
    }
    void Advance(uint32_t ms) { now_ += ms; }

    std::vector<uint32_t> sleeps;

private:
    uint32_t now_;
};
