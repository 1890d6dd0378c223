// The download engine over TLS: the WinINet client against nginx
// on 127.0.0.1, started with certificates made for the run by
// tests/servers/run_with_servers.sh. One port presents a certificate from a
// test CA that these tests add to the trusted roots; the other presents one
// from a CA that nobody trusts, and must fail. Without the servers they fail.
//
// What Wine 8 does here, as observed under its traces:
// - wininet checks every server certificate: it builds the chain with the
//   default chain engine and applies the SSL policy with the host name. An
//   issuer it cannot find gives a partial chain, and the request fails with
//   a certificate error; the client offers no way to accept the
//   certificate anyway, so the failure reaches the engine.
// - Trusted roots are read from the "Root" stores of the current user and
//   the local machine, both honoured, but only what has been written to the
//   registry: a certificate added through a store handle counts once the
//   store is committed (CertControlStore) or closed.
// - The chain engine reads those stores once per process, at the first
//   certificate check; a root added later is not seen by that process.
//   The CA is therefore trusted before the first test of the suite runs.
// - The host name is compared with the DNS names of the certificate only,
//   not with its IP addresses; the test certificate names 127.0.0.1 both
//   ways.
#include <gtest/gtest.h>
#include <windows.h>

#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "download/modFileTime.h"
#include "script/Paths.h"
#include "support/RealServices_win.h"

namespace qx {
namespace {

using test::Env;
using test::Join;
using test::Leftovers;
using test::LinuxToWindows;
using test::ReadFileBytes;
using test::T;
using test::U8;
using test::W;
using test::WriteFileBytes;

// The services of the real program with a recording window.
struct RealServices : test::RealServices {
    RealServices() : test::RealServices(10000) {}
};

const Text kTemp = u"c:\\qxwork\\temp\\";
const Text kTarget = u"c:\\qxwork\\tls\\";

Text Num(long long n) { return FromUtf8(std::to_string(n)); }


bool Exists(const Text& path) { return ::GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES; }


// Bytes that no text conversion leaves alone: every value, CR and LF apart.
Bytes Pattern(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 131 + 17) % 256);
    return b;
}

// The test CA among the local machine's trusted roots for as long as it
// lives. The updater itself never touches certificate stores, so crypt32
// is loaded here rather than linked into every test.
class TrustedRoot {
public:
    // Empty when the certificate is trusted, otherwise what went wrong.
    Text Add(const Bytes& der) {
        crypt32_ = ::LoadLibraryW(L"crypt32.dll");
        if (crypt32_ == nullptr) return u"crypt32.dll cannot be loaded";
        auto open = Fn<HCERTSTORE(WINAPI*)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*)>("CertOpenStore");
        auto add = Fn<BOOL(WINAPI*)(HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD, PCCERT_CONTEXT*)>(
            "CertAddEncodedCertificateToStore");
        control_ = Fn<BOOL(WINAPI*)(HCERTSTORE, DWORD, DWORD, const void*)>("CertControlStore");
        delete_ = Fn<BOOL(WINAPI*)(PCCERT_CONTEXT)>("CertDeleteCertificateFromStore");
        close_ = Fn<BOOL(WINAPI*)(HCERTSTORE, DWORD)>("CertCloseStore");
        if (!open || !add || !control_ || !delete_ || !close_) return u"crypt32.dll lacks a store function";

        store_ = open(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (store_ == nullptr) return u"the machine's Root store cannot be opened: " + LastError();
        if (!add(store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &cert_)) {
            return u"the CA certificate cannot be added: " + LastError();
        }
        // Other handles, such as the chain engine's, see only what is in the
        // registry.
        if (!control_(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
            return u"the Root store cannot be committed: " + LastError();
        }
        return Text();
    }

    ~TrustedRoot() {
        // Each run makes a new CA; none stays behind in the prefix.
        if (cert_ != nullptr) delete_(cert_);
        if (store_ != nullptr) {
            control_(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
            close_(store_, 0);
        }
        if (crypt32_ != nullptr) ::FreeLibrary(crypt32_);
    }

private:
    template <class F>
    F Fn(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(crypt32_, name)));
    }
    static Text LastError() {
        char hex[16];
        wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(::GetLastError()));
        return FromUtf8(hex);
    }

    HMODULE crypt32_ = nullptr;
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT cert_ = nullptr;
    BOOL(WINAPI* control_)(HCERTSTORE, DWORD, DWORD, const void*) = nullptr;
    BOOL(WINAPI* delete_)(PCCERT_CONTEXT) = nullptr;
    BOOL(WINAPI* close_)(HCERTSTORE, DWORD) = nullptr;
};

