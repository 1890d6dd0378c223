// execute, register and keypress against the fake process service.
#include "actions/ProgramActions.h"

#include <string>
#include <vector>

#include "actions/KeySequence.h"
#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

std::vector<std::string> Log(const Window& window) {
    std::vector<std::string> out;
    for (const Text& line : window.list) out.push_back(ToUtf8(line));
    return out;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "\n  [" + l + "]";
    return out;
}

class ProgramActions : public FormTest {
protected:
    ProgramActions() { form.strWorkDir = u"C:\\qxwork\\"; }
};

struct StyleCase {
    const char* label;
    Text style;
    int expected;
};

class ExecuteStyle : public ProgramActions, public testing::WithParamInterface<StyleCase> {};

TEST_P(ExecuteStyle, StartsWithTheStyleOfTheTable) {
    const StyleCase& c = GetParam();
    DoExecute(form, u"setup.exe", c.style);
    ASSERT_EQ(s.process.started.size(), 1u) << "style [" << ToUtf8(c.style) << "]" << Joined(Log(s.window));
    EXPECT_EQ(s.process.started[0].second, c.expected) << "style [" << ToUtf8(c.style) << "]";
    EXPECT_EQ(Log(s.window), std::vector<std::string>{"正在执行程序\"setup.exe\"……"});
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExecuteStyle,
    testing::Values(StyleCase{"EmptyIsHidden", u"", 0}, StyleCase{"Zero", u"0", 0},
                    StyleCase{"One", u"1", 1}, StyleCase{"Two", u"2", 2}, StyleCase{"Three", u"3", 3},
                    StyleCase{"Four", u"4", 4}, StyleCase{"Six", u"6", 6},
                    StyleCase{"FractionRoundsDown", u"1.9", 1}, StyleCase{"BlanksIgnored", u" 3 ", 3},
                    StyleCase{"Hexadecimal", u"&H4", 4}, StyleCase{"TrailingWords", u"2 min", 2},
                    StyleCase{"WordsOnlyIsZero", u"normal", 0}),
    [](const testing::TestParamInfo<StyleCase>& info) { return std::string(info.param.label); });

TEST_F(ProgramActions, StyleOutsideTheTableIsLoggedAndNothingStarts) {
    const std::vector<Text> styles = {u"5", u"7", u"-1", u"-0.5", u"10", u"&H10000", u"1e300"};
    for (const Text& style : styles) {
        s.window.list.clear();
        s.process.started.clear();
        DoExecute(form, u"setup.exe /q", style);
        EXPECT_TRUE(s.process.started.empty()) << "style " << ToUtf8(style) << " started a program";
        const std::vector<std::string> log = Log(s.window);
        ASSERT_EQ(log.size(), 2u) << "style " << ToUtf8(style) << Joined(log);
        EXPECT_EQ(log[0], "正在执行程序\"setup.exe /q\"……");
        EXPECT_EQ(log[1].rfind("执行程序\"setup.exe /q\"错误", 0), 0u)
            << "style " << ToUtf8(style) << ": the failure line must name the command and the error: " << log[1];
        EXPECT_EQ(form.Err.number, 0) << "ErrLog must have taken the pending error";
    }
}

TEST_F(ProgramActions, ExecuteAppliesTheBareNameRuleToTheWholeCommand) {
    struct Case {
        Text command;
        Text started;
    };
    // A bare program missing from the work folder is looked for in the
    // system folder, then the Windows folder.
    form.strSysDir = u"C:\\Windows\\system32\\";
    form.strWinDir = u"C:\\Windows\\";
    for (const Text& f : {u"C:\\Windows\\system32\\notepad.exe", u"C:\\Windows\\notepad.exe",
                          u"C:\\Windows\\regedit.exe", u"C:\\Windows\\system32\\tool.exe",
                          u"C:\\qxwork\\tool.exe", u"C:\\Windows\\a b.exe"}) {
        s.files.AddFile(f);
    }
    const std::vector<Case> cases = {
        {u"notepad.exe", u"C:\\Windows\\system32\\notepad.exe"},
        {u"regedit.exe /s x.reg", u"C:\\Windows\\regedit.exe /s x.reg"},
        {u"tool.exe", u"C:\\qxwork\\tool.exe"},
        {u"\"a b.exe\" -x", u"C:\\Windows\\\"a b.exe\" -x"},
        {u"setup.exe", u"C:\\qxwork\\setup.exe"},
        {u"setup.exe /s /v", u"C:\\qxwork\\setup.exe /s /v"},
        {u"安装.exe", u"C:\\qxwork\\安装.exe"},
        {u"C:\\tools\\setup.exe", u"C:\\tools\\setup.exe"},
        {u"notepad.exe C:\\qxwork\\readme.txt", u"notepad.exe C:\\qxwork\\readme.txt"},
        {u"\"C:\\Program Files\\a.exe\" -x", u"\"C:\\Program Files\\a.exe\" -x"},
        {u"..\\a.exe", u"..\\a.exe"},
    };
    for (const Case& c : cases) {
        s.process.started.clear();
        DoExecute(form, c.command, u"1");
        ASSERT_EQ(s.process.started.size(), 1u) << ToUtf8(c.command) << Joined(Log(s.window));
        EXPECT_EQ(ToUtf8(s.process.started[0].first), ToUtf8(c.started)) << "command " << ToUtf8(c.command);
    }
}

