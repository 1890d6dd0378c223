#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

using StartUp = FormTest;

TEST_F(StartUp, CaptionAndDefaultFolders) {
    ASSERT_TRUE(form.Form_Load());
    EXPECT_EQ(ToUtf8(s.window.caption), "在线升级程序(版本1.1.1)");
    EXPECT_EQ(ToUtf8(form.strWorkDir), "c:\\qxwork\\");
    EXPECT_EQ(ToUtf8(form.strTempDir), "c:\\qxwork\\temp\\");
    EXPECT_EQ(ToUtf8(form.strServerURL), "http://127.0.0.1") << "no program file: the fallback address";
    EXPECT_EQ(ToUtf8(form.strAppDir), "C:\\Program Files\\QX\\");
    EXPECT_EQ(ToUtf8(form.strWinDir), "C:\\windows\\");
    EXPECT_FALSE(form.blnQuit);
    EXPECT_FALSE(s.window.updateEnabled) << "the start button waits for the start check";
    EXPECT_TRUE(s.window.boxes.empty());
}

TEST_F(StartUp, SecondInstanceIsRefusedWithOneBoxAndNothingElse) {
    s.process.previousInstance = true;
    EXPECT_FALSE(form.Form_Load());
    ASSERT_EQ(s.window.boxes.size(), 1u);
    EXPECT_EQ(ToUtf8(s.window.boxes[0].prompt), "在线升级程序程序已经运行！");
    EXPECT_EQ(ToUtf8(s.window.boxes[0].title), "在线升级程序");
    EXPECT_EQ(s.window.boxes[0].flags, mb::kOkOnly);
    EXPECT_TRUE(s.window.caption.empty()) << "start-up went on after the refusal";
    EXPECT_TRUE(form.strWorkDir.empty());
}

TEST_F(StartUp, TimerRunsOnceAndEnablesTheButtonWhateverTheCommandLine) {
    const Text tag = u"0123456789ABCDEF0123456789ABCDEF";
    const struct {
        Text line;
        bool handOver;
    } cases[] = {
        {u"", false},
        {u"   ", false},
        {tag.substr(0, 31), false},
        {tag + u"0", false},
        {u"/s", false},
        {tag, true},
        {u"  " + tag + u"  ", true},
    };
    // Without "OldExePath" a tag makes this the restarted copy of a hand-over:
    // it closes the copy captioned with the tag and reports the replacement.
    const std::vector<Text> restarted = {u"正在退出临时程序……", u"更换旧版本的升级程序成功。",
                                         u"请按“开始升级”按钮重新进行升级。"};
    for (const auto& c : cases) {
        SCOPED_TRACE("command line '" + ToUtf8(c.line) + "'");
        s.window.updateEnabled = false;
        s.window.timerRunning = true;
        s.window.list.clear();
        s.process.windows.clear();
        const uintptr_t other = s.process.AddWindow(tag, 1);
        s.process.commandLine = c.line;
        form.Timer1_Timer();
        EXPECT_FALSE(s.window.timerRunning) << "the start timer must stop itself";
        EXPECT_TRUE(s.window.updateEnabled);
        EXPECT_EQ(s.window.list, c.handOver ? restarted : std::vector<Text>());
        EXPECT_EQ(s.process.IsWindowAlive(other), !c.handOver) << "the window captioned with the tag";
    }
}

TEST_F(StartUp, StartCheckFailureIsLoggedAndTheButtonStillEnabled) {
    s.process.commandLineFails = true;
    form.CheckStartPara();
    EXPECT_TRUE(s.window.updateEnabled);
    ASSERT_EQ(s.window.list.size(), 1u);
    EXPECT_EQ(ToUtf8(s.window.list[0]), "检查启动参数错误5：命令行不可读");
}

TEST_F(StartUp, ClosingSetsTheStopFlag) {
    form.cmdClose_Click();
    EXPECT_EQ(s.window.closeRequests, 1) << "the close button asks the window to close";
    form.Form_QueryUnload();
    EXPECT_TRUE(form.blnQuit);
}

TEST(Identity, VersionTextAndBaseName) {
    EXPECT_EQ(ToUtf8(FrmUpdate::GetVersion()), "1.1.1");
    Services s;
    FrmUpdate form(s.platform);
    const struct {
        const char16_t* path;
        const char* base;
    } cases[] = {
        {u"C:\\Program Files\\QX\\QXUpdate.exe", "QXUpdate"},
        {u"C:\\QXUpdateTemp.exe", "QXUpdateTemp"},
        {u"D:\\a.b\\Up.Date.EXE", "Up.Date"},
        {u"noext", "noext"},
    };
    for (const auto& c : cases) {
        s.process.programPath = c.path;
        EXPECT_EQ(ToUtf8(form.ProgramBaseName()), c.base);
    }
}

TEST(Text, Utf8RoundTripAndRepair) {
    const std::string samples[] = {"", "abc", "在线升级程序", "\xF0\x9F\x98\x80", "é~%"};
    for (const std::string& s : samples) EXPECT_EQ(ToUtf8(FromUtf8(s)), s);
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80"), Text(u"\xD83D\xDE00")) << "a surrogate pair";
    EXPECT_EQ(FromUtf8("a\xFF" "b"), Text(u"a\xFFFD" "b")) << "a stray byte";
    EXPECT_EQ(FromUtf8("\xE4\xB8"), Text(u"\xFFFD")) << "a cut sequence";
    EXPECT_EQ(FromUtf8("\xC0\xAF"), Text(u"\xFFFD\xFFFD").substr(0, FromUtf8("\xC0\xAF").size()));
    EXPECT_EQ(ToUtf8(Text(u"\xD800")), "\xEF\xBF\xBD") << "a lone surrogate";
}

TEST(DateTimeOrder, ComparesChronologically) {
    const DateTime a{2006, 5, 18, 0, 0, 0};
    const DateTime b{2006, 5, 18, 0, 0, 1};
    const DateTime c{2006, 12, 1, 0, 0, 0};
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b < c);
    EXPECT_FALSE(c < a);
    EXPECT_TRUE(a == DateTime({2006, 5, 18, 0, 0, 0}));
    EXPECT_EQ(ToUtf8(FormatDateTime(DateTime::Zero())), "1899-12-30 00:00:00");
}

}  // namespace
}  // namespace qx::fake
