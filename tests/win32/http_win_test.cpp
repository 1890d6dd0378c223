// The download engine over the system's XMLHTTP component against real
// servers on 127.0.0.1: nginx with a www root of the test's own, and a
// server that misbehaves on purpose. Both are started outside this program
// (tests/servers/run_with_servers.sh), which passes their ports in the
// environment; without them these tests are skipped.
#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "download/modFileTime.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "support/RealServices_win.h"

namespace qx {
namespace {

using test::Env;
using test::Leftovers;
using test::LinuxToWindows;
using test::RealServices;
using test::T;
using test::W;
using test::WriteFileBytes;

const Text kTemp = u"c:\\qxwork\\temp\\";

std::string U8(const Text& t) { return ToUtf8(t); }
Text Num(long long n) { return FromUtf8(std::to_string(n)); }

// Byte i of every file the fault server offers.
Bytes FaultContent(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + 7) % 251);
    return b;
}

Bytes ReadFileBytes(const Text& path) {
    Win32FileSystem files;
    return files.ReadAll(path);
}

std::string Join(const std::vector<Text>& lines) {
    std::string out;
    for (const Text& t : lines) out += (out.empty() ? "[" : ", [") + U8(t) + "]";
    return out.empty() ? "(none)" : out;
}

class HttpWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        nginxPort = Env(L"QX_NGINX_PORT");
        faultPort = Env(L"QX_FAULT_PORT");
        wwwRoot = Env(L"QX_WWW_ROOT");
        accessLog = Env(L"QX_NGINX_ACCESS_LOG");
        if (nginxPort.empty() || faultPort.empty() || wwwRoot.empty()) {
            GTEST_SKIP() << "QX_NGINX_PORT, QX_FAULT_PORT and QX_WWW_ROOT are not set: run through "
                            "tests/servers/run_with_servers.sh to start the test servers";
        }
        comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ::CreateDirectoryW(L"c:\\qxwork", nullptr);
        ::CreateDirectoryW(L"c:\\qxwork\\temp", nullptr);
    }
    void TearDown() override {
        if (comStarted) ::CoUninitialize();
    }

    std::unique_ptr<RealServices> MakeServices(unsigned timeLimitMs = 10000) {
        return std::unique_ptr<RealServices>(new RealServices(timeLimitMs));
    }

    // Lines of the nginx access log naming this request.
    int LoggedRequests(const std::string& method, const std::string& path) {
        const Bytes log = ReadFileBytes(LinuxToWindows(accessLog));
        const std::string needle = "\"" + method + " " + path + " ";
        int n = 0;
        for (size_t at = log.find(needle); at != Bytes::npos; at = log.find(needle, at + 1)) ++n;
        return n;
    }

    Text wwwFile(const Text& relative) { return LinuxToWindows(wwwRoot + u"/" + relative); }

    Text nginxPort, faultPort, wwwRoot, accessLog;
    bool comStarted = false;
};

TEST_F(HttpWinTest, FetchesTheScriptFromNginxAndSkipsItWhenUnchanged) {
    const Bytes script = "20260102\r\nmsg,\xd6\xd0\xce\xc4\r\n";
    const Text served = wwwFile(u"qxupdate/update.inf");
    WriteFileBytes(served, script);
    const DateTime stamp = {2020, 1, 2, 3, 4, 5};
    Win32FileSystem files;
    files.SetFileTimes(served, DateTimeToFileTime(stamp));
    ::DeleteFileW(W(kTemp + u"update.inf").c_str());

    auto s = MakeServices();
    FrmUpdate form(s->platform);
    form.strServerURL = u"http://127.0.0.1:" + nginxPort;
    form.strTempDir = kTemp;

    const Text result = DownloadFile(form, u"/qxupdate/update.inf");

    ASSERT_EQ(U8(result), U8(kTemp + u"update.inf")) << Join(s->ui.list);
    EXPECT_EQ(ReadFileBytes(result), script);
    EXPECT_EQ(GetFileDate(files, result), stamp) << "got " << U8(FormatDateTime(GetFileDate(files, result)));
    EXPECT_TRUE(s->ui.list.empty()) << Join(s->ui.list);
    EXPECT_EQ(s->ui.pointerShape, 0);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 1);
    EXPECT_TRUE(Leftovers(result).empty()) << Join(Leftovers(result));

    // Second run: the same size and time, so HEAD only.
    EXPECT_EQ(U8(DownloadFile(form, u"/qxupdate/update.inf", u"", true)), U8(result)) << Join(s->ui.list);
    EXPECT_EQ(LoggedRequests("HEAD", "/qxupdate/update.inf"), 2);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 1) << "the unchanged file was fetched again";

    // A changed file on the server is fetched again.
    const Bytes newer = "20260103\r\n";
    WriteFileBytes(served, newer);
    EXPECT_EQ(U8(DownloadFile(form, u"/qxupdate/update.inf", u"", true)), U8(result)) << Join(s->ui.list);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 2);
    EXPECT_EQ(ReadFileBytes(result), newer) << "a stale copy was delivered";
}

