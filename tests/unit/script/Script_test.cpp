// The folders and macros, the interpreter of one line, and the session.
#include "config/KeyBlock.h"
#include "support/SigningVectors.h"
#include "config/TrailerBytes.h"
#include "fakes/FormFixture.h"
#include "script/Paths.h"

namespace qx::fake {
namespace {

TEST(Paths, StartUpFolders) {
    const Text kShell = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    for (const bool configured : {false, true}) {
        Machine m;
        if (configured) {
            m.s.settings.SaveSetting(u"QXUpdate", u"System", u"InitDir", u"d:\\qx");
            m.s.files.AddFile(u"d:\\qxQXUpdate.exe", "MZ" + EncodeTrailer("https://up"));
            m.s.files.AddFile(u"c:\\windows\\system32\\drivers\\etc\\hosts");
            m.s.registry.Put(reg::kLocalMachine, ToUtf8(kShell.substr(19)), "Common Desktop", reg::kSz, "c:\\d");
            m.s.registry.Put(reg::kLocalMachine, ToUtf8(kShell.substr(19)), "Common Start Menu", reg::kSz, "c:\\s\\");
        }
        InitPaths(m.s.platform, m.form);
        EXPECT_EQ(m.form.strWinDir, u"C:\\windows\\");
        EXPECT_EQ(m.form.strSysDir, u"C:\\windows\\system32\\");
        EXPECT_EQ(m.form.strAppDir, configured ? u"d:\\qx" : u"c:\\app\\");
        EXPECT_EQ(m.form.strHostsFile, configured ? u"C:\\windows\\system32\\drivers\\etc\\hosts" : u"C:\\windows\\hosts");
        EXPECT_EQ(m.form.strDesktopDir, configured ? u"c:\\d\\" : u"");
        EXPECT_EQ(m.form.strStartMenuDir, configured ? u"c:\\s\\" : u"");
        EXPECT_EQ(m.form.strServerURL, configured ? u"https://up" : u"http://127.0.0.1");
    }
}

TEST(Paths, MacrosExpandInOrderAndAsWritten) {
    Machine m;
    m.form.strStartMenuDir = u"$Desktop\\m\\";
    m.form.strDesktopDir = u"";
    m.form.strSysDir = u"$TempDir\\";
    const std::pair<Text, Text> cases[] = {
        {u"$WorkDir\\a,$TempDir\\b", u"c:\\work\\a,c:\\work\\temp\\b"},
        {u"$WinDir\\x$WinDir\\", u"c:\\windows\\xc:\\windows\\"},
        {u"$StartMenu\\p", u"m\\p"},
        {u"$SysDir\\s", u"$TempDir\\s"},
        {u"$workdir\\a $WorkDir", u"$workdir\\a $WorkDir"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplaceCommonPath(m.form, c.first), c.second) << ToUtf8(c.first);
    for (const Text a : {u"1.2.3.4", u"HTTPS://x", u"http://x", u"httpx", u"https:/x"}) {
        const bool kept = a.find(u"://") != Text::npos;
        EXPECT_EQ(ServerURLFromAddress(a), kept ? a : u"http://" + a);
    }
}

TEST(ProcessLine, FieldsAndKeywords) {
    EXPECT_EQ(CutFields(u"a, b,,c,d,e,f,g"), (std::array<Text, 6>{u"a", u" b", u"", u"c", u"d", u"e"}));
    EXPECT_EQ(CutFields(u""), (std::array<Text, 6>{}));
    Machine m;
    m.s.window.boxAnswers = {mb::kResultCancel};
    for (const Text line :
         {u"MESSAGE,hi", u"notice,n", u"unknown,x", u"wait,2", u"alert,a", u"msgbox,b,&h21,t", u"msgbox,c"}) {
        EXPECT_TRUE(m.Run(line)) << ToUtf8(line);
    }
    EXPECT_EQ(m.Log(), "hi");
    EXPECT_EQ(m.s.window.notice, u"n");
    EXPECT_GE(m.s.clock.monotonic, 1002000u) << "wait reads its first argument";
    const std::vector<std::tuple<Text, int, Text>> boxes = {
        {u"a", 0, u"在线升级程序"}, {u"b", 33, u"t"}, {u"c", 0, u""}};
    EXPECT_TRUE(m.s.window.boxes == boxes);
}

using Arrange = std::function<void(Machine&)>;

Arrange Stored(const Text& stamp) {
    return [stamp](Machine& m) { m.s.settings.SaveSetting(u"QXUpdate", u"System", u"Version", stamp); };
}

const std::string kReading = "正在读取服务器上的升级信息……";
const std::string kAnalysing = kReading + "|正在分析升级信息……";
const std::string kFailed = kReading + "|无法从服务器获取升级信息。";
const std::string kAsked = kAnalysing + "|你机器上的程序已经是最新，无需升级。";

// Each row: the script served, the machine before, the log, the stamp stored
// afterwards ("-": none) and whether the update button is on again.
TEST(UpdateSession, Table) {
    const struct {
        Bytes script;
        Arrange arrange;
        std::string log;
        const char16_t* stamp;
        bool buttonOn = true;
    } rows[] = {
        {"2024-01-02 03:04:05\r\nmessage,\xe9\r\nmessage,b\r\n", [](Machine&) {},
         kAnalysing + "|\u00e9|b|升级完毕。", u"2024-01-02 03:04:05"},
        {"", [](Machine&) {}, kFailed, u"-"},
        {"2024-01-01", Stored(u"bad"), kFailed, u"bad"},
        {"2024-01-01\r\nregdelete,HKCU\\V\r\nmessage,x",  [](Machine&) {},
         kAnalysing + "|正在删除注册表信息\"HKCU\\V\"……|无法从服务器获取升级信息。", u"-"},
        {"2024-01-01\r\nmessage,x", Stored(u"2024-01-01"), kAsked + "|x|升级完毕。", u"2024-01-01"},
        {"2024-01-01\r\nmessage,x",
         [](Machine& m) { Stored(u"2024-01-01")(m), m.s.window.boxAnswers = {mb::kResultCancel}; }, kAsked,
         u"2024-01-01"},
        {"2024-01-01\r\ncheckwritable,c:\\x\r\nmessage,x", [](Machine& m) { m.s.files.AddFile(u"c:\\x").locked = true; },
         kAnalysing + "|正在检测文件\"c:\\x\"……|文件\"c:\\x\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。", u"-"},
        // Closing the window while the script downloads ends the session quietly.
        {"2024-01-01", [](Machine& m) { m.s.http.onSend = [&m] { m.form.Form_QueryUnload(); }; }, kReading, u"-", false},
    };
    for (const auto& r : rows) {
        Machine m;
        r.arrange(m);
        m.s.http.server = [&r](const HttpExchange& e) { return FileServer{r.script}(e); };
        m.form.cmdUpdate_Click();
        EXPECT_EQ(m.Log(), r.log) << r.script;
        EXPECT_EQ(m.s.settings.GetSetting(u"QXUpdate", u"System", u"Version", u"-"), r.stamp) << r.script;
        EXPECT_EQ(m.s.window.updateEnabled, r.buttonOn) << r.script;
        EXPECT_EQ(m.s.http.requests.at(0).url, u"http://srv/qxupdate/update.inf");
        if (r.log.rfind(kAsked, 0) == 0) EXPECT_EQ(std::get<1>(m.s.window.boxes.at(0)), mb::kOkCancel | mb::kIconQuestion);
    }
}

// A program carrying the test key: the script runs only with its signature,
// and its download lines only with pins.
TEST(UpdateSession, ASignedProgramRunsOnlyTheSignedScript) {
    const std::string refused = kReading + "|升级信息的签名无效，没有做任何更改。";
    const struct { const char* name; Bytes script; std::optional<Bytes> sig; std::string log; } rows[] = {
        {"signed", test::kSignedScript, test::kSignatureDer, kReading + "|正在分析升级信息……|hi|升级完毕。"},
        {"no signature", test::kSignedScript, std::nullopt, refused},
        {"too long a signature", test::kSignedScript, Bytes(5000, '0'), refused},
    };
    for (const auto& row : rows) {
        Machine m;
        // The key is the running file's: a work folder chosen elsewhere
        // does not switch the check off.
        m.form.strAppDir = u"c:\\initdir\\";
        m.s.files.AddFile(m.s.process.programPath, "MZ" + EncodeKeyBlock(test::kPublicXY) + Bytes(32, '\0'));
        m.s.http.server = [&row](const HttpExchange& r) {
            if (r.url != u"http://srv/qxupdate/update.inf.sig") return FileServer{row.script}(r);
            HttpResponse missing;
            missing.status = 404;
            return row.sig ? FileServer{*row.sig}(r) : missing;
        };
        m.form.cmdUpdate_Click();
        EXPECT_EQ(m.Log(), row.log) << row.name;
        EXPECT_TRUE(m.s.window.updateEnabled) << row.name;
        EXPECT_EQ(m.s.settings.values.empty(), row.log == refused) << row.name;
    }
}

}  // namespace
}  // namespace qx::fake
