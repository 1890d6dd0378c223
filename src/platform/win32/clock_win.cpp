#include "platform/win32/clock_win.h"

#include <windows.h>
// RtlGenRandom lives in advapi32, which the program links anyway; BCrypt
// would add a library for no gain.
#include <ntsecapi.h>

namespace qx {

double Win32Clock::SecondsSinceMidnight() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
}

DateTime Win32Clock::Now() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    DateTime dt;
    dt.year = st.wYear;
    dt.month = st.wMonth;
    dt.day = st.wDay;
    dt.hour = st.wHour;
    dt.minute = st.wMinute;
    dt.second = st.wSecond;
    return dt;
}

uint64_t Win32Clock::MonotonicMs() {
    // The performance counter rather than the tick count: the tick count
    // moves in steps of about 16 ms, a large error for the short waits
    // measured with it, and its 32-bit form wraps after 49.7 days.
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    const uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
    // Split so that ticks * 1000 cannot overflow on a long-running machine.
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

void Win32Clock::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

double Win32Random::Next() {
    uint64_t bits = 0;
    if (!RtlGenRandom(&bits, sizeof bits)) {
        throw QxError(err::kInvalidCall, u"系统随机数不可用");
    }
    // The top 53 bits fill a double's mantissa exactly, so every result is
    // a multiple of 2^-53 strictly below 1.
    return static_cast<double>(bits >> 11) * (1.0 / 9007199254740992.0);
}

}  // namespace qx
