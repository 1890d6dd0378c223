#include "platform/win32/http_win.h"

#include <windows.h>

#include <process.h>
#include <wininet.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32/codepage_win.h"
#include "platform/win32/handles_win.h"

namespace qx {

namespace {

// One InternetReadFile call; each of the two body buffers takes up to four,
// so that the calling thread is woken once per 256 KiB on a fast link.
constexpr DWORD kRead = 65536;
constexpr DWORD kPiece = 4 * kRead;
// The worker's stack: WinINet and TLS need far less.
constexpr unsigned kStackBytes = 256 * 1024;
// A piece that took this long marks a slow link.
constexpr DWORD kSlowPieceMs = 200;
// How often the waiter is asked while a request waits.
constexpr DWORD kSliceMs = 10;
// How long a client going away waits for its idle worker to end.
constexpr DWORD kLetGoMs = 500;
// WinINet's own limits end a silent connection; this far beyond them the
// request is given up whatever WinINet is doing.
constexpr DWORD kBackstopMs = 5000;
// A failure after this much of the idle limit without a byte is the limit
// at work, whatever code WinINet gives it (under Wine a connection reset or
// the socket's own time-out).
constexpr DWORD kSilencePercent = 90;

const wchar_t kAgent[] = L"QXUpdate";
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                            INTERNET_FLAG_NO_UI | INTERNET_FLAG_KEEP_CONNECTION;


// WinINet's error codes in the form the system reports them to programs
// (HRESULT), as administrators know them from other tools.
int32_t Number(DWORD code) { return static_cast<int32_t>(0x80070000u | (code & 0xFFFFu)); }

// What the common failures mean, for systems whose WinINet carries no
// texts of its own (Wine's does not).
Text KnownText(DWORD code) {
    switch (code) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return u"无法解析服务器的名称";
        case ERROR_INTERNET_CANNOT_CONNECT:
            return u"无法与服务器建立连接";
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
            return u"与服务器的连接已中断";
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return u"服务器的证书不可信";
        case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
            return u"不支持的网址协议";
        default:
            return u"网络错误" + FromUtf8(std::to_string(code));
    }
}

[[noreturn]] void Raise(DWORD code, unsigned idleLimitMs) {
    if (code == 0) code = ERROR_INTERNET_CONNECTION_ABORTED;
    if (code == ERROR_INTERNET_TIMEOUT) {
        throw QxError(Number(code), u"服务器在" + FromUtf8(std::to_string(idleLimitMs / 1000)) + u"秒内没有应答");
    }
    Text text = SystemMessage(code, ::GetModuleHandleW(L"wininet.dll"));
    if (text.empty()) text = KnownText(code);
    throw QxError(Number(code), text);
}

Text QueryText(HINTERNET request, DWORD what) {
    std::vector<wchar_t> buffer(128);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD index = 0;
        if (::HttpQueryInfoW(request, what, buffer.data(), &size, &index)) {
            return FromWide(buffer.data(), size / sizeof(wchar_t));
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Text();
        buffer.resize(size / sizeof(wchar_t) + 1);
    }
}

}  // namespace

// The thread that makes the blocking calls, and what it shares with the
// calling thread about the request in hand. The calling thread and the
// thread each hold a reference; a worker whose request was given up is left
// to end on its own and frees itself.
struct Worker {
    LONG references = 2;
    LONG quit = 0;
    LONG abort = 0;
    UniqueHandle thread;
    UniqueHandle wake;   // auto-reset: a request (or quit) is waiting
    UniqueHandle ready;  // semaphore: the next step of the request is done
    UniqueHandle free;   // semaphore: a body buffer may be filled

    // The request: set by the calling thread while the worker is idle.
    HINTERNET connection = nullptr;
    DWORD idleLimitMs = 0;
    bool head = false;
    DWORD flags = 0;
    std::wstring path;
    std::wstring headers;
    // The request handle while the worker has one; whoever takes it out
    // closes it, and closing it ends a blocking call at once.
    void* volatile request = nullptr;

