// Small text helpers every part of the core shares. Portable: no platform,
// no window, no state.
#pragma once

#include "platform/core_types.h"

namespace qx {

// A space or a tab: what scripts and headers count as blank.
bool IsBlank(char16_t c);

// The text without blanks at either end.
Text Trim(const Text& s);

// ASCII letters folded to lower case; every other character kept as it is,
// which is all the comparison of keywords and prefixes needs.
Text LowerAscii(Text s);

// A whole number in decimal digits, "-" in front when negative.
Text Decimal(long long n);

// The text between two double quotes, as progress lines show names.
Text Quoted(const Text& text);

}  // namespace qx
