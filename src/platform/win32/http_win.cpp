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

// The component answers through the system's URL cache. A copy left there
// could be handed to a later request instead of the server's current file,
// so every URL fetched is removed from that cache before and after use.
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

// A late-bound call on an IDispatch. args are given in their natural order.
void Invoke(IDispatch* object, const wchar_t* name, WORD kind, std::vector<Variant>& args,
            VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) throw CallFailure{hr, HresultText(hr)};

    // IDispatch takes the arguments last to first.
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->Ref());
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());

    EXCEPINFO info{};
    UINT argError = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &info, &argError);
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

void CallMethod(IDispatch* object, const wchar_t* name, std::vector<Variant> args, VARIANT* result = nullptr) {
    Invoke(object, name, DISPATCH_METHOD, args, result);
}

void GetProperty(IDispatch* object, const wchar_t* name, VARIANT* result) {
    std::vector<Variant> none;
    Invoke(object, name, DISPATCH_PROPERTYGET, none, result);
}

// One request and its answer, shared by the calling thread and the worker.
// Whichever of the two lets go last frees it, so a worker abandoned after a
// time-out still has its job to write to.
struct Job {
    LONG references = 2;
    CLSID clsid{};
    Text method;
    Text url;
    std::vector<std::pair<Text, Text>> headers;

    bool failed = false;
    int32_t errorNumber = 0;
    Text errorText;
    int status = 0;
    Text responseHeaders;
    Bytes body;

    void Release() {
        if (::InterlockedDecrement(&references) == 0) delete this;
    }
};

void Perform(Job& job, IDispatch* object) {
    std::vector<Variant> openArgs;
    openArgs.push_back(Variant::FromText(job.method));
    openArgs.push_back(Variant::FromText(job.url));
    openArgs.push_back(Variant::FromBool(false));  // synchronous
    CallMethod(object, L"open", std::move(openArgs));
    for (const auto& h : job.headers) {
        std::vector<Variant> headerArgs;
        headerArgs.push_back(Variant::FromText(h.first));
        headerArgs.push_back(Variant::FromText(h.second));
        CallMethod(object, L"setRequestHeader", std::move(headerArgs));
    }
    std::vector<Variant> sendArgs;
    sendArgs.emplace_back();  // no body
    CallMethod(object, L"send", std::move(sendArgs));

    Variant status;
    GetProperty(object, L"status", status.Get());
    if (FAILED(::VariantChangeType(status.Get(), status.Get(), 0, VT_I4))) {
        throw CallFailure{E_UNEXPECTED, u"无法读取HTTP状态"};
    }
    job.status = static_cast<int>(status.Get()->lVal);

    Variant headers;
    CallMethod(object, L"getAllResponseHeaders", {}, headers.Get());
    if (headers.Get()->vt == VT_BSTR && headers.Get()->bstrVal != nullptr) {
        job.responseHeaders.assign(reinterpret_cast<const char16_t*>(headers.Get()->bstrVal),
                                   ::SysStringLen(headers.Get()->bstrVal));
    }

    if (job.method == u"HEAD") return;  // no body to read
    Variant body;
    GetProperty(object, L"responseBody", body.Get());
    const VARIANT& v = body.Ref();
    if (v.vt == VT_EMPTY || v.vt == VT_NULL) return;
    if (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr) {
        throw CallFailure{DISP_E_TYPEMISMATCH, u"应答内容不是字节数组"};
    }
    LONG lower = 0;
    LONG upper = -1;
    ::SafeArrayGetLBound(v.parray, 1, &lower);
    ::SafeArrayGetUBound(v.parray, 1, &upper);
    if (upper < lower) return;
    SafeArrayData data(v.parray);
    if (!data.Valid()) throw CallFailure{E_FAIL, u"无法读取应答内容"};
    job.body.assign(static_cast<const char*>(data.Data()), static_cast<size_t>(upper - lower + 1));
}

unsigned __stdcall Worker(void* parameter) {
    Job& job = *static_cast<Job*>(parameter);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<IDispatch> object;
        try {
            const HRESULT hr = ::CoCreateInstance(job.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                                  object.ReceiveVoid());
            if (FAILED(hr)) throw CallFailure{hr, HresultText(hr)};
            ForgetCachedCopy(job.url);
            Perform(job, object.Get());
        } catch (const CallFailure& f) {
            job.failed = true;
            job.errorNumber = static_cast<int32_t>(f.hr);
            job.errorText = f.description;
        } catch (...) {
            job.failed = true;
            job.errorNumber = static_cast<int32_t>(E_OUTOFMEMORY);
            job.errorText = u"内存不足";
        }
        ForgetCachedCopy(job.url);
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    job.Release();
    return 0;
}

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

class Win32HttpRequest final : public IHttpRequest {
public:
    Win32HttpRequest(const CLSID& clsid, unsigned timeLimitMs) : clsid_(clsid), timeLimitMs_(timeLimitMs) {}

    void Open(const Text& method, const Text& url) override {
        method_ = method;
        url_ = url;
        headers_.clear();
        answered_ = false;
        status_ = 0;
        responseHeaders_.clear();
        body_.clear();
    }

    void SetRequestHeader(const Text& name, const Text& value) override {
        if (method_.empty()) throw QxError(err::kInvalidCall, u"请求尚未打开");
        headers_.emplace_back(name, value);
    }

    void Send() override {
        if (method_.empty()) throw QxError(err::kInvalidCall, u"请求尚未打开");
        Job* job = new Job;
        job->clsid = clsid_;
        job->method = method_;
        job->url = url_;
        job->headers = headers_;
        UniqueHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, Worker, job, 0, nullptr)));
        if (!thread) {
            delete job;
            throw QxError(err::kAutomation, u"无法启动HTTP请求");
        }
        // No message processing while waiting: a download blocks the window.
        const DWORD waited = ::WaitForSingleObject(thread.Get(), timeLimitMs_);
        if (waited != WAIT_OBJECT_0) {
            job->Release();  // the worker frees it whenever it ends
            throw QxError(kTimedOut, u"服务器在" + FromUtf8(std::to_string(timeLimitMs_ / 1000)) +
                                         u"秒内没有应答");
        }
        const bool failed = job->failed;
        const int32_t number = job->errorNumber;
        const Text text = job->errorText;
        status_ = job->status;
        responseHeaders_ = std::move(job->responseHeaders);
        body_ = std::move(job->body);
        job->Release();
        if (failed) throw QxError(number == 0 ? err::kAutomation : number, text);
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

    Bytes ResponseBody() override { return answered_ ? body_ : Bytes(); }

private:
    CLSID clsid_;
    unsigned timeLimitMs_;
    Text method_;
    Text url_;
    std::vector<std::pair<Text, Text>> headers_;
    bool answered_ = false;
    int status_ = 0;
    Text responseHeaders_;
    Bytes body_;
};

}  // namespace

std::unique_ptr<IHttpRequest> Win32HttpClient::CreateObject(const Text& progId) {
    CLSID clsid;
    if (FAILED(::CLSIDFromProgID(reinterpret_cast<const wchar_t*>(progId.c_str()), &clsid))) return nullptr;
    // Created once here only to learn that the class really works on this
    // machine; each request makes its own object on its own thread.
    ComPtr<IDispatch> probe;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, probe.ReceiveVoid()))) {
        return nullptr;
    }
    return std::unique_ptr<IHttpRequest>(new Win32HttpRequest(clsid, timeLimitMs_));
}

}  // namespace qx
