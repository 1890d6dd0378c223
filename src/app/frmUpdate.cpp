#include "app/frmUpdate.h"

#include "config/HandOver.h"
#include "download/TextUtils.h"
#include "script/Paths.h"
#include "version.h"

namespace qx {

FrmUpdate::FrmUpdate(const Platform& platform) : p_(platform) {}

Text FrmUpdate::AppTitle() { return u"在线升级程序"; }

Text FrmUpdate::GetVersion() {
    return Decimal(kVersionMajor) + u"." + Decimal(kVersionMinor) + u"." + Decimal(kVersionRevision);
}

Text FrmUpdate::ProgramBaseName() const {
    Text path = p_.process.ProgramPath();
    const size_t slash = path.find_last_of(u"\\/");
    Text name = slash == Text::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(u'.');
    return dot == Text::npos ? name : name.substr(0, dot);
}

bool FrmUpdate::Form_Load() {
    if (p_.process.PreviousInstanceRunning()) {
        p_.ui.MsgBox(AppTitle() + u"程序已经运行！", mb::kOkOnly, AppTitle());
        return false;
    }
    p_.ui.SetCaption(AppTitle() + u"(版本" + GetVersion() + u")");
    p_.ui.AddMenu();
    strWorkDir = u"c:\\qxwork\\";
    strTempDir = strWorkDir + u"temp\\";
    InitPaths(*this);
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
            UpdateThisApp(*this, para);
        } else {
            DeleteLeftOverCopy(*this);
        }
        p_.ui.EnableUpdateButton(true);
    } catch (...) {
        p_.ui.EnableUpdateButton(true);
        Err.TakeCurrentException();
        ErrLog(u"检查启动参数");
    }
}

void FrmUpdate::cmdClose_Click() { p_.ui.Close(); }

void FrmUpdate::Form_QueryUnload() { blnQuit = true; }

}  // namespace qx
