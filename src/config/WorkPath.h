// The workpath line: a new work folder, and the temp folder below it.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

void DoSetWorkPath(FrmUpdate& form, const Text& strNewPath);

}  // namespace qx
