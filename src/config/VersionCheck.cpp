#include "config/VersionCheck.h"

#include "actions/NotBuilt.h"

namespace qx {

void DoCheckVersion(FrmUpdate& form, const Text&, const Text&) { LogCommandNotAvailable(form, u"ver"); }

}  // namespace qx
