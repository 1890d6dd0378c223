// The interpreter of one script line.
#pragma once

#include <array>

#include "app/frmUpdate.h"

namespace qx {

// Every comma separates; exactly six fields, the missing ones empty.
std::array<Text, 6> CutFields(const Text& strLine);

// The overwrite flag of a copy line: only "0" and "false" in any letter
// case keep an existing target; anything else, empty text included,
// overwrites.
bool CopyOverwrites(const Text& field3);

// The commands of the script language, in the order a keyword is compared
// with them; kNone for a keyword that is none of them.
enum class Command {
    kVer, kDown, kCheckWritable, kCreate, kUpdate, kCopy, kDelete, kRegWrite, kRegDelete, kHostsAdd,
    kHostsRemove, kRegister, kExecute, kKeyPress, kWait, kWorkPath, kNotice, kMessage, kAlert, kMsgBox,
    kNone
};
constexpr size_t kCommandCount = static_cast<size_t>(Command::kNone);

// The keyword of each command in lower case, indexed by Command.
const std::array<const char16_t*, kCommandCount>& CommandKeywords();

// The command field 0 of a line names: compared after ASCII letters are
// folded to lower case, nothing trimmed.
Command LookUpCommand(const Text& field0);

// Runs one line after line 1. False only when a checkwritable line found its
// file in use: the session is to stop. Failures of actions that do not
// handle their own reach the caller.
bool ProcessLine(FrmUpdate& form, const Text& strLine);

}  // namespace qx
