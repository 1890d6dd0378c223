#include "platform/PendingError.h"
#include "platform/progress.h"

#include <exception>
#include <new>

namespace qx {

void PendingError::TakeCurrentException() {
    try {
        throw;
    } catch (const QxError& e) {
        number = e.Number();
        description = e.Description();
    } catch (const std::bad_alloc&) {
        number = 7;
        description = u"内存不足";
    } catch (const std::exception& e) {
        number = err::kInvalidCall;
        description = FromUtf8(e.what());
    } catch (...) {
        number = err::kInvalidCall;
        description = u"未知错误";
    }
}

void LogFailure(IProgressLog& log, const Text& strSub) {
    log.Pending().TakeCurrentException();
    log.ErrLog(strSub);
}

}  // namespace qx
