#include "actions/FileActions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "script/SessionFixture.h"

namespace qx::fake {
namespace {

const Text kWork = u"c:\\qxwork\\";
const Text kTemp = u"c:\\qxwork\\temp\\";

class FileActionsTest : public FormTest {
protected:
    void SetUp() override {
        form.strWorkDir = kWork;
        form.strTempDir = kTemp;
        s.files.AddDir(u"c:\\qxwork\\temp");
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        for (const Text& l : s.window.list) out.push_back(ToUtf8(l));
        return out;
    }

    std::string Contents(const Text& path) {
        const FakeFileSystem::Entry* e = s.files.Find(path);
        return e == nullptr ? "<missing>" : e->data;
    }
};

// The first line a failure logs, or "" when there was none.
std::string FailureLine(const std::vector<std::string>& log) { return log.size() > 1 ? log[1] : std::string(); }

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST_F(FileActionsTest, CopyPutsBareNamesIntoTheirFolders) {
    struct Case {
        const char* label;
        Text from;
        Text to;
        Text source;  // where the file is put before the copy
        Text target;  // where it must arrive
    };
    const std::vector<Case> cases = {
        {"bare source only: temp to work, same name", u"a.dll", u"", kTemp + u"a.dll", kWork + u"a.dll"},
        {"two bare names", u"a.dll", u"b.dll", kTemp + u"a.dll", kWork + u"b.dll"},
        {"bare source, full target", u"a.dll", u"d:\\app\\a.dll", kTemp + u"a.dll", u"d:\\app\\a.dll"},
        {"full source, bare target", u"d:\\dl\\a.dll", u"b.dll", u"d:\\dl\\a.dll", kWork + u"b.dll"},
        {"full source and target", u"d:\\dl\\a.dll", u"e:\\b.dll", u"d:\\dl\\a.dll", u"e:\\b.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.files.AddDir(u"d:\\app");
        s.files.AddFile(c.source, "payload of " + ToUtf8(c.from));
        s.window.list.clear();
        DoCopy(form, c.from, c.to, true);
        EXPECT_EQ(Contents(c.target), "payload of " + ToUtf8(c.from)) << "at " << ToUtf8(c.target);
        EXPECT_EQ(Log(), std::vector<std::string>{"正在复制文件\"" + ToUtf8(c.from) + "\"……"});
        s.files.Delete(c.target);
    }
}

TEST_F(FileActionsTest, CopyOverwriteFlagAgainstEachKindOfTarget) {
    enum Outcome { kCopied, kSkipped, kFailed };
    struct Case {
        const char* label;
        bool targetExists;
        uint32_t targetAttributes;
        bool overwrite;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"no target, overwrite", false, 0, true, kCopied},
        {"no target, keep", false, 0, false, kCopied},
        {"normal target, overwrite", true, attr::kArchive, true, kCopied},
        {"normal target, keep", true, attr::kArchive, false, kSkipped},
        {"plain target without archive mark, keep", true, attr::kNormal, false, kSkipped},
        {"hidden target, keep", true, attr::kHidden, false, kSkipped},
        {"system target, keep", true, attr::kSystem, false, kSkipped},
        {"hidden system target, keep", true, attr::kHidden | attr::kSystem, false, kSkipped},
        {"read-only target, keep", true, attr::kReadOnly, false, kSkipped},
        {"system target, overwrite", true, attr::kSystem, true, kCopied},
        // The platform copy refuses these two, as Windows does.
        {"hidden target, overwrite", true, attr::kHidden, true, kFailed},
        {"read-only target, overwrite", true, attr::kReadOnly, true, kFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.window.list.clear();
        s.files.AddFile(kTemp + u"new.dll", "new");
        if (s.files.Find(kWork + u"new.dll") != nullptr) {
            s.files.SetAttributes(kWork + u"new.dll", 0);
            s.files.Delete(kWork + u"new.dll");
        }
        if (c.targetExists) s.files.AddFile(kWork + u"new.dll", "old", c.targetAttributes);

        DoCopy(form, u"new.dll", u"", c.overwrite);

        const std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], "正在复制文件\"new.dll\"……");
        switch (c.outcome) {
            case kCopied:
                EXPECT_EQ(Contents(kWork + u"new.dll"), "new");
                EXPECT_EQ(log.size(), 1u) << "unexpected line: " << FailureLine(log);
                break;
            case kSkipped:
                EXPECT_EQ(Contents(kWork + u"new.dll"), "old");
                EXPECT_EQ(s.files.Get(kWork + u"new.dll").attributes, c.targetAttributes);
                EXPECT_EQ(log.size(), 1u) << "a skipped copy reports nothing: " << FailureLine(log);
                break;
            case kFailed:
                EXPECT_EQ(Contents(kWork + u"new.dll"), "old");
                EXPECT_TRUE(StartsWith(FailureLine(log), "复制文件\"c:\\qxwork\\temp\\new.dll\"错误"))
                    << "got [" << FailureLine(log) << "]";
                break;
        }
    }
}

TEST_F(FileActionsTest, CopyFailuresNameTheResolvedSourceAndGoOn) {
    struct Case {
        const char* label;
        Text from;
        Text to;
        std::string failure;  // the start of the failure line
    };
    s.files.AddFile(kTemp + u"a.dll", "a");
    s.files.AddFile(kWork + u"busy.dll", "old").locked = true;
    const std::vector<Case> cases = {
        {"missing source", u"gone.dll", u"", "复制文件\"c:\\qxwork\\temp\\gone.dll\"错误53："},
        {"target folder missing", u"a.dll", u"x:\\nowhere\\a.dll", "复制文件\"c:\\qxwork\\temp\\a.dll\"错误76："},
        {"relative target with a backslash is not put into a folder", u"a.dll", u"sub\\a.dll",
         "复制文件\"c:\\qxwork\\temp\\a.dll\"错误76："},
        {"target in use", u"a.dll", u"busy.dll", "复制文件\"c:\\qxwork\\temp\\a.dll\"错误55："},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.window.list.clear();
        EXPECT_NO_THROW(DoCopy(form, c.from, c.to, true));
        const std::vector<std::string> log = Log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0], "正在复制文件\"" + ToUtf8(c.from) + "\"……");
        EXPECT_TRUE(StartsWith(log[1], c.failure)) << "expected [" << c.failure << "...], got [" << log[1] << "]";
    }
    EXPECT_EQ(Contents(kWork + u"busy.dll"), "old");
    EXPECT_EQ(form.Err.number, 0) << "the pending error must be cleared by the log line";
}

