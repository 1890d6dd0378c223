#include "download/DownloadCommands.h"

#include "download/TextUtils.h"
#include "download/DownloadFile.h"
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

}  // namespace

Text DoDown(const DownloadContext& c, const Text& strURL, const Text& strLocalFile) {
    c.log.Message(u"正在下载文件" + Quoted(strURL) + u"……");
    return DownloadFile(c, ServerReference(strURL), strLocalFile, false);
}

Text DoCreate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile) {
    c.log.Message(u"正在创建文件" + Quoted(strURL) + u"……");
    const Text url = ServerReference(strURL);
    const Text target = WorkTarget(c.fields.strWorkDir, url, strLocalFile);
    if (c.files.FileExists(target)) return Text();
    return DownloadFile(c, url, target, true);
}

Text DoUpdate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile) {
    c.log.Message(u"正在更新文件" + Quoted(strURL) + u"……");
    const Text url = ServerReference(strURL);
    return DownloadFile(c, url, WorkTarget(c.fields.strWorkDir, url, strLocalFile), true);
}

}  // namespace qx
