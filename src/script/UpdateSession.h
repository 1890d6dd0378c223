// The update session: what pressing the start button does.
#pragma once

#include "script/ScriptContext.h"

namespace qx {

// Fetches update.inf, compares its stamp with the stored one and runs its
// lines until the end, a checkwritable that finds its file in use, or
// blnQuit. Every failure ends in one line of the log; nothing escapes.
void RunUpdateSession(const ScriptContext& c);

}  // namespace qx
