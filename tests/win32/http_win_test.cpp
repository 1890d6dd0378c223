// The download engine over the WinINet client against real servers on
// 127.0.0.1: nginx with a www root of the test's own (compressing text for
// clients that ask), and a server that misbehaves on purpose. Both are started outside this program
// (tests/servers/run_with_servers.sh), which passes their ports in the
// environment; without them these tests fail.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "download/modFileTime.h"
#include "support/RealServices_win.h"

namespace qx {
namespace {

using test::Env;
using test::Join;
using test::Leftovers;
using test::LinuxToWindows;
using test::ReadFileBytes;
using test::RealServices;
using test::T;
using test::U8;
using test::W;
using test::WriteFileBytes;

const Text kTemp = u"c:\\qxwork\\temp\\";


// Byte i of every file the fault server offers.
Bytes FaultContent(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + 7) % 251);
    return b;
}

class HttpWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        nginxPort = Env(L"QX_NGINX_PORT");
        faultPort = Env(L"QX_FAULT_PORT");
        wwwRoot = Env(L"QX_WWW_ROOT");
        accessLog = Env(L"QX_NGINX_ACCESS_LOG");
        if (nginxPort.empty() || faultPort.empty() || wwwRoot.empty()) {
            GTEST_FAIL() << "QX_NGINX_PORT, QX_FAULT_PORT and QX_WWW_ROOT are not set: run through "
                            "tests/servers/run_with_servers.sh to start the test servers";
        }
        ::CreateDirectoryW(L"c:\\qxwork", nullptr);
        ::CreateDirectoryW(L"c:\\qxwork\\temp", nullptr);
    }

    std::unique_ptr<RealServices> MakeServices(unsigned idleLimitMs = Win32HttpClient::kDefaultIdleLimitMs) {
        return std::unique_ptr<RealServices>(new RealServices(idleLimitMs));
    }

    // A window on the fault server, or on nginx.
    std::unique_ptr<FrmUpdate> MakeForm(RealServices& s, const Text& port) {
        std::unique_ptr<FrmUpdate> form(new FrmUpdate(s.platform));
        form->strServerURL = u"http://127.0.0.1:" + port;
        form->strTempDir = kTemp;
        return form;
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
};

// Part files are what a download cut off part-way leaves for the next one.
bool OnlyPartFiles(const std::vector<Text>& leftovers) {
    for (const Text& name : leftovers) {
        if (name.find(u".part") == Text::npos) return false;
    }
    return true;
}

TEST_F(HttpWinTest, FetchesTheScriptFromNginxAndSkipsItWhenUnchanged) {
    const Bytes script = "20260102\r\nmsg,\xd6\xd0\xce\xc4\r\n";
    const Text served = wwwFile(u"qxupdate/update.inf");
    WriteFileBytes(served, script);
    const DateTime stamp = {2020, 1, 2, 3, 4, 5};
    Win32FileSystem files;
    files.SetFileTimes(served, DateTimeToFileTime(stamp));
    ::DeleteFileW(W(kTemp + u"update.inf").c_str());

    auto s = MakeServices();

    auto form = MakeForm(*s, nginxPort);

    const Text result = DownloadFile(form->Downloads(), u"/qxupdate/update.inf");

    ASSERT_EQ(U8(result), U8(kTemp + u"update.inf")) << Join(s->ui.list);
    EXPECT_EQ(ReadFileBytes(result), script);
    EXPECT_EQ(GetFileDate(files, result), stamp) << "got " << U8(FormatDateTime(GetFileDate(files, result)));
    EXPECT_TRUE(s->ui.list.empty()) << Join(s->ui.list);
    EXPECT_EQ(s->ui.pointerShape, 0);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 1);
    EXPECT_TRUE(Leftovers(result).empty()) << Join(Leftovers(result));

    // Second run: the same size and time, so HEAD only.
    EXPECT_EQ(U8(DownloadFile(form->Downloads(), u"/qxupdate/update.inf", u"", true)), U8(result)) << Join(s->ui.list);
    EXPECT_EQ(LoggedRequests("HEAD", "/qxupdate/update.inf"), 2);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 1) << "the unchanged file was fetched again";

    // A changed file on the server is fetched again.
    const Bytes newer = "20260103\r\n";
    WriteFileBytes(served, newer);
    EXPECT_EQ(U8(DownloadFile(form->Downloads(), u"/qxupdate/update.inf", u"", true)), U8(result)) << Join(s->ui.list);
    EXPECT_EQ(LoggedRequests("GET", "/qxupdate/update.inf"), 2);
    EXPECT_EQ(ReadFileBytes(result), newer) << "a stale copy was delivered";

    // Nothing of it in the system's URL cache.
    const std::wstring url = W(form->strServerURL) + L"/qxupdate/update.inf";
    DWORD size = 0;
    const BOOL found = ::GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size);
    EXPECT_FALSE(found || ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) << "a copy is in the URL cache";
}

