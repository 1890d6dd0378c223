#include "script/ProcessLine.h"

#include "actions/Registry.h"

#include "script/SessionFixture.h"

namespace qx::fake {
namespace {

std::vector<std::string> Fields(const char16_t* line) {
    std::vector<std::string> out;
    for (const Text& f : CutFields(line)) out.push_back(ToUtf8(f));
    return out;
}

TEST(CutFields, SixFieldsEveryCommaSeparatesNothingTrimmed) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Fields(u""), V({"", "", "", "", "", ""}));
    EXPECT_EQ(Fields(u"message"), V({"message", "", "", "", "", ""}));
    EXPECT_EQ(Fields(u"copy, a ,b,"), V({"copy", " a ", "b", "", "", ""}));
    EXPECT_EQ(Fields(u"a,1,2,3,4,5,6,7"), V({"a", "1", "2", "3", "4", "5"}));
    EXPECT_EQ(Fields(u",,,"), V({"", "", "", "", "", ""}));
}

class Interpreter : public SessionTest {
protected:
    bool Run(const char16_t* line) { return ProcessLine(form, line); }
};

TEST_F(Interpreter, KeywordsAnyCaseButNoBlanks) {
    const struct {
        const char16_t* line;
        bool runs;
    } cases[] = {
        {u"message,x", true},   {u"MESSAGE,x", true},  {u"Message,x", true},
        {u" message,x", false}, {u"message ,x", false}, {u"messages,x", false},
        {u"# message,x", false}, {u"", false},          {u"$WorkDir\\", false},
    };
    for (const auto& c : cases) {
        s.window.list.clear();
        EXPECT_TRUE(Run(c.line)) << ToUtf8(c.line);
        EXPECT_EQ(s.window.list.size(), c.runs ? 1u : 0u) << ToUtf8(c.line);
    }
}

TEST_F(Interpreter, ArgumentsKeepTheirBlanksAndCase) {
    Run(u"message, Hello World ,dropped");
    ASSERT_EQ(s.window.list.size(), 1u);
    EXPECT_EQ(ToUtf8(s.window.list[0]), " Hello World ");
}

TEST_F(Interpreter, NoticeAlertAndMsgbox) {
    Run(u"notice,请稍候");
    EXPECT_EQ(ToUtf8(s.window.notice), "请稍候");
    Run(u"alert,注意");
    Run(u"msgbox,正文,64,标题");
    Run(u"msgbox,no style");
    Run(u"msgbox,rounded, 3 2.5 ,t");  // blanks vanish: 32.5 rounds to the even 32
    ASSERT_EQ(s.window.boxes.size(), 4u);
    EXPECT_EQ(ToUtf8(s.window.boxes[0].prompt), "注意");
    EXPECT_EQ(s.window.boxes[0].flags, 0);
    EXPECT_EQ(ToUtf8(s.window.boxes[0].title), "在线升级程序");
    EXPECT_EQ(ToUtf8(s.window.boxes[1].prompt), "正文");
    EXPECT_EQ(s.window.boxes[1].flags, 64);
    EXPECT_EQ(ToUtf8(s.window.boxes[1].title), "标题");
    EXPECT_EQ(s.window.boxes[2].flags, 0);
    EXPECT_EQ(ToUtf8(s.window.boxes[2].title), "") << "an absent title is passed as empty text";
    EXPECT_EQ(s.window.boxes[3].flags, 32);
    EXPECT_TRUE(s.window.list.empty()) << "boxes are not progress lines";
}

