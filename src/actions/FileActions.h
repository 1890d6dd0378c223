// Script actions on local files: copy, delete, checkwritable.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

// A path without any backslash is a bare file name and lies in strFolder
// (which ends in a backslash); any other path is used as given.
Text ResolveBareName(const Text& strPath, const Text& strFolder);

void DoCopy(FrmUpdate& form, const Text& strFrom, const Text& strTo, bool blnOverWrite);
void DoDelete(FrmUpdate& form, const Text& strFile);
// False when another program holds the file: the session stops.
bool DoCheckWritable(FrmUpdate& form, const Text& strFile);

}  // namespace qx