    // The steps: the answer's header first, then body pieces in the two
    // buffers in turn, an empty piece at the end. error, when not 0, ends
    // the request at the step it comes with.
    DWORD error = 0;
    HttpAnswer answer;
    bool trickle = false;
    Bytes buffer[2];

    void Release() {
        if (::InterlockedDecrement(&references) == 0) delete this;
    }
    void CloseRequest() {
        HINTERNET h = static_cast<HINTERNET>(::InterlockedExchangePointer(const_cast<void**>(&request), nullptr));
        if (h != nullptr) ::InternetCloseHandle(h);
    }

    void Run() {
        error = 0;
        if (head) trickle = false;
        const wchar_t* accept[] = {L"*/*", nullptr};
        HINTERNET h = ::HttpOpenRequestW(connection, head ? L"HEAD" : L"GET", path.c_str(), nullptr, nullptr, accept,
                                         flags, 0);
        if (h == nullptr) {
            error = ::GetLastError();
        } else {
            ::InterlockedExchangePointer(const_cast<void**>(&request), h);
            DWORD limit = idleLimitMs;
            for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                                 INTERNET_OPTION_SEND_TIMEOUT}) {
                ::InternetSetOptionW(h, option, &limit, sizeof limit);
            }
            if (::InterlockedCompareExchange(&abort, 0, 0) != 0) {
                error = ERROR_INTERNET_OPERATION_CANCELLED;
            } else if (!::HttpSendRequestW(h, headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0)) {
                error = ::GetLastError();
            } else {
                DWORD status = 0;
                DWORD size = sizeof status;
                ::HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
                answer = HttpAnswer{static_cast<int>(status), QueryText(h, HTTP_QUERY_CONTENT_LENGTH),
                                    QueryText(h, HTTP_QUERY_LAST_MODIFIED), QueryText(h, HTTP_QUERY_CONTENT_RANGE)};
            }
        }
        // The last step is told only once the request is closed, so that
        // the caller need not wait for the worker a second time.
        if (error != 0 || head) return Done();
        ::ReleaseSemaphore(ready.Get(), 1, nullptr);
        // A read waits until its buffer is full. On a fast link that is at
        // once; on a slow one it could outlast the idle limit while bytes
        // keep coming, so once a piece has been slow each piece is what has
        // arrived, asked for first, until the next file.
        for (int slot = 0;; slot ^= 1) {
            ::WaitForSingleObject(free.Get(), INFINITE);
            if (::InterlockedCompareExchange(&abort, 0, 0) != 0) break;
            const DWORD start = ::GetTickCount();
            Bytes& piece = buffer[slot];
            piece.resize(kPiece);
            DWORD n = 0;
            while (n < kPiece) {
                DWORD want = kRead;
                DWORD got = 0;
                if ((trickle && !::InternetQueryDataAvailable(h, &want, 0, 0)) ||
                    !::InternetReadFile(h, &piece[n], want != 0 && want < kRead ? want : kRead, &got)) {
                    error = ::GetLastError();
                    if (error == 0) error = ERROR_INTERNET_CONNECTION_ABORTED;
                    n = 0;
                    break;
                }
                n += got;
                if (got == 0 || trickle) break;
                if (::GetTickCount() - start >= kSlowPieceMs) trickle = true;
            }
            if (::GetTickCount() - start >= kSlowPieceMs) trickle = true;
            // Shrinking keeps the capacity: the buffer is allocated once.
            piece.resize(n);
            if (n == 0) return Done();
            ::ReleaseSemaphore(ready.Get(), 1, nullptr);
        }
        CloseRequest();
    }

    void Done() {
        CloseRequest();
        ::ReleaseSemaphore(ready.Get(), 1, nullptr);
    }

    static unsigned __stdcall Main(void* parameter) {
        Worker& w = *static_cast<Worker*>(parameter);
        while (::WaitForSingleObject(w.wake.Get(), INFINITE) == WAIT_OBJECT_0 &&
               ::InterlockedCompareExchange(&w.quit, 0, 0) == 0) {
            w.Run();
        }
        w.Release();
        return 0;
    }
};

