#include "config/HandOver.h"

#include "config/SetUpdateIP.h"
#include "config/VersionCheck.h"
#include "fakes/FormFixture.h"
#include "fakes/UpdaterCopies.h"

namespace qx::fake {
namespace {

using Lines_t = std::vector<std::string>;

const Text kDir = u"C:\\Program Files\\QX\\";
const Text kInstalled = kDir + u"QXUpdate.exe";
const Text kTag = u"0123456789ABCDEF0123456789ABCDEF";

const std::string kExitOld = "正在退出旧版本升级程序……";
const std::string kExitTemp = "正在退出临时程序……";
const std::string kExitFailed = "退出旧版本的升级程序失败……";
const std::string kCopying = "正在复制新的更新程序……";
const std::string kCopyFailed = "复制新的更新程序失败。";
const std::string kStarting = "正在启动新的更新程序……";
const std::string kReplaced = "更换旧版本的升级程序成功。";
const std::string kPressStart = "请按“开始升级”按钮重新进行升级。";

Bytes Trailer(const std::string& text) { return text + Bytes(32 - text.size(), '\0'); }
const Bytes kOldProgram = "MZ old updater body" + Trailer("1.2.3.4");
const Bytes kNewProgram = "MZ new updater, a longer body" + Trailer("10.0.0.9");

std::string HandOverSetting(Settings& settings, const char16_t* key) {
    return ToUtf8(settings.GetSetting(u"QXUpdate", u"Update", key, u"<none>"));
}

int HandOverKeysLeft(const Settings& settings) {
    int n = 0;
    for (const auto& kv : settings.values) n += std::get<0>(kv.first) == u"QXUpdate" && std::get<1>(kv.first) == u"Update";
    return n;
}

// One copy of the updater, started with kTag, and the window of the copy
// before it.
class HandOver : public FormTest {
protected:
    void SetUp() override {
        FeedDistinctRandoms(s.random);
        form.strAppDir = kDir;
        s.files.AddFile(kInstalled, kOldProgram);
        s.window.caption = u"在线升级程序(版本1.1.1)";
    }
    // The temporary copy runs from own and is to update the installed file.
    void BeTemporaryCopy(const Text& folder, const Text& name = u"QXUpdateTemp.exe") {
        s.process.programPath = folder + name;
        form.strAppDir = folder;
        s.files.AddFile(folder + name, kNewProgram);
        s.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
    }
    uint64_t TimedRun() {
        const uint64_t t0 = s.clock.monotonic;
        UpdateThisApp(form, kTag);
        return s.clock.monotonic - t0;
    }
};

TEST_F(HandOver, EveryRoleLogsItsLinesAndOnlyASuccessfulTemporaryCopyRestarts) {
    const int kNoWindow = 0;
    const struct {
        const char* name;
        bool temporary;
        const char16_t* serverIP;
        int closes;
        bool locked;
        Lines_t log;
    } cases[] = {
        {"restarted, no window has the tag", false, u"", kNoWindow, false, {kExitTemp, kReplaced, kPressStart}},
        {"restarted, temporary copy closes", false, u"", 1, false, {kExitTemp, kReplaced, kPressStart}},
        {"temporary, new version", true, u"", 1, false, {kExitOld, kCopying, kStarting}},
        {"temporary, new address", true, u"10.1.2.3", 2, false, {kExitOld, kCopying, kStarting}},
        {"temporary, old copy stays", true, u"", Process::kNeverCloses, false, {kExitOld, kExitFailed}},
        {"temporary, installed file locked", true, u"", 1, true, {kExitOld, kCopying, kCopyFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Services fresh;
        FrmUpdate f(fresh.platform);
        FeedDistinctRandoms(fresh.random);
        f.strAppDir = kDir;
        fresh.window.caption = u"before";
        fresh.files.AddFile(kInstalled, kOldProgram);
        if (c.temporary) {
            fresh.process.programPath = kDir + u"QXUpdateTemp.exe";
            fresh.files.AddFile(fresh.process.programPath, kNewProgram);
            fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
        }
        if (*c.serverIP) fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"ServerIP", c.serverIP);
        if (c.closes != kNoWindow) fresh.process.AddWindow(kTag, c.closes);
        if (c.locked) fresh.files.Lock(kInstalled);

        UpdateThisApp(f, kTag);

        EXPECT_EQ(Lines(fresh.window), c.log);
        const bool restarts = c.log.back() == kStarting;
        EXPECT_EQ(fresh.process.started.size(), restarts ? 1u : 0u);
        EXPECT_EQ(IsHandOverTag(fresh.window.caption), restarts) << ToUtf8(fresh.window.caption);
        EXPECT_EQ(fresh.files.Contents(kInstalled) == kOldProgram, !restarts) << "the installed file";
        EXPECT_EQ(HandOverSetting(fresh.settings, u"OldExePath"), "<none>") << "a temporary copy takes it at once";
    }
}

TEST_F(HandOver, NewVersionTakesThePlaceOfTheInstalledFileAndRestartsIt) {
    BeTemporaryCopy(u"c:\\qxwork\\temp\\");
    s.process.AddWindow(kTag, 1);
    const auto pathsBefore = s.files.AllPaths();

    UpdateThisApp(form, kTag);

    EXPECT_EQ(s.files.Contents(kInstalled), kNewProgram) << "not the downloaded file byte for byte";
    EXPECT_EQ(s.files.AllPaths(), pathsBefore) << "a file was left behind or the own file removed";
    EXPECT_FALSE(s.process.windows[0].alive);
    EXPECT_TRUE(IsHandOverTag(s.window.caption)) << ToUtf8(s.window.caption);
    EXPECT_NE(s.window.caption, kTag) << "the restart needs a fresh tag";
    ASSERT_EQ(s.process.started.size(), 1u);
    EXPECT_EQ(ToUtf8(s.process.started[0].first),
              "\"C:\\Program Files\\QX\\QXUpdate.exe\" " + ToUtf8(s.window.caption));
    EXPECT_EQ(s.process.started[0].second, winstyle::kNormalFocus);
    EXPECT_EQ(HandOverSetting(s.settings, u"ToDelete"), "c:\\qxwork\\temp\\QXUpdateTemp.exe");
    EXPECT_EQ(HandOverKeysLeft(s.settings), 1) << "only ToDelete may remain";
}

TEST_F(HandOver, NewAddressOrSetupPathRewritesOnlyTheTrailer) {
    const struct {
        const char16_t* ip;
        const char16_t* setup;
        const char* trailer;
    } cases[] = {
        {u"10.1.2.3", u"", "10.1.2.3"},
        {u"", u"D:\\Setup", "D:\\Setup"},
        {u"10.1.2.3", u"D:\\Setup\\", "D:\\Setup\\"},  // the setup path is written last
    };
    BeTemporaryCopy(kDir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trailer);
        s.files.AddFile(kInstalled, kOldProgram);
        s.process.started.clear();
        s.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
        if (*c.ip) s.settings.SaveSetting(u"QXUpdate", u"Update", u"ServerIP", c.ip);
        if (*c.setup) s.settings.SaveSetting(u"QXUpdate", u"Update", u"SetupPath", c.setup);

        UpdateThisApp(form, kTag);

        const Bytes now = s.files.Contents(kInstalled);
        ASSERT_EQ(now.size(), kOldProgram.size());
        EXPECT_EQ(now.substr(0, now.size() - 32), kOldProgram.substr(0, kOldProgram.size() - 32));
        EXPECT_EQ(now.substr(now.size() - 32), Trailer(c.trailer));
        EXPECT_EQ(HandOverSetting(s.settings, u"ServerIP"), "<none>");
        EXPECT_EQ(HandOverSetting(s.settings, u"SetupPath"), "<none>");
        EXPECT_EQ(s.process.started.size(), 1u);
        EXPECT_EQ(s.files.Contents(kDir + u"QXUpdateTemp.exe"), kNewProgram) << "the own file was touched";
    }
}

TEST_F(HandOver, CloseRequestsEveryTenthOfASecondForAtMostSixSeconds) {
    const struct {
        int closes;
        bool gone;
    } cases[] = {{1, true}, {3, true}, {40, true}, {Process::kNeverCloses, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closes);
        s.window.list.clear();
        s.process.windows.clear();
        const uintptr_t other = s.process.AddWindow(kTag, c.closes);
        const int doEventsBefore = s.window.doEvents;
        const uint64_t elapsed = TimedRun();
        const int requests = s.process.WindowOf(other).closeRequests;
        if (c.gone) {
            EXPECT_EQ(requests, c.closes);
            EXPECT_LT(elapsed, 6000u);
            EXPECT_EQ(Lines(s.window), (Lines_t{kExitTemp, kReplaced, kPressStart}));
        } else {
            EXPECT_GE(elapsed, 6000u);
            EXPECT_LE(elapsed, 6100u);
            EXPECT_GE(requests, 60);
            EXPECT_LE(requests, 61);
            EXPECT_EQ(Lines(s.window), (Lines_t{kExitTemp, kExitFailed}));
        }
        EXPECT_GE(elapsed + 100, static_cast<uint64_t>(requests) * 100) << "requests sent faster than every 100 ms";
        EXPECT_GE(s.window.doEvents - doEventsBefore, requests) << "the window froze while waiting";
    }
}

TEST_F(HandOver, TheWaitsAreElapsedTimeAcrossMidnightAndClockChanges) {
    s.clock.timeOfDay = 86399.5;
    s.process.AddWindow(kTag, Process::kNeverCloses);
    s.window.onDoEvents = [this] {
        if (s.window.doEvents == 10) s.clock.timeOfDay -= 3600;  // the user sets the clock back
        if (s.window.doEvents > 500) s.window.alive = false;     // give up on a runaway wait
    };
    const uint64_t elapsed = TimedRun();
    EXPECT_EQ(Lines(s.window), (Lines_t{kExitTemp, kExitFailed}));
    EXPECT_GE(elapsed, 6000u);
    EXPECT_LE(elapsed, 6100u);
}

TEST_F(HandOver, InstalledFileStillInUseIsRetriedForThreeSeconds) {
    const uint64_t kNever = UINT64_MAX;
    const struct {
        bool address;
        uint64_t unlockAfterMs;
    } cases[] = {{false, 1000}, {false, 2900}, {false, kNever}, {true, 500}, {true, kNever}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.address) + "/" + std::to_string(c.unlockAfterMs));
        Services fresh;
        FrmUpdate f(fresh.platform);
        FeedDistinctRandoms(fresh.random);
        f.strAppDir = kDir;
        fresh.window.caption = u"before";
        fresh.process.programPath = kDir + u"QXUpdateTemp.exe";
        fresh.files.AddFile(fresh.process.programPath, kNewProgram);
        fresh.files.AddFile(kInstalled, kOldProgram);
        fresh.files.Lock(kInstalled);
        fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
        if (c.address) fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"ServerIP", u"10.1.2.3");
        const auto pathsBefore = fresh.files.AllPaths();
        const uint64_t t0 = fresh.clock.monotonic;
        fresh.window.onDoEvents = [&] {
            if (fresh.clock.monotonic - t0 >= c.unlockAfterMs) fresh.files.Lock(kInstalled, false);
        };