// nginx compresses these types for a client that accepts gzip; the files
// must still arrive as stored, with their time stamps, and be skipped when
// unchanged.
TEST_F(HttpWinTest, TextFilesArriveAsStoredFromACompressingServer) {
    const Bytes text = Bytes(20000, 'a') + "\r\nline, line, line\r\n" + Bytes(5000, 'z');
    const DateTime stamp = {2021, 3, 4, 5, 6, 7};
    Win32FileSystem files;
    auto s = MakeServices();
    auto form = MakeForm(*s, nginxPort);
    for (const Text name : {u"readme.txt", u"config.xml", u"script.js"}) {
        const std::string label = U8(name);
        WriteFileBytes(wwwFile(u"qxupdate/" + name), text + label);
        files.SetFileTimes(wwwFile(u"qxupdate/" + name), DateTimeToFileTime(stamp));
        const Text target = u"c:\\qxwork\\" + name;
        ::DeleteFileW(W(target).c_str());

        ASSERT_EQ(U8(DownloadFile(form->Downloads(), u"/qxupdate/" + name, target, true)), U8(target))
            << label << ": " << Join(s->ui.list);
        EXPECT_TRUE(ReadFileBytes(target) == text + label) << label << ": not the stored bytes";
        EXPECT_EQ(GetFileDate(files, target), stamp) << label;

        EXPECT_EQ(U8(DownloadFile(form->Downloads(), u"/qxupdate/" + name, target, true)), U8(target)) << label;
        EXPECT_EQ(LoggedRequests("GET", "/qxupdate/" + label), 1) << label << ": not skipped when unchanged";
    }
}

