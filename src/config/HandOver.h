// Taking over from another copy of the updater. A copy cannot rewrite its
// own program file while it runs from it, so copies pass the work on: each
// one writes a random tag into its caption, leaves instructions in the
// per-user settings and starts the next copy with the tag on its command
// line; the next copy finds the window by that caption and closes it.
#pragma once

#include "platform/platform.h"
#include "platform/progress.h"

namespace qx {

// Where every copy, whatever its file name, finds the hand-over settings.
constexpr const char16_t* kHandOverApp = u"QXUpdate";
constexpr const char16_t* kHandOverSection = u"Update";
// Full path of the installed program file; present only for a temporary copy.
constexpr const char16_t* kOldExePathKey = u"OldExePath";
// A new server address for the installed file's trailer.
constexpr const char16_t* kServerIPKey = u"ServerIP";
// A setup path left by another program for the installed file's trailer.
constexpr const char16_t* kSetupPathKey = u"SetupPath";
// The temporary copy's program file, for the restarted copy to remove.
constexpr const char16_t* kToDeleteKey = u"ToDelete";

// Length of a hand-over tag.
constexpr int16_t kHandOverTagLength = 32;

// The command line that starts program with a hand-over tag. The path is
// quoted: the installed folder is often under "Program Files", and an
// unquoted path would be cut at its first blank when the started copy
// reads its command line.
Text HandOverCommandLine(const Text& program, const Text& tag);

// The step of a copy started with a hand-over tag. With "OldExePath" set it
// is the temporary copy: it closes the copy captioned strTag, then rewrites
// the installed program file's trailer or puts its own program file in its
// place, and restarts the installed file with a fresh tag. Without it, it is
// the restarted copy: it closes the temporary copy and deletes its file.
// Handles every failure itself.
void UpdateThisApp(const Platform& p, IProgressLog& log, const Text& strAppDir, const Text& strTag);

// Takes "ToDelete" and deletes that file, retrying for a moment while its
// process ends; quiet about failures. Every start does it, so a temporary
// copy closed by the user after it had done its work is removed too.
void DeleteLeftOverCopy(const Platform& p);

}  // namespace qx
