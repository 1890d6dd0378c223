// The Win32 file service and the time-stamp module on a real file system,
// each test in a fresh folder under the temp folder. Time stamps are checked
// against raw values computed outside the code under test, so the tests fail
// if anything converts through local time; the run is repeated under several
// TZ settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download/modFileTime.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "support/TestValues.h"

namespace qx {
namespace {

// 2008-03-05 09:07:02 UTC in 100 ns units since 1601-01-01 UTC.
constexpr uint64_t kStamp2008 = 128491816220000000ull;

std::wstring W(const Text& t) {
    return std::wstring(t.begin(), t.end());
}

std::string Show(const DateTime& dt) {
    return ToUtf8(FormatDateTime(dt));
}

using test::Dt;

uint64_t ToRaw(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

struct RawTimes {
    uint64_t creation = 0;
    uint64_t access = 0;
    uint64_t write = 0;
};

// The stamps as the system reports them, read without the code under test.
RawTimes ReadTimes(const Text& path) {
    RawTimes t;
    HANDLE h = ::CreateFileW(W(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << ToUtf8(path) << " to read its times, error " << ::GetLastError();
        return t;
    }
    FILETIME c, a, w;
    if (::GetFileTime(h, &c, &a, &w)) {
        t.creation = ToRaw(c);
        t.access = ToRaw(a);
        t.write = ToRaw(w);
    } else {
        ADD_FAILURE() << "GetFileTime failed on " << ToUtf8(path) << ", error " << ::GetLastError();
    }
    ::CloseHandle(h);
    return t;
}

void WriteFileRaw(const Text& path, const std::string& data) {
    HANDLE h = ::CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "cannot create " << ToUtf8(path) << ", error " << ::GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(data.size(), written);
    ::CloseHandle(h);
}

std::string ReadFileRaw(const Text& path) {
    HANDLE h = ::CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string data;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    ::CloseHandle(h);
    return data;
}

bool Exists(const Text& path) {
    return ::GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetAttr(const Text& path, DWORD attributes) {
    ASSERT_TRUE(::SetFileAttributesW(W(path).c_str(), attributes))
        << ToUtf8(path) << ", error " << ::GetLastError();
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + L"\\" + name;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(dir.c_str());
}

// Runs the body and reports the number of the QxError it raised (0: none).
template <class F>
int32_t ErrorNumberOf(F body, Text* description = nullptr) {
    try {
        body();
    } catch (const QxError& e) {
        if (description != nullptr) *description = e.Description();
        return e.Number();
    }
    return 0;
}

class FilesWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, ::GetTempPathW(MAX_PATH + 1, temp));
        const std::wstring name = std::wstring(temp) + L"qxfiles-" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(::GetTickCount());
        ASSERT_TRUE(::CreateDirectoryW(name.c_str(), nullptr)) << "error " << ::GetLastError();
        dir_ = Text(name.begin(), name.end());
    }
    void TearDown() override {
        if (!dir_.empty()) RemoveTree(W(dir_));
    }

    Text P(const Text& name) const { return dir_ + u"\\" + name; }

    Win32FileSystem fs;
    Text dir_;
};

// ---- time stamps -----------------------------------------------------------

TEST_F(FilesWin32, SetFileDateThenGetFileDateRoundTripsInUtc) {
    const Text file = P(u"stamp.bin");
    WriteFileRaw(file, "content");
    SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2));

    EXPECT_EQ("2008-03-05 09:07:02", Show(GetFileDate(fs, file)));
    EXPECT_EQ(kStamp2008, GetFileWriteTime(fs, file));
    const RawTimes t = ReadTimes(file);
    EXPECT_EQ(kStamp2008, t.write) << "last-write time";
    EXPECT_EQ(kStamp2008, t.access) << "last-access time";
    EXPECT_EQ(kStamp2008, t.creation) << "creation time";
    EXPECT_EQ("content", ReadFileRaw(file)) << "setting the times must not touch the contents";
}

// ---- opening, creating, replacing ----------------------------------------

