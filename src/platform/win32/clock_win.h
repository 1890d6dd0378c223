// The Windows clocks and the system's random source.
#pragma once

#include "platform/clock.h"

namespace qx {

// Local time from the system clock; the monotonic count from the
// performance counter, which never goes back and does not wrap.
class Win32Clock final : public IClock {
public:
    double SecondsSinceMidnight() override;
    DateTime Now() override;
    uint64_t MonotonicMs() override;
    void Sleep(unsigned milliseconds) override;
};

// Draws from the system's cryptographic generator, so values do not repeat
// when two copies of the updater ask within the same clock tick (a seed
// taken from the clock would make their hand-over tags collide).
class Win32Random final : public IRandom {
public:
    double Next() override;
};

}  // namespace qx