TEST_F(HttpWinTest, FetchesALargeFileInRangesFromNginx) {
    const Bytes content = FaultContent(2 * 1048576 + 12345);
    WriteFileBytes(wwwFile(u"qxupdate/big.bin"), content);
    const Text target = u"c:\\qxwork\\sub\\dir\\big.bin";
    ::DeleteFileW(W(target).c_str());

    auto s = MakeServices();
    FrmUpdate form(s->platform);
    form.strServerURL = u"http://127.0.0.1:" + nginxPort;
    form.strTempDir = kTemp;

    ASSERT_EQ(U8(DownloadFile(form, u"/qxupdate/big.bin", target)), U8(target)) << Join(s->ui.list);
    EXPECT_TRUE(ReadFileBytes(target) == content) << "contents differ";
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/big.bin"), 3);
}

TEST_F(HttpWinTest, FaultyServersGiveTheirLinesAndLeaveNoPartialFile) {
    struct Case {
        const char* path;
        size_t size;
        enum { kOk, kIncomplete, kFailed } outcome;
    };
    const Case cases[] = {
        {"/ok/1500000/ok.bin", 1500000, Case::kOk},
        {"/short/2500/short.bin", 2500, Case::kOk},
        {"/nolm/10/nolm.bin", 10, Case::kOk},
        {"/norange/3000/norange.bin", 3000, Case::kIncomplete},
        {"/biglength/2000/biglength.bin", 2000, Case::kIncomplete},
        {"/head404/10/head404.bin", 10, Case::kFailed},
        {"/head500/10/head500.bin", 10, Case::kFailed},
        {"/nolength/10/nolength.bin", 10, Case::kFailed},
        {"/oddlm/10/oddlm.bin", 10, Case::kFailed},
    };
    Win32FileSystem files;
    for (const Case& c : cases) {
        const Text path = FromUtf8(c.path);
        const Text target = kTemp + path.substr(path.rfind(u'/') + 1);
        WriteFileBytes(target, "previous");
        auto s = MakeServices();
        FrmUpdate form(s->platform);
        form.strServerURL = u"http://127.0.0.1:" + faultPort;
        form.strTempDir = kTemp;
        const Text url = form.strServerURL + path;

        const Text result = DownloadFile(form, path);

        EXPECT_TRUE(Leftovers(target).empty()) << c.path << ": " << Join(Leftovers(target));
        EXPECT_EQ(s->ui.pointerShape, 0) << c.path;
        if (c.outcome == Case::kOk) {
            EXPECT_EQ(U8(result), U8(target)) << c.path << ": " << Join(s->ui.list);
            EXPECT_TRUE(ReadFileBytes(target) == FaultContent(c.size)) << c.path << ": contents differ";
            const bool stamped = GetFileDate(files, target) == DateTime{1994, 11, 15, 8, 12, 31};
            EXPECT_EQ(stamped, std::string(c.path).find("nolm") == std::string::npos) << c.path;
            continue;
        }
        EXPECT_EQ(result, u"") << c.path;
        EXPECT_EQ(ReadFileBytes(target), "previous") << c.path << ": the previous target was touched";
        ASSERT_EQ(s->ui.list.size(), 1u) << c.path << ": " << Join(s->ui.list);
        if (c.outcome == Case::kIncomplete) {
            EXPECT_EQ(s->ui.list[0], u"下载的数据不完整！") << c.path;
        } else {
            const Text head = u"下载文件\"" + url + u"\"失败错误";
            EXPECT_EQ(s->ui.list[0].substr(0, head.size()), head) << U8(s->ui.list[0]);
        }
    }
}

TEST_F(HttpWinTest, ConnectionClosedMidBodyNeverLeavesAWrongFile) {
    const Text target = kTemp + u"cut.bin";
    WriteFileBytes(target, "previous");
    auto s = MakeServices();
    FrmUpdate form(s->platform);
    form.strServerURL = u"http://127.0.0.1:" + faultPort;
    form.strTempDir = kTemp;

    const Text result = DownloadFile(form, u"/cut/3000/cut.bin");

    EXPECT_TRUE(Leftovers(target).empty()) << Join(Leftovers(target));
    // Every answer is cut short: the download either fails or is continued
    // range by range to the right bytes, never a truncated file.
    if (result.empty()) {
        EXPECT_EQ(ReadFileBytes(target), "previous");
        ASSERT_EQ(s->ui.list.size(), 1u) << Join(s->ui.list);
    } else {
        EXPECT_TRUE(ReadFileBytes(target) == FaultContent(3000)) << "a wrong file: " << Join(s->ui.list);
    }
}

