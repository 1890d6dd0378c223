#include "platform/win32/http_win.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <process.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32/com_win.h"
#include "platform/win32/handles_win.h"

namespace qx {

namespace {

// The error number of a request that ran out of time: the system's own
// code for an HTTP time-out, as an HRESULT.
constexpr int32_t kTimedOut = static_cast<int32_t>(0x80072EE2u);

// How long a client going away waits for its idle worker to let go of its
// object and apartment. The worker has nothing in hand, so it is quick.
constexpr DWORD kWorkerStopMs = 2000;

// The component answers through the system's URL cache. A copy left there
// could be handed to a later request instead of the server's current file,
// and the updater's files have no business on the user's disk beyond their
// targets, so every URL fetched with GET is removed from that cache once the
// request object is done with it.
void ForgetCachedCopy(const Text& url) {
    using DeleteEntryFn = BOOL(WINAPI*)(LPCWSTR);
    static const DeleteEntryFn deleteEntry = []() -> DeleteEntryFn {
        HMODULE wininet = ::LoadLibraryW(L"wininet.dll");
        if (wininet == nullptr) return nullptr;
        return reinterpret_cast<DeleteEntryFn>(
            reinterpret_cast<void*>(::GetProcAddress(wininet, "DeleteUrlCacheEntryW")));
    }();
    if (deleteEntry != nullptr) deleteEntry(reinterpret_cast<const wchar_t*>(url.c_str()));
}

Text HresultText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text text;
    if (n != 0 && buffer != nullptr) {
        text.assign(reinterpret_cast<const char16_t*>(buffer), n);
        while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
            text.pop_back();
        }
    }
    if (buffer != nullptr) ::LocalFree(buffer);
    if (text.empty()) {
        char hex[16];
        wsprintfA(hex, "%08lX", static_cast<unsigned long>(hr));
        text = u"HTTP请求失败（0x" + FromUtf8(hex) + u"）";
    }
    return text;
}

// A failed call on the component: its number and the best description.
struct CallFailure {
    HRESULT hr;
    Text description;
};

// A late-bound call on an IDispatch. args are given last to first, as
// IDispatch takes them.
void Invoke(IDispatch* object, DISPID id, WORD kind, VARIANT* args, UINT count, VARIANT* result) {
    DISPPARAMS params{};
    params.rgvarg = count == 0 ? nullptr : args;
    params.cArgs = count;
    EXCEPINFO info{};
    UINT argError = 0;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &info, &argError);
    if (hr == DISP_E_EXCEPTION) {
        Text description;
        if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
        if (info.bstrDescription != nullptr) {
            description.assign(reinterpret_cast<const char16_t*>(info.bstrDescription),
                               ::SysStringLen(info.bstrDescription));
        }
        const HRESULT code = info.scode != 0 ? info.scode : static_cast<HRESULT>(info.wCode);
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        const HRESULT reported = FAILED(code) ? code : hr;
        throw CallFailure{reported, description.empty() ? HresultText(reported) : description};
    }
    if (FAILED(hr)) throw CallFailure{hr, HresultText(hr)};
}

}  // namespace

namespace http_detail {

// One hand-over between the calling thread and a worker: the job, and the
// answer written back. Whichever of the two lets go last frees it, so a
// worker abandoned after a time-out still has its channel to write to.
struct Channel {
    LONG references = 2;
    // Set by the caller before waking the worker for the last time.
    LONG quit = 0;
    LONG abandoned = 0;
    UniqueHandle workReady;  // auto-reset: a job (or quit) is waiting
    UniqueHandle workDone;   // auto-reset: the answer is complete

    // The job. A create job names a class by ProgID and learns its CLSID;
    // a request job runs one request on an object of class clsid.
    bool createOnly = false;
    Text progId;
    CLSID clsid{};
    Text method;
    Text url;
    std::vector<std::pair<Text, Text>> headers;

    // The answer. The body stays as the component handed it out, so that it
    // is copied once, into the caller's bytes, and not on the way as well.
    bool failed = false;
    int32_t errorNumber = 0;
    Text errorText;
    int status = 0;
    Text responseHeaders;
    Variant body;

