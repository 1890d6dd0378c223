// The address trailer, the hand-over between copies, ver and workpath.
#include "config/HandOver.h"
#include "config/SetUpdateIP.h"
#include "config/Trailer.h"
#include "config/TrailerBytes.h"
#include "config/VersionCheck.h"
#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

const Text kInstalled = u"c:\\app\\QXUpdate.exe";
const Text kTag = u"1DCD65001DCD65001DCD65001DCD6500";  // what a Random of 0.5 draws
const Bytes kProgram = "MZ" + Bytes(32, '\0');

Text Setting(Machine& m, const char16_t* key) { return m.s.settings.GetSetting(kHandOverApp, kHandOverSection, key, u"-"); }
void Save(Machine& m, const char16_t* key, const Text& value) {
    m.s.settings.SaveSetting(kHandOverApp, kHandOverSection, key, value);
}

TEST(Trailer, ReadsAndWritesTheLast32Bytes) {
    Machine m;
    const auto ip = [&] { return GetServerIP(m.s.files, m.s.codepage, kInstalled); };
    EXPECT_EQ(ip(), u"127.0.0.1") << "no program file";
    m.s.files.AddFile(kInstalled, Bytes(31, 'x'));
    EXPECT_EQ(ip(), u"127.0.0.1") << "shorter than a trailer";
    EXPECT_THROW(WriteIP(m.s.files, m.s.codepage, kInstalled, u"1.2.3.4"), QxError);
    m.s.files.AddFile(kInstalled, kProgram);
    EXPECT_EQ(ip(), u"127.0.0.1") << "no address yet";
    m.s.files.Lock(kInstalled);
    EXPECT_THROW(WriteIP(m.s.files, m.s.codepage, kInstalled, u"10.0.0.5"), QxError);
    EXPECT_EQ(m.s.files.Contents(kInstalled), kProgram);
    m.s.files.Lock(kInstalled, false);
    WriteIP(m.s.files, m.s.codepage, kInstalled, u"srv.example:8080");
    EXPECT_EQ(m.s.files.Contents(kInstalled), "MZsrv.example:8080" + Bytes(16, '\0'));
    EXPECT_EQ(ip(), u"srv.example:8080");
    WriteSetupPath(m.s.files, m.s.codepage, kInstalled, Text(40, u'a'));
    EXPECT_EQ(m.s.files.Contents(kInstalled), "MZ" + Bytes(32, 'a'));
    EXPECT_EQ(ip(), u"127.0.0.1") << "no NUL ends it";
    EXPECT_TRUE(FitsTrailer(Bytes(31, 'a')));
    EXPECT_FALSE(FitsTrailer(Bytes(32, 'a')) || FitsTrailer(Bytes("a\0", 2)));
}

struct HandOverCase {
    const char* name;
    std::function<void(Machine&)> arrange;
    std::string log;
    Bytes installed;  // the installed file afterwards
    bool restarts;
};

// A temporary copy in the temp folder, asked to close the window captioned
// kTag and then to replace the installed program.
void TemporaryCopy(Machine& m) {
    m.s.process.programPath = u"c:\\work\\temp\\QXUpdateTemp.exe";
    m.form.strAppDir = u"c:\\work\\temp\\";
    m.s.files.AddFile(kInstalled, kProgram);
    m.s.files.AddFile(u"c:\\work\\temp\\QXUpdateTemp.exe", "new");
    Save(m, kOldExePathKey, kInstalled);
    m.s.process.windows[7] = {kTag, 2};
}

const std::string kLeaving = "正在退出旧版本升级程序……";
const std::string kCopying = kLeaving + "|正在复制新的更新程序……";
const std::string kStarting = kCopying + "|正在启动新的更新程序……";
const HandOverCase kHandOvers[] = {
    {"new version", TemporaryCopy, kStarting, "new", true},
    {"new address", [](Machine& m) { TemporaryCopy(m), Save(m, kServerIPKey, u"9.9.9.9"); }, kStarting,
     "MZ9.9.9.9" + Bytes(25, '\0'), true},
    {"installed file held", [](Machine& m) { TemporaryCopy(m), m.s.files.Lock(kInstalled); },
     kCopying + "|复制新的更新程序失败。", kProgram, false},
    {"old copy never closes", [](Machine& m) { TemporaryCopy(m), m.s.process.windows[7].second = -1; },
     kLeaving + "|退出旧版本的升级程序失败……", kProgram, false},
    {"start fails", [](Machine& m) { TemporaryCopy(m), m.s.process.fails = true; },
     kStarting + "|更新升级主程序错误53：文件未找到", "new", false},
};

TEST(HandOver, TemporaryCopyReplacesTheInstalledProgram) {
    for (const HandOverCase& c : kHandOvers) {
        Machine m;
        c.arrange(m);
        UpdateThisApp(m.s.platform, m.form, m.form.strAppDir, kTag);
        EXPECT_EQ(m.Log(), c.log) << c.name;
        EXPECT_EQ(m.s.files.Contents(kInstalled), c.installed) << c.name;
        EXPECT_EQ(m.s.files.Find(kInstalled + u".new"), nullptr) << c.name;
        for (const char16_t* key : {kOldExePathKey, kServerIPKey, kSetupPathKey}) {
            EXPECT_EQ(Setting(m, key), u"-") << c.name;
        }
        const std::vector<std::pair<Text, int>> restart = {{u"\"" + kInstalled + u"\" " + kTag, 1}};
        EXPECT_EQ(m.s.process.started == restart, c.restarts) << c.name;
        const bool starts = c.log.find("正在启动新的更新程序") != std::string::npos;
        EXPECT_EQ(Setting(m, kToDeleteKey) == u"c:\\work\\temp\\QXUpdateTemp.exe", starts) << c.name;
    }
}