TEST_F(Interpreter, WaitTakesTheNumericValueOfItsField) {
    const struct {
        const char16_t* line;
        uint64_t minMs, maxMs;
    } cases[] = {
        {u"wait,2", 2500, 2520},  {u"wait,0.5", 500, 520}, {u"wait,abc", 500, 520},
        {u"wait", 500, 520},      {u"wait,-1", 0, 0},      {u"wait, 1 ", 1500, 1520},
    };
    for (const auto& c : cases) {
        s.clock.sleptMs = 0;
        EXPECT_TRUE(Run(c.line));
        EXPECT_GE(s.clock.sleptMs, c.minMs) << ToUtf8(c.line);
        EXPECT_LE(s.clock.sleptMs, c.maxMs) << ToUtf8(c.line);
    }
    EXPECT_THROW(Run(u"wait,1e39"), QxError) << "a wait beyond single precision must fail, not hang";
}

TEST_F(Interpreter, MacrosExpandBeforeTheLineIsCut) {
    form.strWorkDir = u"d:\\a,b\\";
    form.strTempDir = u"d:\\a,b\\temp\\";
    Run(u"message,$WorkDir\\x");
    Run(u"message,$workdir\\x");
    ASSERT_EQ(s.window.list.size(), 2u);
    EXPECT_EQ(ToUtf8(s.window.list[0]), "d:\\a") << "the comma from the folder splits the field";
    EXPECT_EQ(ToUtf8(s.window.list[1]), "$workdir\\x") << "a lower-case macro is not a macro";
}

TEST_F(Interpreter, WorkpathMovesWorkAndTempFoldersForLaterLines) {
    EXPECT_TRUE(Run(u"workpath,d:\\data"));
    EXPECT_EQ(ToUtf8(form.strWorkDir), "d:\\data\\");
    EXPECT_EQ(ToUtf8(form.strTempDir), "d:\\data\\Temp\\");
    EXPECT_TRUE(s.files.DirExists(u"d:\\data\\Temp\\"));
    Run(u"message,$WorkDir\\$TempDir\\");
    ASSERT_EQ(s.window.list.size(), 2u);
    EXPECT_EQ(ToUtf8(s.window.list[0]), "正在设置工作目录\"d:\\data\\\"……");
    EXPECT_EQ(ToUtf8(s.window.list[1]), "d:\\data\\d:\\data\\Temp\\");
}

TEST_F(Interpreter, WorkpathThatCannotBeMadeChangesNothingAndABadNameEndsTheSession) {
    s.files.AddFile(u"q:\\nowhere");  // a file where the folder would go
    EXPECT_TRUE(Run(u"workpath,q:\\nowhere\\"));
    for (const char16_t* bad : {u"workpath,c:\\a<b|c", u"workpath,c:\\a:b", u"workpath,c:\\a\tb"}) {
        EXPECT_THROW(Run(bad), QxError) << ToUtf8(bad);
    }
    EXPECT_EQ(ToUtf8(form.strWorkDir), "c:\\qxwork\\");
    EXPECT_EQ(ToUtf8(form.strTempDir), "c:\\qxwork\\temp\\");
    EXPECT_TRUE(s.window.list.empty());
}

TEST_F(Interpreter, RegistryLinesReachTheRegistry) {
    Run(u"regwrite,HKCU\\Software\\QX\\Name,值");
    Run(u"regwrite,HKCU\\Software\\QX\\Num,dword:10,ignored");
    std::vector<std::string> log;
    for (const Text& l : s.window.list) log.push_back(ToUtf8(l));
    EXPECT_EQ(log, (std::vector<std::string>{"正在写注册表信息\"HKCU\\Software\\QX\\Name\"……",
                                             "正在写注册表信息\"HKCU\\Software\\QX\\Num\"……"}));
    EXPECT_EQ(ToUtf8(GetRegValue(s.platform, u"HKCU\\Software\\QX\\Num", u"<missing>")), "10");
    Run(u"regdelete,HKCU\\Software\\QX\\Num");
    EXPECT_EQ(ToUtf8(GetRegValue(s.platform, u"HKCU\\Software\\QX\\Num", u"<missing>")), "<missing>");
    EXPECT_THROW(Run(u"regdelete,HKCU"), QxError) << "a malformed delete path ends the session";
}

}  // namespace
}  // namespace qx::fake
