// A recording fake of the HTTP client. Every request is written down
// (object name, method, URL, headers) and answered from a script of
// responses, then from an optional server function; a request nobody
// scripted fails loudly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"

namespace qx::fake {

inline Text AsciiLower(Text s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

struct HttpExchange {
    Text objectName;  // the name the request object was created under
    Text method;
    Text url;
    std::vector<std::pair<Text, Text>> headers;  // in the order they were set

    // Value of the last header set under this name (any case), or empty.
    Text Header(const Text& name) const {
        Text value;
        for (const auto& h : headers) {
            if (AsciiLower(h.first) == AsciiLower(name)) value = h.second;
        }
        return value;
    }
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<Text, Text>> headers;
    Bytes body;
    // When set, Send raises this instead of answering.
    bool transportError = false;
};

class FakeHttp : public IHttpClient {
public:
    // Names that give an object; every other name gives none.
    std::vector<Text> creatable{u"Msxml2.XMLHTTP.6.0"};
    // Names that raise instead of returning none.
    std::vector<Text> raising;
    std::vector<Text> attempts;  // every name asked for, in order

    std::deque<HttpResponse> script;  // answers in order
    std::function<HttpResponse(const HttpExchange&)> server;  // then this
    std::function<void(const HttpExchange&)> onSend;         // runs before each answer

    std::vector<HttpExchange> requests;  // one per Open

    std::unique_ptr<IHttpRequest> CreateObject(const Text& name) override {
        attempts.push_back(name);
        for (const Text& r : raising) {
            if (r == name) throw std::runtime_error("class not registered");
        }
        for (const Text& c : creatable) {
            if (c == name) return std::unique_ptr<IHttpRequest>(new Request(*this, name));
        }
        return nullptr;
    }

    std::vector<Text> Methods() const {
        std::vector<Text> out;
        for (const auto& r : requests) out.push_back(r.method);
        return out;
    }
    std::vector<Text> Ranges() const {
        std::vector<Text> out;
        for (const auto& r : requests) {
            if (r.method == u"GET") out.push_back(r.Header(u"Range"));
        }
        return out;
    }

private:
    class Request : public IHttpRequest {
    public:
        Request(FakeHttp& owner, Text name) : owner_(owner), name_(std::move(name)) {}

        void Open(const Text& method, const Text& url) override {
            owner_.requests.push_back(HttpExchange{name_, method, url, {}});
            current_ = owner_.requests.size();
            answered_ = false;
        }
        void SetRequestHeader(const Text& name, const Text& value) override {
            Current().headers.emplace_back(name, value);
        }
        void Send() override {
            const HttpExchange request = Current();
            if (owner_.onSend) owner_.onSend(request);
            if (!owner_.script.empty()) {
                response_ = owner_.script.front();
                owner_.script.pop_front();
            } else if (owner_.server) {
                response_ = owner_.server(request);
            } else {
                throw std::logic_error("HTTP request nobody scripted");
            }
            if (response_.transportError) {
                throw QxError(-2146697211, u"系统找不到指定的资源。");
            }
            answered_ = true;
        }
        int Status() override { return Answer().status; }
        Text GetResponseHeader(const Text& name) override {
            for (const auto& h : Answer().headers) {
                if (AsciiLower(h.first) == AsciiLower(name)) return h.second;
            }
            return Text();
        }
        Bytes ResponseBody() override { return Answer().body; }

    private:
        HttpExchange& Current() {
            if (current_ == 0) throw std::logic_error("request used before Open");
            return owner_.requests[current_ - 1];
        }
        const HttpResponse& Answer() {
            if (!answered_) throw std::logic_error("response read before a successful Send");
            return response_;
        }

        FakeHttp& owner_;
        Text name_;
        size_t current_ = 0;
        bool answered_ = false;
        HttpResponse response_;
    };
};

// A static file as a server offers it: HEAD gives its length and time, GET
// with "Range: bytes=a-b" gives that slice as 206. The knobs describe the
// faults of real servers.
struct FileServer {
    Bytes content;
    Text lastModified = u"Tue, 15 Nov 1994 08:12:31 GMT";
    bool honourRanges = true;
    size_t maxSlice = SIZE_MAX;  // a server that answers ranges short
    int headStatus = 200;

    HttpResponse operator()(const HttpExchange& request) const {
        HttpResponse r;
        if (request.method == u"HEAD") {
            r.status = headStatus;
            r.headers.emplace_back(u"Content-Length", FromUtf8(std::to_string(content.size())));
            if (!lastModified.empty()) r.headers.emplace_back(u"Last-Modified", lastModified);
            return r;
        }
        if (request.method != u"GET") throw std::logic_error("unexpected method");
        size_t first = 0;
        size_t last = content.empty() ? 0 : content.size() - 1;
        const std::string range = ToUtf8(request.Header(u"Range"));
        if (honourRanges && range.rfind("bytes=", 0) == 0) {
            const size_t dash = range.find('-');
            first = std::stoull(range.substr(6, dash - 6));
            last = std::min<size_t>(std::stoull(range.substr(dash + 1)), last);
            r.status = 206;
        }
        if (first < content.size() && first <= last) {
            r.body = content.substr(first, std::min(last - first + 1, maxSlice));
        }
        return r;
    }
};

}  // namespace qx::fake
