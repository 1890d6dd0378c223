#include "script/ProcessLine.h"

#include "script/SessionFixture.h"

namespace qx::fake {
namespace {

TEST(CutFields, SixFieldsEveryCommaSeparatesNothingTrimmed) {
    const struct {
        const char16_t* line;
        std::array<Text, 6> fields;
    } cases[] = {
        {u"", {}}, {u"message", {u"message"}}, {u"copy, a ,b,", {u"copy", u" a ", u"b"}},
        {u"a,1,2,3,4,5,6,7", {u"a", u"1", u"2", u"3", u"4", u"5"}}, {u",,,", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(CutFields(c.line), c.fields) << ToUtf8(c.line);
}

class Interpreter : public SessionTest {
protected:
    // The progress lines one line writes.
    std::vector<std::string> Run(const char16_t* line) {
        s.window.list.clear();
        EXPECT_TRUE(ProcessLine(form, line)) << ToUtf8(line);
        return Log();
    }
};

// Each line reaches the action of its keyword, in any letter case but
// without blanks, with its fields as they stand; macros are expanded before
// the line is cut.
TEST_F(Interpreter, EachLineReachesTheActionOfItsKeyword) {
    form.strTempDir = u"d:\\a,b\\";
    const struct {
        const char16_t* line;
        const char* firstLog;  // empty: nothing
    } cases[] = {
        {u"Message, Hello ,dropped", " Hello "}, {u"message,$TempDir\\x", "d:\\a"},
        {u"message,$tempdir\\x", "$tempdir\\x"}, {u" message,x", ""}, {u"message ,x", ""}, {u"messages,x", ""},
        {u"", ""}, {u"# message,x", ""}, {u"DOWN,a", "正在下载文件\"a\"……"},
        {u"create,a", "正在创建文件\"a\"……"}, {u"update,a", "正在更新文件\"a\"……"}, {u"delete,a", "正在删除文件\"a\"……"},
        {u"checkwritable,a", "正在检测文件\"a\"……"}, {u"copy,a,b,0", "正在复制文件\"a\"……"},
        {u"regwrite,HKCU\\S\\N,dword:10,x", "正在写注册表信息\"HKCU\\S\\N\"……"},
        {u"regdelete,HKCU\\S\\N", "正在删除注册表信息\"HKCU\\S\\N\"……"}, {u"register,a", "正在注册组件\"a\"……"},
        {u"hostsadd,a.com,10.0.0.9", "正在添加DNS记录\"a.com\"……"}, {u"hostsremove,a.com", "正在删除DNS记录\"a.com\"……"},
        {u"execute,a,1", "正在执行程序\"a\"……"}, {u"keypress,a,1", "正在模拟按键\"a\"……"},
        {u"workpath,d:\\data", "正在设置工作目录\"d:\\data\\\"……"}, {u"ver,a.exe,0.1", "正在检查版本号……"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> log = Run(c.line);
        EXPECT_EQ(log.empty() ? std::string() : log[0], c.firstLog) << ToUtf8(c.line);
    }
    EXPECT_THROW(ProcessLine(form, u"regdelete,HKCU"), QxError) << "a malformed delete path ends the session";
}

TEST_F(Interpreter, BoxesNoticesAndWaitsReadTheirNumbers) {
    for (const char16_t* line : {u"notice,请稍候", u"alert,注意", u"msgbox,正文,64,标题", u"msgbox,a, 3 2.5 "}) Run(line);
    EXPECT_EQ(ToUtf8(s.window.notice), "请稍候");
    std::string boxes;  // blanks vanish from a number: 32.5 rounds to the even 32
    for (const auto& b : s.window.boxes) {
        boxes += ToUtf8(b.prompt + u"|" + b.title) + "|" + std::to_string(b.flags) + ";";
    }
    EXPECT_EQ(boxes, "注意|在线升级程序|0;正文|标题|64;a||32;");
    for (const auto& [line, ms] :
         {std::pair{u"wait,2", 2500}, {u"wait,abc", 500}, {u"wait, 1 ", 1500}, {u"wait,-1", 0}}) {
        s.clock.sleptMs = 0;
        Run(line);
        EXPECT_GE(s.clock.sleptMs, static_cast<uint64_t>(ms)) << ToUtf8(line);
        EXPECT_LE(s.clock.sleptMs, static_cast<uint64_t>(ms ? ms + 20 : 0)) << ToUtf8(line);
    }
    EXPECT_THROW(ProcessLine(form, u"wait,1e39"), QxError) << "a wait beyond single precision must fail, not hang";
    EXPECT_TRUE(s.window.list.empty()) << "boxes, notices and waits are not progress lines";
}

TEST_F(Interpreter, WorkpathMovesTheFoldersOrChangesNothing) {
    s.files.AddFile(u"q:\\nowhere");  // a file where the folder would go
    EXPECT_EQ(Run(u"workpath,q:\\nowhere\\"), std::vector<std::string>{});
    EXPECT_EQ(ToUtf8(form.strWorkDir + form.strTempDir), "c:\\qxwork\\c:\\qxwork\\temp\\");
    Run(u"workpath,d:\\data");
    EXPECT_EQ(Run(u"message,$WorkDir\\$TempDir\\"), std::vector<std::string>{"d:\\data\\d:\\data\\Temp\\"});
    EXPECT_TRUE(s.files.DirExists(u"d:\\data\\Temp\\"));
    for (const char16_t* bad : {u"workpath,c:\\a<b|c", u"workpath,c:\\a:b", u"workpath,c:\\a\tb"}) {
        EXPECT_THROW(ProcessLine(form, bad), QxError) << "a name Windows rejects ends the session: " << ToUtf8(bad);
    }
    EXPECT_EQ(ToUtf8(form.strWorkDir), "d:\\data\\");
}

}  // namespace
}  // namespace qx::fake
