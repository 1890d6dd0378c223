#include "actions/ProgramActions.h"

#include "actions/NotBuilt.h"

namespace qx {

void DoExecute(FrmUpdate& form, const Text&, const Text&) { LogCommandNotAvailable(form, u"execute"); }

void DoRegister(FrmUpdate& form, const Text&) { LogCommandNotAvailable(form, u"register"); }

void DoKeyPress(FrmUpdate& form, const Text&, bool) { LogCommandNotAvailable(form, u"keypress"); }

}  // namespace qx
