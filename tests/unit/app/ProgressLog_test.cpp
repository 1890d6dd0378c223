#include <cmath>
#include <limits>
#include <set>

#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

using ProgressLog = FormTest;

TEST_F(ProgressLog, MessageAppendsRepaintsAndSelectsNewestLine) {
    form.Message(u"正在读取服务器上的升级信息……");
    form.Message(u"");
    form.Message(u"升级完毕。");
    ASSERT_EQ(s.window.list.size(), 3u);
    EXPECT_EQ(s.window.list[1], u"") << "an empty message is still a line";
    EXPECT_EQ(s.window.list[2], u"升级完毕。");
    EXPECT_EQ(s.window.listIndex, 2) << "the newest line must be selected";
    EXPECT_EQ(s.window.refreshes, 3) << "each line is repainted at once";
}

TEST_F(ProgressLog, ErrLogLineForEachPendingErrorState) {
    struct Case {
        const char* name;
        int32_t number;
        Text description;
        Text sub;
        Text expected;
    };
    const Case cases[] = {
        {"no text, error pending", 53, u"文件未找到", u"", u"错误53：文件未找到"},
        {"negative error number", -2147024891, u"拒绝访问", u"", u"错误-2147024891：拒绝访问"},
        {"no text, nothing pending", 0, u"", u"", u""},
        {"notice, nothing pending", 0, u"", u"下载的数据不完整！", u"下载的数据不完整！"},
        {"operation with a failure", 70, u"拒绝的权限", u"检查启动参数", u"检查启动参数错误70：拒绝的权限"},
    };
    for (const Case& c : cases) {
        form.Err.number = c.number;
        form.Err.description = c.description;
        form.ErrLog(c.sub);
        ASSERT_FALSE(s.window.list.empty()) << c.name;
        EXPECT_EQ(ToUtf8(s.window.list.back()), ToUtf8(c.expected)) << c.name;
        EXPECT_EQ(form.Err.number, 0) << c.name << ": the error must be cleared once logged";
        EXPECT_TRUE(form.Err.description.empty()) << c.name;
    }
}

// Waits run on the fake clock, which moves only when Wait sleeps.
TEST_F(ProgressLog, WaitReturnsAfterTheRoundedCount) {
    struct Case {
        float seconds;
        uint64_t minMs, maxMs;
    };
    // The count is whole rounded seconds and the loop runs while it is not
    // past the request: n seconds end after about n + 0.5 s.
    const Case cases[] = {
        {0.0f, 500, 520}, {1.0f, 1500, 1520}, {2.0f, 2500, 2520}, {0.4f, 500, 520},
        {0.6f, 500, 520}, {1.4f, 1500, 1520}, {-1.0f, 0, 0},
    };
    for (const Case& c : cases) {
        s.clock.sleptMs = 0;
        form.Wait(c.seconds);
        EXPECT_GE(s.clock.sleptMs, c.minMs) << "Wait(" << c.seconds << ")";
        EXPECT_LE(s.clock.sleptMs, c.maxMs) << "Wait(" << c.seconds << ")";
    }
}

TEST_F(ProgressLog, WaitSleepsTenMillisecondsAndYieldsEachRound) {
    form.Wait(1.0f);
    ASSERT_GT(s.clock.sleeps, 0);
    EXPECT_EQ(s.clock.sleptMs, static_cast<uint64_t>(s.clock.sleeps) * 10u) << "every sleep is 10 ms";
    EXPECT_EQ(s.window.doEvents, s.clock.sleeps) << "the window handles messages before each sleep";
}

TEST_F(ProgressLog, WaitAcrossMidnightEndsAfterTheRequestNotADay) {
    s.clock.timeOfDay = 86399.8;  // 23:59:59.8
    form.Wait(1.0f);
    // 00:00:01.3 of the next day: 1.5 s later.
    EXPECT_GE(s.clock.sleptMs, 1500u);
    EXPECT_LE(s.clock.sleptMs, 1520u);
    EXPECT_LT(s.clock.timeOfDay, 2.0) << "the wait went on past the next day's first seconds";
}

TEST_F(ProgressLog, WaitOfADayOrMoreEndsAfterTheRequestedTime) {
    for (float seconds : {86399.0f, 86400.0f, 172800.0f}) {
        s.clock.sleptMs = 0;
        form.Wait(seconds);
        const double slept = s.clock.sleptMs / 1000.0;
        EXPECT_GE(slept, seconds) << "Wait(" << seconds << ") ended early";
        EXPECT_LE(slept, seconds + 1.0) << "Wait(" << seconds << ") ran long";
    }
}

TEST_F(ProgressLog, WaitBeyondSinglePrecisionIsAnOverflowNotAHang) {
    for (float seconds : {std::numeric_limits<float>::infinity(), std::nanf("")}) {
        try {
            form.Wait(seconds);
            ADD_FAILURE() << "Wait(" << seconds << ") returned instead of failing";
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), err::kOverflow);
        }
        EXPECT_EQ(s.clock.sleeps, 0) << "nothing may be waited before the failure";
    }
    EXPECT_THROW(ToSingle(1e39), QxError);
    EXPECT_THROW(ToSingle(-1e39), QxError);
    EXPECT_EQ(ToSingle(3.0e38), 3.0e38f);
    EXPECT_EQ(ToSingle(-2.5), -2.5f);
}

TEST_F(ProgressLog, WaitEndsWhenTheWindowIsClosedMeanwhile) {
    int rounds = 0;
    s.window.onDoEvents = [&] {
        if (++rounds == 5) s.window.alive = false;
    };
    form.Wait(3600.0f);
    EXPECT_EQ(rounds, 5) << "the wait went on after the window was destroyed";
}

TEST_F(ProgressLog, WaitSurvivesAClockSetBack) {
    // The user sets the clock back an hour during a short pause.
    int rounds = 0;
    s.window.onDoEvents = [&] {
        if (++rounds == 10) s.clock.timeOfDay -= 3600.0;
    };
    form.Wait(2.0f);
    EXPECT_LE(s.clock.sleptMs, 3100u) << "a clock change stretched the wait";
}

TEST_F(ProgressLog, RndStringIsHexOfTheRequestedLength) {
    for (int16_t len : {int16_t{32}, int16_t{1}, int16_t{9}, int16_t{0}, int16_t{-3}}) {
        const Text t = form.GetRndString(len);
        EXPECT_EQ(static_cast<int>(t.size()), len < 0 ? 0 : len);
        for (char16_t c : t) {
            EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))
                << "unexpected character " << static_cast<int>(c);
        }
    }
}

TEST_F(ProgressLog, RndStringRoundsAndFormatsEachDraw) {
    // 0.5 -> 500000000 = 1DCD6500; 0.0 -> 0; 0.0000000015 -> 1.5 -> 2 (half to even);
    // 0.0000000025 -> 2.5 -> 2.
    s.random.values = {0.5, 0.0, 0.0000000015, 0.0000000025, 0.5};
    EXPECT_EQ(ToUtf8(form.GetRndString(12)), "1DCD65000221");
}

TEST_F(ProgressLog, RndStringDrawsFreshValuesEachCall) {
    s.random.values = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 0.15, 0.25, 0.35};
    const Text a = form.GetRndString(32);
    const Text b = form.GetRndString(32);
    EXPECT_NE(a, b) << "two calls in the same clock tick gave the same tag";
}

}  // namespace
}  // namespace qx::fake
