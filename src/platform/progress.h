// The progress list as the updater's procedures see it: the one place where
// they report what they do and why something failed.
#pragma once

#include "platform/PendingError.h"

namespace qx {

class IProgressLog {
public:
    virtual ~IProgressLog() = default;
    virtual void Message(const Text& strMsg) = 0;
    // Writes strSub followed by the pending failure's number and
    // description, if there is one, and clears it.
    virtual void ErrLog(const Text& strSub = Text()) = 0;
    // Seconds beyond the range of a single-precision number are an overflow
    // failure of the caller, not a wait without end.
    virtual void Wait(float sngSeconds) = 0;
    // The failure being handled, read by ErrLog.
    virtual PendingError& Pending() = 0;
};

// For procedures that handle their own failures: call inside a catch block
// to log the failure being handled after strSub and go on.
void LogFailure(IProgressLog& log, const Text& strSub);

}  // namespace qx