struct Win32HttpClient::Impl {
    explicit Impl(unsigned idleLimitMs) : idleLimitMs(idleLimitMs) {}

    ~Impl() {
        if (worker != nullptr) {
            Stop(*worker, kLetGoMs);
            worker = nullptr;
        }
    }

    // Asks the worker to end once it is idle and lets go of it.
    static void Stop(Worker& w, DWORD waitMs) {
        ::InterlockedExchange(&w.quit, 1);
        ::SetEvent(w.wake.Get());
        if (waitMs != 0) ::WaitForSingleObject(w.thread.Get(), waitMs);
        w.Release();
    }

    Worker& Take() {
        if (worker != nullptr) return *worker;
        std::unique_ptr<Worker> w(new Worker);
        w->wake.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        w->ready.Reset(::CreateSemaphoreW(nullptr, 0, 16, nullptr));
        w->free.Reset(::CreateSemaphoreW(nullptr, 0, 16, nullptr));
        if (!w->wake || !w->ready || !w->free) Raise(::GetLastError(), idleLimitMs);
        w->thread.Reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, kStackBytes, &Worker::Main, w.get(),
                                                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)));
        if (!w->thread) Raise(ERROR_NOT_ENOUGH_MEMORY, idleLimitMs);
        worker = w.release();
        return *worker;
    }

    // The connection handle for this server, made on first use and kept.
    HINTERNET Connection(const std::wstring& host, INTERNET_PORT port, bool secure) {
        for (const auto& c : connections) {
            if (c.host == host && c.port == port && c.secure == secure) return c.handle.Get();
        }
        UniqueInternetHandle h(::InternetConnectW(session.Get(), host.c_str(), port, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
        if (!h) Raise(::GetLastError(), idleLimitMs);
        SetLimits(h.Get());
        connections.push_back(Connection_{host, port, secure, std::move(h)});
        return connections.back().handle.Get();
    }

    // Hands the request to the worker and waits for its header.
    Worker& Start(const Text& url, bool head, const std::wstring& headers, IHttpWaiter& waiter) {
        if (!session && !Open()) Raise(::GetLastError(), idleLimitMs);
        const std::wstring wide = Wide(url);
        wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {0};
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH + 1;
        parts.dwUrlPathLength = 1;
        parts.dwExtraInfoLength = 1;
        if (!::InternetCrackUrlW(wide.c_str(), 0, 0, &parts)) Raise(::GetLastError(), idleLimitMs);
        if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
            Raise(ERROR_INTERNET_UNRECOGNIZED_SCHEME, idleLimitMs);
        }
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        std::wstring path = parts.dwUrlPathLength != 0 ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"/";
        if (parts.dwExtraInfoLength != 0) path += std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

        HINTERNET connection = Connection(host, parts.nPort, secure);
        Worker& w = Take();
        w.abort = 0;
        w.connection = connection;
        w.idleLimitMs = idleLimitMs;
        w.head = head;
        w.flags = kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0);
        w.path = path;
        w.headers = L"Cache-Control: no-cache\r\n" + headers;
        ::SetEvent(w.wake.Get());
        lastActivity = ::GetTickCount();
        lastAsked = lastActivity;
        Next(w, waiter);
        if (w.error != 0) {
            RaiseFailure(w.error);
        }
        return w;
    }

    // Waits for the worker's next step, asking the waiter every slice.
    // A body piece may take longer than the idle limit on a slow link
    // without the link being idle (WinINet's own limit watches that), so
    // the backstop for pieces is further off.
    void Next(Worker& w, IHttpWaiter& waiter, bool piece = false) {
        const DWORD backstop = piece ? 2 * idleLimitMs : idleLimitMs + kBackstopMs;
        for (;;) {
            if (::GetTickCount() - lastAsked >= kSliceMs) {
                bool go = false;
                try {
                    go = waiter.KeepWaiting();
                } catch (...) {
                    GiveUp(w);
                    throw;
                }
                lastAsked = ::GetTickCount();
                if (!go) {
                    GiveUp(w);
                    throw QxError(err::kCancelled, u"下载已取消");
                }
            }
            // Looked at after the waiter, which may have kept a dialog open
            // for a while: what arrived meanwhile is no silence.
            if (::WaitForSingleObject(w.ready.Get(), kSliceMs) == WAIT_OBJECT_0) {
                const DWORD at = ::GetTickCount();
                silence = at - lastActivity;
                lastActivity = at;
                return;
            }
            if (::GetTickCount() - lastActivity >= backstop) {
                GiveUp(w);
                Raise(ERROR_INTERNET_TIMEOUT, idleLimitMs);
            }
        }
    }

    // Ends the request in hand: closing its handle ends a blocking call.
    // The worker is not waited for: it ends once that call returns, and
    // the next request gets a new one, so nothing of this request can
    // reach the next.
    void GiveUp(Worker& w) {
        ::InterlockedExchange(&w.abort, 1);
        w.CloseRequest();
        ::ReleaseSemaphore(w.free.Get(), 1, nullptr);
        Stop(w, 0);
        worker = nullptr;
    }

    [[noreturn]] void RaiseFailure(DWORD error) {
        if (error == WSAETIMEDOUT || silence >= idleLimitMs / 100 * kSilencePercent) error = ERROR_INTERNET_TIMEOUT;
        Raise(error, idleLimitMs);
    }

    bool Open() {
        session.Reset(::InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return false;
        SetLimits(session.Get());
        return true;
    }

    void SetLimits(HINTERNET h) {
        DWORD limit = idleLimitMs;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                             INTERNET_OPTION_SEND_TIMEOUT}) {
            ::InternetSetOptionW(h, option, &limit, sizeof limit);
        }
    }

    struct Connection_ {
        std::wstring host;
        INTERNET_PORT port;
        bool secure;
        UniqueInternetHandle handle;
    };

    unsigned idleLimitMs;
    UniqueInternetHandle session;
    std::vector<Connection_> connections;
    Worker* worker = nullptr;
    DWORD lastActivity = 0;
    DWORD lastAsked = 0;
    DWORD silence = 0;  // before the worker's last step
};

