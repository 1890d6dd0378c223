#include "actions/ProgramActions.h"

#include "download/TextUtils.h"

#include "actions/KeySequence.h"
#include "actions/WindowStyle.h"
#include "download/NumericValue.h"

namespace qx {

namespace {

// A text without any backslash names something in the work folder; for a
// command line the test covers the arguments too.
Text ResolveBareName(const Text& strWorkDir, const Text& name) {
    return name.find(u'\\') == Text::npos ? strWorkDir + name : name;
}

// The program of a bare command line: up to the first blank, or the text
// between the quotes that open it.
Text ProgramOf(const Text& command) {
    if (!command.empty() && command[0] == u'"') {
        const size_t close = command.find(u'"', 1);
        return command.substr(1, close == Text::npos ? Text::npos : close - 1);
    }
    return command.substr(0, command.find(u' '));
}

// A bare command names a program in the work folder; when there is none of
// that name, the system and Windows folders are looked in, so that
// notepad.exe means what a Windows user means by it. Failing all three, the
// work folder stays, and the start reports the file as missing there.
Text ResolveCommand(IFileSystem& files, const SharedFields& dirs, const Text& command) {
    if (command.find(u'\\') != Text::npos) return command;
    const Text program = ProgramOf(command);
    for (const Text* folder : {&dirs.strWorkDir, &dirs.strSysDir, &dirs.strWinDir}) {
        try {
            if (!program.empty() && !folder->empty() && files.FileExists(*folder + program)) {
                return *folder + command;
            }
        } catch (...) {
            // A folder that cannot be looked in has no such program.
        }
    }
    return dirs.strWorkDir + command;
}

// Any other style would start the program in some unintended way, so it
// fails the line.
int WindowStyle(const Text& strWinStyle) {
    if (const std::optional<int> style = WindowStyleOf(NumericValue(strWinStyle))) return *style;
    throw QxError(err::kInvalidCall, u"无效的窗口样式：" + strWinStyle);
}

}  // namespace

void DoExecute(IProgressLog& log, IFileSystem& files, IProcessService& process, const SharedFields& dirs,
               const Text& strCMD, const Text& strWinStyle) {
    log.Message(u"正在执行程序" + Quoted(strCMD) + u"……");
    try {
        const int style = WindowStyle(strWinStyle);
        process.Start(ResolveCommand(files, dirs, strCMD), style);
    } catch (...) {
        LogFailure(log, u"执行程序" + Quoted(strCMD));
    }
}

void DoRegister(IProgressLog& log, IProcessService& process, const Text& strWorkDir, const Text& strFile) {
    log.Message(u"正在注册组件" + Quoted(strFile) + u"……");
    const Text path = ResolveBareName(strWorkDir, strFile);
    try {
        process.Start(u"regsvr32 /s " + Quoted(path), winstyle::kHide);
    } catch (...) {
        LogFailure(log, u"注册组件" + Quoted(path));
    }
}

void DoKeyPress(IProgressLog& log, IProcessService& process, const Text& strKeys, bool blnWait) {
    log.Message(u"正在模拟按键" + Quoted(strKeys) + u"……");
    try {
        // Parsed whole before anything is typed: a fault at the end of a
        // sequence must not leave its beginning in someone's window.
        const std::vector<KeyStroke> strokes = ParseKeySequence(strKeys);
        process.SendKeys(strokes, blnWait);
    } catch (...) {
        LogFailure(log, u"执行模拟按键" + Quoted(strKeys));
    }
}

}  // namespace qx
