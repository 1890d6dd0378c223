#include "actions/HostsFile.h"

#include "actions/NotBuilt.h"

namespace qx {

void DoHostsAdd(FrmUpdate& form, const Text&, const Text&) { LogCommandNotAvailable(form, u"hostsadd"); }

void DoHostsRemove(FrmUpdate& form, const Text&) { LogCommandNotAvailable(form, u"hostsremove"); }

}  // namespace qx
