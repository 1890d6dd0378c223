// The server address in the program-file trailer, through the real Win32
// file service and code-page conversion, on files made by the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "config/Trailer.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "support/TestValues.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// GBK bytes of "更新.example:8080": 更 B8 FC, 新 D0 C2.
const Bytes kGbkAddress = "\xB8\xFC\xD0\xC2.example:8080";
const Text kAddress = u"\u66F4\u65B0.example:8080";

// Only the progress list matters here: reading and writing the trailer must
// not add to it. Anything else the window is asked for is a fault.
class QuietWindow : public IWindowUi {
public:
    std::vector<Text> lines;
    void SetCaption(const Text&) override { Unexpected("SetCaption"); }
    Text Caption() const override { return Text(); }
    void SetNotice(const Text&) override { Unexpected("SetNotice"); }
    void AddListItem(const Text& line) override { lines.push_back(line); }
    int ListCount() const override { return static_cast<int>(lines.size()); }
    void SetListIndex(int) override {}
    void RefreshList() override {}
    void EnableUpdateButton(bool) override { Unexpected("EnableUpdateButton"); }
    void StopStartTimer() override { Unexpected("StopStartTimer"); }
    void AddMenu() override { Unexpected("AddMenu"); }
    void Close() override { Unexpected("Close"); }
    bool IsAlive() const override { return true; }
    void DoEvents() override {}
    int MsgBox(const Text&, int, const Text&) override { Unexpected("MsgBox"); }
    Text InputBox(const Text&, const Text&, const Text&) override { Unexpected("InputBox"); }
    int MousePointer() const override { return 0; }
    void SetMousePointer(int) override {}

private:
    [[noreturn]] static void Unexpected(const char* what) {
        throw std::logic_error(std::string("unexpected call of the window: ") + what);
    }
};

using test::Hex;

void WriteWholeFile(const Text& path, const Bytes& data) {
    UniqueHandle file(
        ::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.Valid()) << "cannot create " << ToUtf8(path);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    ASSERT_EQ(written, data.size());
}

Bytes ReadWholeFile(const Text& path) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return "<missing>";
    Bytes data;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    return data;
}

// Stands for a program: starts like one, and every byte value occurs.
Bytes ProgramBody(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 13 + 5) & 0xFF);
    b[0] = 'M';
    b[1] = 'Z';
    return b;
}

class Win32TrailerTest : public ::testing::Test {
protected:
    QuietWindow window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    Win32HttpClient http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage{936};
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
    FrmUpdate form{platform};

    Text folder;
    Text exe;  // the program file of the running program's base name in folder

    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        folder = Text(reinterpret_cast<const char16_t*>(temp)) + u"qxtrailer-" +
                 FromUtf8(std::to_string(::GetCurrentProcessId())) + u"\\";
        ::CreateDirectoryW(Wide(folder), nullptr);
        form.strAppDir = folder;
        exe = folder + form.ProgramBaseName() + u".exe";
        ASSERT_NE(form.ProgramBaseName(), Text()) << "the running program has no base name";
    }

    void TearDown() override {
        ::DeleteFileW(Wide(exe));
        ::DeleteFileW(Wide(folder + u"other.exe"));
        ::RemoveDirectoryW(Wide(folder));
        EXPECT_TRUE(window.lines.empty()) << "the trailer procedures logged: " << ToUtf8(window.lines.front());
    }
};

TEST_F(Win32TrailerTest, ReadsTheTrailerOfTheProgramInTheAppFolder) {
    struct Case {
        const char* name;
        Bytes trailer;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"GBK host name", kGbkAddress + Bytes(32 - kGbkAddress.size(), '\0'), kAddress},
        {"dotted address", "10.1.2.3" + Bytes(24, '\0'), u"10.1.2.3"},
        {"all NUL", Bytes(32, '\0'), u"127.0.0.1"},
        {"no terminator", Bytes(32, 'h'), u"127.0.0.1"},
    };
    for (const Case& c : cases) {
        WriteWholeFile(exe, ProgramBody(70000) + c.trailer);
        EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(c.expected)) << c.name;
    }
}

