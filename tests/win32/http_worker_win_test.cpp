// The request objects of Win32HttpClient on their own, against nginx and the
// fault-injecting server on 127.0.0.1 (started by
// tests/servers/run_with_servers.sh, which passes their ports in the
// environment; without them these tests are skipped).
//
// A client keeps its worker thread and component object from one request,
// and one request object, to the next. These tests look for what such reuse
// can get wrong: state carried from one request into the next, two request
// objects writing over each other, threads piling up, a client left unusable
// by a time-out, cache entries left behind, and a calling thread that has to
// start COM or gets its messages processed behind its back.
#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>
#include <process.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "support/RealServices_win.h"

namespace qx {
namespace {

using test::Env;
using test::LinuxToWindows;
using test::T;
using test::W;
using test::WriteFileBytes;

std::string U8(const Text& t) { return ToUtf8(t); }



// Distinct bytes per file, so that one file's body cannot pass for another's.
Bytes Pattern(size_t size, int seed) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 13 + static_cast<size_t>(seed) * 101) % 253);
    return b;
}


int ThreadsOfThisProcess() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
    }
    ::CloseHandle(snapshot);
    return n;
}

// Whether the system's URL cache holds an entry for url.
bool InUrlCache(const Text& url) {
    using GetInfoFn = BOOL(WINAPI*)(LPCWSTR, void*, DWORD*);
    static const GetInfoFn getInfo = [] {
        HMODULE wininet = ::LoadLibraryW(L"wininet.dll");
        return wininet == nullptr ? nullptr
                                  : reinterpret_cast<GetInfoFn>(reinterpret_cast<void*>(
                                        ::GetProcAddress(wininet, "GetUrlCacheEntryInfoW")));
    }();
    if (getInfo == nullptr) return false;
    DWORD size = 0;
    const BOOL found = getInfo(W(url).c_str(), nullptr, &size);
    return found || ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

const Text kProgId = u"Msxml2.XMLHTTP.6.0";

class HttpWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Text nginxPort = Env(L"QX_NGINX_PORT");
        const Text faultPort = Env(L"QX_FAULT_PORT");
        wwwRoot = Env(L"QX_WWW_ROOT");
        if (nginxPort.empty() || faultPort.empty() || wwwRoot.empty()) {
            GTEST_SKIP() << "QX_NGINX_PORT, QX_FAULT_PORT and QX_WWW_ROOT are not set: run through "
                            "tests/servers/run_with_servers.sh to start the test servers";
        }
        nginx = u"http://127.0.0.1:" + nginxPort;
        fault = u"http://127.0.0.1:" + faultPort;
        ::CreateDirectoryW(W(LinuxToWindows(wwwRoot + u"/worker")).c_str(), nullptr);
    }

    // Serves data at /worker/name and gives its URL.
    Text Serve(const Text& name, const Bytes& data) {
        WriteFileBytes(LinuxToWindows(wwwRoot + u"/worker/" + name), data);
        return nginx + u"/worker/" + name;
    }

    Text wwwRoot, nginx, fault;
};

// Runs one request; the failure text when it raised.
std::string Fetch(IHttpRequest& r, const Text& method, const Text& url, const Text& range = Text()) {
    r.Open(method, url);
    r.SetRequestHeader(u"Cache-Control", u"no-cache");
    if (!range.empty()) r.SetRequestHeader(u"Range", range);
    try {
        r.Send();
    } catch (const QxError& e) {
        return "raised " + std::to_string(e.Number()) + ": " + U8(e.Description());
    }
    return std::string();
}

