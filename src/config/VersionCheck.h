// The ver line: a newer updater offered by the server.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

void DoCheckVersion(FrmUpdate& form, const Text& strNewFile, const Text& strVer);

}  // namespace qx
