// The Win32 file service on a real file system, in a fresh folder under the temp folder. Time stamps are
// compared with raw values read past the code under test, and the run is repeated in other time zones:
// anything that converts through local time fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"

namespace qx {
namespace {

// 2008-03-05 09:07:02 UTC in 100 ns units since 1601-01-01 UTC.
constexpr uint64_t kStamp2008 = 128491816220000000ull;

std::wstring W(const Text& t) { return std::wstring(t.begin(), t.end()); }

UniqueHandle Hold(const Text& path, DWORD share) {
    return UniqueHandle(::CreateFileW(W(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

template <class F>
int32_t ErrorNumberOf(F body) {
    try {
        body();
    } catch (const QxError& e) {
        return e.Number();
    }
    return 0;
}

class FilesWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, ::GetTempPathW(MAX_PATH + 1, temp));
        const std::wstring name = std::wstring(temp) + L"qxfiles-" + std::to_wstring(::GetCurrentProcessId());
        dir = Text(name.begin(), name.end());
        ::CreateDirectoryW(name.c_str(), nullptr);
    }
    void TearDown() override {
        for (const Text& name : fs.List(dir + u"\\*", 0x17)) {
            ::SetFileAttributesW(W(P(name)).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::DeleteFileW(W(P(name)).c_str())) ::RemoveDirectoryW(W(P(name)).c_str());
        }
        ::RemoveDirectoryW(W(dir).c_str());
    }
    Text P(const Text& name) const { return dir + u"\\" + name; }
    void Write(const Text& path, const Bytes& data) { fs.CreateForWrite(path)->Write(data); }

    Win32FileSystem fs;
    Text dir;
};

TEST_F(FilesWin32, TimesAreSetAndReadInUtc) {
    const Text file = P(u"stamp.bin");
    Write(file, "content");
    fs.SetFileTimes(file, kStamp2008);
    EXPECT_EQ(kStamp2008, fs.GetFileWriteTime(file));
    FILETIME c, a, w;
    UniqueHandle h = Hold(file, FILE_SHARE_READ);
    ASSERT_TRUE(::GetFileTime(h.Get(), &c, &a, &w));
    for (const FILETIME& t : {c, a, w}) {
        EXPECT_EQ(kStamp2008, (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    }
    EXPECT_EQ("content", fs.ReadAll(file));
}

// What the trailer writer, the download engine and checkwritable meet when another program holds a file.
TEST_F(FilesWin32, AFileHeldByAnotherHandle) {
    const Text file = P(u"held.bin");
    Write(file, "keep");
    EXPECT_TRUE(fs.CanOpenExclusively(file));
    EXPECT_FALSE(fs.CanOpenExclusively(P(u"absent.bin")));
    EXPECT_FALSE(fs.FileExists(P(u"absent.bin"))) << "the check created a missing file";
    EXPECT_FALSE(fs.CanOpenExclusively(dir)) << "a folder";
    {
        UniqueHandle reader = Hold(file, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_FALSE(fs.CanOpenExclusively(file)) << "even a sharing reader holds the file";
    }
    UniqueHandle holder = Hold(file, 0);
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.CreateForWrite(file); }));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.WriteAt(file, 1, "xx"); }));
    holder.Reset();
    EXPECT_EQ("keep", fs.ReadAll(file));
}

DWORD WINAPI ReleaseAfter150Ms(void* handle) {
    ::Sleep(150);
    ::CloseHandle(static_cast<HANDLE>(handle));
    return 0;
}

// Under Wine ReplaceFileW drops the target's attributes, and a file staged on another drive cannot be
// swapped in at all but is written in place: either way the target keeps hidden and system.
TEST_F(FilesWin32, ReplaceKeepsTheTargetsAttributesAndWaitsBrieflyWhileItIsHeld) {
    const Text target = P(u"target.exe");
    const Text elsewhere = u"Z:\\dev\\shm\\qx-replace-" + FromUtf8(std::to_string(::GetCurrentProcessId()));
    ASSERT_TRUE(fs.DirExists(u"Z:\\dev\\shm"));
    for (const Text& from : {P(u"source.tmp"), elsewhere}) {
        for (DWORD kept : {DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
            SCOPED_TRACE(ToUtf8(from) + " over attributes " + std::to_string(kept));
            Write(from, "new program");
            ::SetFileAttributesW(W(target).c_str(), FILE_ATTRIBUTE_NORMAL);
            Write(target, "old program, longer than the new one");
            ::SetFileAttributesW(W(target).c_str(), kept);
            fs.Replace(from, target);
            EXPECT_EQ("new program", fs.ReadAll(target));
            EXPECT_EQ(kept & 0x7u, ::GetFileAttributesW(W(target).c_str()) & 0x7u);
            EXPECT_FALSE(fs.FileExists(from));
        }
    }
    Write(P(u"s"), "third");
    UniqueHandle releaser(::CreateThread(nullptr, 0, ReleaseAfter150Ms, Hold(target, 0).Release(), 0, nullptr));
    fs.Replace(P(u"s"), target);
    EXPECT_EQ("third", fs.ReadAll(target));
    ::WaitForSingleObject(releaser.Get(), 5000);

    Write(P(u"s"), "fourth");
    UniqueHandle holder = Hold(target, 0);
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.Replace(P(u"s"), target); }));
    holder.Reset();
    ::SetFileAttributesW(W(target).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Replace(P(u"s"), target); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Copy(P(u"s"), target); }));
    EXPECT_EQ("third", fs.ReadAll(target)) << "a failed replace must leave the target";
}

std::string Joined(std::vector<Text> names) {
    std::sort(names.begin(), names.end());
    std::string out;
    for (const Text& n : names) out += (out.empty() ? "" : ",") + ToUtf8(n);
    return out;
}

TEST_F(FilesWin32, ListMatchesAttributeMasksAndChineseNames) {
    for (const char16_t* name : {u"normal.txt", u"ro.txt", u"hidden.txt", u"system.txt", u"中文.txt"}) Write(P(name), "x");
    fs.MakeDir(P(u"sub"));
    ::SetFileAttributesW(W(P(u"ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(W(P(u"hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(W(P(u"system.txt")).c_str(), FILE_ATTRIBUTE_SYSTEM);
    const struct {
        Text pattern;
        uint32_t mask;
        std::string expected;
    } cases[] = {
        {P(u"*"), 0, "normal.txt,ro.txt,中文.txt"},
        {P(u"*"), attr::kHidden | attr::kSystem, "hidden.txt,normal.txt,ro.txt,system.txt,中文.txt"},
        {P(u"*"), attr::kDirectory, "normal.txt,ro.txt,sub,中文.txt"},
        {P(u"NORMAL.TXT"), 0, "normal.txt"},
        {P(u"nofolder\\*"), 23, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Joined(fs.List(c.pattern, c.mask))) << ToUtf8(c.pattern);
    EXPECT_EQ("x", fs.ReadAll(P(u"中文.txt")));
}

}  // namespace
}  // namespace qx