    void Release() {
        if (::InterlockedDecrement(&references) == 0) delete this;
    }
};

}  // namespace http_detail

namespace {

using http_detail::Channel;

// The worker's object of the component and the numbers of the members used,
// looked up once per object rather than once per call.
class Component {
public:
    IDispatch* Get() const { return object_.Get(); }

    // An object of class clsid, the one already held when it is of that class.
    void Ensure(const CLSID& clsid) {
        if (object_ && ::IsEqualCLSID(clsid_, clsid)) return;
        Drop();
        HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object_.ReceiveVoid());
        if (FAILED(hr)) throw CallFailure{hr, HresultText(hr)};
        try {
            open = Id(L"open");
            setRequestHeader = Id(L"setRequestHeader");
            send = Id(L"send");
            status = Id(L"status");
            getAllResponseHeaders = Id(L"getAllResponseHeaders");
            responseBody = Id(L"responseBody");
        } catch (...) {
            Drop();
            throw;
        }
        clsid_ = clsid;
    }

    void Drop() { object_.Reset(); }

    DISPID open = 0, setRequestHeader = 0, send = 0, status = 0, getAllResponseHeaders = 0, responseBody = 0;

private:
    DISPID Id(const wchar_t* name) {
        DISPID id = 0;
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) throw CallFailure{hr, HresultText(hr)};
        return id;
    }

    ComPtr<IDispatch> object_;
    CLSID clsid_{};
};

VARIANT TextArg(const Text& text) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = Bstr(text).Release();
    return v;
}

// Clears the arguments of one call whatever the call did.
struct Args {
    VARIANT v[3];
    UINT n = 0;
    ~Args() {
        for (UINT i = 0; i < n; ++i) ::VariantClear(&v[i]);
    }
};

void Perform(Channel& ch, Component& c) {
    IDispatch* object = c.Get();
    {
        Args a;  // open(method, url, false), last to first
        a.v[0].vt = VT_BOOL;
        a.v[0].boolVal = VARIANT_FALSE;  // synchronous
        a.n = 1;
        a.v[1] = TextArg(ch.url);
        a.n = 2;
        a.v[2] = TextArg(ch.method);
        a.n = 3;
        Invoke(object, c.open, DISPATCH_METHOD, a.v, a.n, nullptr);
    }
    for (const auto& h : ch.headers) {
        Args a;
        a.v[0] = TextArg(h.second);
        a.n = 1;
        a.v[1] = TextArg(h.first);
        a.n = 2;
        Invoke(object, c.setRequestHeader, DISPATCH_METHOD, a.v, a.n, nullptr);
    }
    {
        Args a;
        ::VariantInit(&a.v[0]);  // no body
        a.n = 1;
        Invoke(object, c.send, DISPATCH_METHOD, a.v, a.n, nullptr);
    }

    Variant status;
    Invoke(object, c.status, DISPATCH_PROPERTYGET, nullptr, 0, status.Get());
    if (FAILED(::VariantChangeType(status.Get(), status.Get(), 0, VT_I4))) {
        throw CallFailure{E_UNEXPECTED, u"无法读取HTTP状态"};
    }
    ch.status = static_cast<int>(status.Get()->lVal);

    Variant headers;
    Invoke(object, c.getAllResponseHeaders, DISPATCH_METHOD, nullptr, 0, headers.Get());
    if (headers.Get()->vt == VT_BSTR && headers.Get()->bstrVal != nullptr) {
        ch.responseHeaders.assign(reinterpret_cast<const char16_t*>(headers.Get()->bstrVal),
                                  ::SysStringLen(headers.Get()->bstrVal));
    }

    if (ch.method == u"HEAD") return;  // no body to read
    Invoke(object, c.responseBody, DISPATCH_PROPERTYGET, nullptr, 0, ch.body.Get());
    const VARIANT& v = ch.body.Ref();
    if (v.vt != VT_EMPTY && v.vt != VT_NULL && (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr)) {
        throw CallFailure{DISP_E_TYPEMISMATCH, u"应答内容不是字节数组"};
    }
}