        UpdateThisApp(f, kTag);

        const uint64_t elapsed = fresh.clock.monotonic - t0;
        const Lines_t log = Lines(fresh.window);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(fresh.files.AllPaths(), pathsBefore) << "a file was left behind";
        if (c.unlockAfterMs == kNever) {
            EXPECT_EQ(log.back(), kCopyFailed);
            EXPECT_EQ(fresh.files.Contents(kInstalled), kOldProgram) << "the old file must stay whole";
            EXPECT_GE(elapsed, 3000u);
            EXPECT_LE(elapsed, 3100u);
            EXPECT_TRUE(fresh.process.started.empty());
            EXPECT_EQ(ToUtf8(fresh.window.caption), "before");
            EXPECT_EQ(HandOverKeysLeft(fresh.settings), 0) << "nothing for a restarted copy to find";
        } else {
            EXPECT_EQ(log.back(), kStarting);
            EXPECT_GE(elapsed, c.unlockAfterMs);
            EXPECT_LE(elapsed, c.unlockAfterMs + 100);
            EXPECT_EQ(fresh.files.Contents(kInstalled) == kNewProgram, !c.address);
            EXPECT_EQ(fresh.process.started.size(), 1u);
        }
    }
}

TEST_F(HandOver, RestartedCopyDeletesTheTemporaryFileWhenItCan) {
    const Text kTemp = kDir + u"QXUpdateTemp.exe";
    const uint64_t kNever = UINT64_MAX;
    const struct {
        const char* name;
        bool setting;
        bool file;
        uint64_t unlockAfterMs;
        bool gone;
    } cases[] = {
        {"file free", true, true, 0, true},
        {"file held for a moment", true, true, 700, true},
        {"file held for good", true, true, kNever, false},
        {"file already gone", true, false, 0, true},
        {"nothing to delete", false, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        s.window.list.clear();
        s.settings.values.clear();
        if (s.files.FileExists(kTemp)) {
            s.files.Lock(kTemp, false);
            s.files.Delete(kTemp);
        }
        if (c.file) s.files.AddFile(kTemp, kNewProgram);
        if (c.file && c.unlockAfterMs > 0) s.files.Lock(kTemp);
        if (c.setting) s.settings.SaveSetting(u"QXUpdate", u"Update", u"ToDelete", kTemp);
        const uint64_t t0 = s.clock.monotonic;
        s.window.onDoEvents = [&] {
            if (s.clock.monotonic - t0 >= c.unlockAfterMs && s.files.Find(kTemp)) s.files.Lock(kTemp, false);
        };

        const uint64_t elapsed = TimedRun();

        EXPECT_EQ(Lines(s.window), (Lines_t{kExitTemp, kReplaced, kPressStart})) << "failures stay quiet";
        EXPECT_EQ(s.files.FileExists(kTemp), !c.gone && c.file);
        EXPECT_EQ(HandOverKeysLeft(s.settings), 0);
        EXPECT_LE(elapsed, 3100u);
        EXPECT_TRUE(s.process.started.empty());
        s.window.onDoEvents = nullptr;
    }
}

TEST_F(HandOver, OtherFailuresAreLoggedOnceAndClosingThisCopyEndsTheWaitQuietly) {
    BeTemporaryCopy(kDir);
    s.process.AddWindow(kTag, 1);
    s.process.startFails = true;
    UpdateThisApp(form, kTag);
    EXPECT_EQ(Lines(s.window), (Lines_t{kExitOld, kCopying, kStarting, "更新升级主程序错误53：文件未找到"}));

    s.window.list.clear();
    s.process.windows.clear();
    s.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
    s.settings.SaveSetting(u"QXUpdate", u"Update", u"ServerIP", u"10.0.0.1");
    s.settings.SaveSetting(u"QXUpdate", u"Update", u"SetupPath", u"d:\\setup");
    s.process.AddWindow(kTag, Process::kNeverCloses);
    const int roundsBefore = s.window.doEvents;
    s.window.onDoEvents = [this, roundsBefore] {
        if (s.window.doEvents - roundsBefore == 3) s.window.alive = false;  // the user closes this copy
    };
    EXPECT_NO_THROW(UpdateThisApp(form, kTag)) << "wrote to a destroyed window";
    EXPECT_EQ(Lines(s.window), (Lines_t{kExitOld}));
    EXPECT_EQ(s.process.WindowOf(s.process.windows[0].handle).closeRequests, 3);
    EXPECT_EQ(HandOverSetting(s.settings, u"ServerIP") + HandOverSetting(s.settings, u"SetupPath"), "<none><none>")
        << "nothing left for the next hand-over to misread";

    // Closed while the installed file is still in use: no restart, no file left.
    s.window.list.clear();
    s.window.alive = true;
    s.process.windows.clear();
    s.process.AddWindow(kTag, 1);
    s.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
    s.files.AddFile(kInstalled, kOldProgram);
    s.files.Lock(kInstalled);
    const auto pathsBefore = s.files.AllPaths();
    const int roundsAtLock = s.window.doEvents;
    s.window.onDoEvents = [this, roundsAtLock] {
        if (s.window.doEvents - roundsAtLock == 5) s.window.alive = false;
    };
    EXPECT_NO_THROW(UpdateThisApp(form, kTag));
    EXPECT_EQ(Lines(s.window), (Lines_t{kExitOld, kCopying}));
    EXPECT_EQ(s.files.AllPaths(), pathsBefore);
    EXPECT_EQ(s.files.Contents(kInstalled), kOldProgram);
    EXPECT_TRUE(s.process.started.empty());

    // Closed in the very round the new program got in place: that counts,
    // and the next start removes this copy's file.
    s.window.alive = true;
    s.files.Lock(kInstalled, false);
    s.process.windows.clear();
    s.process.AddWindow(kTag, 1);
    s.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
    const int roundsAtFree = s.window.doEvents;
    s.window.onDoEvents = [this, roundsAtFree] {
        if (s.window.doEvents - roundsAtFree == 2) s.window.alive = false;
    };
    UpdateThisApp(form, kTag);
    EXPECT_EQ(s.files.Contents(kInstalled), kNewProgram);
    EXPECT_EQ(HandOverSetting(s.settings, u"ToDelete"), ToUtf8(kDir + u"QXUpdateTemp.exe"));
    EXPECT_TRUE(s.process.started.empty());
    s.window.alive = true;
    s.window.onDoEvents = nullptr;
    form.CheckStartPara();
    EXPECT_FALSE(s.files.FileExists(kDir + u"QXUpdateTemp.exe"));
    EXPECT_EQ(HandOverKeysLeft(s.settings), 0);
}

// Every change made to the machine's files, as "operation target".
class RecordingFiles : public IFileSystem {
public:
    explicit RecordingFiles(FakeFileSystem& inner) : in(inner) {}
    std::vector<std::string> changes;

    bool FileExists(const Text& p) override { return in.FileExists(p); }
    bool DirExists(const Text& p) override { return in.DirExists(p); }
    int64_t FileLength(const Text& p) override { return in.FileLength(p); }
    Bytes ReadAll(const Text& p) override { return in.ReadAll(p); }
    Bytes ReadAt(const Text& p, int64_t o, size_t n) override { return in.ReadAt(p, o, n); }
    void WriteAt(const Text& p, int64_t o, const Bytes& d) override {
        Note("WriteAt " + std::to_string(o) + "+" + std::to_string(d.size()), p);
        in.WriteAt(p, o, d);
    }
    std::unique_ptr<IOpenFile> OpenForAppend(const Text& p) override {
        Note("OpenForAppend", p);
        return in.OpenForAppend(p);
    }
    std::unique_ptr<IOpenFile> CreateForWrite(const Text& p) override {
        Note("CreateForWrite", p);
        return in.CreateForWrite(p);
    }
    void Replace(const Text& from, const Text& to) override {
        Note("Replace", to);
        in.Replace(from, to);
    }
    void Copy(const Text& from, const Text& to) override {
        Note("Copy", to);
        in.Copy(from, to);
    }
    void Delete(const Text& p) override {
        Note("Delete", p);
        in.Delete(p);
    }
    uint32_t GetAttributes(const Text& p) override { return in.GetAttributes(p); }
    void SetAttributes(const Text& p, uint32_t a) override {
        Note("SetAttributes", p);
        in.SetAttributes(p, a);
    }
    std::vector<Text> List(const Text& p, uint32_t m) override { return in.List(p, m); }
    void MakeDir(const Text& p) override {
        Note("MakeDir", p);
        in.MakeDir(p);
    }
    bool CanOpenExclusively(const Text& p) override { return in.CanOpenExclusively(p); }
    uint64_t GetFileWriteTime(const Text& p) override { return in.GetFileWriteTime(p); }
    void SetFileTimes(const Text& p, uint64_t t) override {
        Note("SetFileTimes", p);
        in.SetFileTimes(p, t);
    }

    // The changes whose target is path.
    std::vector<std::string> To(const Text& path) const {
        std::vector<std::string> out;
        const std::string suffix = " " + ToUtf8(path);
        for (const auto& c : changes) {
            if (c.size() > suffix.size() && c.compare(c.size() - suffix.size(), suffix.size(), suffix) == 0) {
                out.push_back(c.substr(0, c.size() - suffix.size()));
            }
        }
        return out;
    }

private:
    void Note(const std::string& op, const Text& p) { changes.push_back(op + " " + ToUtf8(p)); }
    FakeFileSystem& in;
};

TEST_F(HandOver, TheInstalledFileIsReplacedInOneStepOrRewrittenOnlyInItsTrailer) {
    const std::string trailerWrite = "WriteAt " + std::to_string(kOldProgram.size() - 32) + "+32";
    const struct {
        const char16_t* ip;
        std::vector<std::string> changes;
    } cases[] = {{u"", {"Replace"}}, {u"10.1.2.3", {trailerWrite}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.ip));
        Services fresh;
        RecordingFiles files(fresh.files);
        const Platform platform{fresh.window, fresh.process, files,         fresh.settings, fresh.registry,
                                fresh.http,   fresh.clock,   fresh.random, fresh.codepage};
        FrmUpdate f(platform);
        f.strAppDir = kDir;
        fresh.process.programPath = kDir + u"QXUpdateTemp.exe";
        fresh.files.AddFile(fresh.process.programPath, kNewProgram);
        fresh.files.AddFile(kInstalled, kOldProgram);
        fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"OldExePath", kInstalled);
        if (*c.ip) fresh.settings.SaveSetting(u"QXUpdate", u"Update", u"ServerIP", c.ip);

        UpdateThisApp(f, kTag);

        EXPECT_EQ(files.To(kInstalled), c.changes) << ::testing::PrintToString(files.changes);
        EXPECT_EQ(fresh.process.started.size(), 1u);
    }
}

