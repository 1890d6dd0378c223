// Script actions on the hosts file.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

void DoHostsAdd(FrmUpdate& form, const Text& strDNS, const Text& strIP);
void DoHostsRemove(FrmUpdate& form, const Text& strDNS);

}  // namespace qx
