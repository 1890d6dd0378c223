#include "download/DownloadCommands.h"

#include "download/TextUtils.h"
#include "download/DownloadFile.h"
#include "download/Pin.h"
#include "download/ServerPath.h"

namespace qx {

namespace {

// The target of create and update: the file name of the reference when no
// target is given, under the work folder unless it names a drive.
Text WorkTarget(const Text& strWorkDir, const Text& strURL, const Text& strLocalFile) {
    Text target = strLocalFile;
    if (target.empty()) target = StrRightBack(StrLeft(strURL + u"?", u"?"), u"/");
    if (target.find(u':') == Text::npos) target = strWorkDir + target;
    return target;
}

// The digest the line requires, or false after logging why it may not
// download at all.
[[nodiscard]] bool PinnedDigest(const DownloadContext& c, const Text& strURL, const Text& strPin, Bytes& digest) {
    const Pin pin = ParsePin(strPin);
    if (pin.state == Pin::kMalformed) {
        c.log.ErrLog(u"文件" + Quoted(strURL) + u"的校验值格式错误，未下载。");
        return false;
    }
    if (pin.state == Pin::kNone && c.pinsRequired) {
        c.log.ErrLog(u"文件" + Quoted(strURL) + u"没有校验值，未下载。");
        return false;
    }
    digest = pin.digest;
    return true;
}

}  // namespace

Text DoDown(const DownloadContext& c, const Text& strURL, const Text& strLocalFile, const Text& strPin) {
    c.log.Message(u"正在下载文件" + Quoted(strURL) + u"……");
    Bytes digest;
    if (!PinnedDigest(c, strURL, strPin, digest)) return Text();
    return DownloadFile(c, ServerReference(strURL), strLocalFile, false, digest);
}

Text DoCreate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile, const Text& strPin) {
    c.log.Message(u"正在创建文件" + Quoted(strURL) + u"……");
    Bytes digest;
    if (!PinnedDigest(c, strURL, strPin, digest)) return Text();
    const Text url = ServerReference(strURL);
    const Text target = WorkTarget(c.fields.strWorkDir, url, strLocalFile);
    if (c.files.FileExists(target)) return Text();
    return DownloadFile(c, url, target, true, digest);
}

Text DoUpdate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile, const Text& strPin) {
    c.log.Message(u"正在更新文件" + Quoted(strURL) + u"……");
    Bytes digest;
    if (!PinnedDigest(c, strURL, strPin, digest)) return Text();
    const Text url = ServerReference(strURL);
    return DownloadFile(c, url, WorkTarget(c.fields.strWorkDir, url, strLocalFile), true, digest);
}

}  // namespace qx