TEST_F(HttpWorkerTest, OneObjectCarriesNothingFromOneRequestIntoTheNext) {
    const Bytes a = Pattern(70000, 1);
    const Bytes b = Pattern(3000, 2);
    const Text urlA = Serve(u"a.bin", a);
    const Text urlB = Serve(u"b.bin", b);
    struct Step {
        const char16_t* method;
        Text url;
        const char16_t* range;
        int status;
        Bytes body;
    };
    // Each step differs from the one before in what a leftover would spoil:
    // a Range header, the method, the file, a failed status.
    const Step steps[] = {
        {u"GET", urlA, u"bytes=10-19", 206, a.substr(10, 10)},
        {u"GET", urlA, u"", 200, a},
        {u"HEAD", urlB, u"", 200, Bytes()},
        {u"GET", urlB, u"bytes=2990-3999", 206, b.substr(2990)},
        {u"HEAD", nginx + u"/worker/none.bin", u"", 404, Bytes()},
        {u"GET", urlA, u"bytes=69999-", 206, a.substr(69999)},
        {u"HEAD", urlA, u"", 200, Bytes()},
    };
    Win32HttpClient http(10000);
    auto r = http.CreateObject(kProgId);
    ASSERT_TRUE(r != nullptr);
    int n = 0;
    for (const Step& s : steps) {
        ++n;
        const std::string failure = Fetch(*r, s.method, s.url, s.range);
        ASSERT_EQ(failure, "") << "step " << n;
        EXPECT_EQ(r->Status(), s.status) << "step " << n;
        const Bytes body = r->ResponseBody();
        EXPECT_EQ(body.size(), s.body.size()) << "step " << n;
        EXPECT_TRUE(body == s.body) << "step " << n << ": wrong bytes";
        if (s.status / 100 == 2 && s.url == urlB) {
            EXPECT_EQ(U8(r->GetResponseHeader(u"Content-Length")),
                      std::to_string(s.range[0] == 0 ? b.size() : s.body.size()))
                << "step " << n;
        }
    }
}

TEST_F(HttpWorkerTest, RequestObjectsAliveTogetherKeepTheirOwnAnswers) {
    const Bytes a = Pattern(200000, 3);
    const Bytes b = Pattern(5000, 4);
    const Text urlA = Serve(u"together-a.bin", a);
    const Text urlB = Serve(u"together-b.bin", b);
    Win32HttpClient http(10000);
    auto first = http.CreateObject(kProgId);
    auto second = http.CreateObject(kProgId);
    ASSERT_TRUE(first != nullptr && second != nullptr);

    ASSERT_EQ(Fetch(*first, u"GET", urlA), "");
    ASSERT_EQ(Fetch(*second, u"GET", urlB, u"bytes=100-199"), "");

    EXPECT_EQ(first->Status(), 200);
    EXPECT_TRUE(first->ResponseBody() == a) << "the first object's body was overwritten";
    EXPECT_EQ(U8(first->GetResponseHeader(u"Content-Length")), std::to_string(a.size()));
    EXPECT_EQ(second->Status(), 206);
    EXPECT_TRUE(second->ResponseBody() == b.substr(100, 100));
}

TEST_F(HttpWorkerTest, RequestObjectsInTurnDoNotPileUpThreads) {
    const Text url = Serve(u"turn.txt", "one of many");
    Win32HttpClient http(10000);
    {
        auto r = http.CreateObject(kProgId);
        ASSERT_TRUE(r != nullptr);
        ASSERT_EQ(Fetch(*r, u"HEAD", url), "");
    }
    const int settled = ThreadsOfThisProcess();
    ASSERT_GT(settled, 0) << "cannot count threads";
    for (int i = 0; i < 30; ++i) {
        auto r = http.CreateObject(kProgId);
        ASSERT_TRUE(r != nullptr) << "object " << i;
        ASSERT_EQ(Fetch(*r, i % 2 == 0 ? u"HEAD" : u"GET", url), "") << "object " << i;
        ASSERT_EQ(r->Status(), 200) << "object " << i;
    }
    const int after = ThreadsOfThisProcess();
    EXPECT_LE(after, settled + 1) << "threads after the first request object: " << settled << ", after 30 more: "
                                  << after;
}

