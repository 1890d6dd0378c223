#include "platform/win32/http_win.h"

namespace qx {

// Downloads are not part of this build yet: no request object can be made,
// which callers already treat as "no HTTP component on this machine".
std::unique_ptr<IHttpRequest> Win32HttpClient::CreateObject(const Text&) { return nullptr; }

}  // namespace qx
