// The download benchmark: the engine (DownloadFile over the real Win32
// services) against bare loops doing the same requests on the same XMLHTTP
// component, for one big file and for many unchanged small files.
//
// Every measurement runs in a child process of its own (this program started
// again with --phase), so that each reports its own idle and peak working set:
// the peak of a process only ever grows, and one phase would otherwise hide
// the next. The parent runs the phases in turn, repeats them, and prints one
// RESULT line per run and a table of medians.
//
// The bare loops:
//   bare    direct IDispatch on one object of the component, created once per
//           run on the calling thread, the DISPIDs looked up once, the body
//           written straight from the SAFEARRAY to the file. It is the least
//           any program can do with the component, so engine/bare is the
//           whole cost of the engine and its platform layer.
//   client  the same loop through Win32HttpClient's request object (one
//           long-lived worker thread and a reused object, the body copied
//           out once), to
//           split that cost between the platform layer and DownloadFile.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/frmUpdate.h"
#include "download/DownloadFile.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "win32/support/RealServices_win.h"

namespace {

using qx::Text;

// Where the downloads go inside the prefix; emptied around each run.
const wchar_t kLocalDir[] = L"c:\\qxbench\\";
const wchar_t kSmallLocalDir[] = L"c:\\qxbench\\small\\";

// The component classes in the engine's order of preference, the ones that
// exist on ordinary machines.
const wchar_t* const kProgIds[] = {L"Msxml2.XMLHTTP.6.0", L"Msxml2.XMLHTTP.4.0", L"Msxml2.XMLHTTP.3.0",
                                   L"Microsoft.XMLHTTP"};

// A phase gets this long before the parent gives up on it.
const DWORD kPhaseTimeLimitMs = 240000;

Text T(const std::wstring& w) { return Text(w.begin(), w.end()); }
std::wstring W(const Text& t) { return std::wstring(t.begin(), t.end()); }

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += (c < 128) ? static_cast<char>(c) : '?';
    return s;
}

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Memory {
    unsigned long long workingSet = 0;
    unsigned long long peak = 0;
};

Memory ReadMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    Memory m;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        m.workingSet = counters.WorkingSetSize;
        m.peak = counters.PeakWorkingSetSize;
    }
    return m;
}

// --- Command line -------------------------------------------------------

struct Options {
    std::map<std::wstring, std::wstring> values;

    std::wstring Get(const std::wstring& name, const std::wstring& fallback = L"") const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    long long Number(const std::wstring& name, long long fallback) const {
        const std::wstring v = Get(name);
        return v.empty() ? fallback : _wtoi64(v.c_str());
    }
};

Options ParseOptions(int argc, wchar_t** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring name = argv[i];
        if (name.rfind(L"--", 0) != 0) throw std::runtime_error("expected --name value, got " + Narrow(name));
        o.values[name.substr(2)] = argv[i + 1];
    }
    if (argc % 2 == 0) throw std::runtime_error("option " + Narrow(argv[argc - 1]) + " has no value");
    return o;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: qx_download_bench --base http://127.0.0.1:PORT\n"
                 "         --big-engine /path --big-bare /path --big-client /path --size BYTES\n"
                 "         [--reference Z:\\path\\of\\the\\big\\file]\n"
                 "         --small-dir /path/ --count N [--reps R] [--warm-up /path] [--split-big yes|no]\n"
                 "  The three big paths are names of the same file, one per contender, so that\n"
                 "  a copy left in the component's cache can be told apart. The small files are\n"
                 "  f000.txt ... in --small-dir and already present, unchanged, in %ls.\n"
                 "  --warm-up names a small file fetched with HEAD before the idle size is read.\n",
                 kSmallLocalDir);
}

std::wstring SmallName(int i) {
    wchar_t name[32];
    wsprintfW(name, L"f%03d.txt", i);
    return name;
}

// --- The bare loop: direct IDispatch -------------------------------------

std::string HrText(HRESULT hr) {
    char hex[16];
    wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(hr));
    return hex;
}

