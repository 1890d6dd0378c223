#include "config/VersionCheck.h"

#include <cmath>

#include "config/HandOver.h"
#include "download/DownloadCommands.h"
#include "download/Naming.h"
#include "download/TextUtils.h"

namespace qx {

namespace {

// The decimal number a part begins with, blanks before it skipped; 0 when
// it does not begin with one.
double PartValue(const Text& part) {
    size_t i = 0;
    while (i < part.size() && IsBlank(part[i])) ++i;
    double sign = 1;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) {
        if (part[i] == u'-') sign = -1;
        ++i;
    }
    double value = 0;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i) value = value * 10 + (part[i] - u'0');
    return sign * value;
}

}  // namespace

double GetVersionNumber(const Text& strVer) {
    if (strVer.empty()) return 0;
    double number = 0;
    size_t begin = 0;
    for (int i = 0;; ++i) {
        const size_t dot = strVer.find(u'.', begin);
        const Text part = strVer.substr(begin, dot == Text::npos ? Text::npos : dot - begin);
        number += PartValue(part) * std::pow(10.0, 4.0 - 4.0 * i);
        if (dot == Text::npos) break;
        begin = dot + 1;
    }
    return number;
}

void DoCheckVersion(const DownloadContext& dl, const Platform& p, bool& blnQuit, const Text& strNewFile,
                    const Text& strVer, const Text& strPin) {
    try {
        dl.log.Message(u"正在检查版本号……");
        const double current = GetVersionNumber(GetVersion());
        const double offered = GetVersionNumber(strVer);
        if (!(offered > current)) return;

        const Text strBase = ProgramBaseName(p.process);
        const Text strInstalled = dl.fields.strAppDir + strBase + u".exe";
        const Text strTarget = dl.fields.strTempDir + strBase + u"Temp.exe";
        const Text strDownloaded = DoDown(dl, strNewFile, strTarget, strPin);
        // The download has said why; the script goes on with this version.
        if (strDownloaded.empty()) return;

        dl.log.Message(u"正在启动新的更新程序……");
        const Text strTag = GetRndString(p.random, kHandOverTagLength);
        p.ui.SetCaption(strTag);
        p.settings.SaveSetting(kHandOverApp, kHandOverSection, kOldExePathKey, strInstalled);
        p.process.Start(HandOverCommandLine(strDownloaded, strTag), winstyle::kNormalFocus);
        // The session stops before its next line; the new copy closes this one.
        blnQuit = true;
    } catch (...) {
        LogFailure(dl.log, u"检查版本号");
    }
}

}  // namespace qx
