// Several copies of the updater on one simulated machine: each copy has its
// own window and process, and all of them share the files, the settings
// store, the registry and the clock, as copies run by one user do.
#pragma once

#include "app/frmUpdate.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeHttp.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"

namespace qx::fake {

struct Machine {
    FakeFileSystem files;
    Settings settings;
    FakeRegistry registry;
    FakeHttp http;
    Clock clock;
    Random random;
    CodePage codepage;
};

struct RunningCopy {
    RunningCopy(Machine& m, const Text& programPath, const Text& commandLine)
        : platform{window, process, m.files, m.settings, m.registry, m.http, m.clock, m.random, m.codepage},
          form(platform) {
        process.programPath = programPath;
        process.commandLine = commandLine;
    }
    Window window;
    Process process;
    Platform platform;
    FrmUpdate form;
};

// What a hand-over tag must look like: 32 characters from 0-9 and A-F.
inline bool IsHandOverTag(const Text& t) {
    if (t.size() != 32) return false;
    for (char16_t c : t) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    }
    return true;
}

inline std::vector<std::string> Lines(const Window& w) {
    std::vector<std::string> out;
    for (const Text& l : w.list) out.push_back(ToUtf8(l));
    return out;
}

// Random numbers that give distinct tags, each draw adding 8 hex digits.
inline void FeedDistinctRandoms(Random& r) {
    for (int i = 0; i < 64; ++i) r.values.push_back(0.3 + i * 0.01);
}

}  // namespace qx::fake