Win32HttpClient::Win32HttpClient(unsigned idleLimitMs) : impl_(new Impl(idleLimitMs)) {}

Win32HttpClient::~Win32HttpClient() = default;

bool Win32HttpClient::Available() { return impl_->session || impl_->Open(); }

HttpAnswer Win32HttpClient::Head(const Text& url, IHttpWaiter& waiter) {
    // The worker is idle again once it has answered.
    return impl_->Start(url, true, std::wstring(), waiter).answer;
}

HttpAnswer Win32HttpClient::Get(const Text& url, int64_t first, int64_t last, const Text& ifRange, IHttpSink& sink,
                                IHttpWaiter& waiter) {
    std::wstring headers = L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last) + L"\r\n";
    if (!ifRange.empty()) headers += L"If-Range: " + std::wstring(Wide(ifRange)) + L"\r\n";
    Impl& impl = *impl_;
    Worker& w = impl.Start(url, false, headers, waiter);
    const HttpAnswer answer = w.answer;
    bool wanted = false;
    try {
        wanted = sink.Start(answer);
    } catch (...) {
        impl.GiveUp(w);
        throw;
    }
    if (!wanted) {
        impl.GiveUp(w);
        return answer;
    }
    ::ReleaseSemaphore(w.free.Get(), 2, nullptr);
    for (int slot = 0;; slot ^= 1) {
        impl.Next(w, waiter, true);
        if (w.buffer[slot].empty()) break;
        try {
            sink.Data(w.buffer[slot]);
        } catch (...) {
            impl.GiveUp(w);
            throw;
        }
        ::ReleaseSemaphore(w.free.Get(), 1, nullptr);
    }
    // The worker asked for a buffer once more than it filled: the count
    // it did not use goes back, so the next request starts with two.
    ::WaitForSingleObject(w.free.Get(), 0);
    if (w.error != 0) impl.RaiseFailure(w.error);
    return answer;
}

}  // namespace qx
