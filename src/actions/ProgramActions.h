// Script actions that start programs or type keys.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

void DoExecute(FrmUpdate& form, const Text& strCMD, const Text& strWinStyle);
void DoRegister(FrmUpdate& form, const Text& strFile);
void DoKeyPress(FrmUpdate& form, const Text& strKeys, bool blnWait);

}  // namespace qx
