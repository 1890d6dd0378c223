// The in-memory file system must fail where the Win32 one fails, with the
// same numbers, or tests built on it would pass against behaviour Windows
// does not have. The cases mirror tests/win32/files_win_test.cpp.
#include "fakes/FakeFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace qx {
namespace {

template <class F>
int32_t ErrorNumberOf(F body) {
    try {
        body();
    } catch (const QxError& e) {
        return e.Number();
    }
    return 0;
}

std::string Joined(std::vector<Text> names) {
    std::sort(names.begin(), names.end());
    std::string out;
    for (const Text& n : names) out += (out.empty() ? "" : ",") + ToUtf8(n);
    return out;
}

class FakeFiles : public ::testing::Test {
protected:
    fake::FakeFileSystem fs;
};

TEST_F(FakeFiles, PathsAreCaseInsensitiveAndKeepTheirSpelling) {
    fs.AddFile(u"C:\\QXWork\\Update.INF", "x");
    EXPECT_TRUE(fs.FileExists(u"c:\\qxwork\\update.inf"));
    EXPECT_TRUE(fs.FileExists(u"c:/qxwork/UPDATE.inf"));
    EXPECT_TRUE(fs.DirExists(u"c:\\qxwork\\"));
    EXPECT_TRUE(fs.DirExists(u"C:\\"));
    EXPECT_EQ("Update.INF", Joined(fs.List(u"c:\\qxwork\\*", 0)));
}

TEST_F(FakeFiles, MissingThingsRaiseLikeWindows) {
    fs.AddDir(u"c:\\qxwork");
    struct Case {
        const char* what;
        std::function<void()> call;
        int32_t expected;
    };
    const Case cases[] = {
        {"ReadAll missing file", [&] { fs.ReadAll(u"c:\\qxwork\\a"); }, err::kFileNotFound},
        {"ReadAll missing folder", [&] { fs.ReadAll(u"c:\\none\\a"); }, err::kPathNotFound},
        {"FileLength missing", [&] { fs.FileLength(u"c:\\qxwork\\a"); }, err::kFileNotFound},
        {"FileLength of a folder", [&] { fs.FileLength(u"c:\\qxwork"); }, err::kPathFileAccess},
        {"WriteAt missing", [&] { fs.WriteAt(u"c:\\qxwork\\a", 0, "x"); }, err::kFileNotFound},
        {"Delete missing", [&] { fs.Delete(u"c:\\qxwork\\a"); }, err::kFileNotFound},
        {"GetAttributes missing", [&] { fs.GetAttributes(u"c:\\qxwork\\a"); }, err::kFileNotFound},
        {"SetAttributes missing", [&] { fs.SetAttributes(u"c:\\qxwork\\a", 0); }, err::kFileNotFound},
        {"Copy missing source", [&] { fs.Copy(u"c:\\qxwork\\a", u"c:\\qxwork\\b"); }, err::kFileNotFound},
        {"Replace missing source", [&] { fs.Replace(u"c:\\qxwork\\a", u"c:\\qxwork\\b"); }, err::kFileNotFound},
        {"CreateForWrite missing folder", [&] { fs.CreateForWrite(u"c:\\none\\a"); }, err::kPathNotFound},
        {"CreateForWrite relative path", [&] { fs.CreateForWrite(u"a.txt"); }, err::kPathNotFound},
        {"MakeDir existing", [&] { fs.MakeDir(u"c:\\qxwork"); }, err::kPathFileAccess},
        {"MakeDir missing parent", [&] { fs.MakeDir(u"c:\\none\\sub"); }, err::kPathNotFound},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ErrorNumberOf(c.call)) << c.what;
    }
    EXPECT_FALSE(fs.FileExists(u"c:\\qxwork\\a")) << "a failed call created the file";
    EXPECT_FALSE(fs.DirExists(u"c:\\none"));
}

