// Reading a number out of script text. Script authors are forgiving about
// numbers: blanks anywhere, trailing words ignored, "&H" for hexadecimal and
// "&O" for octal, and 0 when there is no number.
#pragma once

#include <cstdint>

#include "platform/core_types.h"

namespace qx {

struct NumericReading {
    // The number as every caller sees it. A hexadecimal or octal value whose
    // digits fit 16 bits is read as a signed 16-bit number, one that needs
    // up to 32 bits as a signed 32-bit number: "&hFFFF" is -1.
    double value = 0;
    // 16 or 8 when the text began with "&H" or "&O", 10 otherwise.
    int radix = 10;
    // For radix 16 and 8: the digits as an unsigned 32-bit pattern, before
    // the signed reading ("&hFFFF" is 0x0000FFFF). 0 for radix 10.
    uint32_t bits = 0;
};

// Blanks, tabs and line feeds are dropped wherever they stand; then the
// longest leading decimal number (sign, digits, "." and digits, exponent
// E or e with its own sign and at least one digit) is read, with "." as the
// decimal point whatever the locale. A decimal value beyond the range of a
// double, and a hexadecimal or octal value that needs more than 32 bits,
// raise QxError(err::kOverflow).
NumericReading ReadNumber(const Text& field);

// ReadNumber(field).value.
double NumericValue(const Text& field);

// Rounds to the nearest integer, halves to the even neighbour; a result
// outside the signed 32-bit range (or NaN) raises QxError(err::kOverflow).
int32_t RoundToLong(double value);

// The conversion every caller of Wait goes through: a value outside the
// single-precision range raises an overflow rather than waiting for ever.
float ToSingle(double value);

}  // namespace qx
