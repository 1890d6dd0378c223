// How update.inf is cut into lines.
#pragma once

#include <vector>

#include "platform/core_types.h"

namespace qx {

// A carriage return, or a carriage return and line feed together, end a
// line; a line feed alone does not (a script saved with LF line ends reads
// as one line). A break at the very end adds no empty line.
std::vector<Text> SplitScriptLines(const Text& content);

}  // namespace qx