// One object of the component, driven through IDispatch with the DISPIDs
// looked up once.
class BareRequest {
public:
    BareRequest() {
        for (const wchar_t* progId : kProgIds) {
            CLSID clsid;
            if (FAILED(::CLSIDFromProgID(progId, &clsid))) continue;
            if (SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             reinterpret_cast<void**>(&object_)))) {
                break;
            }
        }
        if (object_ == nullptr) throw std::runtime_error("no XMLHTTP class can be created");
        open_ = Id(L"open");
        setRequestHeader_ = Id(L"setRequestHeader");
        send_ = Id(L"send");
        status_ = Id(L"status");
        getResponseHeader_ = Id(L"getResponseHeader");
        responseBody_ = Id(L"responseBody");
    }
    ~BareRequest() {
        if (object_ != nullptr) object_->Release();
    }
    BareRequest(const BareRequest&) = delete;
    BareRequest& operator=(const BareRequest&) = delete;

    void Open(const wchar_t* method, const std::wstring& url) {
        VARIANT args[3];  // last to first
        args[0].vt = VT_BOOL;
        args[0].boolVal = VARIANT_FALSE;
        args[1].vt = VT_BSTR;
        args[1].bstrVal = ::SysAllocString(url.c_str());
        args[2].vt = VT_BSTR;
        args[2].bstrVal = ::SysAllocString(method);
        Call(open_, DISPATCH_METHOD, args, 3, nullptr, "open");
    }
    void Header(const wchar_t* name, const std::wstring& value) {
        VARIANT args[2];
        args[0].vt = VT_BSTR;
        args[0].bstrVal = ::SysAllocString(value.c_str());
        args[1].vt = VT_BSTR;
        args[1].bstrVal = ::SysAllocString(name);
        Call(setRequestHeader_, DISPATCH_METHOD, args, 2, nullptr, "setRequestHeader");
    }
    void Send() {
        VARIANT none;
        ::VariantInit(&none);
        Call(send_, DISPATCH_METHOD, &none, 1, nullptr, "send");
    }
    long Status() {
        VARIANT v;
        ::VariantInit(&v);
        Call(status_, DISPATCH_PROPERTYGET, nullptr, 0, &v, "status");
        ::VariantChangeType(&v, &v, 0, VT_I4);
        const long s = v.vt == VT_I4 ? v.lVal : 0;
        ::VariantClear(&v);
        return s;
    }
    std::wstring ResponseHeader(const wchar_t* name) {
        VARIANT args[1];
        args[0].vt = VT_BSTR;
        args[0].bstrVal = ::SysAllocString(name);
        VARIANT v;
        ::VariantInit(&v);
        Call(getResponseHeader_, DISPATCH_METHOD, args, 1, &v, "getResponseHeader");
        std::wstring out;
        if (v.vt == VT_BSTR && v.bstrVal != nullptr) out.assign(v.bstrVal, ::SysStringLen(v.bstrVal));
        ::VariantClear(&v);
        return out;
    }
    // The body as the component hands it out; the caller clears it.
    void Body(VARIANT* v) { Call(responseBody_, DISPATCH_PROPERTYGET, nullptr, 0, v, "responseBody"); }

private:
    DISPID Id(const wchar_t* name) {
        DISPID id = 0;
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) throw std::runtime_error("no member " + Narrow(name) + ": " + HrText(hr));
        return id;
    }
    // Clears the arguments whatever happens.
    void Call(DISPID id, WORD kind, VARIANT* args, UINT count, VARIANT* result, const char* what) {
        DISPPARAMS params{};
        params.rgvarg = count == 0 ? nullptr : args;
        params.cArgs = count;
        EXCEPINFO info{};
        const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &info, nullptr);
        for (UINT i = 0; i < count; ++i) ::VariantClear(&args[i]);
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        if (FAILED(hr)) {
            throw std::runtime_error(std::string(what) + " failed: " + HrText(info.scode != 0 ? info.scode : hr));
        }
    }

    IDispatch* object_ = nullptr;
    DISPID open_, setRequestHeader_, send_, status_, getResponseHeader_, responseBody_;
};

// The output file of a bare loop.
class OutFile {
public:
    explicit OutFile(const std::wstring& path)
        : h_(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (h_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + Narrow(path));
    }
    ~OutFile() { ::CloseHandle(h_); }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    void Write(const void* data, DWORD size) {
        DWORD done = 0;
        if (!::WriteFile(h_, data, size, &done, nullptr) || done != size) throw std::runtime_error("write failed");
    }

private:
    HANDLE h_;
};

std::wstring RangeHeader(long long from) {
    return L"bytes=" + std::to_wstring(from) + L"-" + std::to_wstring(from + qx::kDownloadRangeSize - 1);
}

