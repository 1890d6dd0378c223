// The WinINet client against real servers on 127.0.0.1 (tests/servers/servers.py passes their ports):
// nginx, plain and over TLS, and a server that misbehaves on purpose. What the download engine makes of
// these answers is for the unit tests; here is what only WinINet under Windows can show.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"

namespace qx {
namespace {

Text Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? FromUtf8(value) : Text();
}

// A Linux path as Wine's drive Z: shows it.
Text OnZ(Text path) {
    for (char16_t& c : path) c = c == u'/' ? u'\\' : c;
    return u"Z:" + path;
}

void Serve(const Text& file, const Bytes& data) {
    auto out = Win32FileSystem().CreateForWrite(file);
    out->Write(data);
    out->Close();
}

Bytes FaultContent(size_t size, bool replaced = false) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>(replaced ? (i * 17 + 3) % 241 : (i * 31 + 7) % 251);
    return b;
}

struct Collect : IHttpSink {
    bool Start(const HttpAnswer& a) override { return answer = a, true; }
    void Data(const Bytes& piece) override { body += piece; }
    HttpAnswer answer;
    Bytes body;
};

struct Until : IHttpWaiter {
    explicit Until(DWORD ms) : end(::GetTickCount() + ms) {}
    bool KeepWaiting() override { return static_cast<LONG>(::GetTickCount() - end) < 0; }
    DWORD end;
};

// The test CA joins the machine's trusted roots before the first request: WinINet's chain engine reads
// them once per process, and only what has been committed to the registry.
class HttpWin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Text ca = Env("QX_TLS_CA");
        if (ca.empty()) return;
        const Bytes der = Win32FileSystem().ReadAll(OnZ(ca));
        HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        trusted_ = root && ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                              reinterpret_cast<const BYTE*>(der.data()),
                                                              static_cast<DWORD>(der.size()),
                                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) &&
                   ::CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (root) ::CertCloseStore(root, 0);
    }
    void SetUp() override {
        nginx = u"http://127.0.0.1:" + Env("QX_NGINX_PORT");
        fault = u"http://127.0.0.1:" + Env("QX_FAULT_PORT");
        www = OnZ(Env("QX_WWW_ROOT"));
        if (Env("QX_WWW_ROOT").empty() || Env("QX_TLS_PORT").empty()) GTEST_FAIL() << "run through tests/servers/servers.py";
    }
    Text nginx, fault, www;
    static bool trusted_;
};
bool HttpWin::trusted_ = false;

TEST_F(HttpWin, AnswersOfWellAndBadlyBehavedServers) {
    ASSERT_TRUE(trusted_) << "the test CA could not be added to the trusted roots";
    const Bytes text = "a text that nginx would compress\r\n";
    Serve(www + u"\\qxupdate\\plain.txt", text);
    Serve(www + u"\\qxupdate\\tls.bin", FaultContent(300000));
    struct Case {
        const char* path;
        int64_t first, last;
        const char* ifRange;
        int status;
        Bytes body;
        const char16_t* length;
    } cases[] = {
        {"/ok/1500000/a.bin", 1048576, 2097151, "", 206, FaultContent(1500000).substr(1048576), u"1500000"},
        {"/norange/3000/c.bin", 0, 999, "", 200, FaultContent(3100), u"3000"},
        // Changed since the date the range was asked against: all of the new file, never a splice.
        {"/replace/3000/f.bin", 0, 999, "", 206, FaultContent(1000), u"3000"},
        {"/replace/3000/f.bin", 1000, 1999, "Tue, 15 Nov 1994 08:12:31 GMT", 200, FaultContent(3000, true), u"3000"},
        // Text as stored: the client asks for no compression.
        {"nginx/qxupdate/plain.txt", 0, 1023, "", 206, text, u"34"},
        {"tls/qxupdate/tls.bin", 0, 299999, "", 206, FaultContent(300000), u"300000"},
    };
    Win32HttpClient http;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string path = c.path;
        const Text url = path.rfind("nginx", 0) == 0 ? nginx + FromUtf8(path.substr(5))
                         : path.rfind("tls", 0) == 0 ? u"https://127.0.0.1:" + Env("QX_TLS_PORT") + FromUtf8(path.substr(3))
                                                     : fault + FromUtf8(path);
        Until patient(20000);
        Collect got;
        const HttpAnswer head = http.Head(url, patient);
        EXPECT_EQ(head.status, 200);
        EXPECT_EQ(http.Get(url, c.first, c.last, FromUtf8(c.ifRange), got, patient).status, c.status);
        EXPECT_TRUE(got.body == c.body) << got.body.size() << " bytes";
        EXPECT_EQ(ToUtf8(head.contentLength), ToUtf8(c.length));
        EXPECT_FALSE(head.lastModified.empty());
    }
}

// The limit is on silence, not on a request's length; a waiter that gives up ends a request within a
// second and leaves the client usable.
TEST_F(HttpWin, IdleLimitAndGivingUp) {
    struct Case {
        const char* path;
        unsigned idleMs, patienceMs;
        int32_t number;  // 0: completes
        DWORD atLeastMs, atMostMs;
    } cases[] = {
        {"/stall/10/s.bin", 3000, 60000, -2147012894, 2500, 10000},
        {"/midstall/3000000/m.bin", 3000, 60000, -2147012894, 2500, 10000},
        {"/slow/300000/w.bin", 5000, 60000, 0, 8000, 40000},
        {"/slow/1100000/g.bin", 30000, 4000, err::kCancelled, 3500, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Win32HttpClient http(c.idleMs);
        Collect got;
        Until waiter(c.patienceMs);
        int32_t number = 0;
        const DWORD start = ::GetTickCount();
        try {
            http.Get(fault + FromUtf8(c.path), 0, 1048575, u"", got, waiter);
        } catch (const QxError& e) {
            number = e.Number();
        }
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_EQ(number, c.number);
        if (c.number == err::kCancelled) EXPECT_GT(got.body.size(), 0u) << "gave up before the body";
        EXPECT_GE(elapsed, c.atLeastMs);
        EXPECT_LE(elapsed, c.atMostMs);
        Until again(20000);
        EXPECT_EQ(http.Head(fault + u"/ok/10/after.bin", again).status, 200) << "the client after a failure";
    }
}

TEST_F(HttpWin, OneConnectionServesManyRequests) {
    Win32HttpClient http;
    Until patient(20000);
    for (int i = 0; i < 3; ++i) {
        Collect got;
        http.Head(fault + u"/keepalive/2500000/ka.bin", patient);
        http.Get(fault + u"/keepalive/2500000/ka.bin", i * 1048576, i * 1048576 + 1048575, u"", got, patient);
    }
    Collect count;
    http.Get(fault + u"/kaconns/0/ka.txt", 0, 9, u"", count, patient);
    EXPECT_EQ(count.body, "1") << "connections used";
}

// An unknown authority is a certificate error, whichever of its forms WinINet picks.
TEST_F(HttpWin, TlsWithAnUnknownAuthority) {
    Win32HttpClient http;
    Until patient(20000);
    int32_t number = 0;
    try {
        Collect none;
        http.Get(u"https://127.0.0.1:" + Env("QX_TLS_UNTRUSTED_PORT") + u"/qxupdate/plain.txt", 0, 9, u"", none, patient);
    } catch (const QxError& e) {
        number = e.Number();
    }
    EXPECT_TRUE(number == static_cast<int32_t>(0x80072F0Du) || number == static_cast<int32_t>(0x80072F17u) ||
                number == static_cast<int32_t>(0x80072F19u))
        << number;
}

}  // namespace
}  // namespace qx