void Serve(Channel& ch, Component& c) {
    ch.failed = false;
    ch.errorNumber = 0;
    ch.errorText.clear();
    ch.status = 0;
    ch.responseHeaders.clear();
    ::VariantClear(ch.body.Get());
    if (ch.createOnly) {
        // An unknown name leaves the object of a known one as it is.
        const HRESULT hr = ::CLSIDFromProgID(reinterpret_cast<const wchar_t*>(ch.progId.c_str()), &ch.clsid);
        if (FAILED(hr)) {
            ch.failed = true;
            ch.errorNumber = static_cast<int32_t>(hr);
            ch.errorText = HresultText(hr);
            return;
        }
    }
    try {
        if (ch.createOnly) {
        } else {
            c.Ensure(ch.clsid);
            Perform(ch, c);
        }
        return;
    } catch (const CallFailure& f) {
        ch.errorNumber = static_cast<int32_t>(f.hr);
        ch.errorText = f.description;
    } catch (...) {
        ch.errorNumber = static_cast<int32_t>(E_OUTOFMEMORY);
        ch.errorText = u"内存不足";
    }
    ch.failed = true;
    ::VariantClear(ch.body.Get());
    // An object that failed a request may be left in any state; the next
    // request gets a new one.
    c.Drop();
}

// Waits for the next job. The worker's apartment keeps its messages flowing
// while it is idle, as an apartment must; the caller's thread is not touched.
bool WaitForWork(HANDLE ready) {
    for (;;) {
        const DWORD r = ::MsgWaitForMultipleObjects(1, &ready, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

unsigned __stdcall WorkerMain(void* parameter) {
    Channel& ch = *static_cast<Channel*>(parameter);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Component component;
        Text lastGet;
        while (WaitForWork(ch.workReady.Get()) && ::InterlockedCompareExchange(&ch.quit, 0, 0) == 0) {
            if (!ch.createOnly && ch.method != u"HEAD") lastGet = ch.url;
            Serve(ch, component);
            ::SetEvent(ch.workDone.Get());
        }
        // The caller gave up on the last request and so could not clear up
        // after it; whatever that request left in the URL cache goes now
        // that it has ended.
        if (::InterlockedCompareExchange(&ch.abandoned, 0, 0) != 0 && !lastGet.empty()) ForgetCachedCopy(lastGet);
        ::VariantClear(ch.body.Get());
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    ch.Release();
    return 0;
}

// The caller's side of one worker thread.
class Worker {
public:
    Worker() = default;
    ~Worker() { Stop(0); }
    Worker(Worker&& other) noexcept : ch_(other.ch_), thread_(std::move(other.thread_)) { other.ch_ = nullptr; }
    Worker& operator=(Worker&& other) noexcept {
        if (this != &other) {
            Stop(0);
            ch_ = other.ch_;
            thread_ = std::move(other.thread_);
            other.ch_ = nullptr;
        }
        return *this;
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    static Worker Start() {
        Worker w;
        Channel* ch = new Channel;
        ch->workReady.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        ch->workDone.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!ch->workReady || !ch->workDone) {
            delete ch;
            throw QxError(err::kAutomation, u"无法启动HTTP请求");
        }
        w.thread_.Reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, WorkerMain, ch, 0, nullptr)));
        if (!w.thread_) {
            delete ch;
            throw QxError(err::kAutomation, u"无法启动HTTP请求");
        }
        w.ch_ = ch;
        return w;
    }

    explicit operator bool() const { return ch_ != nullptr; }
    Channel& Job() { return *ch_; }

    // Runs the job set in Job(). False when the time limit passed first: the
    // worker is then abandoned and this object empty.
    bool Run(unsigned timeLimitMs) {
        ::SetEvent(ch_->workReady.Get());
        // No message processing while waiting: a download blocks the window.
        if (::WaitForSingleObject(ch_->workDone.Get(), timeLimitMs) == WAIT_OBJECT_0) return true;
        ::InterlockedExchange(&ch_->abandoned, 1);
        Stop(0);
        return false;
    }

    // Tells the worker to end once it is idle, waits up to waitMs for that,
    // and lets go of it.
    void Stop(DWORD waitMs) {
        if (ch_ == nullptr) return;
        ::InterlockedExchange(&ch_->quit, 1);
        ::SetEvent(ch_->workReady.Get());
        if (waitMs != 0) ::WaitForSingleObject(thread_.Get(), waitMs);
        thread_.Reset();
        ch_->Release();
        ch_ = nullptr;
    }

private:
    Channel* ch_ = nullptr;
    UniqueHandle thread_;
};

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
    ~Lock() { ::LeaveCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

}  // namespace

