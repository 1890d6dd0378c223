// Cutting URLs and paths into pieces, and percent-encoding a URL as UTF-8.
// Pure functions: no files, no window, no network.
#pragma once

#include <cstdint>

#include "platform/core_types.h"

namespace qx {

// The cutting functions search code unit by code unit, case-sensitively.
// A separator that does not occur gives empty text, never the whole input;
// a caller that wants the whole text in that case appends the separator
// first. Positions are 16-bit in this program: an occurrence that starts
// beyond code unit 32767 raises QxError(err::kOverflow).
// An empty separator is taken to occur at the start (StrLeft, StrRight) or
// just past the end (StrLeftBack, StrRightBack) of strMain.

// Text before the first occurrence of strSep.
Text StrLeft(const Text& strMain, const Text& strSep);
// Text before the last occurrence of strSep.
Text StrLeftBack(const Text& strMain, const Text& strSep);
// Text after the first occurrence of strSep.
Text StrRight(const Text& strMain, const Text& strSep);
// Text after the last occurrence of strSep.
Text StrRightBack(const Text& strMain, const Text& strSep);

// Percent-encodes every code unit except ASCII letters, ASCII digits and the
// characters listed in strIgnore. Each UTF-16 code unit is encoded on its
// own, so a surrogate pair becomes two three-byte groups; "%" itself is
// encoded, so an already encoded URL is encoded again.
Text EncodeURI(const Text& strInput, const Text& strIgnore = u"");

// One code value as its UTF-8 bytes packed into an integer, first byte in
// the most significant used position (U+4E2D -> 0xE4B8AD). Negative values
// and values of 2097152 and above give 63, the code of "?". Surrogate code
// units are encoded like any other value below 65536.
int32_t U2UTF(int32_t lngIn);

// The bytes of a packed value as "%XX" groups, uppercase, most significant
// first, without leading zero bytes (0 -> "%00", negative -> four groups).
Text Hex2(int32_t lngIn);

// Small helpers every part of the core shares.

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
