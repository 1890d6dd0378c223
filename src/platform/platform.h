// Every platform service the logic uses, handed to it in one bundle.
#pragma once

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/window.h"

namespace qx {

struct Platform {
    IWindowUi& ui;
    IProcessService& process;
    IFileSystem& files;
    ISettingsStore& settings;
    IRegistryApi& registry;
    IHttpClient& http;
    IClock& clock;
    IRandom& random;
    ICodePage& codepage;
    ICrypto& crypto;
};

}  // namespace qx