TEST_F(FilesWin32, CanOpenExclusivelyOnlyWhenNoOneElseHasTheFile) {
    const Text file = P(u"exclusive.bin");
    WriteFileRaw(file, "x");
    EXPECT_TRUE(fs.CanOpenExclusively(file));
    {
        UniqueHandle reader(::CreateFileW(W(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader.Valid());
        EXPECT_FALSE(fs.CanOpenExclusively(file)) << "another handle, even a sharing reader, holds the file";
    }
    EXPECT_TRUE(fs.CanOpenExclusively(file)) << "after the other handle closed";
    EXPECT_EQ("x", ReadFileRaw(file)) << "the check must not change the file";

    EXPECT_FALSE(fs.CanOpenExclusively(P(u"absent.bin")));
    EXPECT_FALSE(Exists(P(u"absent.bin"))) << "the check created a missing file";
    EXPECT_FALSE(fs.CanOpenExclusively(dir_)) << "a folder";
}

// What the trailer writer and the download engine meet when another program
// holds the file: a failure naming it, and the file left as it was.
TEST_F(FilesWin32, WritingAFileInUseRaisesFileAlreadyOpen) {
    const Text file = P(u"locked.bin");
    WriteFileRaw(file, "keep");
    UniqueHandle holder(::CreateFileW(W(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    Text description;
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.CreateForWrite(file); }, &description));
    EXPECT_NE(Text::npos, description.find(file)) << ToUtf8(description);
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.WriteAt(file, 1, "xx"); }));
    holder.Reset();
    EXPECT_EQ("keep", ReadFileRaw(file));
}

DWORD WINAPI ReleaseAfter150Ms(void* handle) {
    ::Sleep(150);
    ::CloseHandle(static_cast<HANDLE>(handle));
    return 0;
}

TEST_F(FilesWin32, ReplaceKeepsWhatTheTargetHadAndWaitsBrieflyWhileItIsHeld) {
    const Text source = P(u"source.tmp");
    const Text target = P(u"target.exe");
    // A staged file on another drive cannot be swapped in: written in place.
    const Text elsewhere = u"Z:\\dev\\shm\\qx-replace-" + FromUtf8(std::to_string(::GetCurrentProcessId()));
    const bool haveElsewhere = ::GetFileAttributesW(L"Z:\\dev\\shm") != INVALID_FILE_ATTRIBUTES;
    for (const Text& from : {source, elsewhere}) {
        if (from == elsewhere && !haveElsewhere) continue;
        for (DWORD kept : {DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
            SCOPED_TRACE(ToUtf8(from) + " over attributes " + std::to_string(kept));
            WriteFileRaw(from, "new program");
            if (Exists(target)) SetAttr(target, FILE_ATTRIBUTE_NORMAL);
            WriteFileRaw(target, "old program, longer than the new one");
            SetAttr(target, kept);
            fs.Replace(from, target);
            EXPECT_EQ("new program", ReadFileRaw(target));
            const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
            EXPECT_EQ(kept & marks, ::GetFileAttributesW(W(target).c_str()) & marks);
            EXPECT_FALSE(Exists(from)) << "the source must be gone after a replace";
        }
    }

    // Into a place where nothing was.
    WriteFileRaw(source, "again");
    fs.Replace(source, P(u"fresh.exe"));
    EXPECT_EQ("again", ReadFileRaw(P(u"fresh.exe")));
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.Replace(P(u"nothing.tmp"), target); }));

    // Held by another program for a moment, then for good.
    WriteFileRaw(source, "third");
    HANDLE held = ::CreateFileW(W(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    UniqueHandle releaser(::CreateThread(nullptr, 0, ReleaseAfter150Ms, held, 0, nullptr));
    fs.Replace(source, target);
    EXPECT_EQ("third", ReadFileRaw(target));
    WriteFileRaw(source, "fourth");
    UniqueHandle holder(::CreateFileW(W(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.Replace(source, target); }));
    holder.Reset();
    EXPECT_EQ("third", ReadFileRaw(target)) << "a failed replace must leave the target";
    ::WaitForSingleObject(releaser.Get(), 5000);
}

TEST_F(FilesWin32, ReadOnlyTargetRefusesCopyAndReplace) {
    const Text source = P(u"new.dll");
    const Text target = P(u"ro.dll");
    WriteFileRaw(source, "new");
    WriteFileRaw(target, "old");
    SetAttr(target, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Copy(source, target); }));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Replace(source, target); }));
    EXPECT_EQ("old", ReadFileRaw(target));
    EXPECT_EQ("new", ReadFileRaw(source));
}

