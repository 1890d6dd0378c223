// The system's XMLHTTP component behind the request-object interface.
//
// The component is driven on a worker thread that owns its COM apartment and
// one object of the chosen class, reused request after request; the calling
// thread hands each request over and waits for it with a deadline, processing
// no window messages meanwhile. A synchronous request to a server that
// accepts the connection and never answers would otherwise hold the window
// for minutes; here the worker is abandoned when the time limit passes and
// Send raises. An abandoned worker frees its thread and object when its
// request ends by itself, or when the program exits; the next request gets a
// fresh worker.
//
// Workers outlive request objects: a request object that goes away hands its
// worker back to the client, and the next request object of the same class
// takes it, so checking many files costs one thread and one object, not one
// per file.
#pragma once

#include <memory>

#include "platform/http.h"

namespace qx {

namespace http_detail {
struct WorkerPool;
}

class Win32HttpClient final : public IHttpClient {
public:
    static constexpr unsigned kDefaultTimeLimitMs = 30000;

    // timeLimitMs: how long one request may take from send to the last byte.
    explicit Win32HttpClient(unsigned timeLimitMs = kDefaultTimeLimitMs);
    ~Win32HttpClient() override;

    // None when no class is registered under progId or it cannot be created.
    // A name whose object was created once is not tried again: its class is
    // known to work.
    std::unique_ptr<IHttpRequest> CreateObject(const Text& progId) override;

private:
    unsigned timeLimitMs_;
    // Shared with the request objects, which may outlive the client.
    std::shared_ptr<http_detail::WorkerPool> pool_;
};

}  // namespace qx