TEST_F(FileActionsTest, DeleteClearsAttributesAndLogsWhatItCannotDelete) {
    struct Case {
        const char* label;
        Text argument;
        Text existing;  // a file put there first; empty for none
        uint32_t attributes;
        bool locked;
        bool deleted;
        std::string failure;  // start of the failure line, "" for none
    };
    const std::vector<Case> cases = {
        {"bare name in the work folder", u"a.txt", kWork + u"a.txt", attr::kArchive, false, true, ""},
        {"read-only", u"ro.txt", kWork + u"ro.txt", attr::kReadOnly, false, true, ""},
        {"hidden and system", u"hs.txt", kWork + u"hs.txt", attr::kHidden | attr::kSystem, false, true, ""},
        {"full path", u"d:\\other\\b.txt", u"d:\\other\\b.txt", attr::kArchive, false, true, ""},
        {"bare name is not looked for in the temp folder", u"t.txt", kTemp + u"t.txt", attr::kArchive, false,
         false, "删除文件\"c:\\qxwork\\t.txt\"错误53："},
        {"missing", u"none.txt", u"", 0, false, false, "删除文件\"c:\\qxwork\\none.txt\"错误53："},
        {"wildcard deletes nothing", u"*.txt", kWork + u"w.txt", attr::kArchive, false, false,
         "删除文件\"c:\\qxwork\\*.txt\"错误"},
        {"in use", u"busy.txt", kWork + u"busy.txt", attr::kArchive, true, false,
         "删除文件\"c:\\qxwork\\busy.txt\"错误55："},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.window.list.clear();
        if (!c.existing.empty()) s.files.AddFile(c.existing, "x", c.attributes).locked = c.locked;

        EXPECT_NO_THROW(DoDelete(form, c.argument));

        const std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], "正在删除文件\"" + ToUtf8(c.argument) + "\"……");
        if (!c.existing.empty()) {
            EXPECT_EQ(s.files.Find(c.existing) == nullptr, c.deleted) << ToUtf8(c.existing);
        }
        if (c.failure.empty()) {
            EXPECT_EQ(log.size(), 1u) << "unexpected line: " << FailureLine(log);
        } else {
            ASSERT_EQ(log.size(), 2u);
            EXPECT_TRUE(StartsWith(log[1], c.failure)) << "expected [" << c.failure << "...], got [" << log[1]
                                                       << "]";
        }
    }
}

