#include "config/SetUpdateIP.h"

#include "config/HandOver.h"
#include "download/Naming.h"

namespace qx {

void DoSetUpdateIP(const Platform& p, IProgressLog& log, const Text& strAppDir, bool& blnQuit, const Text& strIP) {
    try {
        const Text strBase = strAppDir + ProgramBaseName(p.process);
        const Text strInstalled = strBase + u".exe";
        const Text strCopy = strBase + u"Temp.exe";
        p.files.Copy(strInstalled, strCopy);
        log.Message(u"正在设置升级服务器地址……");
        const Text strTag = GetRndString(p.random, kHandOverTagLength);
        p.ui.SetCaption(strTag);
        p.settings.SaveSetting(kHandOverApp, kHandOverSection, kOldExePathKey, strInstalled);
        p.settings.SaveSetting(kHandOverApp, kHandOverSection, kServerIPKey, strIP);
        p.process.Start(HandOverCommandLine(strCopy, strTag), winstyle::kNormalFocus);
        // This copy now waits, window open, for the copy to close it.
        blnQuit = true;
    } catch (...) {
        LogFailure(log, u"设置升级服务器IP地址");
    }
}

}  // namespace qx
