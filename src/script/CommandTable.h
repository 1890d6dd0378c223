// The commands of the script language in one table: the keyword, the fields
// each command reads with what they hold, and what the command does. The
// interpreter runs lines through it and the script checker judges lines by
// it, so the two cannot disagree about what a line says.
#pragma once

#include <array>
#include <vector>

#include "platform/core_types.h"

namespace qx {

struct ScriptContext;

// What a field of a command holds, for the checks that fit it.
enum class FieldKind {
    kServerFile,    // a file reference fetched from the update server
    kLocalPath,     // a path on the user's machine
    kPattern,       // a local path where "*" and "?" would be taken literally
    kCommandLine,   // a program and its arguments
    kVersion,       // a dotted version number
    kRegKey,        // a full registry path
    kRegKeyDelete,  // a full registry path that must name a key and an entry
    kRegValue,      // "hex:", "dword:" or a string
    kHost,          // a host name or an address
    kKeys,          // a key sequence
    kKeyWait,       // the wait flag of keypress
    kSeconds,       // the seconds of wait
    kWinStyle,      // the window style of execute
    kMsgStyle,      // the style of msgbox
    kCopyFlag,      // the overwrite flag of copy
    kText,          // shown to the user
    kPin,           // "sha256=" and the digest the downloaded file must have
};

struct FieldSpec {
    FieldKind kind;
    bool required;
    const char16_t* what;  // what a missing required field should have held
};

// The six fields of a line, as CutFields gives them.
using LineFields = std::array<Text, 6>;

struct CommandSpec {
    const char16_t* keyword;        // lower case
    std::vector<FieldSpec> fields;  // fields 1, 2, 3 in order; their count is what the command reads
    // Runs the line; false only when the session is to stop.
    bool (*action)(const ScriptContext& c, const LineFields& f);
    // A newer updater found by this line takes over: the lines after it do
    // not run.
    bool handsOver = false;
};

// Every command, in the order a keyword is compared with them.
const std::vector<CommandSpec>& Commands();

// The command field 0 of a line names: compared after ASCII letters are
// folded to lower case, nothing trimmed. Null for a keyword that is none.
const CommandSpec* LookUpCommand(const Text& field0);

}  // namespace qx
