#include "app/SysMenu.h"

#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

class SetServerPrompt : public FormTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(form.Form_Load());
        s.files.AddFile(u"C:\\Program Files\\QX\\QXUpdate.exe", Bytes("MZprogram") + Bytes(32, '\0'));
    }
};

TEST_F(SetServerPrompt, CancelOrAnEmptyAnswerChangesNothingAndLogsNothing) {
    s.window.inputAnswers = {u""};
    PromptSetIP(form);
    ASSERT_EQ(s.window.inputs.size(), 1u);
    EXPECT_EQ(ToUtf8(s.window.inputs[0].prompt), "请输入在线升级服务器的IP地址：");
    EXPECT_EQ(ToUtf8(s.window.inputs[0].title), "在线升级程序|127.0.0.1")
        << "title and pre-filled address of an unconfigured program file";
    EXPECT_TRUE(s.window.list.empty());
    EXPECT_TRUE(s.process.started.empty());
    EXPECT_FALSE(form.blnQuit);
    EXPECT_FALSE(s.files.FileExists(u"C:\\Program Files\\QX\\QXUpdateTemp.exe"));
}

TEST_F(SetServerPrompt, AnyTextIsHandedOverAsTyped) {
    s.window.inputAnswers = {u" not an address "};
    PromptSetIP(form);
    EXPECT_TRUE(form.blnQuit);
    ASSERT_EQ(s.process.started.size(), 1u);
    EXPECT_EQ(ToUtf8(s.settings.GetSetting(u"QXUpdate", u"Update", u"ServerIP", u"")), " not an address ");
}

TEST_F(SetServerPrompt, AFailingDialogIsShownAgainWithTheSecondPrompt) {
    // The first dialog fails (no answer scripted raises), the second is cancelled.
    int shown = 0;
    s.window.inputAnswers = {};
    try {
        PromptSetIP(form);
    } catch (...) {
        ADD_FAILURE() << "a failure escaped the prompt";
    }
    shown = static_cast<int>(s.window.inputs.size());
    ASSERT_GE(shown, 2);
    EXPECT_EQ(ToUtf8(s.window.inputs[1].prompt), "输入的在线升级服务器IP地址无效，请重新输入：");
    EXPECT_LE(shown, 3) << "the retry must not go on for ever";
}

}  // namespace
}  // namespace qx::fake
