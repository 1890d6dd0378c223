#include "download/DownloadCommands.h"

#include "download/TextUtils.h"
#include "download/DownloadFile.h"
#include "download/ServerPath.h"

namespace qx {

namespace {

// The target of create and update: the file name of the reference when no
// target is given, under the work folder unless it names a drive.
Text WorkTarget(const FrmUpdate& form, const Text& strURL, const Text& strLocalFile) {
    Text target = strLocalFile;
    if (target.empty()) target = StrRightBack(StrLeft(strURL + u"?", u"?"), u"/");
    if (target.find(u':') == Text::npos) target = form.strWorkDir + target;
    return target;
}

}  // namespace

Text DoDown(FrmUpdate& form, const Text& strURL, const Text& strLocalFile) {
    form.Message(u"正在下载文件" + Quoted(strURL) + u"……");
    return DownloadFile(form, ServerReference(strURL), strLocalFile, false);
}

Text DoCreate(FrmUpdate& form, const Text& strURL, const Text& strLocalFile) {
    form.Message(u"正在创建文件" + Quoted(strURL) + u"……");
    const Text url = ServerReference(strURL);
    const Text target = WorkTarget(form, url, strLocalFile);
    if (form.platform().files.FileExists(target)) return Text();
    return DownloadFile(form, url, target, true);
}

Text DoUpdate(FrmUpdate& form, const Text& strURL, const Text& strLocalFile) {
    form.Message(u"正在更新文件" + Quoted(strURL) + u"……");
    const Text url = ServerReference(strURL);
    return DownloadFile(form, url, WorkTarget(form, url, strLocalFile), true);
}

}  // namespace qx
