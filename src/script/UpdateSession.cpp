#include "script/UpdateSession.h"

#include <vector>

#include "config/ScriptSignature.h"
#include "download/Naming.h"
#include "script/ProcessLine.h"
#include "script/ScriptFile.h"
#include "script/Stamp.h"

namespace qx {

namespace {

// False when the script could not be fetched or read; the reason is already
// in the log (the download engine) or is a script fault.
[[nodiscard]] bool RunScript(const ScriptContext& c) {
    IWindowUi& ui = c.p.ui;
    ui.EnableUpdateButton(false);
    c.log.Message(u"正在读取服务器上的升级信息……");
    const Text scriptPath = DownloadFile(c.Downloads(), u"/qxupdate/update.inf", Text(), false);
    if (scriptPath.empty()) return false;

    // The whole script is read at once: nothing is held open while the
    // lines run, and a script that replaces its own copy cannot disturb the
    // loop. The bytes read are the bytes checked.
    const Bytes script = c.p.files.ReadAll(scriptPath);
    // From the running file itself: a work folder chosen elsewhere must not
    // be able to switch the check off.
    const ProgramKey key = ReadProgramKey(c.p.files, c.p.process.ProgramPath());
    if (key.present) {
        Bytes body;
        std::optional<Bytes> signature;
        if (FetchSmallFile(c.Downloads(), u"/qxupdate/update.inf.sig", kMaxSignatureFileSize, body)) signature = body;
        if (c.fields.blnQuit || !ui.IsAlive()) return true;
        if (!ScriptRuns(JudgeScript(c.p.crypto, key, script, signature))) {
            c.log.Message(u"升级信息的签名无效，没有做任何更改。");
            ui.EnableUpdateButton(true);
            return true;
        }
    }
    const ScriptContext lineContext{c.p, c.log, c.fields, key.present};

    const std::vector<Text> lines = SplitScriptLines(c.p.codepage.FromAnsi(script));
    if (lines.empty()) return false;

    const Text app = ProgramBaseName(c.p.process);
    DateTime stored;
    DateTime scriptStamp;
    if (!ParseStamp(c.p.settings.GetSetting(app, u"System", u"Version", u"2000-01-01"), stored) ||
        !ParseStamp(lines[0], scriptStamp)) {
        return false;
    }
    c.log.Message(u"正在分析升级信息……");

    bool& blnQuit = c.fields.blnQuit;
    if (!(stored < scriptStamp)) {
        c.log.Message(u"你机器上的程序已经是最新，无需升级。");
        const int answer = ui.MsgBox(u"本机程序已经是最新版，\r\n确定仍要继续升级吗？",
                                     mb::kOkCancel | mb::kIconQuestion, AppTitle());
        if (answer != mb::kResultOk) {
            if (!blnQuit) ui.EnableUpdateButton(true);
            return true;
        }
    }

    bool stoppedByLine = false;
    for (size_t i = 1; i < lines.size() && !blnQuit; ++i) {
        if (!ProcessLine(lineContext, lines[i])) {
            stoppedByLine = true;
            break;
        }
    }
    // Closing the window or handing over to another copy abandons the
    // session without another word.
    if (blnQuit) return true;
    if (!stoppedByLine) {
        c.log.Message(u"升级完毕。");
        c.p.settings.SaveSetting(app, u"System", u"Version", FormatStamp(scriptStamp));
    }
    ui.EnableUpdateButton(true);
    return true;
}

}  // namespace

void RunUpdateSession(const ScriptContext& c) {
    bool ran = false;
    try {
        ran = RunScript(c);
    } catch (...) {
        // A failure no line handled: the session ends like a script that
        // could not be read.
    }
    if (ran) return;
    // After the window has gone there is nobody to tell; a session told to
    // stop (its script download given up) ends without a word.
    if (!c.p.ui.IsAlive() || c.fields.blnQuit) return;
    c.log.Pending().Clear();
    c.log.Message(u"无法从服务器获取升级信息。");
    c.p.ui.EnableUpdateButton(true);
}

}  // namespace qx
