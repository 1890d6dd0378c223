#include "app/frmUpdate.h"

#include "config/HandOver.h"
#include "download/TextUtils.h"
#include "script/Paths.h"
#include "script/UpdateSession.h"

namespace qx {

FrmUpdate::FrmUpdate(const Platform& platform) : p_(platform) {}

bool FrmUpdate::Form_Load() {
    if (p_.process.PreviousInstanceRunning()) {
        p_.ui.MsgBox(AppTitle() + u"程序已经运行！", mb::kOkOnly, AppTitle());
        return false;
    }
    p_.ui.SetCaption(AppTitle() + u"(版本" + GetVersion() + u")");
    p_.ui.AddMenu();
    strWorkDir = u"c:\\qxwork\\";
    strTempDir = strWorkDir + u"temp\\";
    InitPaths(p_, *this);
    return true;
}

void FrmUpdate::Timer1_Timer() {
    p_.ui.StopStartTimer();
    CheckStartPara();
}

void FrmUpdate::CheckStartPara() {
    try {
        const Text para = Trim(p_.process.CommandLine());
        // Another copy of the updater started this one to take over.
        if (para.size() == 32) {
            UpdateThisApp(p_, *this, strAppDir, para);
        } else {
            DeleteLeftOverCopy(p_);
        }
        p_.ui.EnableUpdateButton(true);
    } catch (...) {
        p_.ui.EnableUpdateButton(true);
        LogFailure(*this, u"检查启动参数");
    }
}

void FrmUpdate::cmdClose_Click() { p_.ui.Close(); }

void FrmUpdate::Form_QueryUnload() { blnQuit = true; }

void FrmUpdate::cmdUpdate_Click() { RunUpdateSession(Script()); }

}  // namespace qx
