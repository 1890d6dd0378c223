// The HTTP request object: synchronous HEAD and GET requests, the members
// the download engine relies on and nothing more.
#pragma once

#include <memory>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

class IHttpRequest : NonCopyable {
public:
    virtual ~IHttpRequest() = default;
    virtual void Open(const Text& method, const Text& url) = 0;
    virtual void SetRequestHeader(const Text& name, const Text& value) = 0;
    // Blocks until the whole response has arrived; raises on a transport
    // error or when the time limit passes without a byte.
    virtual void Send() = 0;
    virtual int Status() = 0;
    // Empty text when the header is absent.
    virtual Text GetResponseHeader(const Text& name) = 0;
    virtual Bytes ResponseBody() = 0;
};

class IHttpClient : NonCopyable {
public:
    virtual ~IHttpClient() = default;
    // The request object registered under this exact name, or none.
    virtual std::unique_ptr<IHttpRequest> CreateObject(const Text& progId) = 0;
};

}  // namespace qx
