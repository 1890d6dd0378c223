// The updater window: the whole program state and the procedures that work
// on it. The window itself is drawn by the platform (IWindowUi); this class
// decides what it shows and does, so tests can drive it with fakes.
#pragma once

#include <cstdint>

#include "app/PendingError.h"
#include "platform/platform.h"

namespace qx {

class FrmUpdate : NonCopyable {
public:
    explicit FrmUpdate(const Platform& platform);

    // --- Window state, shared by every procedure; none keeps a copy. ---
    Text strServerURL;
    bool blnQuit = false;
    Text strAppDir;
    Text strWinDir;
    Text strSysDir;
    Text strHostsFile;
    Text strDesktopDir;
    Text strStartMenuDir;
    Text strWorkDir;
    Text strTempDir;

    // The failure being handled, read by ErrLog.
    PendingError Err;

    // --- Identity ---
    static Text AppTitle();
    // major.minor.revision without leading zeros: 1.1.1
    static Text GetVersion();
    // File name of the running program without its extension.
    Text ProgramBaseName() const;

    // --- Start-up and closing ---
    // False when another copy of this program file already runs: the box
    // has been shown and the window must not be created.
    bool Form_Load();
    void Timer1_Timer();
    void CheckStartPara();
    void cmdClose_Click();
    // Runs whenever the window is about to close; never refuses.
    void Form_QueryUnload();
    void cmdUpdate_Click();

    // --- Progress log and waiting ---
    void Message(const Text& strMsg);
    void ErrLog(const Text& strSub = Text());
    // Seconds beyond the range of a single-precision number are an
    // overflow failure of the caller, not a wait without end.
    void Wait(float sngSeconds);
    Text GetRndString(int16_t intLen);

    const Platform& platform() const { return p_; }

private:
    Platform p_;
};

// The numeric conversion every caller of Wait goes through: a value outside
// the single-precision range raises an overflow, as the classic runtime did.
float ToSingle(double value);

}  // namespace qx
