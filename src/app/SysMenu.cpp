#include "app/SysMenu.h"

#include "config/SetUpdateIP.h"
#include "config/Trailer.h"

namespace qx {

void PromptSetIP(FrmUpdate& form) {
    Text prompt = u"请输入在线升级服务器的IP地址：";
    // Showing the dialog and handing the answer over are retried with the
    // second prompt when they fail; the callees report their own failures.
    const Platform& p = form.platform();
    for (int attempt = 0; attempt < 3; ++attempt) {
        try {
            const Text current = GetServerIP(p.files, p.codepage, InstalledProgramFile(p.process, form.strAppDir));
            const Text answer = p.ui.InputBox(prompt, FrmUpdate::AppTitle(), current);
            if (answer.empty()) return;
            DoSetUpdateIP(p, form, form.strAppDir, form.blnQuit, answer);
            return;
        } catch (...) {
            form.Err.Clear();
            prompt = u"输入的在线升级服务器IP地址无效，请重新输入：";
        }
    }
}

}  // namespace qx
