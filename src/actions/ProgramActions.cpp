#include "actions/ProgramActions.h"

#include "actions/KeySequence.h"
#include "actions/WindowStyle.h"
#include "script/NumericValue.h"

namespace qx {

namespace {

const Text kQuote(1, u'"');

Text Quoted(const Text& text) { return kQuote + text + kQuote; }

// A text without any backslash names something in the work folder; for a
// command line the test covers the arguments too.
Text ResolveBareName(const FrmUpdate& form, const Text& name) {
    return name.find(u'\\') == Text::npos ? form.strWorkDir + name : name;
}

// Any other style would start the program in some unintended way, so it
// fails the line.
int WindowStyle(const Text& strWinStyle) {
    if (const std::optional<int> style = WindowStyleOf(NumericValue(strWinStyle))) return *style;
    throw QxError(err::kInvalidCall, u"无效的窗口样式：" + strWinStyle);
}

}  // namespace

void DoExecute(FrmUpdate& form, const Text& strCMD, const Text& strWinStyle) {
    form.Message(u"正在执行程序" + Quoted(strCMD) + u"……");
    try {
        const int style = WindowStyle(strWinStyle);
        form.platform().process.Start(ResolveBareName(form, strCMD), style);
    } catch (...) {
        form.Err.TakeCurrentException();
        form.ErrLog(u"执行程序" + Quoted(strCMD));
    }
}

void DoRegister(FrmUpdate& form, const Text& strFile) {
    form.Message(u"正在注册组件" + Quoted(strFile) + u"……");
    const Text path = ResolveBareName(form, strFile);
    try {
        form.platform().process.Start(u"regsvr32 /s " + Quoted(path), winstyle::kHide);
    } catch (...) {
        form.Err.TakeCurrentException();
        form.ErrLog(u"注册组件" + Quoted(path));
    }
}

void DoKeyPress(FrmUpdate& form, const Text& strKeys, bool blnWait) {
    form.Message(u"正在模拟按键" + Quoted(strKeys) + u"……");
    try {
        // Parsed whole before anything is typed: a fault at the end of a
        // sequence must not leave its beginning in someone's window.
        const std::vector<KeyStroke> strokes = ParseKeySequence(strKeys);
        form.platform().process.SendKeys(strokes, blnWait);
    } catch (...) {
        form.Err.TakeCurrentException();
        form.ErrLog(u"执行模拟按键" + Quoted(strKeys));
    }
}

}  // namespace qx
