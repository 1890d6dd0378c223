#include "download/DownloadCommands.h"

#include "script/SessionFixture.h"

namespace qx::fake {
namespace {

class DownloadCommands : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        site[u"/qxupdate/setup.exe"].content = "SETUP";
        site[u"/qxupdate/tool.exe"].content = "TOOL";
        site[u"/qxupdate/cfg.ini"].content = "CFG";
        site[u"/other/tool.exe"].content = "OTHER";
    }
    std::vector<std::string> Urls() const {
        std::vector<std::string> out;
        for (const auto& r : s.http.requests) out.push_back(ToUtf8(r.method + u" " + r.url));
        return out;
    }
};

TEST_F(DownloadCommands, TargetsAndRequestsOfTheThreeCommands) {
    const struct {
        const char* name;
        Text (*command)(FrmUpdate&, const Text&, const Text&);
        const char16_t* url;
        const char16_t* target;
        const char* line;
        const char* stored;
        const char* requested;
    } cases[] = {
        {"update, bare name", &DoUpdate, u"setup.exe", u"", "正在更新文件\"setup.exe\"……",
         "c:\\qxwork\\setup.exe", "http://10.0.0.1/qxupdate/setup.exe"},
        {"update, query dropped", &DoUpdate, u"setup.exe?v=3", u"", "正在更新文件\"setup.exe?v=3\"……",
         "c:\\qxwork\\setup.exe", "http://10.0.0.1/qxupdate/setup.exe"},
        {"update, relative target", &DoUpdate, u"tool.exe", u"sub\\tool.exe", "正在更新文件\"tool.exe\"……",
         "c:\\qxwork\\sub\\tool.exe", "http://10.0.0.1/qxupdate/tool.exe"},
        {"update, server path", &DoUpdate, u"/other/tool.exe", u"d:\\x.exe",
         "正在更新文件\"/other/tool.exe\"……", "d:\\x.exe", "http://10.0.0.1/other/tool.exe"},
        {"down, temp folder", &DoDown, u"tool.exe", u"", "正在下载文件\"tool.exe\"……",
         "c:\\qxwork\\temp\\tool.exe", "http://10.0.0.1/qxupdate/tool.exe"},
        {"create, new file", &DoCreate, u"cfg.ini", u"", "正在创建文件\"cfg.ini\"……",
         "c:\\qxwork\\cfg.ini", "http://10.0.0.1/qxupdate/cfg.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        s.window.list.clear();
        s.http.requests.clear();
        const Text result = c.command(form, c.url, c.target);
        ASSERT_FALSE(s.window.list.empty());
        EXPECT_EQ(ToUtf8(s.window.list.front()), c.line);
        EXPECT_EQ(ToUtf8(result), c.stored);
        ASSERT_FALSE(s.http.requests.empty());
        EXPECT_EQ(ToUtf8(s.http.requests.front().url), c.requested);
        EXPECT_TRUE(s.files.FileExists(FromUtf8(c.stored)));
    }
}

TEST_F(DownloadCommands, DownWithARelativeTargetLeavesItRelative) {
    DoDown(form, u"tool.exe", u"sub\\tool.exe");
    // The fake disk has no current folder; what matters is where it did not go.
    EXPECT_FALSE(s.files.FileExists(u"c:\\qxwork\\sub\\tool.exe"))
        << "down must not put its target under the work folder";
    EXPECT_FALSE(s.files.FileExists(u"c:\\qxwork\\temp\\tool.exe"));
    for (const Text& l : s.window.list) EXPECT_EQ(l.find(u"qxwork"), Text::npos) << ToUtf8(l);
}

TEST_F(DownloadCommands, CreateLeavesAnExistingTargetAloneWithoutARequest) {
    s.files.AddFile(u"c:\\qxwork\\cfg.ini", "LOCAL", attr::kHidden);
    EXPECT_EQ(ToUtf8(DoCreate(form, u"cfg.ini", u"")), "");
    EXPECT_TRUE(s.http.requests.empty());
    EXPECT_EQ(s.files.Contents(u"c:\\qxwork\\cfg.ini"), "LOCAL");
    EXPECT_EQ(s.window.list.size(), 1u) << "only the progress line";
}

TEST_F(DownloadCommands, UnchangedUpdateTargetCostsOnlyTheHeadRequest) {
    ASSERT_FALSE(DoUpdate(form, u"setup.exe", u"").empty());
    s.http.requests.clear();
    ASSERT_FALSE(DoUpdate(form, u"setup.exe", u"").empty());
    EXPECT_EQ(Urls(), (std::vector<std::string>{"HEAD http://10.0.0.1/qxupdate/setup.exe"}));
}

TEST_F(DownloadCommands, AReferenceWithASlashIsNotPrefixed) {
    DoDown(form, u"sub/tool.exe", u"");
    ASSERT_FALSE(s.http.requests.empty());
    EXPECT_EQ(ToUtf8(s.http.requests.front().url), "http://10.0.0.1sub/tool.exe");
}

}  // namespace
}  // namespace qx::fake
