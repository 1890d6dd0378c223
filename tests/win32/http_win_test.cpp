// The WinINet client against real servers on 127.0.0.1 (tests/servers/servers.py passes their ports):
// nginx, plain and over TLS, and a server that misbehaves on purpose. What the download engine makes of
// these answers is for the unit tests; here is what only WinINet under Windows can show.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"

namespace qx {
namespace {

Text Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? FromUtf8(value) : Text();
}

// The server is named by the variable holding its port; the TLS ones are https.
Text Url(const char* server, const char* path) {
    const bool tls = std::string(server).find("TLS") != std::string::npos;
    return (tls ? u"https://127.0.0.1:" : u"http://127.0.0.1:") + Env(server) + FromUtf8(path);
}

Bytes FaultContent(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + 7) % 251);
    return b;
}

struct Collect : IHttpSink {
    bool Start(const HttpAnswer&) override { return true; }
    void Data(const Bytes& piece) override { body += piece; }
    Bytes body;
};

struct Until : IHttpWaiter {
    explicit Until(DWORD ms) : end(::GetTickCount() + ms) {}
    bool KeepWaiting() override { return static_cast<LONG>(::GetTickCount() - end) < 0; }
    DWORD end;
};

const Bytes kText = "a text that nginx would compress\r\n";
const char *const kNginx = "QX_NGINX_PORT", *const kFault = "QX_FAULT_PORT";

// The test CA joins the machine's trusted roots before the first request: WinINet's chain engine reads
// them once per process, and only what has been committed to the registry.
class HttpWin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Env("QX_WWW_ROOT").empty() || Env("QX_TLS_CA").empty()) return;
        for (const auto& [name, data] : {std::pair{u"plain.txt", kText}, {u"a.bin", FaultContent(1500000)},
                                         {u"slow.bin", FaultContent(1500000)}}) {
            auto out = Win32FileSystem().CreateForWrite(u"Z:" + Env("QX_WWW_ROOT") + u"/qxupdate/" + name);
            out->Write(data);
            out->Close();
        }
        const Bytes der = Win32FileSystem().ReadAll(u"Z:" + Env("QX_TLS_CA"));
        const auto* b = reinterpret_cast<const BYTE*>(der.data());
        HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        ready_ = root && ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, b, static_cast<DWORD>(der.size()),
                                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr) &&
                 ::CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (root) ::CertCloseStore(root, 0);
    }
    void SetUp() override { ASSERT_TRUE(ready_) << "run through tests/servers/servers.py, with a CA it can trust"; }
    static bool ready_;
};
bool HttpWin::ready_ = false;

TEST_F(HttpWin, AnswersOfWellAndBadlyBehavedServers) {
    const Bytes a = FaultContent(1500000), ka = FaultContent(2500000);
    struct Case {
        const char *server, *path;
        int64_t first, last;
        const char* ifRange;
        int status;
        Bytes body;
        const char16_t* length;
    } cases[] = {
        {kNginx, "/qxupdate/a.bin", 1048576, 2097151, "", 206, a.substr(1048576), u"1500000"},
        {kFault, "/norange/3000/c.bin", 0, 999, "", 200, FaultContent(3100), u"3000"},
        // Changed since the date the range was asked against: all of the new file, never a splice.
        {kNginx, "/qxupdate/a.bin", 1000, 1999, "Tue, 15 Nov 1994 08:12:31 GMT", 200, a, u"1500000"},
        // Text as stored: the client asks for no compression.
        {kNginx, "/qxupdate/plain.txt", 0, 1023, "", 206, kText, u"34"},
        {"QX_TLS_PORT", "/qxupdate/a.bin", 0, 299999, "", 206, a.substr(0, 300000), u"1500000"},
        {kFault, "/keepalive/2500000/ka.bin", 0, 1048575, "", 206, ka.substr(0, 1048576), u"2500000"},
        {kFault, "/keepalive/2500000/ka.bin", 1048576, 2097151, "", 206, ka.substr(1048576, 1048576), u"2500000"},
    };
    Win32HttpClient http;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Until patient(20000);
        Collect got;
        const HttpAnswer head = http.Head(Url(c.server, c.path), patient);
        EXPECT_EQ(head.status, 200);
        EXPECT_EQ(http.Get(Url(c.server, c.path), c.first, c.last, FromUtf8(c.ifRange), got, patient).status, c.status);
        EXPECT_TRUE(got.body == c.body) << got.body.size() << " bytes";
        EXPECT_EQ(ToUtf8(head.contentLength), ToUtf8(c.length));
        EXPECT_FALSE(head.lastModified.empty());
    }
    Until patient(20000);
    Collect count;
    http.Get(Url(kFault, "/kaconns/0/ka.txt"), 0, 9, u"", count, patient);
    EXPECT_EQ(count.body, "1") << "connections that served the keep-alive rows";
}

// The limit is on silence, not on a request's length (nginx sends slow.bin at 256 KB/s); a waiter that
// gives up ends a request within a second and leaves the client usable. An unknown authority is a
// certificate error, whichever of its forms WinINet picks.
TEST_F(HttpWin, IdleLimitGivingUpAndUnknownAuthority) {
    const int32_t kTimeout = -2147012894, kUnknownCa = 0x80072F0D, kCertificate = 0x80072F17, kRevoked = 0x80072F19;
    struct Case {
        const char *server, *path;
        unsigned idleMs, patienceMs;
        std::vector<int32_t> numbers;  // 0: completes
        DWORD atLeastMs, atMostMs;
    } cases[] = {
        {kFault, "/stall/10/s.bin", 3000, 60000, {kTimeout}, 2500, 10000},
        {kFault, "/midstall/3000000/m.bin", 3000, 60000, {kTimeout}, 2500, 10000},
        {kNginx, "/qxupdate/slow.bin", 2000, 60000, {0}, 3000, 20000},
        {kNginx, "/qxupdate/slow.bin", 30000, 2000, {err::kCancelled}, 1500, 3000},
        {"QX_TLS_UNTRUSTED_PORT", "/qxupdate/plain.txt", 3000, 20000, {kUnknownCa, kCertificate, kRevoked}, 0, 10000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Win32HttpClient http(c.idleMs);
        Collect got;
        Until waiter(c.patienceMs);
        int32_t number = 0;
        const DWORD start = ::GetTickCount();
        try {
            http.Get(Url(c.server, c.path), 0, 1048575, u"", got, waiter);
        } catch (const QxError& e) {
            number = e.Number();
        }
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_NE(std::find(c.numbers.begin(), c.numbers.end(), number), c.numbers.end()) << number;
        if (number == err::kCancelled) EXPECT_GT(got.body.size(), 0u) << "gave up before the body";
        EXPECT_GE(elapsed, c.atLeastMs);
        EXPECT_LE(elapsed, c.atMostMs);
        Until again(20000);
        EXPECT_EQ(http.Head(Url(kNginx, "/qxupdate/plain.txt"), again).status, 200) << "the client after a failure";
    }
}

}  // namespace
}  // namespace qx