// The same requests as the engine: HEAD, then ranges from where the written
// bytes end, with the same cache headers. Returns the bytes written.
long long BareBig(const std::wstring& url, const std::wstring& local) {
    BareRequest r;
    OutFile out(local);
    r.Open(L"HEAD", url);
    r.Header(L"Cache-Control", L"no-cache");
    r.Header(L"Pragma", L"no-cache");
    r.Send();
    if (r.Status() / 10 != 20) throw std::runtime_error("HEAD status " + std::to_string(r.Status()));
    r.ResponseHeader(L"Last-Modified");
    const long long length = _wtoi64(r.ResponseHeader(L"Content-Length").c_str());
    long long written = 0;
    while (written < length) {
        r.Open(L"GET", url);
        r.Header(L"Cache-Control", L"no-cache");
        r.Header(L"Pragma", L"no-cache");
        r.Header(L"Range", RangeHeader(written));
        r.Send();
        VARIANT body;
        ::VariantInit(&body);
        r.Body(&body);
        long long got = 0;
        if (body.vt == (VT_ARRAY | VT_UI1) && body.parray != nullptr) {
            LONG lower = 0, upper = -1;
            ::SafeArrayGetLBound(body.parray, 1, &lower);
            ::SafeArrayGetUBound(body.parray, 1, &upper);
            void* data = nullptr;
            if (upper >= lower && SUCCEEDED(::SafeArrayAccessData(body.parray, &data))) {
                got = upper - lower + 1;
                out.Write(data, static_cast<DWORD>(got));
                ::SafeArrayUnaccessData(body.parray);
            }
        }
        ::VariantClear(&body);
        if (got == 0) break;
        written += got;
    }
    return written;
}

// The same requests through the platform layer's request object.
long long ClientBig(qx::IHttpClient& client, const std::wstring& url, const std::wstring& local) {
    std::unique_ptr<qx::IHttpRequest> r;
    for (const wchar_t* progId : kProgIds) {
        r = client.CreateObject(T(progId));
        if (r) break;
    }
    if (!r) throw std::runtime_error("no XMLHTTP class can be created");
    OutFile out(local);
    const Text u = T(url);
    r->Open(u"HEAD", u);
    r->SetRequestHeader(u"Cache-Control", u"no-cache");
    r->SetRequestHeader(u"Pragma", u"no-cache");
    r->Send();
    if (r->Status() / 10 != 20) throw std::runtime_error("HEAD status " + std::to_string(r->Status()));
    r->GetResponseHeader(u"Last-Modified");
    const long long length = _wtoi64(W(r->GetResponseHeader(u"Content-Length")).c_str());
    long long written = 0;
    while (written < length) {
        r->Open(u"GET", u);
        r->SetRequestHeader(u"Cache-Control", u"no-cache");
        r->SetRequestHeader(u"Pragma", u"no-cache");
        r->SetRequestHeader(u"Range", T(RangeHeader(written)));
        r->Send();
        const qx::Bytes body = r->ResponseBody();
        if (body.empty()) break;
        out.Write(body.data(), static_cast<DWORD>(body.size()));
        written += static_cast<long long>(body.size());
    }
    return written;
}

// --- The engine ----------------------------------------------------------

// The services of the real program with a recording window, and the
// engine's own time limit.
struct RealServices : qx::test::RealServices {
    RealServices() : qx::test::RealServices(qx::Win32HttpClient::kDefaultTimeLimitMs) {}
};

// --- One phase, in a child process ----------------------------------------

struct PhaseResult {
    double seconds = 0;
    long long bytes = 0;   // written (big) or files checked (small)
    long long done = 0;    // files that came out right
    long long expected = 0;
    Memory cold;
    Memory idle;
    Memory end;
    std::string note;
};

bool SameContent(const std::wstring& a, const std::wstring& b) {
    HANDLE fa = ::CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE fb = ::CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (same) {
        DWORD na = 0, nb = 0;
        if (!::ReadFile(fa, ba.data(), 1 << 16, &na, nullptr) || !::ReadFile(fb, bb.data(), 1 << 16, &nb, nullptr) ||
            na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) {
            same = false;
        } else if (na == 0) {
            break;
        }
    }
    if (fa != INVALID_HANDLE_VALUE) ::CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE) ::CloseHandle(fb);
    return same;
}

long long LocalSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

