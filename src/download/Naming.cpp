#include "download/Naming.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "download/TextUtils.h"
#include "version.h"

namespace qx {

Text AppTitle() { return u"在线升级程序"; }

Text GetVersion() {
    return Decimal(kVersionMajor) + u"." + Decimal(kVersionMinor) + u"." + Decimal(kVersionRevision);
}

Text GetRndString(IRandom& random, int16_t intLen) {
    std::string s;
    while (static_cast<int>(s.size()) < intLen) {
        const double r = random.Next();
        const auto n = static_cast<unsigned long long>(std::nearbyint(r * 1000000000.0));
        char buf[32];
        std::snprintf(buf, sizeof buf, "%llX", n);
        s += buf;
    }
    if (intLen <= 0) return Text();
    return FromUtf8(s.substr(0, static_cast<size_t>(intLen)));
}

Text ProgramBaseName(IProcessService& process) {
    const Text path = process.ProgramPath();
    const size_t slash = path.find_last_of(u"\\/");
    const Text name = slash == Text::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(u'.');
    return dot == Text::npos ? name : name.substr(0, dot);
}

Text InstalledProgramFile(IProcessService& process, const Text& strAppDir) {
    return strAppDir + ProgramBaseName(process) + u".exe";
}

}  // namespace qx
