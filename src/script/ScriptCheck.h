// Checking a whole update script for the people who write one: how the file
// is saved and decoded, its stamp, its line ends and the order of its lines;
// each command line goes to the line checker. The script is read with the
// interpreter's own line splitting, stamp reading and command table.
#pragma once

#include <functional>
#include <vector>

#include "platform/core_types.h"
#include "script/LineCheck.h"

namespace qx::check {

// Decodes bytes that must be whole, valid characters of the code page:
// false when any byte is not valid there or the last character is cut
// short. Never substitutes a default character.
using StrictDecoder = std::function<bool(const Bytes& bytes, Text& text)>;

struct Options {
    unsigned codePage = 936;  // named in messages
    bool hasPrevious = false;
    DateTime previous;  // the stamp the script must be later than
    LineRules lines;
};

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

}  // namespace qx::check