class TlsDownloadTest : public ::testing::Test {
protected:
    // Before any test: the chain engine of this process reads the trusted
    // roots only once.
    static void SetUpTestSuite() {
        const Text ca = Env(L"QX_TLS_CA");
        if (ca.empty()) return;
        root_ = new TrustedRoot;
        try {
            trustError_ = root_->Add(ReadFileBytes(LinuxToWindows(ca)));
        } catch (const QxError& e) {
            trustError_ = u"the CA file cannot be read: " + e.Description();
        }
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override {
        port = Env(L"QX_TLS_PORT");
        untrustedPort = Env(L"QX_TLS_UNTRUSTED_PORT");
        wwwRoot = Env(L"QX_WWW_ROOT");
        accessLog = Env(L"QX_TLS_ACCESS_LOG");
        if (port.empty() || untrustedPort.empty() || wwwRoot.empty() || accessLog.empty() || root_ == nullptr) {
            GTEST_FAIL() << "QX_TLS_PORT, QX_TLS_UNTRUSTED_PORT, QX_TLS_CA, QX_TLS_ACCESS_LOG and QX_WWW_ROOT "
                            "are not set: run through tests/servers/run_with_servers.sh (which needs openssl "
                            "and nginx with TLS) to start the TLS servers";
        }
        ASSERT_TRUE(trustError_.empty()) << "the test CA could not be trusted: " << U8(trustError_);
        for (const wchar_t* dir : {L"c:\\qxwork", L"c:\\qxwork\\temp", L"c:\\qxwork\\tls"}) {
            ::CreateDirectoryW(dir, nullptr);
        }
    }
    // A file on both TLS servers, dated stamp.
    void Serve(const Text& name, const Bytes& content, const DateTime& stamp) {
        const Text path = LinuxToWindows(wwwRoot + u"/qxupdate/" + name);
        WriteFileBytes(path, content);
        Win32FileSystem().SetFileTimes(path, DateTimeToFileTime(stamp));
    }

    // Requests that reached nginx on this port with this method and path:
    // a refused handshake leaves no line.
    int Logged(const Text& onPort, const std::string& method, const std::string& path) {
        const Bytes log = ReadFileBytes(LinuxToWindows(accessLog));
        const std::string needle = U8(onPort) + " \"" + method + " " + path + " ";
        int n = 0;
        for (size_t at = log.find(needle); at != Bytes::npos; at = log.find(needle, at + 1)) {
            if (at == 0 || log[at - 1] == '\n') ++n;
        }
        return n;
    }
    int LoggedOnPort(const Text& onPort) {
        const Bytes log = ReadFileBytes(LinuxToWindows(accessLog));
        const std::string needle = U8(onPort) + " ";
        int n = 0;
        for (size_t at = log.find(needle); at != Bytes::npos; at = log.find(needle, at + 1)) {
            if (at == 0 || log[at - 1] == '\n') ++n;
        }
        return n;
    }

    Text port, untrustedPort, wwwRoot, accessLog;

private:
    static TrustedRoot* root_;
    static Text trustError_;
};

TrustedRoot* TlsDownloadTest::root_ = nullptr;
Text TlsDownloadTest::trustError_;

TEST_F(TlsDownloadTest, TrustedServerDeliversFilesByteExact) {
    struct Case {
        const char16_t* name;
        Bytes content;
        int gets;  // one per range
    };
    const Case cases[] = {
        {u"small.bin", Pattern(256), 1},
        {u"ranges.bin", Pattern(kDownloadRangeSize + 4321), 2},
    };
    const DateTime stamp = {2021, 6, 7, 8, 9, 10};
    Win32FileSystem files;
    for (const Case& c : cases) {
        const std::string label = U8(c.name);
        Serve(c.name, c.content, stamp);
        const Text target = kTarget + c.name;
        ::DeleteFileW(W(target).c_str());
        RealServices s;
        FrmUpdate form(s.platform);
        // Nobody listens there: the absolute URL must be taken as it stands.
        form.strServerURL = u"http://127.0.0.1:1";
        form.strTempDir = kTemp;
        const Text url = u"https://127.0.0.1:" + port + u"/qxupdate/" + c.name;
        const int getsBefore = Logged(port, "GET", "/qxupdate/" + label);

        const Text result = DownloadFile(form.Downloads(), url, target);

        ASSERT_EQ(U8(result), U8(target)) << label << ": " << Join(s.ui.list);
        const Bytes got = ReadFileBytes(target);
        EXPECT_EQ(got.size(), c.content.size()) << label;
        EXPECT_TRUE(got == c.content) << label << ": contents differ";
        EXPECT_EQ(GetFileDate(files, target), stamp)
            << label << ": got " << U8(FormatDateTime(GetFileDate(files, target)));
        EXPECT_TRUE(s.ui.list.empty()) << label << ": " << Join(s.ui.list);
        EXPECT_EQ(s.ui.pointerShape, 0) << label;
        EXPECT_TRUE(Leftovers(target).empty()) << label << ": " << Join(Leftovers(target));
        EXPECT_EQ(Logged(port, "GET", "/qxupdate/" + label) - getsBefore, c.gets) << label;
    }
}


TEST_F(TlsDownloadTest, UntrustedCertificateFailsWithTheFailureLine) {
    // What WinINet reports for a certificate it does not accept: an invalid
    // certificate, an unknown issuer, certificate errors in general.
    const long long certificateErrors[] = {
        static_cast<int32_t>(0x80072F0Du),  // ERROR_INTERNET_INVALID_CA
        static_cast<int32_t>(0x80072F17u),  // ERROR_INTERNET_SEC_CERT_ERRORS
        static_cast<int32_t>(0x80072F19u),  // ERROR_INTERNET_SEC_CERT_REV_FAILED: Wine, for an unknown CA
    };
    Serve(u"untrusted.inf", "20260106\r\n", DateTime{2022, 1, 1, 0, 0, 0});
    // The same failure whether the https address came from the server
    // address or from an absolute URL: the address form is shown here.
    {
        const char* label = "server address";
        const Text target = kTemp + u"untrusted.inf";
        ::DeleteFileW(W(target).c_str());
        const Text address = u"https://127.0.0.1:" + untrustedPort;
        const Text url = address + u"/qxupdate/untrusted.inf";
        RealServices s;
        FrmUpdate form(s.platform);
        form.strTempDir = kTemp;
        form.strServerURL = ServerURLFromAddress(address);
        const Text result = DownloadFile(form.Downloads(), u"/qxupdate/untrusted.inf");

        EXPECT_EQ(U8(result), "") << label;
        EXPECT_FALSE(Exists(target)) << label << ": a file arrived over an untrusted connection";
        EXPECT_TRUE(Leftovers(target).empty()) << label << ": " << Join(Leftovers(target));
        EXPECT_EQ(s.ui.pointerShape, 0) << label;
        ASSERT_EQ(s.ui.list.size(), 1u) << label << ": " << Join(s.ui.list);
        const Text& line = s.ui.list[0];
        const Text head = u"下载文件\"" + url + u"\"失败错误";
        ASSERT_EQ(U8(line.substr(0, head.size())), U8(head)) << label;
        const size_t colon = line.find(u'：', head.size());
        ASSERT_NE(colon, Text::npos) << label << ": no error description in " << U8(line);
        const Text number = line.substr(head.size(), colon - head.size());
        bool certificate = false;
        for (long long e : certificateErrors) certificate = certificate || number == Num(e);
        EXPECT_TRUE(certificate) << label << ": not a certificate error: " << U8(line);
        EXPECT_GT(line.size(), colon + 1) << label << ": empty error description";
    }
    // The handshake was refused, so nginx never saw a request on that port.
    EXPECT_EQ(LoggedOnPort(untrustedPort), 0);
}

}  // namespace
}  // namespace qx
