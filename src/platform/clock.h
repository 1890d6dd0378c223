// Time and chance.
#pragma once

#include <cstdint>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

class IClock : NonCopyable {
public:
    virtual ~IClock() = default;
    // Local time of day in seconds since midnight, with a fraction.
    virtual double SecondsSinceMidnight() = 0;
    // Local date and time.
    virtual DateTime Now() = 0;
    // Milliseconds from an arbitrary start; never goes back, ignores midnight.
    virtual uint64_t MonotonicMs() = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
};

class IRandom : NonCopyable {
public:
    virtual ~IRandom() = default;
    // Uniform in [0, 1), from a source that differs between two calls in
    // the same clock tick.
    virtual double Next() = 0;
};

}  // namespace qx
