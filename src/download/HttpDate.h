// Reading the date of an HTTP header such as Last-Modified. Pure: no clock,
// no locale, no time-zone conversion.
#pragma once

#include "platform/core_types.h"

namespace qx {

// Reads the three forms a server may send and gives the instant as UTC
// calendar fields:
//   Tue, 15 Nov 1994 08:12:31 GMT      (the preferred form)
//   Tuesday, 15-Nov-94 08:12:31 GMT    (the obsolete form with a two-digit year)
//   Tue Nov 15 08:12:31 1994           (the C library's asctime form)
// Day and month names are matched without regard to case; the day name is
// not checked against the date. Blanks around the text are ignored. Returns
// false, leaving out alone, for anything else, including impossible dates.
bool ParseHttpDate(const Text& text, DateTime& out);

}  // namespace qx
