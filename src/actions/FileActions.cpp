#include "actions/FileActions.h"

#include "download/Naming.h"
#include "download/TextUtils.h"

namespace qx {

namespace {

// Message-box flags: the stop icon with an OK button only.
constexpr int kStopBox = 16;

}  // namespace

Text ResolveBareName(const Text& strPath, const Text& strFolder) {
    if (strPath.find(u'\\') != Text::npos) return strPath;
    return strFolder + strPath;
}

void DoDelete(IProgressLog& log, IFileSystem& files, const Text& strWorkDir, const Text& strFile) {
    log.Message(u"正在删除文件" + Quoted(strFile) + u"……");
    const Text path = ResolveBareName(strFile, strWorkDir);
    try {
        // Clearing the attributes of a folder named by mistake (an empty
        // name resolves to the work folder) would strip the read-only and
        // system marks the shell keeps on special folders.
        if (files.DirExists(path)) {
            throw QxError(err::kPathFileAccess, u"删除文件" + Quoted(path) + u"失败：这是一个文件夹");
        }
        // Read-only, hidden and system files must go too.
        files.SetAttributes(path, attr::kNormal);
        files.Delete(path);
    } catch (const std::exception&) {
        LogFailure(log, u"删除文件" + Quoted(path));
    }
}

bool DoCheckWritable(IProgressLog& log, IFileSystem& files, IWindowUi& ui, const Text& strWorkDir,
                     const Text& strFile) {
    log.Message(u"正在检测文件" + Quoted(strFile) + u"……");
    const Text path = ResolveBareName(strFile, strWorkDir);
    // A file that is not there cannot be held by anyone. Opening it to find
    // out would leave an empty file behind, which a later create line would
    // take for the real one and never download.
    if (!files.FileExists(path) && !files.DirExists(path)) return true;
    if (files.CanOpenExclusively(path)) return true;

    const Text text = u"文件" + Quoted(path) + u"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。";
    log.Message(text);
    ui.MsgBox(text, mb::kOkOnly | kStopBox, AppTitle());
    return false;
}

void DoCopy(IProgressLog& log, IFileSystem& files, const SharedFields& dirs, const Text& strFrom, const Text& strTo,
            bool blnOverWrite) {
    log.Message(u"正在复制文件" + Quoted(strFrom) + u"……");
    // A line naming only the source copies the download to the same name
    // in the work folder.
    const Text to = ResolveBareName(strTo.empty() ? strFrom : strTo, dirs.strWorkDir);
    const Text from = ResolveBareName(strFrom, dirs.strTempDir);
    try {
        if (!blnOverWrite) {
            // Hidden and system files count as existing targets too.
            if (!files.List(to, attr::kHidden | attr::kSystem).empty()) return;
        }
        files.Copy(from, to);
    } catch (const std::exception&) {
        LogFailure(log, u"复制文件" + Quoted(from));
    }
}

}  // namespace qx