// The whole road: the running copy, the temporary copy and the restarted
// copy as three processes on one machine.
class WholeHandOver : public ::testing::Test {
protected:
    void SetUp() override {
        FeedDistinctRandoms(m.random);
        m.files.AddFile(kInstalled, kOldProgram);
    }
    // The tag on a command line the way the started copy reads it.
    static Text TagOf(const std::pair<Text, int>& started, const Text& program) {
        const Text head = u"\"" + program + u"\"";
        EXPECT_EQ(started.first.substr(0, head.size()), head) << ToUtf8(started.first);
        EXPECT_EQ(started.second, winstyle::kNormalFocus);
        return started.first.substr(head.size());
    }
    // Starts the copy named by from's last start, the window of from
    // captioned with its tag; the copy closes it at the first request.
    void RunNext(RunningCopy& from, RunningCopy& next, const Lines_t& expected) {
        next.process.AddWindow(from.window.caption, 1);
        ASSERT_TRUE(next.form.Form_Load());
        next.form.Timer1_Timer();
        EXPECT_EQ(Lines(next.window), expected);
        EXPECT_FALSE(next.process.windows[0].alive) << "the previous copy was not closed";
        from.form.Form_QueryUnload();
        EXPECT_TRUE(next.window.updateEnabled);
    }
    Machine m;
};