TEST_F(HttpWinTest, FaultyServersGiveTheirLinesAndLeaveNoPartialFile) {
    struct Case {
        const char* path;
        size_t size;
        enum { kOk, kIncomplete, kFailed } outcome;
    };
    const Case cases[] = {
        {"/ok/1500000/ok.bin", 1500000, Case::kOk},
        {"/nolm/10/nolm.bin", 10, Case::kOk},
        {"/norange/3000/norange.bin", 3000, Case::kIncomplete},
        {"/head404/10/head404.bin", 10, Case::kFailed},
        {"/nolength/10/nolength.bin", 10, Case::kFailed},
    };
    Win32FileSystem files;
    for (const Case& c : cases) {
        const Text path = FromUtf8(c.path);
        const Text target = kTemp + path.substr(path.rfind(u'/') + 1);
        WriteFileBytes(target, "previous");
        auto s = MakeServices();
        auto form = MakeForm(*s, faultPort);
        const Text url = form->strServerURL + path;

        const Text result = DownloadFile(form->Downloads(), path);

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

// The limit is on silence, not on the length of a request: a server that
// stops sending fails once nothing has come for the idle limit, one that
// sends slowly but steadily never does.
TEST_F(HttpWinTest, SilenceFailsWithinTheIdleLimitAndASlowSteadyLinkCompletes) {
    struct Case {
        const char* path;
        unsigned idleLimitMs;
        bool completes;
        DWORD atLeastMs, atMostMs;
    };
    const Case cases[] = {
        {"/stall/10/stall.bin", 3000, false, 2500, 10000},      // no answer to HEAD
        {"/midstall/3000000/midstall.bin", 30000, false, 29000, 40000},  // stops mid-body
        {"/slow/1100000/slow.bin", 30000, true, 30000, 120000},  // 24 KB/s
    };
    for (const Case& c : cases) {
        const Text path = FromUtf8(c.path);
        const Text target = kTemp + path.substr(path.rfind(u'/') + 1);
        WriteFileBytes(target, "previous");
        auto s = MakeServices(c.idleLimitMs);
        auto form = MakeForm(*s, faultPort);

        const DWORD start = ::GetTickCount();
        const Text result = DownloadFile(form->Downloads(), path);
        const DWORD elapsed = ::GetTickCount() - start;

        EXPECT_GE(elapsed, c.atLeastMs) << c.path;
        EXPECT_LE(elapsed, c.atMostMs) << c.path;
        if (c.completes) {
            EXPECT_EQ(U8(result), U8(target)) << c.path << ": " << Join(s->ui.list);
            EXPECT_TRUE(ReadFileBytes(target) == FaultContent(1100000)) << c.path << ": contents differ";
            continue;
        }
        EXPECT_EQ(result, u"") << c.path;
        EXPECT_EQ(ReadFileBytes(target), "previous") << c.path << ": the previous target was touched";
        EXPECT_TRUE(OnlyPartFiles(Leftovers(target))) << c.path << ": " << Join(Leftovers(target));
        ASSERT_EQ(s->ui.list.size(), 1u) << c.path << ": " << Join(s->ui.list);
        const Text head = form->strServerURL + path + u"\"失败错误-2147012894：服务器在" +
                          FromUtf8(std::to_string(c.idleLimitMs / 1000)) + u"秒内没有应答";
        EXPECT_EQ(U8(s->ui.list[0]), U8(u"下载文件\"" + head)) << c.path;
    }
}

// The server replaces the file after the first range: the download starts
// over once and brings the new file whole, or fails; never a mix.
TEST_F(HttpWinTest, FileReplacedBetweenRangesIsNeverSpliced) {
    const Text target = kTemp + u"replaced.bin";
    WriteFileBytes(target, "previous");
    auto s = MakeServices();
    auto form = MakeForm(*s, faultPort);
    const size_t size = 2500000;

    const Text result = DownloadFile(form->Downloads(), u"/replace/2500000/replaced.bin");

    Bytes replaced(size, '\0');
    for (size_t i = 0; i < size; ++i) replaced[i] = static_cast<char>((i * 17 + 3) % 241);
    if (result.empty()) {
        EXPECT_EQ(s->ui.list, std::vector<Text>{u"下载的数据不完整！"}) << Join(s->ui.list);
        EXPECT_EQ(ReadFileBytes(target), "previous");
    } else {
        EXPECT_TRUE(ReadFileBytes(target) == replaced) << "spliced from two versions: " << Join(s->ui.list);
        Win32FileSystem files;
        EXPECT_EQ(GetFileDate(files, target), (DateTime{1994, 11, 16, 9, 0, 0}));
    }
    EXPECT_TRUE(Leftovers(target).empty()) << Join(Leftovers(target));
}

// Both downloads, four requests each, go over one connection.
TEST_F(HttpWinTest, ConnectionsAreKeptAlive) {
    auto s = MakeServices();
    auto form = MakeForm(*s, faultPort);
    for (const char16_t* path : {u"/keepalive/10/kbone.bin", u"/keepalive/2500000/kbtwo.bin"}) {
        ASSERT_NE(DownloadFile(form->Downloads(), path), u"") << Join(s->ui.list);
    }
    const Text counted = DownloadFile(form->Downloads(), u"/kaconns/0/kb.txt");
    ASSERT_NE(counted, u"") << Join(s->ui.list);
    EXPECT_EQ(ReadFileBytes(counted), "1") << "connections used";
}

// Without the engine: a waiter that gives up ends a request within a
// second, in the middle of a slow body, and the client goes on working.
class CountingSink : public IHttpSink {
public:
    bool Start(const HttpAnswer&) override { return true; }
    void Data(const Bytes& piece) override { received += piece.size(); }
    size_t received = 0;
};
class GiveUpAfter : public IHttpWaiter {
public:
    explicit GiveUpAfter(DWORD ms) : end_(::GetTickCount() + ms) {}
    bool KeepWaiting() override { return static_cast<LONG>(::GetTickCount() - end_) < 0; }

private:
    DWORD end_;
};

TEST_F(HttpWinTest, ClientStopsWithinASecondWhenTheWaiterGivesUp) {
    Win32HttpClient http;
    CountingSink sink;
    GiveUpAfter impatient(4000);  // the first 64 KiB take about 3 s
    const DWORD start = ::GetTickCount();
    int32_t number = 0;
    try {
        http.Get(u"http://127.0.0.1:" + faultPort + u"/slow/1100000/gone.bin", 0, 1048575, u"", sink, impatient);
    } catch (const QxError& e) {
        number = e.Number();
    }
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(number, err::kCancelled);
    EXPECT_GT(sink.received, 0u) << "gave up before the body";
    EXPECT_LT(elapsed, 5000u) << "took more than a second to stop";

    // The client is still usable afterwards.
    GiveUpAfter again(20000);
    EXPECT_EQ(http.Head(u"http://127.0.0.1:" + faultPort + u"/ok/10/after.bin", again).status, 200);
}

}  // namespace
}  // namespace qx
