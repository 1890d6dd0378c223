// The folders update scripts may name, worked out once at start-up, and the
// path macros that stand for them in script lines.
#pragma once

#include <array>

#include "download/SharedFields.h"
#include "platform/platform.h"

namespace qx {

// Fills strWinDir, strSysDir, strAppDir, strHostsFile, strDesktopDir,
// strStartMenuDir and strServerURL. Expects strWorkDir and strTempDir to
// have their start-up values already. Raises what the platform raises.
void InitPaths(const Platform& p, SharedFields& fields);

// The server URL for an address from the program file: "http://" in front,
// unless the address already begins with "http://" or "https://".
Text ServerURLFromAddress(const Text& address);

// A folder a script line may name by macro: "$" + name + "\".
struct PathMacro {
    const char16_t* name;
    Text SharedFields::*folder;
};

// The macros in the order they are expanded.
const std::array<PathMacro, 6>& PathMacros();

// strLine with every "$StartMenu\", "$Desktop\", "$WorkDir\", "$TempDir\",
// "$SysDir\" and "$WinDir\" replaced by the current folder, in that order
// and case-sensitively. A folder value holding a later macro is expanded by
// the later step; an earlier one is left alone.
Text ReplaceCommonPath(const SharedFields& fields, const Text& strLine);

}  // namespace qx
