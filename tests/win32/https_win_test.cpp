#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>
#include <objbase.h>
#include <cstdio>
#include <memory>
#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
namespace qx { namespace {
Text T(const std::wstring& w) { return Text(w.begin(), w.end()); }
Text Env(const wchar_t* name) { wchar_t b[1024]; DWORD n = ::GetEnvironmentVariableW(name, b, 1024); return n==0||n>=1024?Text():T(std::wstring(b,n)); }
Text L2W(const Text& p){ Text o=u"Z:"+p; for(auto&c:o) if(c==u'/') c=u'\\'; return o;}
class Ui : public IWindowUi { public: std::vector<Text> list; int ps=0;
    void SetCaption(const Text&) override {} Text Caption() const override { return Text(); }
    void SetNotice(const Text&) override {} void AddListItem(const Text& line) override { list.push_back(line); }
    int ListCount() const override { return (int)list.size(); } void SetListIndex(int) override {}
    void RefreshList() override {} void EnableUpdateButton(bool) override {} void StopStartTimer() override {}
    void AddMenu() override {} void Close() override {} bool IsAlive() const override { return true; }
    void DoEvents() override {} int MsgBox(const Text&, int, const Text&) override { return mb::kResultOk; }
    Text InputBox(const Text&, const Text&, const Text&) override { return Text(); }
    int MousePointer() const override { return ps; } void SetMousePointer(int s) override { ps = s; } };
struct S { Ui ui; Win32Process process; Win32FileSystem files; Win32SettingsStore settings; Win32RegistryApi registry;
  Win32HttpClient http{10000}; Win32Clock clock; Win32Random random; Win32CodePage codepage;
  Platform platform{ui, process, files, settings, registry, http, clock, random, codepage}; };
void Try(const char* label, const Text& url) {
  S s; FrmUpdate form(s.platform); form.strTempDir = u"c:\\qxwork\\temp\\";
  ::CreateDirectoryW(L"c:\\qxwork", nullptr); ::CreateDirectoryW(L"c:\\qxwork\\temp", nullptr);
  ::DeleteFileW(L"c:\\qxwork\\temp\\p.inf");
  Text r = DownloadFile(form, url, u"c:\\qxwork\\temp\\p.inf");
  printf("%s: result=[%s] lines=%d\n", label, ToUtf8(r).c_str(), (int)s.ui.list.size());
  for (auto& l : s.ui.list) printf("   %s\n", ToUtf8(l).c_str());
}
struct C { HMODULE m = LoadLibraryW(L"crypt32.dll");
 template<class F> F get(const char* n){ return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m,n)));} };
TEST(TlsProbe, Probe) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Text port = Env(L"QX_TLS_PORT"), up = Env(L"QX_TLS_UNTRUSTED_PORT"), ca = Env(L"QX_TLS_CA");
  Win32FileSystem f; { auto w = f.CreateForWrite(L2W(Env(L"QX_WWW_ROOT") + u"/qxupdate/update.inf")); w->Write("hello\r\n"); w->Close(); }
  if (!getenv("PROBE_SKIP")) Try("trusted, no trust yet", u"https://127.0.0.1:" + port + u"/qxupdate/update.inf");
  if (!getenv("PROBE_SKIP")) Try("untrusted", u"https://127.0.0.1:" + up + u"/qxupdate/update.inf");
  Bytes der = f.ReadAll(L2W(ca));
  const char* which = getenv("PROBE_STORE");
  DWORD loc = (which && which[0]=='L') ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
  C c; auto pOpen=c.get<HCERTSTORE(WINAPI*)(LPCSTR,DWORD,HCRYPTPROV_LEGACY,DWORD,const void*)>("CertOpenStore");
 auto pAdd=c.get<BOOL(WINAPI*)(HCERTSTORE,DWORD,const BYTE*,DWORD,DWORD,PCCERT_CONTEXT*)>("CertAddEncodedCertificateToStore");
 auto pDel=c.get<BOOL(WINAPI*)(PCCERT_CONTEXT)>("CertDeleteCertificateFromStore");
 auto pClose=c.get<BOOL(WINAPI*)(HCERTSTORE,DWORD)>("CertCloseStore");
 HCERTSTORE st = pOpen(CERT_STORE_PROV_SYSTEM_W, 0, 0, loc, L"Root");
  printf("open store %p err %lu\n", st, GetLastError());
  PCCERT_CONTEXT ctx = nullptr;
  BOOL ok = pAdd(st, X509_ASN_ENCODING, (const BYTE*)der.data(), der.size(), CERT_STORE_ADD_REPLACE_EXISTING, &ctx);
  printf("add %d err %lu\n", ok, GetLastError());
  auto pCtl=c.get<BOOL(WINAPI*)(HCERTSTORE,DWORD,DWORD,const void*)>("CertControlStore");
  if (getenv("PROBE_COMMIT")) printf("commit %d err %lu\n", pCtl(st, 0, CERT_STORE_CTRL_COMMIT, nullptr), GetLastError());
  Try("trusted, after trust", u"https://127.0.0.1:" + port + u"/qxupdate/update.inf");
  Try("localhost, after trust", u"https://localhost:" + port + u"/qxupdate/update.inf");
  Try("untrusted again", u"https://127.0.0.1:" + up + u"/qxupdate/update.inf");
  printf("delete %d\n", pDel(ctx));
  Try("trusted, after removal", u"https://127.0.0.1:" + port + u"/qxupdate/update.inf");
  pClose(st, 0);
}
}}