TEST_F(HttpWorkerTest, ATimedOutRequestLeavesTheClientUsable) {
    const Bytes data = Pattern(40000, 5);
    const Text url = Serve(u"after-stall.bin", data);
    Win32HttpClient http(2000);
    auto r = http.CreateObject(kProgId);
    ASSERT_TRUE(r != nullptr);

    for (const char16_t* method : {u"HEAD", u"GET"}) {
        const DWORD start = ::GetTickCount();
        const std::string failure = Fetch(*r, method, fault + u"/stall/10/stall.bin");
        const DWORD elapsed = ::GetTickCount() - start;
        const std::string timedOut = "raised " + std::to_string(static_cast<int32_t>(0x80072EE2u)) + ":";
        EXPECT_EQ(failure.substr(0, timedOut.size()), timedOut) << U8(method) << ": " << failure;
        EXPECT_GE(elapsed, 1500u) << U8(method) << ": gave up before the limit";
        EXPECT_LE(elapsed, 8000u) << U8(method) << ": the time limit did not hold";
        EXPECT_EQ(r->Status(), 0) << U8(method) << ": a timed-out request has no answer";
        EXPECT_TRUE(r->ResponseBody().empty()) << U8(method);

        // The same object right after, and a new one from the same client.
        ASSERT_EQ(Fetch(*r, u"GET", url), "") << U8(method);
        EXPECT_EQ(r->Status(), 200) << U8(method);
        EXPECT_TRUE(r->ResponseBody() == data) << U8(method);
        auto other = http.CreateObject(kProgId);
        ASSERT_TRUE(other != nullptr) << U8(method);
        ASSERT_EQ(Fetch(*other, u"GET", url, u"bytes=0-99"), "") << U8(method);
        EXPECT_TRUE(other->ResponseBody() == data.substr(0, 100)) << U8(method);
    }
}

TEST_F(HttpWorkerTest, CacheEntriesGoWhenTheObjectMovesOnOrEnds) {
    const Text first = Serve(u"cache-1.bin", Pattern(50000, 6));
    const Text second = Serve(u"cache-2.bin", Pattern(60000, 7));
    Win32HttpClient http(10000);
    {
        auto r = http.CreateObject(kProgId);
        ASSERT_TRUE(r != nullptr);
        ASSERT_EQ(Fetch(*r, u"GET", first, u"bytes=0-999"), "");
        ASSERT_EQ(Fetch(*r, u"GET", first, u"bytes=1000-1999"), "");
        ASSERT_EQ(Fetch(*r, u"GET", second), "");
        EXPECT_FALSE(InUrlCache(first)) << "still cached after the object moved on to another file";
        ASSERT_EQ(Fetch(*r, u"HEAD", second), "");
    }
    EXPECT_FALSE(InUrlCache(second)) << "still cached after the object went away";
}

// The calling thread of this test never starts COM and has a message posted
// to it before the request: the request must work all the same and leave
// the message where it is.
struct BareThreadRun {
    Text url;
    Bytes expected;
    std::string failure;
    bool messageKept = false;
    bool bodyRight = false;
};

unsigned __stdcall RequestFromABareThread(void* parameter) {
    BareThreadRun& run = *static_cast<BareThreadRun*>(parameter);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // gives the thread its queue
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 7, 0, 0);
    {
        Win32HttpClient http(10000);
        auto r = http.CreateObject(kProgId);
        if (r == nullptr) {
            run.failure = "no object without COM on the calling thread";
        } else {
            run.failure = Fetch(*r, u"GET", run.url);
            run.bodyRight = r->ResponseBody() == run.expected;
        }
    }
    run.messageKept = ::PeekMessageW(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE) != 0;
    return 0;
}

TEST_F(HttpWorkerTest, TheCallingThreadNeedsNoComAndKeepsItsMessages) {
    BareThreadRun run;
    run.expected = Pattern(30000, 8);
    run.url = Serve(u"bare-thread.bin", run.expected);
    HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, RequestFromABareThread, &run, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    const DWORD waited = ::WaitForSingleObject(thread, 30000);
    ::CloseHandle(thread);
    ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the request did not end within 30 s";
    EXPECT_EQ(run.failure, "");
    EXPECT_TRUE(run.bodyRight) << "wrong body";
    EXPECT_TRUE(run.messageKept) << "the calling thread's messages were processed during the request";
}

}  // namespace
}  // namespace qx
