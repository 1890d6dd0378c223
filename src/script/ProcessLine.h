// The interpreter of one script line.
#pragma once

#include <array>

#include "script/ScriptContext.h"

namespace qx {

// Every comma separates; exactly six fields, the missing ones empty.
std::array<Text, 6> CutFields(const Text& strLine);

// The overwrite flag of a copy line: only "0" and "false" in any letter
// case keep an existing target; anything else, empty text included,
// overwrites.
bool CopyOverwrites(const Text& field3);

// Runs one line after line 1 through the command table. False only when a
// checkwritable line found its file in use: the session is to stop.
// Failures of actions that do not handle their own reach the caller.
[[nodiscard]] bool ProcessLine(const ScriptContext& c, const Text& strLine);

}  // namespace qx