TEST_F(FileActionsTest, DeleteOfAFolderLeavesItsAttributesAlone) {
    s.files.AddDir(u"c:\\qxwork\\sub").attributes |= attr::kReadOnly | attr::kSystem;
    const uint32_t before = s.files.Get(u"c:\\qxwork\\sub").attributes;
    DoDelete(form, u"c:\\qxwork\\sub");
    DoDelete(form, u"");  // resolves to the work folder itself
    EXPECT_TRUE(s.files.DirExists(u"c:\\qxwork\\sub"));
    EXPECT_EQ(s.files.Get(u"c:\\qxwork\\sub").attributes, before);
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRUE(StartsWith(log[1], "删除文件\"c:\\qxwork\\sub\"错误75：")) << log[1];
    EXPECT_TRUE(StartsWith(log[3], "删除文件\"c:\\qxwork\\\"错误75：")) << log[3];
}

TEST_F(FileActionsTest, CheckWritableAnswersWhetherAnotherProgramHoldsTheFile) {
    const std::string held = "文件\"c:\\qxwork\\app.exe\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。";
    struct Case {
        const char* label;
        Text argument;
        bool exists;
        bool locked;
        bool openHere;  // a writer of this program still has it open
        bool result;
        std::string failure;  // "" when the answer is True
    };
    const std::vector<Case> cases = {
        {"free file", u"app.exe", true, false, false, true, ""},
        {"held by another program", u"app.exe", true, true, false, false, held},
        {"open for writing elsewhere", u"app.exe", true, false, true, false, held},
        {"full path of a free file", u"c:\\qxwork\\app.exe", true, false, false, true, ""},
        {"missing file", u"app.exe", false, false, false, true, ""},
        {"missing file in a missing folder", u"q:\\none\\app.exe", false, false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.window.list.clear();
        s.window.boxes.clear();
        if (s.files.Find(kWork + u"app.exe") != nullptr) {
            s.files.Lock(kWork + u"app.exe", false);
            s.files.Delete(kWork + u"app.exe");
        }
        std::unique_ptr<IOpenFile> writer;
        if (c.exists) {
            s.files.AddFile(kWork + u"app.exe", "MZ").locked = c.locked;
            if (c.openHere) writer = s.files.CreateForWrite(kWork + u"app.exe");
        }
        const std::vector<Text> before = s.files.AllPaths();

        EXPECT_EQ(DoCheckWritable(form, c.argument), c.result);

        EXPECT_EQ(s.files.AllPaths(), before) << "checking must create or remove nothing";
        const std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], "正在检测文件\"" + ToUtf8(c.argument) + "\"……");
        if (c.failure.empty()) {
            EXPECT_EQ(log.size(), 1u) << "unexpected line: " << FailureLine(log);
            EXPECT_TRUE(s.window.boxes.empty()) << "unexpected box";
        } else {
            EXPECT_EQ(FailureLine(log), c.failure);
            ASSERT_EQ(s.window.boxes.size(), 1u);
            EXPECT_EQ(ToUtf8(s.window.boxes[0].prompt), c.failure);
            EXPECT_EQ(s.window.boxes[0].flags, 16) << "stop icon and OK button";
            EXPECT_EQ(ToUtf8(s.window.boxes[0].title), "在线升级程序");
        }
        if (c.exists && !c.locked && !c.openHere) {
            EXPECT_EQ(Contents(kWork + u"app.exe"), "MZ") << "the check must not touch the contents";
        }
    }
}

using FileActionsSession = SessionTest;

TEST_F(FileActionsSession, HeldFileStopsTheSessionAndAMissingOneDoesNot) {
    s.files.AddFile(u"c:\\qxwork\\busy.exe", "MZ").locked = true;
    s.files.AddFile(u"c:\\qxwork\\temp\\a.dll", "a");
    Publish({"2030-01-01", "checkwritable,new.exe", "copy,a.dll", "checkwritable,busy.exe", "delete,a.dll"});
    form.cmdUpdate_Click();
    const std::vector<std::string> log = Log();
    const std::vector<std::string> tail(log.begin() + std::min<size_t>(2, log.size()), log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "正在检测文件\"new.exe\"……",
                        "正在复制文件\"a.dll\"……",
                        "正在检测文件\"busy.exe\"……",
                        "文件\"c:\\qxwork\\busy.exe\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。",
                    }));
    EXPECT_FALSE(s.files.FileExists(u"c:\\qxwork\\new.exe")) << "the check left a file behind";
    EXPECT_EQ(s.files.Contents(u"c:\\qxwork\\a.dll"), "a") << "the line after the held file ran";
    EXPECT_EQ(StoredStamp(), "<none>") << "an ended session must not store the stamp";
}

}  // namespace
}  // namespace qx::fake
