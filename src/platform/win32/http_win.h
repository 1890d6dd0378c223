// The system's XMLHTTP component behind the request-object interface.
//
// Every request runs on a worker thread of its own, with its own COM
// apartment and its own object of the same class, while the calling thread
// waits for it with a deadline. A synchronous request to a server that
// accepts the connection and never answers would otherwise hold the window
// for minutes; here it is abandoned when the time limit passes and Send
// raises. An abandoned worker keeps its thread and object until its request
// ends by itself or the program exits.
#pragma once

#include "platform/http.h"

namespace qx {

class Win32HttpClient final : public IHttpClient {
public:
    static constexpr unsigned kDefaultTimeLimitMs = 30000;

    // timeLimitMs: how long one request may take from send to the last byte.
    explicit Win32HttpClient(unsigned timeLimitMs = kDefaultTimeLimitMs) : timeLimitMs_(timeLimitMs) {}

    // None when no class is registered under progId or it cannot be created.
    std::unique_ptr<IHttpRequest> CreateObject(const Text& progId) override;

private:
    unsigned timeLimitMs_;
};

}  // namespace qx
