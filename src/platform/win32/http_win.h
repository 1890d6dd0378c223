// The HTTP client on WinINet, used directly: one session with the system's
// proxy settings, one long-lived connection handle per server so that
// connections are kept alive, requests that bypass the local cache, write
// nothing to it, show no UI and ask for no compression.
//
// The blocking WinINet calls run on one worker thread that lives as long as
// the client; the calling thread waits for each step of a request in short
// slices and hands control to the caller's waiter between them, so the
// window stays responsive. Body bytes are read in 64 KiB calls into two
// buffers of up to four calls each, one being filled while the caller
// writes the other; on a slow link each piece is what has arrived.
//
// A request fails when nothing arrives within the idle limit, the making of
// the connection included: WinINet's own connect, send and receive limits
// are set on every handle (under Wine 8 they hold only when set on the
// request itself), and the calling thread gives the request up a little
// later should they not. It also ends when the waiter gives up. Either way
// its request handle is closed, which ends a blocking call.
#pragma once

#include <memory>

#include "platform/http.h"

namespace qx {

class Win32HttpClient final : public IHttpClient {
public:
    static constexpr unsigned kDefaultIdleLimitMs = 30000;

    explicit Win32HttpClient(unsigned idleLimitMs = kDefaultIdleLimitMs);
    ~Win32HttpClient() override;

    bool Available() override;
    HttpAnswer Head(const Text& url, IHttpWaiter& waiter) override;
    HttpAnswer Get(const Text& url, int64_t first, int64_t last, const Text& ifRange, IHttpSink& sink,
                   IHttpWaiter& waiter) override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace qx