namespace http_detail {

// What a client keeps between request objects: the ProgIDs known to work,
// and one idle worker ready for the next request object.
struct WorkerPool {
    WorkerPool() { ::InitializeCriticalSection(&lock); }
    ~WorkerPool() {
        idle.Stop(kWorkerStopMs);
        ::DeleteCriticalSection(&lock);
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    bool Known(const Text& progId, CLSID* clsid) {
        Lock hold(lock);
        for (const auto& k : working) {
            if (k.first == progId) {
                *clsid = k.second;
                return true;
            }
        }
        return false;
    }
    void Remember(const Text& progId, const CLSID& clsid) {
        Lock hold(lock);
        for (const auto& k : working) {
            if (k.first == progId) return;
        }
        working.emplace_back(progId, clsid);
    }
    // The idle worker, or a new one.
    Worker Take() {
        {
            Lock hold(lock);
            if (idle) return std::move(idle);
        }
        return Worker::Start();
    }
    // A worker back from a request object; one is kept, others end.
    void Give(Worker w) {
        Lock hold(lock);
        if (!idle) idle = std::move(w);
    }

    CRITICAL_SECTION lock;
    std::vector<std::pair<Text, CLSID>> working;
    Worker idle;
};

}  // namespace http_detail

namespace {

using http_detail::WorkerPool;

Text Trim(const Text& s) {
    size_t first = 0;
    size_t last = s.size();
    while (first < last && (s[first] == u' ' || s[first] == u'\t')) ++first;
    while (last > first && (s[last - 1] == u' ' || s[last - 1] == u'\t')) --last;
    return s.substr(first, last - first);
}

Text Lower(Text s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

Text TimedOutText(unsigned timeLimitMs) {
    return u"服务器在" + FromUtf8(std::to_string(timeLimitMs / 1000)) + u"秒内没有应答";
}

class Win32HttpRequest final : public IHttpRequest {
public:
    Win32HttpRequest(std::shared_ptr<WorkerPool> pool, const CLSID& clsid, unsigned timeLimitMs, Worker worker)
        : pool_(std::move(pool)), clsid_(clsid), timeLimitMs_(timeLimitMs), worker_(std::move(worker)) {}

    ~Win32HttpRequest() override {
        ForgetFetched();
        if (worker_) {
            ::VariantClear(worker_.Job().body.Get());
            pool_->Give(std::move(worker_));
        }
    }

    void Open(const Text& method, const Text& url) override {
        if (url != fetched_) ForgetFetched();
        method_ = method;
        url_ = url;
        headers_.clear();
        answered_ = false;
        status_ = 0;
        responseHeaders_.clear();
        // The worker is idle between requests: the last body is ours to free.
        if (worker_) ::VariantClear(worker_.Job().body.Get());
    }

    void SetRequestHeader(const Text& name, const Text& value) override {
        if (method_.empty()) throw QxError(err::kInvalidCall, u"请求尚未打开");
        headers_.emplace_back(name, value);
    }

    void Send() override {
        if (method_.empty()) throw QxError(err::kInvalidCall, u"请求尚未打开");
        answered_ = false;
        if (!worker_) worker_ = pool_->Take();
        Channel& job = worker_.Job();
        job.createOnly = false;
        job.clsid = clsid_;
        job.method = method_;
        job.url = url_;
        job.headers = headers_;
        // Even a GET that fails or runs out of time may have left something
        // in the cache.
        if (method_ != u"HEAD") fetched_ = url_;
        if (!worker_.Run(timeLimitMs_)) throw QxError(kTimedOut, TimedOutText(timeLimitMs_));
        if (job.failed) throw QxError(job.errorNumber == 0 ? err::kAutomation : job.errorNumber, job.errorText);
        status_ = job.status;
        responseHeaders_ = std::move(job.responseHeaders);
        answered_ = true;
    }

    int Status() override { return answered_ ? status_ : 0; }

    Text GetResponseHeader(const Text& name) override {
        if (!answered_) return Text();
        const Text wanted = Lower(name);
        Text value;
        bool found = false;
        size_t start = 0;
        while (start < responseHeaders_.size()) {
            size_t end = responseHeaders_.find(u"\r\n", start);
            if (end == Text::npos) end = responseHeaders_.size();
            const Text line = responseHeaders_.substr(start, end - start);
            const size_t colon = line.find(u':');
            if (colon != Text::npos && Lower(Trim(line.substr(0, colon))) == wanted) {
                // Repeated headers read as one list, as the component does.
                value += (found ? u", " : u"") + Trim(line.substr(colon + 1));
                found = true;
            }
            start = end + 2;
        }
        return value;
    }

    Bytes ResponseBody() override {
        if (!answered_ || !worker_) return Bytes();
        const VARIANT& v = worker_.Job().body.Ref();
        if (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr) return Bytes();
        LONG lower = 0;
        LONG upper = -1;
        ::SafeArrayGetLBound(v.parray, 1, &lower);
        ::SafeArrayGetUBound(v.parray, 1, &upper);
        if (upper < lower) return Bytes();
        SafeArrayData data(v.parray);
        if (!data.Valid()) throw QxError(static_cast<int32_t>(E_FAIL), u"无法读取应答内容");
        return Bytes(static_cast<const char*>(data.Data()), static_cast<size_t>(upper - lower + 1));
    }

private:
    void ForgetFetched() {
        if (fetched_.empty()) return;
        ForgetCachedCopy(fetched_);
        fetched_.clear();
    }

    std::shared_ptr<WorkerPool> pool_;
    CLSID clsid_;
    unsigned timeLimitMs_;
    Worker worker_;
    Text method_;
    Text url_;
    std::vector<std::pair<Text, Text>> headers_;
    bool answered_ = false;
    int status_ = 0;
    Text responseHeaders_;
    // A URL fetched with GET whose cache entry is still to be removed.
    Text fetched_;
};

}  // namespace

Win32HttpClient::Win32HttpClient(unsigned timeLimitMs)
    : timeLimitMs_(timeLimitMs), pool_(std::make_shared<WorkerPool>()) {}

Win32HttpClient::~Win32HttpClient() = default;

std::unique_ptr<IHttpRequest> Win32HttpClient::CreateObject(const Text& progId) {
    CLSID clsid;
    if (pool_->Known(progId, &clsid)) {
        // The worker is taken at the first Send: a request object that is
        // never sent costs nothing.
        return std::unique_ptr<IHttpRequest>(new Win32HttpRequest(pool_, clsid, timeLimitMs_, Worker()));
    }
    if (progId.empty()) return nullptr;
    // The object is created where it will be used, on a worker, and kept
    // there for the requests: nothing is built only to be thrown away.
    Worker worker;
    try {
        worker = pool_->Take();
    } catch (const QxError&) {
        return nullptr;
    }
    Channel& job = worker.Job();
    job.createOnly = true;
    job.progId = progId;
    if (!worker.Run(timeLimitMs_)) return nullptr;
    if (job.failed) {
        pool_->Give(std::move(worker));
        return nullptr;
    }
    clsid = job.clsid;
    pool_->Remember(progId, clsid);
    return std::unique_ptr<IHttpRequest>(new Win32HttpRequest(pool_, clsid, timeLimitMs_, std::move(worker)));
}

}  // namespace qx
