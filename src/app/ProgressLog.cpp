// The progress list is the updater's only log, and Wait is the only place
// where a script pause lets the window breathe.
#include <cmath>

#include "app/frmUpdate.h"

namespace qx {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// The time-of-day count below wraps at midnight, so it can never reach a
// day; from one second short of that on, elapsed time is taken from the
// monotonic clock instead.
constexpr float kLongestTimeOfDayWait = 86399.0f;

double RoundHalfEven(double v) { return std::nearbyint(v); }

}  // namespace

void FrmUpdate::Message(const Text& strMsg) {
    p_.ui.AddListItem(strMsg);
    p_.ui.RefreshList();
    p_.ui.SetListIndex(p_.ui.ListCount() - 1);
}

void FrmUpdate::ErrLog(const Text& strSub) {
    Text line = strSub;
    // The details go after the operation's name whenever a failure is being
    // handled: administrators need the reason, not just the fact.
    if (Err.number != 0) {
        line += u"错误" + FromUtf8(std::to_string(Err.number)) + u"：" + Err.description;
        Err.Clear();
    }
    Message(line);
}

void FrmUpdate::Wait(float sngSeconds) {
    if (!std::isfinite(sngSeconds)) throw QxError(err::kOverflow, u"溢出");
    const float t0 = static_cast<float>(p_.clock.SecondsSinceMidnight());
    const uint64_t m0 = p_.clock.MonotonicMs();
    const bool longWait = sngSeconds >= kLongestTimeOfDayWait;
    for (;;) {
        const double sinceStart = static_cast<double>(p_.clock.MonotonicMs() - m0) / 1000.0;
        double e;
        if (longWait) {
            e = RoundHalfEven(sinceStart);
        } else {
            // Whole seconds elapsed by the time of day, right across midnight.
            e = std::fmod(RoundHalfEven(p_.clock.SecondsSinceMidnight() + kSecondsPerDay - t0),
                          kSecondsPerDay);
            // A clock set back or forward must not stretch a pause to a day.
            if (sinceStart > static_cast<double>(sngSeconds) + 1.0) return;
        }
        if (static_cast<double>(sngSeconds) < e) return;
        // Once the window is gone nobody is left to wait for.
        if (!p_.ui.IsAlive()) return;
        p_.ui.DoEvents();
        p_.clock.Sleep(10);
    }
}

}  // namespace qx
