// The Win32 file service on a real file system. Time stamps are compared with raw values read past the code
// under test, and the run is repeated in other time zones: anything that converts through local time fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"

namespace qx {
namespace {

constexpr uint64_t kStamp2008 = 128491816220000000ull;  // 2008-03-05 09:07:02 UTC in 100 ns since 1601

std::wstring W(const Text& t) { return std::wstring(t.begin(), t.end()); }

UniqueHandle Hold(const Text& path, DWORD share) {
    return UniqueHandle(::CreateFileW(W(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

auto Fails(int32_t number) { return testing::Throws<QxError>(testing::Property(&QxError::Number, number)); }

class FilesWin32 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(::CreateDirectoryW(W(dir).c_str(), nullptr)) << ::GetLastError(); }
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
    Text dir = u"C:\\qxfiles-" + FromUtf8(std::to_string(::GetCurrentProcessId()));
};

TEST_F(FilesWin32, TimesAreSetAndReadInUtc) {
    const Text file = P(u"stamp.bin");
    Write(file, "content");
    fs.SetFileTimes(file, kStamp2008);
    EXPECT_EQ(kStamp2008, fs.GetFileWriteTime(file));
    FILETIME c, a, w;
    UniqueHandle h = Hold(file, FILE_SHARE_READ);
    ASSERT_TRUE(::GetFileTime(h.Get(), &c, &a, &w));
    for (const FILETIME& t : {c, a, w})
        EXPECT_EQ(kStamp2008, (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// What the trailer writer, the download engine, checkwritable and the replacer meet when another program
// holds a file.
TEST_F(FilesWin32, AFileHeldByAnotherHandle) {
    const Text file = P(u"held.bin");
    Write(file, "keep");
    EXPECT_TRUE(fs.CanOpenExclusively(file));
    EXPECT_FALSE(fs.CanOpenExclusively(P(u"absent.bin")));
    EXPECT_FALSE(fs.FileExists(P(u"absent.bin"))) << "the check created a missing file";
    EXPECT_FALSE(fs.CanOpenExclusively(dir)) << "a folder";
    UniqueHandle reader = Hold(file, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(fs.CanOpenExclusively(file)) << "even a sharing reader holds the file";
    reader.Reset();
    Write(P(u"s"), "new");
    UniqueHandle holder = Hold(file, 0);
    EXPECT_THAT([&] { fs.CreateForWrite(file); }, Fails(err::kFileAlreadyOpen));
    EXPECT_THAT([&] { fs.WriteAt(file, 1, "xx"); }, Fails(err::kFileAlreadyOpen));
    EXPECT_THAT([&] { fs.Replace(P(u"s"), file); }, Fails(err::kFileAlreadyOpen)) << "once the wait is over";
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
    for (const Text& from : {P(u"source.tmp"), elsewhere}) {
        SCOPED_TRACE(ToUtf8(from));
        Write(from, "new program");
        ::SetFileAttributesW(W(target).c_str(), FILE_ATTRIBUTE_NORMAL);
        Write(target, "old program, longer than the new one");
        ::SetFileAttributesW(W(target).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        fs.Replace(from, target);
        EXPECT_EQ("new program", fs.ReadAll(target));
        EXPECT_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}, ::GetFileAttributesW(W(target).c_str()) & 0x7u);
        EXPECT_FALSE(fs.FileExists(from));
    }
    Write(P(u"s"), "third");
    UniqueHandle releaser(::CreateThread(nullptr, 0, ReleaseAfter150Ms, Hold(target, 0).Release(), 0, nullptr));
    fs.Replace(P(u"s"), target);
    EXPECT_EQ("third", fs.ReadAll(target));
    ::WaitForSingleObject(releaser.Get(), 5000);

    Write(P(u"s"), "fourth");
    ::SetFileAttributesW(W(target).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THAT([&] { fs.Replace(P(u"s"), target); }, Fails(err::kPathFileAccess));
    EXPECT_EQ("third", fs.ReadAll(target)) << "a failed replace must leave the target";
}

// Whether FindFirstFileW's answers are filtered by the mask, matched without case and named in UTF-16.
TEST_F(FilesWin32, ListMatchesAttributeMasksAndChineseNames) {
    for (const char16_t* name : {u"normal.txt", u"hidden.txt", u"中文.txt"}) Write(P(name), "x");
    ::SetFileAttributesW(W(P(u"hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    using Names = std::vector<Text>;
    const Names all = {u"hidden.txt", u"normal.txt", u"中文.txt"};
    for (const auto& [pattern, mask, expected] : {std::tuple{u"*", 0u, Names{all[1], all[2]}},
                                                  {u"*", attr::kHidden, all}, {u"NORMAL.TXT", 0u, Names{all[1]}}}) {
        Names names = fs.List(P(pattern), mask);
        std::sort(names.begin(), names.end());
        EXPECT_TRUE(names == expected) << ToUtf8(pattern) << ": " << names.size() << " names";
    }
}

}  // namespace
}  // namespace qx
