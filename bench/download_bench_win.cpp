// The download benchmark: the engine (DownloadFile over the real Win32
// services) against bare WinINet loops doing the same requests, for one big
// file and for many unchanged small files.
//
// Every measurement runs in a child process of its own (this program started
// again with --phase), so that each reports its own idle and peak working set:
// the peak of a process only ever grows, and one phase would otherwise hide
// the next. The parent runs the phases in turn, repeats them, and prints one
// RESULT line per run and a table of medians.
//
// The bare loops use WinINet directly on the calling thread, with the
// client's request flags: one session, one connection handle, HEAD, then
// GETs of 1 MiB ranges read in 64 KiB InternetReadFile calls and written
// straight to the file; for the small files one HEAD each. It is the least
// a program can do on this API, so engine/bare is the whole cost of the
// engine, its worker thread and its part file.
#include <windows.h>

#include <psapi.h>
#include <wininet.h>

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
#include "RealServices_win.h"

namespace {

using qx::Text;

// Where the downloads go inside the prefix; emptied around each run.
const wchar_t kLocalDir[] = L"c:\\qxbench\\";
const wchar_t kSmallLocalDir[] = L"c:\\qxbench\\small\\";

// A phase gets this long before the parent gives up on it.
const DWORD kPhaseTimeLimitMs = 240000;

Text T(const std::wstring& w) { return Text(w.begin(), w.end()); }

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
                 "         --big-engine /path --big-bare /path --size BYTES\n"
                 "         [--reference Z:\\path\\of\\the\\big\\file]\n"
                 "         --small-dir /path/ --count N [--reps R] [--warm-up /path]\n"
                 "  The two big paths are names of the same file, one per contender, so that\n"
                 "  a copy left in the system's cache can be told apart. The small files are\n"
                 "  f000.txt ... in --small-dir and already present, unchanged, in %ls.\n"
                 "  --warm-up names a small file fetched with HEAD before the idle size is read.\n",
                 kSmallLocalDir);
}

std::wstring SmallName(int i) {
    wchar_t name[32];
    wsprintfW(name, L"f%03d.txt", i);
    return name;
}

// --- The bare loops: WinINet used directly -------------------------------

const DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                     INTERNET_FLAG_NO_UI | INTERNET_FLAG_KEEP_CONNECTION;

std::string ErrorText(const char* what) { return std::string(what) + " failed: " + std::to_string(::GetLastError()); }

