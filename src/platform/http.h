// The HTTP client the download engine talks through, in the engine's own
// terms: a HEAD that tells status, length and time stamp, and a ranged GET
// whose body streams into a sink as it arrives. Requests bypass every cache,
// ask for no compression and show no UI of their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// The header fields of one answer the engine reads. A header the server
// did not send is empty text.
struct HttpAnswer {
    int status = 0;
    Text contentLength;
    Text lastModified;
    Text contentRange;
};

// Where a GET's body goes. All calls come on the thread that called Get,
// before Get returns.
class IHttpSink : NonCopyable {
public:
    virtual ~IHttpSink() = default;
    // The answer's header, before any byte of its body. False: the body is
    // not wanted, and the request ends without reading it.
    virtual bool Start(const HttpAnswer& answer) = 0;
    // The next piece of the body; raising ends the request.
    virtual void Data(const Bytes& piece) = 0;
};

// What a request does while it waits for the network. Called on the
// calling thread about every 10 ms while a request runs.
class IHttpWaiter : NonCopyable {
public:
    virtual ~IHttpWaiter() = default;
    // Lets the window breathe. False: give the request up.
    virtual bool KeepWaiting() = 0;
};

class IHttpClient : NonCopyable {
public:
    virtual ~IHttpClient() = default;

    // Whether the client could be set up; asked again before each download
    // until it succeeds.
    virtual bool Available() = 0;

    // Both raise QxError on a transport failure, when the connection cannot
    // be made or no byte arrives within the idle limit, and when the waiter
    // gives up (kCancelled).
    virtual HttpAnswer Head(const Text& url, IHttpWaiter& waiter) = 0;
    // Asks for bytes first..last; ifRange, when not empty, is sent as
    // If-Range so that a changed file comes whole (200) instead of a slice.
    virtual HttpAnswer Get(const Text& url, int64_t first, int64_t last, const Text& ifRange, IHttpSink& sink,
                           IHttpWaiter& waiter) = 0;
};

namespace err {
// A request given up because its waiter said so.
constexpr int32_t kCancelled = 18;
}  // namespace err

}  // namespace qx
