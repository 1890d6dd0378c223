// Script actions on local files: copy, delete, checkwritable.
#pragma once

#include "download/SharedFields.h"
#include "platform/files.h"
#include "platform/progress.h"
#include "platform/window.h"

namespace qx {

// A path without any backslash is a bare file name and lies in strFolder
// (which ends in a backslash); any other path is used as given.
Text ResolveBareName(const Text& strPath, const Text& strFolder);

// Bare sources are taken from the temp folder, bare targets go to the work
// folder.
void DoCopy(IProgressLog& log, IFileSystem& files, const SharedFields& dirs, const Text& strFrom,
            const Text& strTo, bool blnOverWrite);
void DoDelete(IProgressLog& log, IFileSystem& files, const Text& strWorkDir, const Text& strFile);
// False when another program holds the file: the session stops.
[[nodiscard]] bool DoCheckWritable(IProgressLog& log, IFileSystem& files, IWindowUi& ui,
                                   const Text& strWorkDir, const Text& strFile);

}  // namespace qx
