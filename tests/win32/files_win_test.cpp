// The Win32 file service and the time-stamp module on a real file system,
// each test in a fresh folder under the temp folder. Time stamps are checked
// against raw values computed outside the code under test, so the tests fail
// if anything converts through local time; the run is repeated under several
// TZ settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
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
// 2001-01-01 00:00:00 UTC.
constexpr uint64_t kStamp2001 = 126227808000000000ull;

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

FILETIME FromRaw(uint64_t raw) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(raw & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(raw >> 32);
    return ft;
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

void WriteTimes(const Text& path, uint64_t raw) {
    HANDLE h = ::CreateFileW(W(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "cannot open " << ToUtf8(path) << ", error " << ::GetLastError();
    const FILETIME ft = FromRaw(raw);
    EXPECT_TRUE(::SetFileTime(h, &ft, &ft, &ft)) << "error " << ::GetLastError();
    ::CloseHandle(h);
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

TEST_F(FilesWin32, ZoneOfThisRun) {
    // Not a check of the code: puts the zone into the log so a run under
    // another TZ can be told apart. The bias must be a whole number of
    // quarter hours, or the zone setting did not reach the system.
    TIME_ZONE_INFORMATION tz;
    ::GetTimeZoneInformation(&tz);
    std::cout << "UTC bias of this run: " << tz.Bias << " minutes" << std::endl;
    RecordProperty("utc_bias_minutes", static_cast<int>(tz.Bias));
    EXPECT_EQ(0, tz.Bias % 15) << tz.Bias;
}

TEST_F(FilesWin32, KnownStampAgreesWithTheSystemsUtcConversion) {
    SYSTEMTIME st = {};
    st.wYear = 2008;
    st.wMonth = 3;
    st.wDay = 5;
    st.wHour = 9;
    st.wMinute = 7;
    st.wSecond = 2;
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(kStamp2008, ToRaw(ft));
    EXPECT_EQ(kStamp2008, DateTimeToFileTime(Dt(2008, 3, 5, 9, 7, 2)));
}

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

TEST_F(FilesWin32, StampSetOutsideReadsTruncatedToTheSecond) {
    const Text file = P(u"fraction.bin");
    WriteFileRaw(file, "x");
    const uint64_t tenOClock = DateTimeToFileTime(Dt(2020, 6, 1, 10, 0, 0));
    WriteTimes(file, tenOClock + 7000000);  // 10:00:00.700 UTC
    EXPECT_EQ(tenOClock + 7000000, GetFileWriteTime(fs, file));
    EXPECT_EQ("2020-06-01 10:00:00", Show(GetFileDate(fs, file)));
}

TEST_F(FilesWin32, StampsAcrossTheCalendarRoundTrip) {
    const Text file = P(u"calendar.bin");
    WriteFileRaw(file, "x");
    const DateTime dates[] = {Dt(1970, 1, 1, 0, 0, 0), Dt(1999, 12, 31, 23, 59, 59), Dt(2000, 2, 29, 12, 0, 0),
                              Dt(2038, 1, 19, 3, 14, 8), Dt(2099, 12, 31, 23, 59, 59)};
    for (const DateTime& dt : dates) {
        SetFileDate(fs, file, dt);
        EXPECT_EQ(Show(dt), Show(GetFileDate(fs, file)));
        EXPECT_EQ(DateTimeToFileTime(dt), ReadTimes(file).write) << Show(dt);
    }
}

TEST_F(FilesWin32, MissingFileReadsAs1601AndSettingCreatesNothing) {
    const Text file = P(u"missing.bin");
    EXPECT_EQ(0u, GetFileWriteTime(fs, file));
    EXPECT_EQ("1601-01-01 00:00:00", Show(GetFileDate(fs, file)));
    SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2));
    EXPECT_FALSE(Exists(file)) << "SetFileDate created the missing file";
    EXPECT_EQ("1601-01-01 00:00:00", Show(GetFileDate(fs, P(u"nofolder\\x.bin"))));
}

TEST_F(FilesWin32, ReadOnlyFileKeepsItsTimes) {
    const Text file = P(u"readonly.bin");
    WriteFileRaw(file, "x");
    WriteTimes(file, kStamp2001);
    SetAttr(file, FILE_ATTRIBUTE_READONLY);
    EXPECT_NO_THROW(SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2)));
    const RawTimes t = ReadTimes(file);
    EXPECT_EQ(kStamp2001, t.write) << "a read-only file must keep its last-write time";
    EXPECT_EQ(kStamp2001, t.creation);
    EXPECT_EQ("2001-01-01 00:00:00", Show(GetFileDate(fs, file)));
}