TEST_F(HttpWinTest, AServerThatNeverAnswersFailsWithinTheTimeLimit) {
    const Text target = kTemp + u"stall.bin";
    ::DeleteFileW(W(target).c_str());
    auto s = MakeServices(3000);
    FrmUpdate form(s->platform);
    form.strServerURL = u"http://127.0.0.1:" + faultPort;
    form.strTempDir = kTemp;

    const DWORD start = ::GetTickCount();
    const Text result = DownloadFile(form, u"/stall/10/stall.bin");
    const DWORD elapsed = ::GetTickCount() - start;

    EXPECT_EQ(result, u"");
    EXPECT_GE(elapsed, 2500u) << "gave up before the limit";
    EXPECT_LE(elapsed, 10000u) << "the time limit did not hold";
    ASSERT_EQ(s->ui.list.size(), 1u) << Join(s->ui.list);
    const Text head = u"下载文件\"" + form.strServerURL + u"/stall/10/stall.bin\"失败错误";
    EXPECT_EQ(s->ui.list[0].substr(0, head.size()), head) << U8(s->ui.list[0]);
    EXPECT_NE(s->ui.list[0].find(u"3秒内没有应答"), Text::npos) << U8(s->ui.list[0]);
    EXPECT_FALSE(Win32FileSystem().FileExists(target));
    EXPECT_EQ(s->ui.pointerShape, 0);
}

TEST_F(HttpWinTest, NothingStaysInTheUrlCache) {
    using GetInfoFn = BOOL(WINAPI*)(LPCWSTR, void*, DWORD*);
    HMODULE wininet = ::LoadLibraryW(L"wininet.dll");
    ASSERT_NE(wininet, nullptr);
    const auto getInfo = reinterpret_cast<GetInfoFn>(
        reinterpret_cast<void*>(::GetProcAddress(wininet, "GetUrlCacheEntryInfoW")));
    ASSERT_NE(getInfo, nullptr);
    WriteFileBytes(wwwFile(u"qxupdate/cached.txt"), "cache me not");

    auto s = MakeServices();
    FrmUpdate form(s->platform);
    form.strServerURL = u"http://127.0.0.1:" + nginxPort;
    form.strTempDir = kTemp;
    ASSERT_NE(DownloadFile(form, u"/qxupdate/cached.txt"), u"") << Join(s->ui.list);

    const std::wstring url = W(form.strServerURL) + L"/qxupdate/cached.txt";
    DWORD size = 0;
    const BOOL found = getInfo(url.c_str(), nullptr, &size);
    const DWORD error = ::GetLastError();
    EXPECT_FALSE(found || error == ERROR_INSUFFICIENT_BUFFER) << "a copy of the file is in the URL cache";
}

// Creation by name does not need the servers.
TEST(HttpWinObjectTest, OnlyRegisteredNamesGiveAnObject) {
    const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    Win32HttpClient http;
    EXPECT_TRUE(http.CreateObject(u"Microsoft.XMLHTTP") != nullptr);
    EXPECT_TRUE(http.CreateObject(u"Msxml2.XMLHTTP.3.0") != nullptr);
    EXPECT_TRUE(http.CreateObject(u"No.Such.XMLHTTP") == nullptr);
    EXPECT_TRUE(http.CreateObject(u" Microsoft.XMLHTTP.1") == nullptr);
    EXPECT_TRUE(http.CreateObject(u"") == nullptr);
    if (com) ::CoUninitialize();
}

TEST(HttpWinObjectTest, ARefusedConnectionRaises) {
    const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        Win32HttpClient http(10000);
        auto request = http.CreateObject(u"Microsoft.XMLHTTP");
        ASSERT_TRUE(request != nullptr);
        // Port 1 on the loopback: nobody listens there.
        request->Open(u"HEAD", u"http://127.0.0.1:1/x");
        bool raised = false;
        try {
            request->Send();
        } catch (const QxError& e) {
            raised = true;
            EXPECT_NE(e.Number(), 0);
            EXPECT_FALSE(e.Description().empty());
        }
        EXPECT_TRUE(raised || request->Status() < 200 || request->Status() > 299)
            << "a refused connection looked like an answer: status " << request->Status();
    }
    if (com) ::CoUninitialize();
}

}  // namespace
}  // namespace qx
