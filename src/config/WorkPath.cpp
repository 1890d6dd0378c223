#include "config/WorkPath.h"

#include "download/DownloadFile.h"

namespace qx {

void DoSetWorkPath(FrmUpdate& form, const Text& strNewPath) {
    Text path = strNewPath;
    if (path.empty() || path.back() != u'\\') path += u'\\';
    MyMkDir(form, path);
    // A folder that could not be made leaves the work folder as it was.
    if (!form.platform().files.DirExists(path)) return;
    form.Message(u"正在设置工作目录\"" + path + u"\"……");
    form.strWorkDir = path;
    form.strTempDir = form.strWorkDir + u"Temp\\";
    MyMkDir(form, form.strTempDir);
}

}  // namespace qx