TEST_F(FilesWin32, FileHeldOpenByAnotherHandleKeepsItsTimes) {
    const Text file = P(u"busy.bin");
    WriteFileRaw(file, "x");
    WriteTimes(file, kStamp2001);
    UniqueHandle other(::CreateFileW(W(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.Valid());
    EXPECT_NO_THROW(SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2)));
    // The reader shares reading, so the time can still be read.
    EXPECT_EQ(kStamp2001, GetFileWriteTime(fs, file));
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

TEST_F(FilesWin32, CanOpenExclusivelyIsFalseForAReadOnlyFile) {
    const Text file = P(u"ro.bin");
    WriteFileRaw(file, "x");
    SetAttr(file, FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(fs.CanOpenExclusively(file));
}

TEST_F(FilesWin32, CreateForWriteTruncatesAndKeepsOthersFromWriting) {
    const Text file = P(u"create.bin");
    WriteFileRaw(file, "0123456789");
    {
        std::unique_ptr<IOpenFile> out = fs.CreateForWrite(file);
        EXPECT_EQ(0, out->Length()) << "an existing file must be emptied";
        out->Write("abc");
        out->Write(std::string("\0\xff", 2));
        EXPECT_EQ(5, out->Length());
        EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.WriteAt(file, 0, "z"); }))
            << "a second writer while the file is open";
        EXPECT_EQ(std::string("abc\0\xff", 5), ReadFileRaw(file)) << "readers may look in while it is open";
        out->Close();
        EXPECT_NE(0, ErrorNumberOf([&] { out->Write("late"); })) << "writing after Close";
    }
    EXPECT_EQ(std::string("abc\0\xff", 5), ReadFileRaw(file));

    const Text fresh = P(u"new.bin");
    fs.CreateForWrite(fresh)->Write("n");
    EXPECT_EQ("n", ReadFileRaw(fresh));
}

TEST_F(FilesWin32, CreateForWriteOverHiddenFileWorksOverReadOnlyFails) {
    const Text hidden = P(u"hidden.bin");
    WriteFileRaw(hidden, "old");
    SetAttr(hidden, FILE_ATTRIBUTE_HIDDEN);
    fs.CreateForWrite(hidden)->Write("new");
    EXPECT_EQ("new", ReadFileRaw(hidden));

    const Text ro = P(u"ro.bin");
    WriteFileRaw(ro, "old");
    SetAttr(ro, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.CreateForWrite(ro); }));
    EXPECT_EQ("old", ReadFileRaw(ro));

    EXPECT_EQ(err::kPathNotFound, ErrorNumberOf([&] { fs.CreateForWrite(P(u"nofolder\\a.bin")); }));
}

TEST_F(FilesWin32, CreateForWriteOnAFileInUseRaisesFileAlreadyOpen) {
    const Text file = P(u"locked.bin");
    WriteFileRaw(file, "keep");
    UniqueHandle holder(::CreateFileW(W(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    Text description;
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.CreateForWrite(file); }, &description));
    EXPECT_NE(Text::npos, description.find(file)) << ToUtf8(description);
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

TEST_F(FilesWin32, CopyReplacesTargetAndKeepsSourceTime) {
    const Text source = P(u"a.dll");
    const Text target = P(u"b.dll");
    WriteFileRaw(source, "library");
    WriteTimes(source, kStamp2008);
    WriteFileRaw(target, "older");
    fs.Copy(source, target);
    EXPECT_EQ("library", ReadFileRaw(target));
    EXPECT_EQ("library", ReadFileRaw(source));
    EXPECT_EQ(kStamp2008, ReadTimes(target).write);
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.Copy(P(u"none.dll"), target); }));
}

TEST_F(FilesWin32, CopyRefusesAHiddenTarget) {
    const Text source = P(u"new.ini");
    const Text target = P(u"hidden.ini");
    WriteFileRaw(source, "new");
    WriteFileRaw(target, "old");
    SetAttr(target, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Copy(source, target); }));
    EXPECT_EQ("old", ReadFileRaw(target));
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

// ---- reading and writing at an offset --------------------------------------

