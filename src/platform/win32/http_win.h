// The system's XMLHTTP component behind the request-object interface.
#pragma once

#include "platform/http.h"

namespace qx {

class Win32HttpClient final : public IHttpClient {
public:
    std::unique_ptr<IHttpRequest> CreateObject(const Text& progId) override;
};

}  // namespace qx