TEST_F(Win32TrailerTest, MissingOrShortProgramFileGivesLoopback) {
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "127.0.0.1") << "no program file";
    WriteWholeFile(exe, "10.1.2.3");
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "127.0.0.1") << "an 8-byte program file";
}

TEST_F(Win32TrailerTest, ProgramHeldOpenByItsOwnProcessIsStillRead) {
    // A running program keeps its file open for reading only, sharing reads.
    WriteWholeFile(exe, ProgramBody(5000) + kGbkAddress + Bytes(32 - kGbkAddress.size(), '\0'));
    UniqueHandle held(::CreateFileW(Wide(exe), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(kAddress));
}

TEST_F(Win32TrailerTest, WriteIPRoundTripsAndChangesOnlyTheTrailer) {
    const Bytes body = ProgramBody(70000);
    WriteWholeFile(exe, body + Bytes(32, '\0'));
    struct Case {
        Text address;
        Bytes stored;
        Text readBack;
    };
    const std::vector<Case> cases = {
        {kAddress, kGbkAddress + Bytes(32 - kGbkAddress.size(), '\0'), kAddress},
        {u"10.1.2.3", "10.1.2.3" + Bytes(24, '\0'), u"10.1.2.3"},
        // 15 characters, 30 bytes: fits with its terminator.
        {u"\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4",
         Bytes("\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2"
               "\xB8\xFC\xD0\xC2\xB8\xFC") +
             Bytes(2, '\0'),
         u"\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4"},
        // 16 characters, 32 bytes: stored without a terminator.
        {u"\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0\u66F4\u65B0",
         "\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2"
         "\xB8\xFC\xD0\xC2\xB8\xFC\xD0\xC2",
         u"127.0.0.1"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.stored.size(), 32u) << "bad test data for " << ToUtf8(c.address);
        WriteIP(form, exe, c.address);
        const Bytes after = ReadWholeFile(exe);
        ASSERT_EQ(after.size(), body.size() + 32) << "length after writing " << ToUtf8(c.address);
        EXPECT_TRUE(after.compare(0, body.size(), body) == 0) << "a byte before the trailer changed";
        EXPECT_EQ(Hex(after.substr(body.size())), Hex(c.stored)) << ToUtf8(c.address);
        EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(c.readBack)) << "after writing " << ToUtf8(c.address);
    }

    // The setup path takes the same 32 bytes.
    WriteSetupPath(form, exe, u"D:\\\u66F4\u65B0\\");
    EXPECT_EQ(Hex(ReadWholeFile(exe).substr(body.size())), Hex("D:\\\xB8\xFC\xD0\xC2\\" + Bytes(24, '\0')));
    EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(u"D:\\\u66F4\u65B0\\"));
}

TEST_F(Win32TrailerTest, WriteIPFailsOnAMissingOrLockedFile) {
    const Text other = folder + u"other.exe";
    try {
        WriteIP(form, other, u"10.1.2.3");
        ADD_FAILURE() << "writing into a missing file raised nothing";
    } catch (const QxError& e) {
        EXPECT_EQ(e.Number(), err::kFileNotFound) << ToUtf8(e.Description());
    }
    EXPECT_EQ(::GetFileAttributesW(Wide(other)), INVALID_FILE_ATTRIBUTES) << "the missing file was created";

    const Bytes original = ProgramBody(4000) + "10.1.1.1" + Bytes(24, '\0');
    WriteWholeFile(exe, original);
    {
        // Held by "another program" that shares nothing.
        UniqueHandle held(
            ::CreateFileW(Wide(exe), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.Valid());
        try {
            WriteIP(form, exe, u"10.1.2.3");
            ADD_FAILURE() << "writing into a locked file raised nothing";
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), err::kFileAlreadyOpen) << ToUtf8(e.Description());
        }
    }
    EXPECT_EQ(Hex(ReadWholeFile(exe)), Hex(original)) << "the locked file changed";
}

}  // namespace
}  // namespace qx
