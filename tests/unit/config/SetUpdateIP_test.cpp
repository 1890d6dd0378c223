#include "config/SetUpdateIP.h"

#include "fakes/FormFixture.h"
#include "fakes/UpdaterCopies.h"

namespace qx::fake {
namespace {

const Text kDir = u"C:\\Program Files\\QX\\";
const Text kInstalled = kDir + u"QXUpdate.exe";
const Text kCopy = kDir + u"QXUpdateTemp.exe";
const Bytes kProgram = "MZ updater body" + Bytes(32, '\0');
const char kCaption[] = "在线升级程序(版本1.1.1)";

class SetUpdateIP : public FormTest {
protected:
    void SetUp() override {
        FeedDistinctRandoms(s.random);
        form.strAppDir = kDir;
        s.window.caption = FromUtf8(kCaption);
    }
    std::string Setting(const char16_t* key) {
        return ToUtf8(s.settings.GetSetting(u"QXUpdate", u"Update", key, u"<none>"));
    }
};

TEST_F(SetUpdateIP, CopiesTheProgramLeavesInstructionsAndStartsTheCopy) {
    s.files.AddFile(kInstalled, kProgram);
    DoSetUpdateIP(form, u"update.example.com:8080");

    EXPECT_EQ(Lines(s.window), std::vector<std::string>{"正在设置升级服务器地址……"});
    EXPECT_EQ(s.files.Contents(kCopy), kProgram) << "the copy must be byte-identical";
    EXPECT_TRUE(IsHandOverTag(s.window.caption)) << ToUtf8(s.window.caption);
    EXPECT_EQ(Setting(u"OldExePath"), ToUtf8(kInstalled));
    EXPECT_EQ(Setting(u"ServerIP"), "update.example.com:8080");
    ASSERT_EQ(s.process.started.size(), 1u);
    EXPECT_EQ(ToUtf8(s.process.started[0].first),
              "\"C:\\Program Files\\QX\\QXUpdateTemp.exe\" " + ToUtf8(s.window.caption));
    EXPECT_EQ(s.process.started[0].second, winstyle::kNormalFocus);
    EXPECT_TRUE(form.blnQuit);
}

TEST_F(SetUpdateIP, AFailureIsLoggedAndStopsAtTheFailingStep) {
    const struct {
        const char* name;
        bool installed;
        bool copyReadOnly;
        bool startFails;
        bool handedOver;  // announced, caption and settings already changed
    } cases[] = {
        {"installed file missing", false, false, false, false},
        {"an old copy that cannot be replaced", true, true, false, false},
        {"the copy does not start", true, false, true, true},
    };
    const std::string kFailure = "设置升级服务器IP地址错误";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Services fresh;
        FrmUpdate f(fresh.platform);
        f.strAppDir = kDir;
        fresh.window.caption = FromUtf8(kCaption);
        fresh.files.AddDir(kDir);
        if (c.installed) fresh.files.AddFile(kInstalled, kProgram);
        if (c.copyReadOnly) fresh.files.AddFile(kCopy, "old copy", attr::kReadOnly);
        fresh.process.startFails = c.startFails;

        DoSetUpdateIP(f, u"10.1.2.3");

        const auto log = Lines(fresh.window);
        ASSERT_EQ(log.size(), c.handedOver ? 2u : 1u);
        if (c.handedOver) EXPECT_EQ(log[0], "正在设置升级服务器地址……");
        EXPECT_EQ(log.back().substr(0, kFailure.size()), kFailure) << "with the reason after it";
        EXPECT_GT(log.back().size(), kFailure.size());
        EXPECT_FALSE(f.blnQuit) << "nothing was started, so this copy must not stop";
        EXPECT_TRUE(fresh.process.started.empty());
        EXPECT_EQ(fresh.settings.values.size(), c.handedOver ? 2u : 0u);
        EXPECT_EQ(ToUtf8(fresh.window.caption) == kCaption, !c.handedOver);
        EXPECT_EQ(f.Err.number, 0) << "the failure was logged, not left pending";
    }
}

}  // namespace
}  // namespace qx::fake
