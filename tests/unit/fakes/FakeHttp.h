// A scripted HTTP server: answers in order from `script`, then from
// `server`; each request is recorded.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/http.h"

namespace qx::fake {

struct HttpExchange {
    Text method;
    Text url;
    Text range;
    Text ifRange;
};

struct HttpResponse {
    int status = 200;
    Text contentLength;
    Text lastModified;
    Text contentRange;
    Bytes body;
    size_t breakAfter = SIZE_MAX;  // the connection drops after this many body bytes
};

class FakeHttp : public IHttpClient {
public:
    bool available = true;
    std::deque<HttpResponse> script;
    std::function<HttpResponse(const HttpExchange&)> server;
    std::function<void()> onSend;
    std::vector<HttpExchange> requests;

    bool Available() override { return available; }
    HttpAnswer Head(const Text& url, IHttpWaiter& waiter) override { return Answer(Send({u"HEAD", url}, waiter)); }
    HttpAnswer Get(const Text& url, int64_t first, int64_t last, const Text& ifRange, IHttpSink& sink,
                   IHttpWaiter& waiter) override {
        const Text range = FromUtf8("bytes=" + std::to_string(first) + "-" + std::to_string(last));
        const HttpResponse r = Send({u"GET", url, range, ifRange}, waiter);
        if (!sink.Start(Answer(r))) return Answer(r);
        const size_t n = std::min(r.body.size(), r.breakAfter);
        if (n > 0) sink.Data(r.body.substr(0, n));
        if (n < r.body.size()) throw QxError(-2147012866, u"与服务器的连接被重置");
        return Answer(r);
    }

private:
    HttpResponse Send(const HttpExchange& request, IHttpWaiter& waiter) {
        requests.push_back(request);
        if (onSend) onSend();
        if (!waiter.KeepWaiting()) throw QxError(err::kCancelled, u"下载已取消");
        HttpResponse r;
        if (!script.empty()) {
            r = script.front();
            script.pop_front();
        } else if (server) {
            r = server(request);
        } else {
            throw std::logic_error("HTTP request nobody scripted");
        }
        return r;
    }
    static HttpAnswer Answer(const HttpResponse& r) {
        return HttpAnswer{r.status, r.contentLength, r.lastModified, r.contentRange};
    }
};

// A file on a server that honours ranges and If-Range.
struct FileServer {
    Bytes content;
    Text lastModified = u"Tue, 15 Nov 1994 08:12:31 GMT";
    size_t maxSlice = SIZE_MAX;  // a server that answers ranges short

    HttpResponse operator()(const HttpExchange& request) const {
        HttpResponse r;
        r.lastModified = lastModified;
        if (request.method == u"HEAD") {
            r.contentLength = FromUtf8(std::to_string(content.size()));
            return r;
        }
        const std::string range = ToUtf8(request.range);
        if (!request.ifRange.empty() && request.ifRange != lastModified) {
            r.body = content;
            return r;
        }
        const size_t first = std::stoull(range.substr(6));
        const size_t last = std::min<size_t>(std::stoull(range.substr(range.find('-') + 1)), content.size() - 1);
        r.status = 206;
        r.body = first <= last ? content.substr(first, std::min(last - first + 1, maxSlice)) : Bytes();
        r.contentRange = FromUtf8("bytes " + std::to_string(first) + "-" + std::to_string(first + r.body.size() - 1) +
                                  "/" + std::to_string(content.size()));
        return r;
    }
};

}  // namespace qx::fake
