// The update session: what pressing the start button does.
#include <vector>

#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "script/ProcessLine.h"
#include "script/ScriptFile.h"
#include "script/Stamp.h"

namespace qx {

namespace {

// Each failure path of the session ends in the same words; the reason is
// already in the log (the download engine) or is a script fault.
class SessionFailed {};

DateTime ReadStamp(const Text& text) {
    DateTime stamp;
    if (!ParseStamp(text, stamp)) throw SessionFailed();
    return stamp;
}

}  // namespace

void FrmUpdate::cmdUpdate_Click() {
    IWindowUi& ui = p_.ui;
    try {
        ui.EnableUpdateButton(false);
        Message(u"正在读取服务器上的升级信息……");
        const Text scriptPath = DownloadFile(*this, u"/qxupdate/update.inf", Text(), false);
        if (scriptPath.empty()) throw SessionFailed();

        // The whole script is read at once: nothing is held open while the
        // lines run, and a script that replaces its own copy cannot disturb
        // the loop.
        const std::vector<Text> lines =
            SplitScriptLines(p_.codepage.FromAnsi(p_.files.ReadAll(scriptPath)));
        if (lines.empty()) throw SessionFailed();

        const Text app = ProgramBaseName();
        const DateTime stored = ReadStamp(p_.settings.GetSetting(app, u"System", u"Version", u"2000-01-01"));
        const DateTime scriptStamp = ReadStamp(lines[0]);
        Message(u"正在分析升级信息……");

        if (!(stored < scriptStamp)) {
            Message(u"你机器上的程序已经是最新，无需升级。");
            const int answer = ui.MsgBox(u"本机程序已经是最新版，\r\n确定仍要继续升级吗？",
                                         mb::kOkCancel | mb::kIconQuestion, AppTitle());
            if (answer != mb::kResultOk) {
                if (!blnQuit) ui.EnableUpdateButton(true);
                return;
            }
        }

        bool stoppedByLine = false;
        for (size_t i = 1; i < lines.size() && !blnQuit; ++i) {
            if (!ProcessLine(*this, lines[i])) {
                stoppedByLine = true;
                break;
            }
        }
        // Closing the window or handing over to another copy abandons the
        // session without another word.
        if (blnQuit) return;
        if (!stoppedByLine) {
            Message(u"升级完毕。");
            p_.settings.SaveSetting(app, u"System", u"Version", FormatStamp(scriptStamp));
        }
        ui.EnableUpdateButton(true);
    } catch (...) {
        // After the window has gone there is nobody to tell; a session told
        // to stop (its script download given up) ends without a word.
        if (!ui.IsAlive() || blnQuit) return;
        Err.Clear();
        Message(u"无法从服务器获取升级信息。");
        ui.EnableUpdateButton(true);
    }
}

}  // namespace qx