PhaseResult RunPhase(const std::wstring& phase, const Options& o) {
    const std::wstring base = o.Get(L"base");
    const long long size = o.Number(L"size", -1);
    const int count = static_cast<int>(o.Number(L"count", 0));
    const std::wstring smallDir = o.Get(L"small-dir");
    ::CreateDirectoryW(kLocalDir, nullptr);

    PhaseResult r;
    // Everything a run needs that is not the download itself exists before
    // the idle size is read; the component is loaded inside the timed part,
    // as it is in the program.
    std::unique_ptr<RealServices> services(new RealServices);
    std::unique_ptr<qx::FrmUpdate> form(new qx::FrmUpdate(services->platform));
    form->strServerURL = T(base);
    form->strTempDir = T(kLocalDir);

    const bool big = phase.find(L"-big") != std::wstring::npos;
    const std::wstring contender = phase.substr(0, phase.find(L'-'));
    std::wstring path, local;
    std::vector<std::wstring> smallPaths, smallLocals;
    if (big) {
        path = o.Get(L"big-" + contender);
        local = kLocalDir + path.substr(path.rfind(L'/') + 1);
        ::DeleteFileW(local.c_str());
        r.expected = 1;
    } else {
        for (int i = 0; i < count; ++i) {
            smallPaths.push_back(smallDir + SmallName(i));
            smallLocals.push_back(kSmallLocalDir + SmallName(i));
        }
        r.expected = count;
    }

    // Cold: nothing has touched the component yet. Warm: one HEAD on an
    // object of its own has loaded the component and the system's HTTP
    // layers and has been released again, the state of a program that has
    // already checked its script. The download's own memory is the peak
    // above the warm size; the cold figure adds what loading costs.
    r.cold = ReadMemory();
    const std::wstring warmUp = o.Get(L"warm-up");
    if (!warmUp.empty()) {
        try {
            BareRequest req;
            req.Open(L"HEAD", base + warmUp);
            req.Header(L"Cache-Control", L"no-cache");
            req.Header(L"Pragma", L"no-cache");
            req.Send();
        } catch (const std::exception& e) {
            r.note = std::string("warm-up: ") + e.what();
        }
    }
    r.idle = ReadMemory();
    const double t0 = Seconds();
    try {
        if (phase == L"engine-big") {
            const Text got = qx::DownloadFile(*form, T(path), T(local), false);
            if (got == T(local)) r.done = 1;
        } else if (phase == L"bare-big") {
            BareBig(base + path, local);
        } else if (phase == L"client-big") {
            ClientBig(services->http, base + path, local);
        } else if (phase == L"engine-heads") {
            for (int i = 0; i < count; ++i) {
                if (qx::DownloadFile(*form, T(smallPaths[i]), T(smallLocals[i]), true) == T(smallLocals[i])) ++r.done;
            }
        } else if (phase == L"bare-heads") {
            BareRequest req;
            for (int i = 0; i < count; ++i) {
                req.Open(L"HEAD", base + smallPaths[i]);
                req.Header(L"Cache-Control", L"no-cache");
                req.Header(L"Pragma", L"no-cache");
                req.Send();
                const bool ok = req.Status() == 200;
                req.ResponseHeader(L"Last-Modified");
                req.ResponseHeader(L"Content-Length");
                if (ok) ++r.done;
            }
        } else if (phase == L"client-heads") {
            std::unique_ptr<qx::IHttpRequest> req;
            for (const wchar_t* progId : kProgIds) {
                req = services->http.CreateObject(T(progId));
                if (req) break;
            }
            if (!req) throw std::runtime_error("no XMLHTTP class can be created");
            for (int i = 0; i < count; ++i) {
                req->Open(u"HEAD", T(base + smallPaths[i]));
                req->SetRequestHeader(u"Cache-Control", u"no-cache");
                req->SetRequestHeader(u"Pragma", u"no-cache");
                req->Send();
                const bool ok = req->Status() == 200;
                req->GetResponseHeader(u"Last-Modified");
                req->GetResponseHeader(u"Content-Length");
                if (ok) ++r.done;
            }
        } else {
            throw std::runtime_error("unknown phase " + Narrow(phase));
        }
    } catch (const qx::QxError& e) {
        r.note = "error " + std::to_string(e.Number()) + ": " + qx::ToUtf8(e.Description());
    } catch (const std::exception& e) {
        r.note = e.what();
    }
    r.seconds = Seconds() - t0;
    r.end = ReadMemory();

    if (!services->ui.list.empty()) {
        r.note += (r.note.empty() ? "" : "; ") + std::to_string(services->ui.list.size()) +
                  " lines logged, the first: " + qx::ToUtf8(services->ui.list.front());
    }
    if (big) {
        r.bytes = LocalSize(local);
        const std::wstring reference = o.Get(L"reference");
        if (r.bytes != size) {
            r.done = 0;
            r.note += (r.note.empty() ? "" : "; ") + std::string("size ") + std::to_string(r.bytes) +
                      ", expected " + std::to_string(size);
        } else if (!reference.empty() && !SameContent(local, reference)) {
            r.done = 0;
            r.note += (r.note.empty() ? "" : "; ") + std::string("content differs from the server's file");
        } else if (contender != L"engine") {
            r.done = 1;  // the bare loops report nothing else
        }
        ::DeleteFileW(local.c_str());
    } else {
        r.bytes = count;
    }
    return r;
}

