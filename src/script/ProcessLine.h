// The interpreter of one script line.
#pragma once

#include <array>

#include "app/frmUpdate.h"

namespace qx {

// Every comma separates; exactly six fields, the missing ones empty.
std::array<Text, 6> CutFields(const Text& strLine);

// Runs one line after line 1. False only when a checkwritable line found its
// file in use: the session is to stop. Failures of actions that do not
// handle their own reach the caller.
bool ProcessLine(FrmUpdate& form, const Text& strLine);

}  // namespace qx
