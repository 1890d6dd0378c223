#include "config/VersionCheck.h"

#include "fakes/UpdaterCopies.h"
#include "script/SessionFixture.h"
#include "version.h"

namespace qx::fake {
namespace {

Text Dotted(int a, int b, int c) { return FromUtf8(std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c)); }

TEST(GetVersionNumber, OrdersVersionTexts) {
    const struct {
        const char16_t* newer;
        const char16_t* older;
    } newer[] = {
        {u"1.1.2", u"1.1.1"},  {u"1.2", u"1.1.9999"}, {u"1.1.1.1", u"1.1.1"}, {u"1.10.5", u"1.9.9"},
        {u"2", u"1.9999.9999"}, {u"0.0.1", u""},     {u"1", u"abc"},          {u"1.1.1", u"1.1.x"},
    };
    for (const auto& c : newer) {
        EXPECT_GT(GetVersionNumber(c.newer), GetVersionNumber(c.older))
            << ToUtf8(c.newer) << " should be newer than " << ToUtf8(c.older);
    }
    const struct {
        const char16_t* a;
        const char16_t* b;
    } same[] = {
        {u"1.1.10000", u"1.2"},    {u"1..2", u"1.0.2"}, {u" 1. 2", u"1.2"},      {u"1.2a.3b", u"1.2.3"},
        {u"1.2.", u"1.2"},         {u"", u"0"},         {u"abc", u"0.0.0"},     {u"01.001.0001", u"1.1.1"},
        {u".5", u"0.5"},           {u"1.1.1", u"1.1.1"},
    };
    for (const auto& c : same) {
        EXPECT_DOUBLE_EQ(GetVersionNumber(c.a), GetVersionNumber(c.b)) << ToUtf8(c.a) << " vs " << ToUtf8(c.b);
    }
    // The weights themselves: parts count 10000, 1, 0.0001 and 0.00000001.
    EXPECT_DOUBLE_EQ(GetVersionNumber(u"2"), 20000);
    EXPECT_DOUBLE_EQ(GetVersionNumber(u"1.10.5"), 10010.0005);
    EXPECT_DOUBLE_EQ(GetVersionNumber(u"0.0.0.3") * 1e8, 3);
}

class CheckVersion : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        FeedDistinctRandoms(s.random);
        site[u"/qxupdate/QXUpdate.exe"].content = "MZ a newer updater" + Bytes(32, '\0');
    }
    const Text running = FrmUpdate::GetVersion();
    const Text next = Dotted(kVersionMajor, kVersionMinor, kVersionRevision + 1);
    const Text kCaption = u"在线升级程序(版本" + running + u")";
};

TEST_F(CheckVersion, SameOrOlderVersionOnlySaysItChecked) {
    const Text older = kVersionRevision > 0 ? Dotted(kVersionMajor, kVersionMinor, kVersionRevision - 1)
                                            : Dotted(kVersionMajor - 1, 9999, 9999);
    for (const Text& offered : {running, older, Text(), Text(u"x")}) {
        SCOPED_TRACE(ToUtf8(offered));
        s.window.list.clear();
        DoCheckVersion(form, u"QXUpdate.exe", offered);
        EXPECT_EQ(Log(), std::vector<std::string>{"正在检查版本号……"});
        EXPECT_TRUE(s.http.requests.empty());
        EXPECT_FALSE(form.blnQuit);
        EXPECT_EQ(s.window.caption, kCaption);
    }
}

TEST_F(CheckVersion, NewerVersionIsDownloadedAndStartedToTakeOver) {
    DoCheckVersion(form, u"QXUpdate.exe", next);
    EXPECT_EQ(Log(), (std::vector<std::string>{"正在检查版本号……", "正在下载文件\"QXUpdate.exe\"……",
                                               "正在启动新的更新程序……"}));
    const Text target = u"c:\\qxwork\\temp\\QXUpdateTemp.exe";
    EXPECT_EQ(s.files.Contents(target), site[u"/qxupdate/QXUpdate.exe"].content);
    EXPECT_TRUE(IsHandOverTag(s.window.caption)) << ToUtf8(s.window.caption);
    EXPECT_EQ(ToUtf8(s.settings.GetSetting(u"QXUpdate", u"Update", u"OldExePath", u"")),
              "C:\\Program Files\\QX\\QXUpdate.exe");
    ASSERT_EQ(s.process.started.size(), 1u);
    EXPECT_EQ(s.process.started[0].first, u"\"" + target + u"\" " + s.window.caption);
    EXPECT_EQ(s.process.started[0].second, winstyle::kNormalFocus);
    EXPECT_TRUE(form.blnQuit);
}

TEST_F(CheckVersion, FailuresLetTheScriptGoOn) {
    // A download that fails stops nothing: the next line runs.
    Publish({"2026-12-01", "ver,Missing.exe," + ToUtf8(next), "message,after"});
    form.cmdUpdate_Click();
    const auto log = Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2], "正在检查版本号……");
    EXPECT_EQ(log[3], "正在下载文件\"Missing.exe\"……");
    EXPECT_EQ(log[log.size() - 2], "after");
    EXPECT_EQ(log.back(), "升级完毕。");
    EXPECT_FALSE(form.blnQuit);
    EXPECT_TRUE(s.process.started.empty());
    EXPECT_EQ(s.window.caption, kCaption);
    EXPECT_TRUE(s.settings.GetSetting(u"QXUpdate", u"Update", u"OldExePath", u"").empty());

    // A start that fails is logged as the check's failure; the script goes on.
    s.window.list.clear();
    s.process.startFails = true;
    Publish({"2026-12-02", "ver,QXUpdate.exe," + ToUtf8(next), "message,after"});
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{"正在读取服务器上的升级信息……", "正在分析升级信息……",
                                               "正在检查版本号……", "正在下载文件\"QXUpdate.exe\"……",
                                               "正在启动新的更新程序……", "检查版本号错误53：文件未找到", "after",
                                               "升级完毕。"}));
    EXPECT_FALSE(form.blnQuit);

    // A start that works stops the session before its next line.
    s.window.list.clear();
    s.process.startFails = false;
    Publish({"2026-12-03", "ver,QXUpdate.exe," + ToUtf8(next), "message,after"});
    form.cmdUpdate_Click();
    EXPECT_EQ(Log().back(), "正在启动新的更新程序……");
    EXPECT_TRUE(form.blnQuit);
}

}  // namespace
}  // namespace qx::fake