TEST_F(WholeHandOver, NewServerAddress) {
    const Text temp = kDir + u"QXUpdateTemp.exe";
    RunningCopy a(m, kInstalled, u"");
    ASSERT_TRUE(a.form.Form_Load());
    DoSetUpdateIP(a.form, u"10.9.8.7:8080");
    ASSERT_EQ(a.process.started.size(), 1u);
    EXPECT_TRUE(a.form.blnQuit);

    RunningCopy t(m, temp, TagOf(a.process.started[0], temp));
    RunNext(a, t, {kExitOld, kCopying, kStarting});
    const Bytes now = m.files.Contents(kInstalled);
    EXPECT_EQ(now.substr(0, now.size() - 32), kOldProgram.substr(0, kOldProgram.size() - 32));
    EXPECT_EQ(now.substr(now.size() - 32), Trailer("10.9.8.7:8080"));
    ASSERT_EQ(t.process.started.size(), 1u);

    RunningCopy n(m, kInstalled, TagOf(t.process.started[0], kInstalled));
    RunNext(t, n, {kExitTemp, kReplaced, kPressStart});
    EXPECT_EQ(ToUtf8(n.form.strServerURL), "http://10.9.8.7:8080");
    EXPECT_FALSE(m.files.FileExists(temp));
    EXPECT_EQ(HandOverKeysLeft(m.settings), 0);
    EXPECT_NE(a.window.caption, t.window.caption);
}

