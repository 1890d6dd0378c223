// The down, create and update lines: a script's file reference turned into a
// request for the download engine and a local target.
#pragma once

#include "download/DownloadFile.h"

namespace qx {

// Each returns the local path on success or skip, empty text otherwise.
[[nodiscard]] Text DoDown(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text());
[[nodiscard]] Text DoCreate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text());
[[nodiscard]] Text DoUpdate(const DownloadContext& c, const Text& strURL, const Text& strLocalFile = Text());

}  // namespace qx
