// A new update-server address, chosen from the window's system menu.
#pragma once

#include "platform/platform.h"
#include "platform/progress.h"

namespace qx {

// The address lives in the program file, which cannot be rewritten while it
// runs, so this starts a hand-over: a copy of the installed file named with
// "Temp.exe" after the base name is started with a tag and rewrites the
// installed file once this copy has closed. Sets blnQuit when the copy was
// started; logs its own failure and leaves what was done in place.
void DoSetUpdateIP(const Platform& p, IProgressLog& log, const Text& strAppDir, bool& blnQuit, const Text& strIP);

}  // namespace qx