TEST_F(ProgramActions, ExecuteThatCannotStartIsLoggedWithTheCommandAsGiven) {
    s.process.startFails = true;
    DoExecute(form, u"missing.exe", u"1");
    EXPECT_EQ(Log(s.window), (std::vector<std::string>{"正在执行程序\"missing.exe\"……",
                                                       "执行程序\"missing.exe\"错误53：文件未找到"}));
}

TEST_F(ProgramActions, RegisterRunsTheToolSilentlyAndHidden) {
    struct Case {
        Text file;
        Text commandLine;
    };
    const std::vector<Case> cases = {
        {u"comp.dll", u"regsvr32 /s \"C:\\qxwork\\comp.dll\""},
        {u"C:\\Program Files\\QX\\my comp.ocx", u"regsvr32 /s \"C:\\Program Files\\QX\\my comp.ocx\""},
        {u"组件 1.dll", u"regsvr32 /s \"C:\\qxwork\\组件 1.dll\""},
    };
    for (const Case& c : cases) {
        s.process.started.clear();
        s.window.list.clear();
        DoRegister(form, c.file);
        ASSERT_EQ(s.process.started.size(), 1u) << ToUtf8(c.file);
        EXPECT_EQ(ToUtf8(s.process.started[0].first), ToUtf8(c.commandLine));
        EXPECT_EQ(s.process.started[0].second, winstyle::kHide);
        EXPECT_EQ(Log(s.window), std::vector<std::string>{"正在注册组件\"" + ToUtf8(c.file) + "\"……"})
            << "the progress line shows the file as given";
    }
}

TEST_F(ProgramActions, RegisterFailureNamesTheResolvedPath) {
    s.process.startFails = true;
    DoRegister(form, u"comp.dll");
    EXPECT_EQ(Log(s.window), (std::vector<std::string>{"正在注册组件\"comp.dll\"……",
                                                       "注册组件\"C:\\qxwork\\comp.dll\"错误53：文件未找到"}));
}

TEST_F(ProgramActions, KeyPressSendsTheParsedKeysWithTheWaitFlag) {
    struct Case {
        Text keys;
        bool wait;
    };
    const std::vector<Case> cases = {
        {u"abc~", true}, {u"+(ab){TAB 2}", false}, {u"升级%{F4}", true}, {u"", false}};
    for (const Case& c : cases) {
        s.process.keysSent.clear();
        s.window.list.clear();
        DoKeyPress(form, c.keys, c.wait);
        ASSERT_EQ(s.process.keysSent.size(), 1u) << ToUtf8(c.keys) << Joined(Log(s.window));
        EXPECT_EQ(s.process.keysSent[0].wait, c.wait) << ToUtf8(c.keys);
        EXPECT_TRUE(s.process.keysSent[0].keys == ParseKeySequence(c.keys))
            << ToUtf8(c.keys) << ": the keys sent differ from the parsed sequence";
        EXPECT_EQ(Log(s.window), std::vector<std::string>{"正在模拟按键\"" + ToUtf8(c.keys) + "\"……"});
    }
}

TEST_F(ProgramActions, MalformedKeysAreLoggedAndNothingIsSent) {
    const std::vector<Text> sequences = {u"abc{TAB", u"{NOSUCHKEY}", u"+(ab", u"ab)", u"{TAB x}", u"ab^"};
    for (const Text& keys : sequences) {
        s.window.list.clear();
        DoKeyPress(form, keys, true);
        EXPECT_TRUE(s.process.keysSent.empty()) << ToUtf8(keys) << " sent keys";
        const std::vector<std::string> log = Log(s.window);
        ASSERT_EQ(log.size(), 2u) << ToUtf8(keys) << Joined(log);
        EXPECT_EQ(log[0], "正在模拟按键\"" + ToUtf8(keys) + "\"……");
        EXPECT_EQ(log[1].rfind("执行模拟按键\"" + ToUtf8(keys) + "\"错误5：", 0), 0u) << log[1];
    }
}

TEST_F(ProgramActions, KeysTheSystemRefusesAreLogged) {
    s.process.sendKeysFails = true;
    DoKeyPress(form, u"abc", false);
    EXPECT_EQ(Log(s.window), (std::vector<std::string>{"正在模拟按键\"abc\"……",
                                                       "执行模拟按键\"abc\"错误5：无效的过程调用或参数"}));
}

}  // namespace
}  // namespace qx::fake
