// The updater window: the whole program state and the procedures that work
// on it. The window itself is drawn by the platform (IWindowUi); this class
// decides what it shows and does, so tests can drive it with fakes.
#pragma once

#include <cstdint>

#include "download/DownloadFile.h"
#include "download/Naming.h"
#include "download/SharedFields.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "script/ScriptContext.h"

namespace qx {

// The ten shared fields (strServerURL, blnQuit, the folders) come from
// SharedFields: every procedure reads them from this one window.
class FrmUpdate : public SharedFields, public IProgressLog, NonCopyable {
public:
    explicit FrmUpdate(const Platform& platform);

    // The failure being handled, read by ErrLog.
    PendingError Err;

    // --- Identity ---
    static Text AppTitle() { return qx::AppTitle(); }
    static Text GetVersion() { return qx::GetVersion(); }
    Text ProgramBaseName() const { return qx::ProgramBaseName(p_.process); }

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
    void Message(const Text& strMsg) override;
    void ErrLog(const Text& strSub = Text()) override;
    void Wait(float sngSeconds) override;
    PendingError& Pending() override { return Err; }

    const Platform& platform() const { return p_; }
    // What the procedures below the window get instead of the window.
    ScriptContext Script() { return {p_, *this, *this}; }
    DownloadContext Downloads() { return Script().Downloads(); }

private:
    Platform p_;
};

}  // namespace qx
