// The ver line: a newer updater offered by the server.
#pragma once

#include "download/DownloadFile.h"
#include "platform/platform.h"

namespace qx {

// A dotted version text as one comparable number: each part is the decimal
// number it begins with (0 when none), the first counting 10000, the second
// 1, the third 0.0001 and so on. Exact while parts after the first stay
// below 10000.
double GetVersionNumber(const Text& strVer);

// When strVer is higher than the running updater's version, downloads
// strNewFile to the temp folder as base name + "Temp.exe" and starts it to
// take over; blnQuit becomes true exactly when it was started. A failed
// download (a pin that does not match included) is logged by the download
// and lets the script go on with this version.
void DoCheckVersion(const DownloadContext& dl, const Platform& p, bool& blnQuit, const Text& strNewFile,
                    const Text& strVer, const Text& strPin = Text());

}  // namespace qx