std::string Joined(std::vector<Text> names) {
    std::sort(names.begin(), names.end());
    std::string out;
    for (const Text& n : names) out += (out.empty() ? "" : ",") + ToUtf8(n);
    return out;
}

TEST_F(FilesWin32, ListWithAttributeMasks) {
    WriteFileRaw(P(u"normal.txt"), "n");
    WriteFileRaw(P(u"ro.txt"), "r");
    WriteFileRaw(P(u"hidden.txt"), "h");
    WriteFileRaw(P(u"system.txt"), "s");
    ASSERT_TRUE(::CreateDirectoryW(W(P(u"sub")).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(W(P(u"hsub")).c_str(), nullptr));
    SetAttr(P(u"ro.txt"), FILE_ATTRIBUTE_READONLY);
    SetAttr(P(u"hidden.txt"), FILE_ATTRIBUTE_HIDDEN);
    SetAttr(P(u"system.txt"), FILE_ATTRIBUTE_SYSTEM);
    SetAttr(P(u"hsub"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);

    struct Case {
        Text pattern;
        uint32_t mask;
        std::string expected;
    };
    const Case cases[] = {
        {P(u"*"), 0, "normal.txt,ro.txt"},
        {P(u"*"), attr::kHidden, "hidden.txt,normal.txt,ro.txt"},
        {P(u"*"), attr::kHidden | attr::kSystem, "hidden.txt,normal.txt,ro.txt,system.txt"},
        {P(u"*"), attr::kDirectory | attr::kHidden, "hidden.txt,hsub,normal.txt,ro.txt,sub"},
        {P(u"*"), 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {dir_ + u"\\", 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {P(u"*.txt"), 0, "normal.txt,ro.txt"},
        {P(u"hidden.txt"), 6, "hidden.txt"},
        {P(u"NORMAL.TXT"), 0, "normal.txt"},
        {P(u"nofolder\\*"), 23, ""},
        {dir_, attr::kDirectory, ToUtf8(dir_.substr(dir_.rfind(u'\\') + 1))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Joined(fs.List(c.pattern, c.mask)))
            << "List(\"" << ToUtf8(c.pattern) << "\", " << c.mask << ")";
    }
}

TEST_F(FilesWin32, ChineseFileNameRoundTrip) {
    const Text name = u"升级测试文件（中文）.txt";
    const Text file = P(name);
    try {
        fs.CreateForWrite(file)->Write("\xe4\xb8\xad");
    } catch (const QxError& e) {
        // Under Wine this is what a missing zh_CN.UTF-8 glibc locale looks like.
        FAIL() << "cannot create a file with a Chinese name (under Wine: is the zh_CN.UTF-8 "
                  "locale installed or LOCPATH set?): "
               << ToUtf8(e.Description());
    }
    ASSERT_TRUE(fs.FileExists(file));
    EXPECT_EQ("\xe4\xb8\xad", ToUtf8(FromUtf8(fs.ReadAll(file))));
    EXPECT_EQ(ToUtf8(name), Joined(fs.List(P(u"*.txt"), 0)));
    SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2));
    EXPECT_EQ("2008-03-05 09:07:02", Show(GetFileDate(fs, file)));
    const Text dir = P(u"中文目录");
    fs.MakeDir(dir);
    fs.Replace(file, dir + u"\\" + name);
    EXPECT_EQ("\xe4\xb8\xad", fs.ReadAll(dir + u"\\" + name));
}

}  // namespace
}  // namespace qx