// --- The parent -----------------------------------------------------------

struct Run {
    std::wstring phase;
    PhaseResult result;
    bool ok = false;
};

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

// Starts this program with --phase and reads its RESULT line.
Run Spawn(const std::wstring& phase, int argc, wchar_t** argv) {
    Run run;
    run.phase = phase;
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = Quote(self) + L" --phase " + phase;
    for (int i = 1; i < argc; ++i) line += L" " + Quote(argv[i]);

    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
        run.result.note = "cannot create a pipe";
        return run;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> cmd(line.begin(), line.end());
    cmd.push_back(0);
    const BOOL started = ::CreateProcessW(self, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        run.result.note = "cannot start the phase";
        return run;
    }
    // The child writes one short line at its end, far below a pipe's buffer,
    // so waiting first and reading after cannot deadlock.
    if (::WaitForSingleObject(pi.hProcess, kPhaseTimeLimitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 1);
        ::WaitForSingleObject(pi.hProcess, 10000);
        run.result.note = "did not finish within the time limit";
    }
    std::string out;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
    ::CloseHandle(readEnd);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);

    const size_t at = out.find("PHASE ");
    if (at == std::string::npos) {
        if (run.result.note.empty()) run.result.note = "no result: " + out;
        return run;
    }
    double seconds = 0;
    long long bytes = 0, done = 0, expected = 0;
    unsigned long long cold = 0, idle = 0, end = 0, peak = 0;
    if (std::sscanf(out.c_str() + at, "PHASE %lf %lld %lld %lld %llu %llu %llu %llu", &seconds, &bytes, &done,
                    &expected, &cold, &idle, &end, &peak) != 8) {
        run.result.note = "unreadable result: " + out.substr(at);
        return run;
    }
    run.result.seconds = seconds;
    run.result.bytes = bytes;
    run.result.done = done;
    run.result.expected = expected;
    run.result.cold = {cold, 0};
    run.result.idle = {idle, 0};
    run.result.end = {end, peak};
    const size_t note = out.find("NOTE ", at);
    if (note != std::string::npos) {
        run.result.note = out.substr(note + 5);
        while (!run.result.note.empty() && (run.result.note.back() == '\n' || run.result.note.back() == '\r')) {
            run.result.note.pop_back();
        }
    }
    run.ok = done == expected;
    return run;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

const double kMiB = 1048576.0;

