// Names the updater makes for itself: random tags for temporary files and
// window captions, and its own program name.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/process.h"

namespace qx {

// The window's title, also the title of every box the updater shows.
Text AppTitle();

// major.minor.revision without leading zeros: 1.1.1
Text GetVersion();

// intLen upper-case hexadecimal digits; empty for 0 or less.
Text GetRndString(IRandom& random, int16_t intLen);

// File name of the running program without its extension.
Text ProgramBaseName(IProcessService& process);

// The installed updater: strAppDir, the program's base name and ".exe".
Text InstalledProgramFile(IProcessService& process, const Text& strAppDir);

}  // namespace qx
