// The down, create and update lines: a script's file reference turned into a
// request for the download engine and a local target.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

// Each returns the local path on success or skip, empty text otherwise.
Text DoDown(FrmUpdate& form, const Text& strURL, const Text& strLocalFile = Text());
Text DoCreate(FrmUpdate& form, const Text& strURL, const Text& strLocalFile = Text());
Text DoUpdate(FrmUpdate& form, const Text& strURL, const Text& strLocalFile = Text());

}  // namespace qx