int Parent(const Options& o, int argc, wchar_t** argv) {
    for (const wchar_t* required : {L"base", L"big-engine", L"big-bare", L"big-client", L"size", L"small-dir", L"count"}) {
        if (o.Get(required).empty()) {
            std::fprintf(stderr, "missing --%ls\n", required);
            Usage();
            return 2;
        }
    }
    const int reps = static_cast<int>(std::max(1LL, o.Number(L"reps", 3)));
    // The big file through the platform layer alone takes as long as the
    // others and only splits the engine's cost, so it is optional.
    std::vector<std::vector<std::wstring>> groups = {{L"engine-big", L"bare-big"},
                                                     {L"engine-heads", L"bare-heads", L"client-heads"}};
    if (o.Get(L"split-big", L"yes") == L"yes") groups[0].push_back(L"client-big");
    std::map<std::wstring, std::vector<Run>> runs;
    bool allOk = true;
    for (int rep = 0; rep < reps; ++rep) {
        for (const auto& group : groups) {
            // A different contender goes first on each repetition, so that a
            // cold first run does not always fall on the same one.
            for (size_t k = 0; k < group.size(); ++k) {
                const std::wstring& phase = group[(k + rep) % group.size()];
                Run run = Spawn(phase, argc, argv);
                const PhaseResult& r = run.result;
                std::printf("RESULT %ls rep=%d seconds=%.3f bytes=%lld done=%lld/%lld cold=%llu idle=%llu peak=%llu%s%s\n",
                            phase.c_str(), rep + 1, r.seconds, r.bytes, r.done, r.expected, r.cold.workingSet,
                            r.idle.workingSet, r.end.peak, r.note.empty() ? "" : " note=", r.note.c_str());
                std::fflush(stdout);
                allOk = allOk && run.ok;
                runs[phase].push_back(run);
            }
        }
    }

    std::printf("\n%-13s %5s %9s %9s %13s %9s %9s %10s %10s\n", "phase", "runs", "median s", "best s", "rate",
                "idle MiB", "peak MiB", "above idle", "above cold");
    std::map<std::wstring, double> medians;
    for (const auto& group : groups) {
        for (const std::wstring& phase : group) {
            std::vector<double> times;
            double aboveIdle = 0, aboveCold = 0, idle = 0, peak = 0;
            for (const Run& run : runs[phase]) {
                times.push_back(run.result.seconds);
                const double above = (static_cast<double>(run.result.end.peak) -
                                      static_cast<double>(run.result.idle.workingSet)) / kMiB;
                aboveCold = std::max(aboveCold, (static_cast<double>(run.result.end.peak) -
                                                 static_cast<double>(run.result.cold.workingSet)) / kMiB);
                if (above >= aboveIdle) {
                    aboveIdle = above;
                    idle = run.result.idle.workingSet / kMiB;
                    peak = run.result.end.peak / kMiB;
                }
            }
            const double median = Median(times);
            medians[phase] = median;
            const double best = times.empty() ? 0 : *std::min_element(times.begin(), times.end());
            char rate[32];
            if (phase.find(L"-big") != std::wstring::npos) {
                std::snprintf(rate, sizeof rate, "%.1f MiB/s", median > 0 ? o.Number(L"size", 0) / kMiB / median : 0);
            } else {
                std::snprintf(rate, sizeof rate, "%.0f HEAD/s", median > 0 ? o.Number(L"count", 0) / median : 0);
            }
            std::printf("%-13ls %5zu %9.3f %9.3f %13s %9.1f %9.1f %10.2f %10.2f\n", phase.c_str(), times.size(),
                        median, best, rate, idle, peak, aboveIdle, aboveCold);
        }
    }
    auto ratio = [&](const wchar_t* a, const wchar_t* b) { return medians[b] > 0 ? medians[a] / medians[b] : 0; };
    std::printf("\nengine / bare (256 MiB)        %.2f  (target <= 1.15)\n", ratio(L"engine-big", L"bare-big"));
    std::printf("  of which platform layer      %.2f  (client / bare)\n", ratio(L"client-big", L"bare-big"));
    std::printf("  of which DownloadFile        %.2f  (engine / client)\n", ratio(L"engine-big", L"client-big"));
    std::printf("unchanged check / bare HEADs   %.2f  (target <= 1.5)\n", ratio(L"engine-heads", L"bare-heads"));
    std::printf("  of which platform layer      %.2f  (client / bare)\n", ratio(L"client-heads", L"bare-heads"));
    std::printf("  of which DownloadFile        %.2f  (engine / client)\n", ratio(L"engine-heads", L"client-heads"));
    if (!allOk) std::printf("\nSOME RUNS FAILED: see the RESULT lines above\n");
    return allOk ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        const Options o = ParseOptions(argc, argv);
        const std::wstring phase = o.Get(L"phase");
        if (phase.empty()) return Parent(o, argc, argv);

        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const PhaseResult r = RunPhase(phase, o);
        std::printf("PHASE %.6f %lld %lld %lld %llu %llu %llu %llu\n", r.seconds, r.bytes, r.done, r.expected,
                    r.cold.workingSet, r.idle.workingSet, r.end.workingSet, r.end.peak);
        if (!r.note.empty()) std::printf("NOTE %s\n", r.note.c_str());
        std::fflush(stdout);
        if (SUCCEEDED(com)) ::CoUninitialize();
        return r.done == r.expected ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qx_download_bench: %s\n", e.what());
        Usage();
        return 2;
    }
}
