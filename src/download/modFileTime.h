// Reading and writing the time stamps of a local file, in UTC to the second.
// Nothing here converts to or from local time, so a file stamped on one run
// compares equal on the next whatever the machine's time zone.
#pragma once

#include <cstdint>

#include "platform/core_types.h"
#include "platform/files.h"

namespace qx {

// Raw last-write time (100 ns since 1601-01-01 00:00:00 UTC); 0 when the file
// cannot be opened for reading. Never raises.
uint64_t GetFileWriteTime(IFileSystem& files, const Text& strFile);

// The last-write time as a UTC DateTime with the fraction of a second cut
// off; 1601-01-01 00:00:00 when the file cannot be opened. Never raises.
DateTime GetFileDate(IFileSystem& files, const Text& strFile);

// Sets creation, last-access and last-write time to lngFileTime. A file that
// is missing, read-only or locked keeps its times and nothing is reported.
// As with the platform, 0 means "leave the times as they are".
void SetFileTimes(IFileSystem& files, const Text& strFile, uint64_t lngFileTime);

// Sets all three time stamps to dtDate taken as UTC. A date the raw form
// cannot hold (before 1601, invalid fields) leaves the file unchanged.
void SetFileDate(IFileSystem& files, const Text& strFile, const DateTime& dtDate);

// Raw file time to calendar fields on the proleptic Gregorian calendar,
// fraction of a second truncated. Defined for every 64-bit value.
DateTime FileTimeToDateTime(uint64_t fileTime);

// Calendar fields (UTC) to raw file time. Returns 0, which the setters treat
// as "no change", when the fields are not a valid date-time between
// 1601-01-01 00:00:00 and 30827-12-31 23:59:59, the range the platform's
// own conversion accepts.
uint64_t DateTimeToFileTime(const DateTime& dt);

}  // namespace qx
