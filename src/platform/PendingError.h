// The most recent failure of the calling code: what a failure handler hands
// to ErrLog. Number 0 means none.
#pragma once

#include "platform/core_types.h"

namespace qx {

struct PendingError {
    int32_t number = 0;
    Text description;

    void Clear() {
        number = 0;
        description.clear();
    }
    // Makes the exception being handled the pending error. Call only inside
    // a catch block; anything that is not a QxError gets a number of its own
    // so it is never mistaken for "no error".
    void TakeCurrentException();
};

}  // namespace qx
