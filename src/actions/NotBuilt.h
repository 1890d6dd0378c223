// Commands that this build recognises but cannot carry out yet say so in the
// progress list, so a script never seems to succeed where it did nothing.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

inline void LogCommandNotAvailable(FrmUpdate& form, const Text& keyword) {
    form.Message(u"本版本暂不支持命令" + Text(1, u'"') + keyword + Text(1, u'"') + u"，已跳过。");
}

}  // namespace qx
