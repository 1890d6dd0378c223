#include "actions/FileActions.h"

#include "actions/NotBuilt.h"

namespace qx {

void DoCopy(FrmUpdate& form, const Text&, const Text&, bool) { LogCommandNotAvailable(form, u"copy"); }

void DoDelete(FrmUpdate& form, const Text&) { LogCommandNotAvailable(form, u"delete"); }

bool DoCheckWritable(FrmUpdate& form, const Text&) {
    LogCommandNotAvailable(form, u"checkwritable");
    return true;
}

}  // namespace qx
