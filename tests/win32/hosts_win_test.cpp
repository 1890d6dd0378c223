// Hosts-file editing on the real file system, on a hosts file of the test's
// own in a temp folder: what becomes of its attributes, and no side file
// left behind. (What the edits do to the text is shown end to end.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../unit/fakes/FakePlatform.h"
#include "actions/HostsFile.h"
#include "app/frmUpdate.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"

namespace qx {
namespace {

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text FromWide(const wchar_t* text) { return Text(reinterpret_cast<const char16_t*>(text)); }

class HostsWin : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        folder = FromWide(temp) + u"qx_hosts_" + FromUtf8(std::to_string(::GetCurrentProcessId())) + u"\\";
        ClearFolder();
        ::RemoveDirectoryW(W(folder));
        ASSERT_TRUE(::CreateDirectoryW(W(folder), nullptr)) << ToUtf8(folder);
        hosts = folder + u"hosts";
        form.strHostsFile = hosts;
    }
    void TearDown() override {
        ClearFolder();
        ::RemoveDirectoryW(W(folder));
    }

    std::vector<Text> FolderEntries() const {
        std::vector<Text> names;
        WIN32_FIND_DATAW found;
        HANDLE find = ::FindFirstFileW(W(folder + u"*"), &found);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            const Text name = FromWide(found.cFileName);
            if (name != u"." && name != u"..") names.push_back(name);
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
        return names;
    }

    void ClearFolder() const {
        for (const Text& name : FolderEntries()) {
            ::SetFileAttributesW(W(folder + name), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(W(folder + name));
        }
    }

    void WriteHosts(const std::string& data, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
        ::SetFileAttributesW(W(hosts), FILE_ATTRIBUTE_NORMAL);
        {
            UniqueHandle file(::CreateFileW(W(hosts), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(file.Valid()) << "error " << ::GetLastError();
            DWORD written = 0;
            ASSERT_TRUE(::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
        }
        ASSERT_TRUE(::SetFileAttributesW(W(hosts), attributes));
    }

    std::string ReadHosts() const {
        UniqueHandle file(::CreateFileW(W(hosts), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) return "<missing>";
        std::string data;
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
        return data;
    }

    DWORD HostsAttributes() const {
        return ::GetFileAttributesW(W(hosts)) &
               (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }

    // The hosts file must be the only thing in its folder afterwards.
    void ExpectNoSideFiles() const {
        std::string others;
        for (const Text& name : FolderEntries()) {
            if (name != u"hosts") others += " " + ToUtf8(name);
        }
        EXPECT_TRUE(others.empty()) << "left in the folder:" << others;
    }

    fake::Window window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    fake::UnusedHttp http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage{936};
    Win32Crypto crypto;
    const Platform platform{window, process, files, settings, registry, http, clock, random, codepage, crypto};
    FrmUpdate form{platform};
    Text folder;
    Text hosts;
};


TEST_F(HostsWin, AttributesOfTheRewrittenFile) {
    struct Case {
        const char* label;
        bool add;
        DWORD before;
        bool changed;
        DWORD after;
    };
    const std::vector<Case> cases = {
        {"add clears read-only", true, FILE_ATTRIBUTE_READONLY, true, 0},
        {"add clears hidden and system", true, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true, 0},
        {"remove leaves a read-only file alone", false, FILE_ATTRIBUTE_READONLY, false, FILE_ATTRIBUTE_READONLY},
        {"remove keeps hidden and system", false, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    const std::string original = "5.6.7.8 a.com\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        WriteHosts(original, c.before);
        if (c.add) {
            DoHostsAdd(form, form.Script().Hosts(), u"a.com", u"1.2.3.4");
        } else {
            DoHostsRemove(form, form.Script().Hosts(), u"a.com");
        }
        EXPECT_EQ(ReadHosts() != original, c.changed) << "now [" << ReadHosts() << "]";
        EXPECT_EQ(HostsAttributes(), c.after);
        ExpectNoSideFiles();
    }
}


TEST_F(HostsWin, WhereNoSideFileCanBeMadeBesideItTheFileIsStillRewrittenAndKeepsItsAttributes) {
    // The side file's name would be longer than any name may be.
    hosts = folder + Text(244, u'h');
    form.strHostsFile = hosts;
    form.strTempDir = folder;
    WriteHosts("5.6.7.8 a.com\r\n9.9.9.9 b.com", FILE_ATTRIBUTE_HIDDEN);
    DoHostsRemove(form, form.Script().Hosts(), u"a.com");
    EXPECT_EQ(ReadHosts(), "9.9.9.9 b.com\r\n");
    EXPECT_EQ(HostsAttributes(), DWORD{FILE_ATTRIBUTE_HIDDEN});
    EXPECT_EQ(FolderEntries().size(), 1u) << "a side file was left";
}

}  // namespace
}  // namespace qx
