// The window's state that the procedures read and a few of them change:
// where things are and whether the session must stop. The window owns the
// only copy; procedures get the fields they need by reference.
#pragma once

#include "platform/core_types.h"

namespace qx {

struct SharedFields {
    Text strServerURL;
    bool blnQuit = false;
    Text strAppDir;
    Text strWinDir;
    Text strSysDir;
    Text strHostsFile;
    Text strDesktopDir;
    Text strStartMenuDir;
    Text strWorkDir;
    Text strTempDir;
};

}  // namespace qx