TEST_F(FakeFiles, ReadOnlyAndLockedFilesRefuseWriting) {
    fs.AddFile(u"c:\\w\\ro.dll", "old", attr::kReadOnly);
    fs.AddFile(u"c:\\w\\busy.exe", "old");
    fs.Lock(u"c:\\w\\busy.exe");
    fs.AddFile(u"c:\\w\\new", "new");

    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.CreateForWrite(u"c:\\w\\ro.dll"); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.WriteAt(u"c:\\w\\ro.dll", 0, "x"); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Delete(u"c:\\w\\ro.dll"); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Copy(u"c:\\w\\new", u"c:\\w\\ro.dll"); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Replace(u"c:\\w\\new", u"c:\\w\\ro.dll"); }));
    EXPECT_FALSE(fs.CanOpenExclusively(u"c:\\w\\ro.dll"));
    EXPECT_EQ("old", fs.Contents(u"c:\\w\\ro.dll"));

    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.CreateForWrite(u"c:\\w\\busy.exe"); }));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.WriteAt(u"c:\\w\\busy.exe", 0, "x"); }));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.Delete(u"c:\\w\\busy.exe"); }));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.Replace(u"c:\\w\\new", u"c:\\w\\busy.exe"); }));
    EXPECT_FALSE(fs.CanOpenExclusively(u"c:\\w\\busy.exe"));
    EXPECT_EQ("old", fs.ReadAll(u"c:\\w\\busy.exe")) << "a locked file can still be read";
    EXPECT_EQ(3, fs.FileLength(u"c:\\w\\busy.exe"));

    fs.Lock(u"c:\\w\\busy.exe", false);
    EXPECT_TRUE(fs.CanOpenExclusively(u"c:\\w\\busy.exe"));
    EXPECT_FALSE(fs.CanOpenExclusively(u"c:\\w\\absent"));
    EXPECT_FALSE(fs.FileExists(u"c:\\w\\absent"));
}

TEST_F(FakeFiles, CreateForWriteTruncatesAndHoldsTheFileUntilClosed) {
    fs.AddFile(u"c:\\w\\a.bin", "0123456789", attr::kHidden);
    fs.now = 5000;
    std::unique_ptr<IOpenFile> out = fs.CreateForWrite(u"c:\\w\\a.bin");
    EXPECT_EQ(0, out->Length());
    out->Write("abc");
    EXPECT_EQ(3, out->Length());
    EXPECT_FALSE(fs.CanOpenExclusively(u"c:\\w\\a.bin"));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.WriteAt(u"c:\\w\\a.bin", 0, "x"); }));
    out->Close();
    EXPECT_NE(0, ErrorNumberOf([&] { out->Write("late"); }));
    EXPECT_TRUE(fs.CanOpenExclusively(u"c:\\w\\a.bin"));
    EXPECT_EQ("abc", fs.Contents(u"c:\\w\\a.bin"));
    EXPECT_EQ(5000u, fs.GetFileWriteTime(u"c:\\w\\a.bin"));

    { fs.CreateForWrite(u"c:\\w\\b.bin")->Write("b"); }  // destroyed without Close
    EXPECT_TRUE(fs.CanOpenExclusively(u"c:\\w\\b.bin"));
}

TEST_F(FakeFiles, ReadAndWriteAtOffsets) {
    fs.AddFile(u"c:\\w\\p.exe", "MZ....127.0.0.1");
    EXPECT_EQ("127.0.0.1", fs.ReadAt(u"c:\\w\\p.exe", 6, 32));
    EXPECT_EQ("", fs.ReadAt(u"c:\\w\\p.exe", 100, 4));
    fs.WriteAt(u"c:\\w\\p.exe", 6, "10.1.2.3");
    EXPECT_EQ("MZ....10.1.2.31", fs.Contents(u"c:\\w\\p.exe"));
    fs.WriteAt(u"c:\\w\\p.exe", 17, "!");
    EXPECT_EQ(std::string("MZ....10.1.2.31\0\0!", 18), fs.Contents(u"c:\\w\\p.exe"));
}

