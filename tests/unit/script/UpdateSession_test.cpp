#include "script/SessionFixture.h"

namespace qx::fake {
namespace {

const std::string kReading = "正在读取服务器上的升级信息……";
const std::string kAnalysing = "正在分析升级信息……";
const std::string kNewest = "你机器上的程序已经是最新，无需升级。";
const std::string kDone = "升级完毕。";
const std::string kFailed = "无法从服务器获取升级信息。";

using Session = SessionTest;

TEST_F(Session, StampOnlyScriptFinishesAndStoresTheStamp) {
    Publish({"2026-12-01"});
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, kDone}));
    EXPECT_EQ(StoredStamp(), "2026-12-01");
    EXPECT_TRUE(s.window.updateEnabled);
    EXPECT_TRUE(s.window.boxes.empty());
    EXPECT_TRUE(s.files.FileExists(u"c:\\qxwork\\temp\\update.inf")) << "the script copy is kept";
}

TEST_F(Session, NotNewerAsksAndHonoursTheAnswer) {
    struct Case {
        const char* name;
        std::string stored;  // empty: nothing stored
        std::string line1;
        int answer;
        bool asks;
        std::string storedAfter;
    };
    const Case cases[] = {
        {"equal, OK", "2026-12-01", "2026-12-01", mb::kResultOk, true, "2026-12-01"},
        {"equal, Cancel", "2026-12-01", "2026-12-01", mb::kResultCancel, true, "2026-12-01"},
        {"older, OK sets the stamp back", "2026-12-01", "2025-01-01", mb::kResultOk, true, "2025-01-01"},
        {"nothing stored, default date", "", "2000-01-01", mb::kResultCancel, true, "<none>"},
        {"nothing stored, newer", "", "2000-01-02", mb::kResultOk, false, "2000-01-02"},
        {"time of day counts", "2006-05-18", "2006-05-18 10:00:00", mb::kResultOk, false,
         "2006-05-18 10:00:00"},
        {"old short form stored", "2006/5/18 10:00:00", "2006-05-18 10:00:01", mb::kResultOk, false,
         "2006-05-18 10:00:01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.window.list.clear();
        s.window.boxes.clear();
        s.settings.values.clear();
        if (!c.stored.empty()) s.settings.SaveSetting(u"QXUpdate", u"System", u"Version", FromUtf8(c.stored));
        s.window.boxAnswers = {c.answer};
        Publish({c.line1, "message,ran"});
        form.cmdUpdate_Click();

        ASSERT_EQ(s.window.boxes.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(ToUtf8(s.window.boxes[0].prompt), "本机程序已经是最新版，\r\n确定仍要继续升级吗？");
            EXPECT_EQ(s.window.boxes[0].flags, 33);
            EXPECT_EQ(ToUtf8(s.window.boxes[0].title), "在线升级程序");
        }
        const bool declined = c.asks && c.answer != mb::kResultOk;
        std::vector<std::string> expected{kReading, kAnalysing};
        if (c.asks) expected.push_back(kNewest);
        if (!declined) expected.insert(expected.end(), {"ran", kDone});
        EXPECT_EQ(Log(), expected);
        EXPECT_EQ(StoredStamp(), c.storedAfter);
        EXPECT_TRUE(s.window.updateEnabled);
    }
}

TEST_F(Session, EveryFailureEndsWithTheCatchAllLine) {
    struct Case {
        const char* name;
        std::string body;  // raw bytes of update.inf; "<missing>": 404
        std::string stored;
        bool analysed;
    };
    const Case cases[] = {
        {"no script on the server", "<missing>", "", false},
        {"empty script", "", "", false},
        {"line 1 not a date", "version 3\r\nmessage,x\r\n", "", false},
        {"byte-order mark", "\xEF\xBB\xBF" "2026-12-01\r\n", "", false},
        {"LF line ends read as one line", "2026-12-01\nmessage,x\n", "", false},
        {"stored stamp not a date", "2026-12-01\r\n", "yesterday", false},
        {"msgbox style beyond 32 bits", "2026-12-01\r\nmessage,a\r\nmsgbox,t,1E20\r\nmessage,b\r\n", "",
         true},
        {"wait beyond single precision", "2026-12-01\r\nwait,1e39\r\nmessage,b\r\n", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.window.list.clear();
        s.settings.values.clear();
        if (!c.stored.empty()) s.settings.SaveSetting(u"QXUpdate", u"System", u"Version", FromUtf8(c.stored));
        site.clear();
        if (c.body != "<missing>") site[u"/qxupdate/update.inf"].content = c.body;
        form.cmdUpdate_Click();
        const std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), kReading);
        EXPECT_EQ(log.back(), kFailed);
        EXPECT_EQ(std::count(log.begin(), log.end(), kAnalysing), c.analysed ? 1 : 0);
        EXPECT_EQ(std::count(log.begin(), log.end(), std::string("b")), 0) << "a line ran after the failure";
        EXPECT_EQ(std::count(log.begin(), log.end(), kDone), 0);
        EXPECT_EQ(StoredStamp(), c.stored.empty() ? "<none>" : c.stored) << "stamp changed";
        EXPECT_TRUE(s.window.updateEnabled);
        EXPECT_EQ(form.Err.number, 0) << "the failure was left pending";
    }
}

