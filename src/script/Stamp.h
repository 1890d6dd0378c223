// Script and stored stamps: the date on line 1 of update.inf and the value
// kept in the settings store.
#pragma once

#include "platform/core_types.h"

namespace qx {

// Reads yyyy-mm-dd or yyyy/mm/dd (month and day of one or two digits),
// optionally followed by blanks and a time h:mm or h:mm:ss, with blanks
// around the whole ignored. Older copies stored the stamp in the locale's
// short form (2006-5-18, 2006/5/18 10:00:00), so both are accepted.
// False for anything else, an impossible date included.
bool ParseStamp(const Text& text, DateTime& out);

// yyyy-mm-dd, plus a blank and hh:mm:ss when the time is not midnight.
Text FormatStamp(const DateTime& stamp);

}  // namespace qx
