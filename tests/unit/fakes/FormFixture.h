// A window object wired to fakes of every platform service.
#pragma once

#include <gtest/gtest.h>

#include "app/frmUpdate.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeHttp.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"

namespace qx::fake {

struct Services {
    Window window;
    Process process;
    FakeFileSystem files;
    Settings settings;
    FakeRegistry registry;
    FakeHttp http;  // answers nothing unless a test scripts it
    Clock clock;
    Random random;
    CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
};

class FormTest : public ::testing::Test {
protected:
    Services s;
    FrmUpdate form{s.platform};
};

}  // namespace qx::fake
