// The down, create and update lines: a script's file reference turned into a
// request for the download engine and a local target.
#pragma once

#include "download/DownloadFile.h"

namespace qx {

// Each returns the local path on success or skip, empty text otherwise.
// strPin is the line's field 3: a well-formed pin is checked on the new
// file; a malformed one, or none while pins are required, downloads
// nothing and says why.
[[nodiscard]] Text DoDown(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text(),
                          const Text& strPin = Text());
[[nodiscard]] Text DoCreate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text(),
                            const Text& strPin = Text());
[[nodiscard]] Text DoUpdate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text(),
                            const Text& strPin = Text());

}  // namespace qx
