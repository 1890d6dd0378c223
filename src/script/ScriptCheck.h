// Checking an update script for the people who write one: everything the
// updater will read differently from what its author most likely meant.
// The script is read with the interpreter's own line splitting, field
// cutting, keyword table, stamp and number reading, so the checker and the
// updater cannot disagree about what a line says.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/core_types.h"

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

// Decodes bytes that must be whole, valid characters of the code page:
// false when any byte is not valid there or the last character is cut
// short. Never substitutes a default character.
using StrictDecoder = std::function<bool(const Bytes& bytes, Text& text)>;

// True when the server folder holds a file at serverPath, a path below the
// server root such as "/qxupdate/setup.exe".
using ServerLookup = std::function<bool(const Text& serverPath)>;

struct Options {
    unsigned codePage = 936;  // named in messages
    bool hasPrevious = false;
    DateTime previous;  // the stamp the script must be later than
    ServerLookup serverFileExists;  // empty: the server is not checked
};

// The longest wait, in seconds, taken for intended; longer ones are
// usually milliseconds written where seconds are read.
constexpr double kLongestSensibleWait = 3600.0;

// The whole file as read from disk.
std::vector<Finding> CheckScriptBytes(const Bytes& raw, const StrictDecoder& decode, const Options& options);

// A file already decoded; invalid[i] marks a character that stands for
// bytes the code page does not have (invalid may be empty: none).
std::vector<Finding> CheckScriptText(const Text& content, const std::vector<bool>& invalid,
                                     const Options& options);

// The text in the code page, invalid bytes each replaced by U+FFFD and
// marked in invalid. Tries the whole file first and falls back to reading
// one character at a time only where that fails.
Text DecodeScript(const Bytes& raw, const StrictDecoder& decode, std::vector<bool>& invalid);

// The path below the server root that a down, create, update or ver line
// fetches for its file reference, as the download commands form it; empty
// for an absolute URL, which is not on this server.
Text ServerPathOf(const Text& reference);

// The folders a line may name by macro: "$" + name + "\", expanded
// case-sensitively by the interpreter before the line is cut.
const std::array<const char16_t*, 6>& MacroNames();

// The command a mistyped keyword most likely meant, or empty text.
Text SuggestKeyword(const Text& keyword);

// "update.inf:3:1: unknown-keyword: ..." for people.
Text FormatFinding(const Text& fileName, const Finding& finding);

// A JSON string literal, quotes included.
Text JsonString(const Text& text);

}  // namespace qx::check