TEST_F(FakeFiles, ReplaceAndCopy) {
    fs.AddFile(u"c:\\w\\new.tmp", "new", attr::kArchive, 111);
    fs.AddFile(u"c:\\w\\QXUpdate.exe", "old");
    fs.Replace(u"c:\\w\\new.tmp", u"c:\\w\\QXUpdate.exe");
    EXPECT_FALSE(fs.FileExists(u"c:\\w\\new.tmp"));
    EXPECT_EQ("new", fs.Contents(u"c:\\w\\QXUpdate.exe"));
    EXPECT_EQ("QXUpdate.exe", Joined(fs.List(u"c:\\w\\*.exe", 0)));

    fs.AddFile(u"c:\\w\\hidden.ini", "h", attr::kHidden);
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Copy(u"c:\\w\\QXUpdate.exe", u"c:\\w\\hidden.ini"); }));
    fs.Copy(u"c:\\w\\QXUpdate.exe", u"c:\\w\\copy.exe");
    EXPECT_EQ("new", fs.Contents(u"c:\\w\\copy.exe"));
    EXPECT_EQ(111u, fs.GetFileWriteTime(u"c:\\w\\copy.exe")) << "a copy keeps the last-write time";
}

TEST_F(FakeFiles, ListWithAttributeMasks) {
    fs.AddFile(u"c:\\d\\normal.txt");
    fs.AddFile(u"c:\\d\\ro.txt", "", attr::kReadOnly);
    fs.AddFile(u"c:\\d\\hidden.txt", "", attr::kHidden);
    fs.AddFile(u"c:\\d\\system.txt", "", attr::kSystem);
    fs.AddDir(u"c:\\d\\sub");
    fs.AddDir(u"c:\\d\\hsub").attributes |= attr::kHidden;
    fs.AddFile(u"c:\\d\\sub\\deeper.txt");
    struct Case {
        const char16_t* pattern;
        uint32_t mask;
        const char* expected;
    };
    const Case cases[] = {
        {u"c:\\d\\*", 0, "normal.txt,ro.txt"},
        {u"c:\\d\\*", attr::kHidden, "hidden.txt,normal.txt,ro.txt"},
        {u"c:\\d\\*", attr::kSystem, "normal.txt,ro.txt,system.txt"},
        {u"c:\\d\\*", attr::kDirectory, "normal.txt,ro.txt,sub"},
        {u"c:\\d\\*", attr::kDirectory | attr::kHidden, "hidden.txt,hsub,normal.txt,ro.txt,sub"},
        {u"c:\\d\\", 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {u"c:\\d\\*.*", 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {u"c:\\d\\*.txt", 0, "normal.txt,ro.txt"},
        {u"c:\\d\\?or*.txt", 0, "normal.txt"},
        {u"c:\\d\\hidden.txt", 6, "hidden.txt"},
        {u"c:\\d\\hidden.txt", 0, ""},
        {u"C:\\D\\NORMAL.TXT", 0, "normal.txt"},
        {u"c:\\none\\*", 23, ""},
        {u"c:\\d", attr::kDirectory, "d"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Joined(fs.List(c.pattern, c.mask)))
            << "List(\"" << ToUtf8(c.pattern) << "\", " << c.mask << ")";
    }
}

TEST_F(FakeFiles, TimesFollowTheWin32Rules) {
    fs.AddFile(u"c:\\w\\a", "x", attr::kArchive, 100);
    fs.SetFileTimes(u"c:\\w\\a", 0);
    EXPECT_EQ(100u, fs.GetFileWriteTime(u"c:\\w\\a")) << "0 means no change";
    fs.SetFileTimes(u"c:\\w\\a", 200);
    EXPECT_EQ(200u, fs.Get(u"c:\\w\\a").creationTime);
    EXPECT_EQ(200u, fs.Get(u"c:\\w\\a").accessTime);
    EXPECT_EQ(200u, fs.GetFileWriteTime(u"c:\\w\\a"));
    fs.SetFileTimes(u"c:\\w\\none", 300);
    EXPECT_FALSE(fs.FileExists(u"c:\\w\\none"));
    EXPECT_EQ(0u, fs.GetFileWriteTime(u"c:\\w\\none"));
}

}  // namespace
}  // namespace qx
