// The window: start-up, the progress log, waiting and the address prompt.
#include <new>

#include "app/SysMenu.h"
#include "download/NumericValue.h"
#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

TEST(ProgressLog, ErrLogAddsThePendingFailureOnce) {
    Machine m;
    m.form.ErrLog(u"a");
    const auto fail = [&](auto raise, const Text& sub) {
        try {
            raise();
        } catch (...) {
            LogFailure(m.form, sub);
        }
    };
    fail([] { throw QxError(53, u"无"); }, u"b");
    fail([] { throw std::bad_alloc(); }, u"c");
    fail([] { throw std::runtime_error("x"); }, u"d");
    fail([] { throw 1; }, u"");
    m.form.ErrLog(u"e");
    EXPECT_EQ(m.Log(), "a|b错误53：无|c错误7：内存不足|d错误5：x|错误5：未知错误|e");
}

TEST(ProgressLog, WaitCountsWholeSecondsOfTheClock) {
    const struct {
        double start;
        float seconds;
        uint64_t ms;
    } cases[] = {{43200, 0, 500}, {43200, 2.5f, 2500}, {86399.2, 1, 1500}, {100, 86400, 86400500}};
    for (const auto& c : cases) {
        Machine m;
        m.s.clock.timeOfDay = c.start;
        const uint64_t before = m.s.clock.monotonic;
        m.form.Wait(c.seconds);
        EXPECT_NEAR(static_cast<double>(m.s.clock.monotonic - before), c.ms, 20) << c.seconds;
    }
    Machine m;
    m.s.window.onDoEvents = [&m] {
        if (m.s.clock.monotonic > 1000500) m.s.window.alive = false;
    };
    m.form.Wait(100);
    EXPECT_LE(m.s.clock.monotonic, 1000520u) << "a closed window ends the wait";
    m.s.window.onDoEvents = [&m] { m.s.clock.timeOfDay = 0; };
    m.s.window.alive = true;
    m.form.Wait(2);
    EXPECT_LE(m.s.clock.monotonic, 1004000u) << "a clock set back";
    EXPECT_THROW(m.form.Wait(std::numeric_limits<float>::infinity()), QxError);
    EXPECT_THROW(ToSingle(1e39), QxError);
}

TEST(StartUp, LoadsOnceAndChecksTheCommandLine) {
    Machine m;
    m.s.process.previousInstance = true;
    EXPECT_FALSE(m.form.Form_Load());
    EXPECT_EQ(m.s.window.boxes.size(), 1u);
    m.s.process.previousInstance = false;
    EXPECT_TRUE(m.form.Form_Load());
    EXPECT_EQ(m.s.window.caption, u"在线升级程序(版本1.1.1)");
    EXPECT_EQ(m.form.strWorkDir, u"c:\\qxwork\\");
    EXPECT_EQ(m.form.strTempDir, u"c:\\qxwork\\temp\\");

    m.s.process.fails = true;
    m.form.Timer1_Timer();
    EXPECT_FALSE(m.s.window.timerRunning);
    EXPECT_TRUE(m.s.window.updateEnabled);
    EXPECT_EQ(m.Log(), "检查启动参数错误5：命令行");
}

TEST(SysMenu, PromptsForTheAddressUntilItIsHandedOver) {
    Machine m;
    m.s.files.AddFile(u"c:\\app\\QXUpdate.exe", "MZ" + Bytes(32, '\0'));
    PromptSetIP(m.form);
    m.s.window.inputAnswers = {u"", u"9.9.9.9"};
    PromptSetIP(m.form);
    EXPECT_TRUE(m.s.process.started.empty()) << "cancelled";
    PromptSetIP(m.form);
    EXPECT_EQ(m.s.window.inputDefaults, std::vector<Text>(5, u"127.0.0.1")) << "three failing dialogs, then two answers";
    EXPECT_TRUE(m.form.blnQuit);
}

}  // namespace
}  // namespace qx::fake