TEST_F(FilesWin32, ReadAndWriteAtOffsets) {
    const Text file = P(u"program.exe");
    WriteFileRaw(file, std::string("MZ") + std::string(30, '\0') + "127.0.0.1");
    EXPECT_EQ(41, fs.FileLength(file));
    EXPECT_EQ("127.0.0.1", fs.ReadAt(file, 32, 32)) << "a read past the end gives what is there";
    EXPECT_EQ("", fs.ReadAt(file, 100, 4));
    EXPECT_EQ("MZ", fs.ReadAt(file, 0, 2));

    fs.WriteAt(file, 32, "10.1.2.3");
    EXPECT_EQ(41, fs.FileLength(file)) << "writing inside the file keeps its length";
    EXPECT_EQ("10.1.2.31", fs.ReadAt(file, 32, 9));
    fs.WriteAt(file, 41, "++");
    EXPECT_EQ(43, fs.FileLength(file));
    EXPECT_EQ(fs.ReadAll(file), ReadFileRaw(file));

    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.WriteAt(P(u"none.exe"), 0, "x"); }));
    EXPECT_FALSE(Exists(P(u"none.exe"))) << "WriteAt must not create a file";
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.ReadAll(P(u"none.exe")); }));
    EXPECT_EQ(err::kPathNotFound, ErrorNumberOf([&] { fs.ReadAll(P(u"nofolder\\none.exe")); }));
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.FileLength(P(u"none.exe")); }));
    EXPECT_NE(0, ErrorNumberOf([&] { fs.FileLength(dir_); })) << "a folder has no file length";
}

TEST_F(FilesWin32, ReadAllOfALargeFile) {
    const Text file = P(u"large.bin");
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 1000);
    WriteFileRaw(file, data);
    const Bytes got = fs.ReadAll(file);
    ASSERT_EQ(data.size(), got.size());
    EXPECT_TRUE(got == data) << "contents differ";
}

TEST_F(FilesWin32, FileLengthOfAFileHeldOpenExclusively) {
    const Text file = P(u"running.exe");
    WriteFileRaw(file, "12345");
    UniqueHandle holder(::CreateFileW(W(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    EXPECT_EQ(5, fs.FileLength(file));
    EXPECT_EQ(0u, GetFileWriteTime(fs, file)) << "a file that cannot be opened for reading reads as 0";
}

// ---- attributes, deleting, folders, listing ------------------------------

TEST_F(FilesWin32, AttributesDeleteAndExistence) {
    const Text file = P(u"attr.txt");
    WriteFileRaw(file, "x");
    EXPECT_TRUE(fs.FileExists(file));
    EXPECT_FALSE(fs.DirExists(file));
    EXPECT_TRUE(fs.DirExists(dir_));
    EXPECT_FALSE(fs.FileExists(dir_));

    fs.SetAttributes(file, attr::kReadOnly | attr::kHidden);
    EXPECT_EQ(attr::kReadOnly | attr::kHidden,
              fs.GetAttributes(file) & (attr::kReadOnly | attr::kHidden | attr::kSystem));
    EXPECT_TRUE(fs.FileExists(file)) << "hidden files count";
    Text description;
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.Delete(file); }, &description))
        << "deleting a read-only file";
    EXPECT_NE(Text::npos, description.find(u"删除文件")) << ToUtf8(description);
    EXPECT_TRUE(Exists(file));

    fs.SetAttributes(file, attr::kNormal);
    EXPECT_EQ(0u, fs.GetAttributes(file) & (attr::kReadOnly | attr::kHidden | attr::kSystem));
    fs.Delete(file);
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(fs.FileExists(file));

    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.Delete(file); }));
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.GetAttributes(file); }));
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.SetAttributes(file, 0); }));
    EXPECT_EQ(attr::kDirectory, fs.GetAttributes(dir_) & attr::kDirectory);
}

