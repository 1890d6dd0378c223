// The workpath line: a new work folder, and the temp folder below it.
#pragma once

#include "download/SharedFields.h"
#include "platform/files.h"
#include "platform/progress.h"

namespace qx {

void DoSetWorkPath(IProgressLog& log, IFileSystem& files, SharedFields& dirs, const Text& strNewPath);

}  // namespace qx
