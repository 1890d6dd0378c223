#include "config/SetUpdateIP.h"

#include "config/HandOver.h"

namespace qx {

void DoSetUpdateIP(FrmUpdate& form, const Text& strIP) {
    try {
        const Platform& p = form.platform();
        const Text strBase = form.strAppDir + form.ProgramBaseName();
        const Text strInstalled = strBase + u".exe";
        const Text strCopy = strBase + u"Temp.exe";
        p.files.Copy(strInstalled, strCopy);
        form.Message(u"正在设置升级服务器地址……");
        const Text strTag = form.GetRndString(kHandOverTagLength);
        p.ui.SetCaption(strTag);
        p.settings.SaveSetting(kHandOverApp, kHandOverSection, kOldExePathKey, strInstalled);
        p.settings.SaveSetting(kHandOverApp, kHandOverSection, kServerIPKey, strIP);
        p.process.Start(HandOverCommandLine(strCopy, strTag), winstyle::kNormalFocus);
        // This copy now waits, window open, for the copy to close it.
        form.blnQuit = true;
    } catch (...) {
        form.Err.TakeCurrentException();
        form.ErrLog(u"设置升级服务器IP地址");
    }
}

}  // namespace qx
