// Script actions that start programs or type keys.
#pragma once

#include "download/SharedFields.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/progress.h"

namespace qx {

void DoExecute(IProgressLog& log, IFileSystem& files, IProcessService& process, const SharedFields& dirs,
                const Text& strCMD, const Text& strWinStyle);
void DoRegister(IProgressLog& log, IProcessService& process, const Text& strWorkDir, const Text& strFile);
void DoKeyPress(IProgressLog& log, IProcessService& process, const Text& strKeys, bool blnWait);

}  // namespace qx