TEST_F(Session, LineBreaksFollowTheScriptRules) {
    // CR alone and CR LF end lines; a break at the end adds no empty line;
    // an empty line in the middle does nothing.
    site[u"/qxupdate/update.inf"].content = "2026-12-01\rmessage,one\r\n\r\nmessage,two\r\n";
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, "one", "two", kDone}));
}

TEST_F(Session, ScriptIsReadInTheAnsiCodePage) {
    // The fake code page is Latin-1: byte E9 is é.
    site[u"/qxupdate/update.inf"].content = "2026-12-01\r\nmessage,caf\xE9\r\n";
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, "café", kDone}));
}

TEST_F(Session, StampsOfTwoProgramNamesAreKeptApart) {
    Publish({"2026-12-01"});
    s.process.programPath = u"C:\\QX\\QXUpdateTemp.exe";
    form.cmdUpdate_Click();
    EXPECT_EQ(ToUtf8(s.settings.GetSetting(u"QXUpdateTemp", u"System", u"Version", u"")), "2026-12-01");
    EXPECT_EQ(StoredStamp(), "<none>");
}

TEST_F(Session, ClosingDuringAWaitRunsNoFurtherLineAndLogsNothing) {
    Publish({"2026-12-01", "message,before", "wait,30", "message,after"});
    int rounds = 0;
    s.window.onDoEvents = [&] {
        if (++rounds == 20) {
            // What the close button does: the query handler, then the window goes.
            form.Form_QueryUnload();
            s.window.alive = false;
        }
    };
    form.cmdUpdate_Click();  // the fake window throws if a line is added after the close
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, "before"}));
    EXPECT_FALSE(s.window.updateEnabled) << "the abandoned session touched the button";
    EXPECT_EQ(StoredStamp(), "<none>");
}

TEST_F(Session, ClosingDuringTheQuestionEndsWithoutAWord) {
    Publish({"2000-01-01", "message,x"});
    // A close request from outside arrives while the box is open; the box
    // then comes back with Cancel.
    s.window.boxAnswers = {mb::kResultCancel};
    s.window.onMsgBox = [&] {
        form.Form_QueryUnload();
        s.window.alive = false;
    };
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, kNewest}));
    EXPECT_FALSE(s.window.updateEnabled) << "the session touched the closed window";
    EXPECT_EQ(StoredStamp(), "<none>");
}

TEST_F(Session, ClosingDuringTheScriptDownloadEndsWithoutAWord) {
    Publish({"2026-12-01", "message,one"});
    s.window.onDoEvents = [&] {
        form.Form_QueryUnload();
        s.window.alive = false;
    };
    form.cmdUpdate_Click();  // the fake window throws if a line is added after the close
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading}));
    EXPECT_FALSE(s.window.updateEnabled);
}

TEST_F(Session, AHandOverDuringALineStopsTheSessionBeforeTheNextLine) {
    // The system-menu hand-over can run inside a wait and sets blnQuit while
    // the window stays open.
    Publish({"2026-12-01", "message,one", "wait,0", "message,two"});
    s.window.onDoEvents = [&] { form.blnQuit = s.window.list.size() == 3; };
    form.cmdUpdate_Click();
    EXPECT_EQ(Log(), (std::vector<std::string>{kReading, kAnalysing, "one"}));
    EXPECT_FALSE(s.window.updateEnabled);
    EXPECT_EQ(StoredStamp(), "<none>");
}

}  // namespace
}  // namespace qx::fake