// One session and one connection to the benchmark's server.
class BareWinInet {
public:
    explicit BareWinInet(const std::wstring& base) {
        session_ = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (session_ == nullptr) throw std::runtime_error(ErrorText("InternetOpen"));
        const size_t colon = base.rfind(L':');
        const std::wstring host = base.substr(7, colon - 7);
        const INTERNET_PORT port = static_cast<INTERNET_PORT>(_wtoi(base.c_str() + colon + 1));
        connection_ = ::InternetConnectW(session_, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        if (connection_ == nullptr) throw std::runtime_error(ErrorText("InternetConnect"));
    }
    ~BareWinInet() {
        ::InternetCloseHandle(connection_);
        ::InternetCloseHandle(session_);
    }
    BareWinInet(const BareWinInet&) = delete;
    BareWinInet& operator=(const BareWinInet&) = delete;

    // Sends one request; the caller reads and closes it.
    HINTERNET Send(const wchar_t* verb, const std::wstring& path, const std::wstring& headers) {
        const wchar_t* accept[] = {L"*/*", nullptr};
        HINTERNET r = ::HttpOpenRequestW(connection_, verb, path.c_str(), nullptr, nullptr, accept, kFlags, 0);
        if (r == nullptr) throw std::runtime_error(ErrorText("HttpOpenRequest"));
        if (!::HttpSendRequestW(r, headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0)) {
            ::InternetCloseHandle(r);
            throw std::runtime_error(ErrorText("HttpSendRequest"));
        }
        return r;
    }
    static DWORD Status(HINTERNET r) {
        DWORD status = 0, size = sizeof status;
        ::HttpQueryInfoW(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        return status;
    }
    static std::wstring Header(HINTERNET r, DWORD what) {
        wchar_t buffer[256];
        DWORD size = sizeof buffer;
        if (!::HttpQueryInfoW(r, what, buffer, &size, nullptr)) return std::wstring();
        return std::wstring(buffer, size / sizeof(wchar_t));
    }

    // HEAD, then ranges from where the written bytes end. Returns the bytes
    // written.
    long long Big(const std::wstring& path, const std::wstring& local) {
        HINTERNET head = Send(L"HEAD", path, L"");
        const DWORD status = Status(head);
        Header(head, HTTP_QUERY_LAST_MODIFIED);
        const long long length = _wtoi64(Header(head, HTTP_QUERY_CONTENT_LENGTH).c_str());
        ::InternetCloseHandle(head);
        if (status / 10 != 20) throw std::runtime_error("HEAD status " + std::to_string(status));
        HANDLE out = ::CreateFileW(local.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
        if (out == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create the local file");
        std::vector<char> buffer(65536);
        long long written = 0;
        while (written < length) {
            HINTERNET get = Send(L"GET", path, RangeHeader(written));
            long long got = 0;
            DWORD n = 0;
            while (::InternetReadFile(get, buffer.data(), 65536, &n) && n > 0) {
                DWORD done = 0;
                ::WriteFile(out, buffer.data(), n, &done, nullptr);
                got += n;
            }
            ::InternetCloseHandle(get);
            if (got == 0) break;
            written += got;
        }
        ::CloseHandle(out);
        return written;
    }

private:
    static std::wstring RangeHeader(long long from) {
        return L"Range: bytes=" + std::to_wstring(from) + L"-" + std::to_wstring(from + qx::kDownloadRangeSize - 1) +
               L"\r\n";
    }

    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
};

// --- The engine ----------------------------------------------------------

// The services of the real program with a recording window, and the
// engine's own time limit.
struct RealServices : qx::test::RealServices {
    RealServices() : qx::test::RealServices(qx::Win32HttpClient::kDefaultIdleLimitMs) {}
};

// --- One phase, in a child process ----------------------------------------

class NeverGiveUp : public qx::IHttpWaiter {
public:
    bool KeepWaiting() override { return true; }
};

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
    // the idle size is read; the client's session is made inside the timed
    // part, as it is in the program.
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

    // Cold: nothing has touched WinINet yet. Warm: one HEAD has loaded
    // WinINet and the system's network layers, the state of a program that
    // has already checked its script: for the engine through its own
    // client, whose session and worker thread then stay, as they do in the
    // program; for the bare loops on a session of their own, closed again.
    // The download's own memory is the peak above the warm size; the cold
    // figure adds what loading costs.
    r.cold = ReadMemory();
    const std::wstring warmUp = o.Get(L"warm-up");
    if (!warmUp.empty()) {
        try {
            if (contender == L"engine") {
                NeverGiveUp waiter;
                services->http.Head(T(base + warmUp), waiter);
            } else {
                BareWinInet warm(base);
                ::InternetCloseHandle(warm.Send(L"HEAD", warmUp, L""));
            }
        } catch (const qx::QxError& e) {
            r.note = "warm-up: " + qx::ToUtf8(e.Description());
        } catch (const std::exception& e) {
            r.note = std::string("warm-up: ") + e.what();
        }
    }
    r.idle = ReadMemory();
    const double t0 = Seconds();
    try {
        if (phase == L"engine-big") {
            const Text got = qx::DownloadFile(form->Downloads(), T(path), T(local), false);
            if (got == T(local)) r.done = 1;
        } else if (phase == L"bare-big") {
            BareWinInet(base).Big(path, local);
        } else if (phase == L"engine-heads") {
            for (int i = 0; i < count; ++i) {
                if (qx::DownloadFile(form->Downloads(), T(smallPaths[i]), T(smallLocals[i]), true) == T(smallLocals[i])) ++r.done;
            }
        } else if (phase == L"bare-heads") {
            BareWinInet bare(base);
            for (int i = 0; i < count; ++i) {
                HINTERNET head = bare.Send(L"HEAD", smallPaths[i], L"");
                const bool ok = BareWinInet::Status(head) == 200;
                BareWinInet::Header(head, HTTP_QUERY_LAST_MODIFIED);
                BareWinInet::Header(head, HTTP_QUERY_CONTENT_LENGTH);
                ::InternetCloseHandle(head);
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
    for (const wchar_t* required : {L"base", L"big-engine", L"big-bare", L"size", L"small-dir", L"count"}) {
        if (o.Get(required).empty()) {
            std::fprintf(stderr, "missing --%ls\n", required);
            Usage();
            return 2;
        }
    }
    const int reps = static_cast<int>(std::max(1LL, o.Number(L"reps", 3)));
    std::vector<std::vector<std::wstring>> groups = {{L"engine-big", L"bare-big"}, {L"engine-heads", L"bare-heads"}};
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
    std::printf("\nengine / bare (big file)       %.2f  (target <= 1.2)\n", ratio(L"engine-big", L"bare-big"));
    std::printf("unchanged check / bare HEADs   %.2f  (target <= 1.2)\n", ratio(L"engine-heads", L"bare-heads"));
    if (!allOk) std::printf("\nSOME RUNS FAILED: see the RESULT lines above\n");
    return allOk ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        const Options o = ParseOptions(argc, argv);
        const std::wstring phase = o.Get(L"phase");
        if (phase.empty()) return Parent(o, argc, argv);

        const PhaseResult r = RunPhase(phase, o);
        std::printf("PHASE %.6f %lld %lld %lld %llu %llu %llu %llu\n", r.seconds, r.bytes, r.done, r.expected,
                    r.cold.workingSet, r.idle.workingSet, r.end.workingSet, r.end.peak);
        if (!r.note.empty()) std::printf("NOTE %s\n", r.note.c_str());
        std::fflush(stdout);
        return r.done == r.expected ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qx_download_bench: %s\n", e.what());
        Usage();
        return 2;
    }
}