TEST(HandOver, RestartedCopyRemovesTheTemporaryOne) {
    Machine m;
    const Text temp = u"c:\\work\\temp\\QXUpdateTemp.exe";
    m.s.files.AddFile(temp).locked = true;
    m.s.window.onDoEvents = [&m, temp] {
        if (m.s.clock.monotonic > 1001000 && m.s.files.Find(temp)) m.s.files.Lock(temp, false);
    };
    Save(m, kToDeleteKey, temp);
    m.s.process.windows[7] = {kTag, 1};
    m.s.process.commandLine = u" " + kTag + u" ";
    m.form.CheckStartPara();
    EXPECT_EQ(m.Log(), "正在退出临时程序……|更换旧版本的升级程序成功。|请按“开始升级”按钮重新进行升级。");
    EXPECT_EQ(m.s.files.Find(temp), nullptr);
    EXPECT_EQ(Setting(m, kToDeleteKey), u"-");
    EXPECT_LE(m.s.clock.monotonic, 1001200u) << "the wait ends once the file is gone";
}

TEST(SetUpdateIP, CopiesTheProgramAndHandsOverTheAddress) {
    Machine m;
    DoSetUpdateIP(m.s.platform, m.form, m.form.strAppDir, m.form.blnQuit, u"1.2.3.4");
    EXPECT_EQ(m.Log(), "设置升级服务器IP地址错误53：文件未找到c:\\app\\QXUpdate.exe");
    EXPECT_FALSE(m.form.blnQuit);
    m.s.files.AddFile(kInstalled, kProgram);
    m.s.window.list.clear();
    DoSetUpdateIP(m.s.platform, m.form, m.form.strAppDir, m.form.blnQuit, u"1.2.3.4");
    EXPECT_EQ(m.Log(), "正在设置升级服务器地址……");
    EXPECT_EQ(m.s.files.Contents(u"c:\\app\\QXUpdateTemp.exe"), kProgram);
    EXPECT_EQ(m.s.window.caption, kTag);
    EXPECT_EQ(Setting(m, kOldExePathKey), kInstalled);
    EXPECT_EQ(Setting(m, kServerIPKey), u"1.2.3.4");
    EXPECT_EQ(m.s.process.started, (std::vector<std::pair<Text, int>>{{u"\"c:\\app\\QXUpdateTemp.exe\" " + kTag, 1}}));
    EXPECT_TRUE(m.form.blnQuit);
}

TEST(VersionCheck, VersionNumbersOrder) {
    const std::pair<Text, double> cases[] = {{u"", 0},        {u"2", 20000},     {u"1.10.5", 10010.0005},
                                             {u" 1.-2", 9998.}, {u"+3.x1", 30000}, {u"0.0.0.3", 3e-8}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(GetVersionNumber(c.first), c.second) << ToUtf8(c.first);
}

TEST(VersionCheck, OnlyANewerVersionIsFetchedAndStarted) {
    const struct {
        Text version;
        bool fails;
        std::string log;
    } cases[] = {
        {u"1.1.1", false, "正在检查版本号……"},
        {u"1.1.2", false, "正在检查版本号……|正在下载文件\"/q/n.exe\"……|正在启动新的更新程序……"},
        {u"1.2", true, "正在检查版本号……|正在下载文件\"/q/n.exe\"……|正在启动新的更新程序……|检查版本号错误53：文件未找到"},
    };
    for (const auto& c : cases) {
        Machine m;
        m.s.process.fails = c.fails;
        m.s.http.server = FileServer{"new"};
        EXPECT_TRUE(m.Run(u"ver,/q/n.exe," + c.version));
        EXPECT_EQ(m.Log(), c.log);
        const bool handsOver = !c.fails && c.version != u"1.1.1";
        EXPECT_EQ(m.form.blnQuit, handsOver) << m.Log();
        if (!handsOver) continue;
        EXPECT_EQ(m.s.files.Contents(u"c:\\work\\temp\\QXUpdateTemp.exe"), "new");
        EXPECT_EQ(Setting(m, kOldExePathKey), kInstalled);
        EXPECT_EQ(m.s.process.started.at(0).first, u"\"c:\\work\\temp\\QXUpdateTemp.exe\" " + kTag);
    }
}

TEST(WorkPath, MovesBothFoldersOnlyToAFolderThatCanBeMade) {
    Machine m;
    EXPECT_TRUE(m.Run(u"workpath,d:\\new"));
    EXPECT_EQ(m.form.strWorkDir, u"d:\\new\\");
    EXPECT_EQ(m.form.strTempDir, u"d:\\new\\Temp\\");
    EXPECT_TRUE(m.s.files.DirExists(u"d:\\new\\temp"));
    EXPECT_EQ(m.Log(), "正在设置工作目录\"d:\\new\\\"……");
    m.s.files.fails = [](const std::string& op, const Text&) { return op == "MakeDir"; };
    EXPECT_TRUE(m.Run(u"workpath,e:\\x\\"));
    EXPECT_EQ(m.form.strWorkDir, u"d:\\new\\");
}

}  // namespace
}  // namespace qx::fake
