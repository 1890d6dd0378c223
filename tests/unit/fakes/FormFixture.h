// The window wired to fakes of every platform service, on a machine with
// the updater installed in c:\app\ and the work folders in place.
#pragma once

#include <gtest/gtest.h>

#include "app/frmUpdate.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeHttp.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"
#include "platform/posix/crypto_posix.h"
#include "script/ProcessLine.h"

namespace qx::fake {

struct Services {
    Window window;
    Process process;
    FakeFileSystem files;
    Settings settings;
    FakeRegistry registry;
    FakeHttp http;
    Clock clock;
    Random random;
    CodePage codepage;
    OpenSslCrypto crypto;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage, crypto};
};

struct Machine {
    Machine() {
        s.process.programPath = u"c:\\app\\QXUpdate.exe";
        form.strAppDir = u"c:\\app\\";
        form.strWorkDir = u"c:\\work\\";
        form.strTempDir = u"c:\\work\\temp\\";
        form.strSysDir = u"c:\\windows\\system32\\";
        form.strWinDir = u"c:\\windows\\";
        form.strHostsFile = u"c:\\windows\\hosts";
        form.strServerURL = u"http://srv";
        s.files.AddDir(form.strTempDir);
    }
    bool Run(const Text& line) { return ProcessLine(form.Script(), line); }
    // The progress lines joined by "|".
    std::string Log() const {
        std::string out;
        for (const Text& line : s.window.list) out += (out.empty() ? "" : "|") + ToUtf8(line);
        return out;
    }

    Services s;
    FrmUpdate form{s.platform};
};

}  // namespace qx::fake
