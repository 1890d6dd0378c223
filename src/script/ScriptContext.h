// What a script line may use: the platform services, the progress log and
// the window's fields. Each command takes from it only its own part.
#pragma once

#include "actions/HostsFile.h"
#include "download/DownloadFile.h"
#include "download/SharedFields.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace qx {

struct ScriptContext {
    const Platform& p;
    IProgressLog& log;
    SharedFields& fields;
    // Set for the lines of a session whose program carries a key.
    bool pinsRequired = false;

    DownloadContext Downloads() const {
        return {log, p.ui, p.files, p.http, p.clock, fields, p.crypto, pinsRequired};
    }
    HostsAccess Hosts() const { return {p.files, p.codepage, p.random, fields.strHostsFile, fields.strTempDir}; }
};

}  // namespace qx