TEST_F(WholeHandOver, NewVersion) {
    const Text temp = u"c:\\qxwork\\temp\\QXUpdateTemp.exe";
    m.http.server = FileServer{kNewProgram};
    RunningCopy a(m, kInstalled, u"");
    ASSERT_TRUE(a.form.Form_Load());
    DoCheckVersion(a.form, u"QXUpdate.exe", u"99.0");
    ASSERT_EQ(a.process.started.size(), 1u) << ::testing::PrintToString(Lines(a.window));
    EXPECT_TRUE(a.form.blnQuit);

    RunningCopy t(m, temp, TagOf(a.process.started[0], temp));
    RunNext(a, t, {kExitOld, kCopying, kStarting});
    EXPECT_EQ(m.files.Contents(kInstalled), kNewProgram);
    ASSERT_EQ(t.process.started.size(), 1u);

    RunningCopy n(m, kInstalled, TagOf(t.process.started[0], kInstalled));
    RunNext(t, n, {kExitTemp, kReplaced, kPressStart});
    EXPECT_EQ(ToUtf8(n.form.strServerURL), "http://10.0.0.9") << "the new file's own address";
    EXPECT_FALSE(m.files.FileExists(temp));
    EXPECT_EQ(HandOverKeysLeft(m.settings), 0);
}

}  // namespace
}  // namespace qx::fake