TEST_F(FilesWin32, DeleteOfAFileInUseRaisesFileAlreadyOpen) {
    const Text file = P(u"inuse.txt");
    WriteFileRaw(file, "x");
    UniqueHandle holder(::CreateFileW(W(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    EXPECT_EQ(err::kFileAlreadyOpen, ErrorNumberOf([&] { fs.Delete(file); }));
}

TEST_F(FilesWin32, MakeDirOneLevel) {
    const Text sub = P(u"sub");
    fs.MakeDir(sub);
    EXPECT_TRUE(fs.DirExists(sub));
    EXPECT_EQ(err::kPathFileAccess, ErrorNumberOf([&] { fs.MakeDir(sub); })) << "it exists already";
    EXPECT_EQ(err::kPathNotFound, ErrorNumberOf([&] { fs.MakeDir(P(u"a\\b")); })) << "parent missing";
    EXPECT_FALSE(Exists(P(u"a")));
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
        {P(u"*"), attr::kReadOnly, "normal.txt,ro.txt"},
        {P(u"*"), attr::kHidden, "hidden.txt,normal.txt,ro.txt"},
        {P(u"*"), attr::kSystem, "normal.txt,ro.txt,system.txt"},
        {P(u"*"), attr::kHidden | attr::kSystem, "hidden.txt,normal.txt,ro.txt,system.txt"},
        {P(u"*"), attr::kDirectory, "normal.txt,ro.txt,sub"},
        {P(u"*"), attr::kDirectory | attr::kHidden, "hidden.txt,hsub,normal.txt,ro.txt,sub"},
        {P(u"*"), 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {dir_ + u"\\", 23, "hidden.txt,hsub,normal.txt,ro.txt,sub,system.txt"},
        {P(u"*.txt"), 0, "normal.txt,ro.txt"},
        {P(u"hidden.txt"), 6, "hidden.txt"},
        {P(u"hidden.txt"), 0, ""},
        {P(u"NORMAL.TXT"), 0, "normal.txt"},
        {P(u"absent.txt"), 23, ""},
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

TEST_F(FilesWin32, ErrorDescriptionNamesOperationPathAndSystemText) {
    const Text file = P(u"missing.dat");
    Text description;
    EXPECT_EQ(err::kFileNotFound, ErrorNumberOf([&] { fs.ReadAll(file); }, &description));
    EXPECT_NE(Text::npos, description.find(u"\"" + file + u"\"")) << ToUtf8(description);
    EXPECT_NE(Text::npos, description.find(u"错误代码 2")) << ToUtf8(description);
    // Something of the system's own text is between the colon and the code.
    const Text::size_type colon = description.find(u"失败：");
    const Text::size_type code = description.find(u"（错误代码");
    ASSERT_NE(Text::npos, colon) << ToUtf8(description);
    ASSERT_NE(Text::npos, code) << ToUtf8(description);
    EXPECT_GT(code, colon + 3) << "no system error text in: " << ToUtf8(description);
}

// ---- handle owners ---------------------------------------------------------

TEST_F(FilesWin32, UniqueHandleClosesOnDestructionResetAndMove) {
    const Text file = P(u"handle.bin");
    WriteFileRaw(file, "x");
    auto openExclusive = [&] {
        return UniqueHandle(::CreateFileW(W(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    {
        UniqueHandle a = openExclusive();
        ASSERT_TRUE(a.Valid());
        EXPECT_FALSE(openExclusive().Valid()) << "the first handle should still hold the file";
        UniqueHandle b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_TRUE(b.Valid());
        EXPECT_FALSE(openExclusive().Valid()) << "moving must not close the handle";
    }
    EXPECT_TRUE(openExclusive().Valid()) << "destruction should have closed it";

    UniqueHandle c = openExclusive();
    c.Reset();
    EXPECT_FALSE(c.Valid());
    EXPECT_TRUE(openExclusive().Valid()) << "Reset should have closed it";

    UniqueHandle failed(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(failed.Valid()) << "INVALID_HANDLE_VALUE means no handle";
    EXPECT_EQ(nullptr, failed.Get());
    UniqueHandle none(nullptr);
    EXPECT_FALSE(none.Valid());

    UniqueHandle d = openExclusive();
    HANDLE raw = d.Release();
    EXPECT_FALSE(d.Valid());
    EXPECT_FALSE(openExclusive().Valid()) << "Release must not close";
    ::CloseHandle(raw);
}

TEST_F(FilesWin32, UniqueFindHandleTreatsFailureAsNone) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle missing(::FindFirstFileW(W(P(u"none*")).c_str(), &found));
    EXPECT_FALSE(missing.Valid());
    WriteFileRaw(P(u"one.txt"), "1");
    UniqueFindHandle find(::FindFirstFileW(W(P(u"*.txt")).c_str(), &found));
    ASSERT_TRUE(find.Valid());
    EXPECT_EQ(L"one.txt", std::wstring(found.cFileName));
    UniqueFindHandle moved(std::move(find));
    EXPECT_FALSE(find.Valid());
    EXPECT_EQ(INVALID_HANDLE_VALUE, find.Get());
    EXPECT_TRUE(moved.Valid());
}

}  // namespace
}  // namespace qx
