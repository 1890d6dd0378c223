// A recording fake of the HTTP client. Every request is written down
// (method, URL and the Range and If-Range headers it carries) and answered
// from a script of responses, then from an optional server function; a
// request nobody scripted fails loudly. Bodies are handed to the sink in
// pieces, with the waiter asked before each, as the real client does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
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

using Headers = std::vector<std::pair<Text, Text>>;

// Value of the header under this name (any case), or empty.
inline Text HeaderIn(const Headers& headers, const Text& name) {
    for (const auto& h : headers) {
        if (AsciiLower(h.first) == AsciiLower(name)) return h.second;
    }
    return Text();
}

struct HttpExchange {
    Text method;
    Text url;
    Headers headers;
    Text Header(const Text& name) const { return HeaderIn(headers, name); }
};

struct HttpResponse {
    int status = 200;
    Headers headers;
    Bytes body;
    // When set, the request raises this instead of answering.
    bool transportError = false;
    int32_t errorNumber = -2146697211;
    // The connection breaks (raises) after this many body bytes.
    size_t breakAfter = SIZE_MAX;
    Text Header(const Text& name) const { return HeaderIn(headers, name); }
};

class FakeHttp : public IHttpClient {
public:
    bool available = true;
    size_t piece = 4096;  // body bytes per call of the sink

    std::deque<HttpResponse> script;  // answers in order
    std::function<HttpResponse(const HttpExchange&)> server;  // then this
    std::function<void(const HttpExchange&)> onSend;         // runs before each answer

    std::vector<HttpExchange> requests;

    bool Available() override { return available; }

    HttpAnswer Head(const Text& url, IHttpWaiter& waiter) override {
        return Answer(Send({u"HEAD", url, {}}, waiter));
    }

    HttpAnswer Get(const Text& url, int64_t first, int64_t last, const Text& ifRange, IHttpSink& sink,
                   IHttpWaiter& waiter) override {
        HttpExchange request{u"GET", url, {}};
        request.headers.emplace_back(
            u"Range", FromUtf8("bytes=" + std::to_string(first) + "-" + std::to_string(last)));
        if (!ifRange.empty()) request.headers.emplace_back(u"If-Range", ifRange);
        const HttpResponse response = Send(request, waiter);
        const HttpAnswer answer = Answer(response);
        if (!sink.Start(answer)) return answer;
        for (size_t at = 0; at < response.body.size(); at += piece) {
            if (!waiter.KeepWaiting()) throw QxError(err::kCancelled, u"下载已取消");
            if (at >= response.breakAfter) Break();
            const size_t n = std::min({piece, response.body.size() - at, response.breakAfter - at});
            sink.Data(response.body.substr(at, n));
            if (at + n >= response.breakAfter) Break();
        }
        return answer;
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
    [[noreturn]] static void Break() { throw QxError(-2147012866, u"与服务器的连接被重置"); }

    HttpResponse Send(const HttpExchange& request, IHttpWaiter& waiter) {
        requests.push_back(request);
        if (onSend) onSend(request);
        if (!waiter.KeepWaiting()) throw QxError(err::kCancelled, u"下载已取消");
        HttpResponse response;
        if (!script.empty()) {
            response = script.front();
            script.pop_front();
        } else if (server) {
            response = server(request);
        } else {
            throw std::logic_error("HTTP request nobody scripted");
        }
        if (response.transportError) throw QxError(response.errorNumber, u"系统找不到指定的资源。");
        return response;
    }

    static HttpAnswer Answer(const HttpResponse& r) {
        return HttpAnswer{r.status, r.Header(u"Content-Length"), r.Header(u"Last-Modified"),
                          r.Header(u"Content-Range")};
    }
};

// A static file as a server offers it: HEAD gives its length and time, GET
// with "Range: bytes=a-b" gives that slice as 206 with its Content-Range,
// unless If-Range names another time: then the whole file as 200. The knobs
// describe the faults of real servers.
struct FileServer {
    Bytes content;
    Text lastModified = u"Tue, 15 Nov 1994 08:12:31 GMT";
    bool honourRanges = true;
    size_t maxSlice = SIZE_MAX;  // a server that answers ranges short
    int headStatus = 200;

    HttpResponse operator()(const HttpExchange& request) const {
        HttpResponse r;
        if (!lastModified.empty()) r.headers.emplace_back(u"Last-Modified", lastModified);
        if (request.method == u"HEAD") {
            r.status = headStatus;
            r.headers.emplace_back(u"Content-Length", FromUtf8(std::to_string(content.size())));
            return r;
        }
        if (request.method != u"GET") throw std::logic_error("unexpected method");
        size_t first = 0;
        size_t last = content.empty() ? 0 : content.size() - 1;
        const std::string range = ToUtf8(request.Header(u"Range"));
        const Text ifRange = request.Header(u"If-Range");
        if (honourRanges && range.rfind("bytes=", 0) == 0 && (ifRange.empty() || ifRange == lastModified)) {
            const size_t dash = range.find('-');
            first = std::stoull(range.substr(6, dash - 6));
            last = std::min<size_t>(std::stoull(range.substr(dash + 1)), last);
            r.status = 206;
        }
        if (first < content.size() && first <= last) {
            r.body = content.substr(first, std::min(last - first + 1, maxSlice));
        }
        if (r.status == 206) {
            r.headers.emplace_back(u"Content-Range", FromUtf8("bytes " + std::to_string(first) + "-" +
                                                              std::to_string(first + r.body.size() - 1) + "/" +
                                                              std::to_string(content.size())));
        }
        return r;
    }
};

}  // namespace qx::fake
