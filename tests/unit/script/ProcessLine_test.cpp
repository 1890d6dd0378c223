#include "script/ProcessLine.h"

#include "script/CommandTable.h"
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

TEST(CommandTable, KeywordsMatchInAnyLetterCaseButWithoutBlanks) {
    for (const CommandSpec& command : Commands()) {
        const Text k = command.keyword;
        EXPECT_EQ(LookUpCommand(k), &command);
        Text upper = k;
        for (char16_t& c : upper) c = static_cast<char16_t>(c - u'a' + u'A');
        EXPECT_EQ(LookUpCommand(upper), &command);
        EXPECT_EQ(LookUpCommand(u" " + k), nullptr);
        EXPECT_EQ(LookUpCommand(k + u" "), nullptr);
    }
    EXPECT_EQ(LookUpCommand(u"dowload"), nullptr);
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

// Each line reaches the action of its keyword with its fields as they stand;
// macros are expanded before the line is cut.
TEST_F(Interpreter, EachLineReachesTheActionOfItsKeyword) {
    form.strTempDir = u"d:\\a,b\\";
    const struct {
        const char16_t* line;
        const char* firstLog;  // empty: nothing
    } cases[] = {
        {u"Message, Hello ,dropped", " Hello "}, {u"message,$TempDir\\x", "d:\\a"},
        {u"message,$tempdir\\x", "$tempdir\\x"}, {u" message,x", ""}, {u"messages,x", ""},
        {u"", ""}, {u"# message,x", ""}, {u"DOWN,a.exe", "正在下载文件\"a.exe\"……"},
        {u"create,a.exe", "正在创建文件\"a.exe\"……"}, {u"update,a.exe", "正在更新文件\"a.exe\"……"},
        {u"checkwritable,a.txt", "正在检测文件\"a.txt\"……"}, {u"copy,a,b,0", "正在复制文件\"a\"……"},
        {u"delete,a.txt", "正在删除文件\"a.txt\"……"},
        {u"regwrite,HKCU\\S\\N,dword:10,x", "正在写注册表信息\"HKCU\\S\\N\"……"},
        {u"regdelete,HKCU\\S\\N", "正在删除注册表信息\"HKCU\\S\\N\"……"},
        {u"hostsadd,a.example,10.0.0.9", "正在添加DNS记录\"a.example\"……"},
        {u"hostsremove,a.example", "正在删除DNS记录\"a.example\"……"},
        {u"register,a.ocx", "正在注册组件\"a.ocx\"……"}, {u"execute,a.exe,1", "正在执行程序\"a.exe\"……"},
        {u"keypress,a,1", "正在模拟按键\"a\"……"}, {u"workpath,d:\\data", "正在设置工作目录\"d:\\data\\\"……"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> log = Run(c.line);
        EXPECT_EQ(log.empty() ? std::string() : log[0], c.firstLog) << ToUtf8(c.line);
    }
    EXPECT_THROW(ProcessLine(form, u"regdelete,HKCU"), QxError) << "a malformed delete path ends the session";
}

TEST_F(Interpreter, BoxesNoticesAndWaitsReadTheirNumbers) {
    Run(u"notice,请稍候");
    EXPECT_EQ(ToUtf8(s.window.notice), "请稍候");
    Run(u"alert,注意");
    Run(u"msgbox,正文,64,标题");
    Run(u"msgbox,rounded, 3 2.5 ");  // blanks vanish: 32.5 rounds to the even 32
    ASSERT_EQ(s.window.boxes.size(), 3u);
    for (const auto& [box, prompt, flags, title] :
         {std::tuple{0, "注意", 0, "在线升级程序"}, {1, "正文", 64, "标题"}, {2, "rounded", 32, ""}}) {
        EXPECT_EQ(ToUtf8(s.window.boxes[box].prompt), prompt);
        EXPECT_EQ(s.window.boxes[box].flags, flags);
        EXPECT_EQ(ToUtf8(s.window.boxes[box].title), title);
    }
    for (const auto& [line, minMs, maxMs] : {std::tuple{u"wait,2", 2500, 2520}, {u"wait,abc", 500, 520},
                                             {u"wait, 1 ", 1500, 1520}, {u"wait,-1", 0, 0}}) {
        s.clock.sleptMs = 0;
        Run(line);
        EXPECT_GE(s.clock.sleptMs, static_cast<uint64_t>(minMs)) << ToUtf8(line);
        EXPECT_LE(s.clock.sleptMs, static_cast<uint64_t>(maxMs)) << ToUtf8(line);
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
}

}  // namespace
}  // namespace qx::fake
