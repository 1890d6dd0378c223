#include "config/WorkPath.h"

#include "download/DownloadFile.h"

namespace qx {

namespace {

// Characters no Windows file or folder name may hold; a colon only after
// the drive letter.
bool IsPossibleWindowsPath(const Text& path) {
    for (size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        if (c < 0x20 || Text(u"<>\"|?*").find(c) != Text::npos) return false;
        if (c == u':' && i != 1) return false;
    }
    return true;
}

}  // namespace

void DoSetWorkPath(IProgressLog& log, IFileSystem& files, SharedFields& dirs, const Text& strNewPath) {
    Text path = strNewPath;
    if (path.empty() || path.back() != u'\\') path += u'\\';
    // Not a folder that merely cannot be made: the script is wrong, and the
    // lines after it must not run in the old folder.
    if (!IsPossibleWindowsPath(path)) {
        throw QxError(err::kBadFileName, u"工作目录\"" + path + u"\"不是有效的文件夹名");
    }
    MyMkDir(files, path);
    // A folder that could not be made leaves the work folder as it was.
    if (!files.DirExists(path)) return;
    log.Message(u"正在设置工作目录\"" + path + u"\"……");
    dirs.strWorkDir = path;
    dirs.strTempDir = dirs.strWorkDir + u"Temp\\";
    MyMkDir(files, dirs.strTempDir);
}

}  // namespace qx
