// Checking one command line of an update script against the command table:
// everything the updater will read differently from what its author most
// likely meant.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/core_types.h"
#include "script/CommandTable.h"

namespace qx::check {

struct Finding {
    int line = 0;      // 1-based, lines as an editor numbers them
    int column = 0;    // 1-based, in characters of that line
    std::string code;  // short and stable: tools match on it
    Text message;      // English; script text quoted as it stands

    friend bool operator==(const Finding& a, const Finding& b) {
        return a.line == b.line && a.column == b.column && a.code == b.code;
    }
};

// True when the server folder holds a file at serverPath, a path below the
// server root such as "/qxupdate/setup.exe".
using ServerLookup = std::function<bool(const Text& serverPath)>;
// The SHA-256 of the server's file at serverPath, which exists.
using ServerDigest = std::function<Bytes(const Text& serverPath)>;

// What a line is held to beyond the command table.
struct LineRules {
    ServerLookup serverFileExists;  // empty: the server is not checked
    ServerDigest serverDigest;      // empty: pins are not compared with the files
    // For an updater that carries a key, which downloads nothing unpinned.
    bool pinsRequired = false;
};

// The longest wait, in seconds, taken for intended; longer ones are
// usually milliseconds written where seconds are read.
constexpr double kLongestSensibleWait = 3600.0;

// Adds the findings of line lineNo (after line 1) to out and returns the
// command the line runs, null when it runs none.
const CommandSpec* CheckLine(int lineNo, const Text& line, const LineRules& rules,
                             std::vector<Finding>& out);

// The command a mistyped keyword most likely meant, or empty text.
Text SuggestKeyword(const Text& keyword);

// Script text in a message: quoted, and cut short when long.
Text Shown(const Text& text);

// The 1-based column of a code unit offset: a surrogate pair is one character.
int ColumnOf(const Text& line, size_t offset);

}  // namespace qx::check
