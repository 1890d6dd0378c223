// Feeds arbitrary bytes as update.inf through a whole update session with
// fakes of every platform service: whatever the script, the session must end,
// without a crash, a sanitizer report, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/frmUpdate.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeHttp.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"

namespace {

using namespace qx;

// Every GET or HEAD gets a small file, so download lines run the engine;
// update.inf itself is the fuzzer's input.
struct Site {
    Bytes script;
    fake::FileServer other;
    fake::HttpResponse operator()(const fake::HttpExchange& r) {
        fake::FileServer server = other;
        if (r.url.size() >= 11 && r.url.compare(r.url.size() - 11, 11, u"/update.inf") == 0) {
            server.content = script;
        }
        return server(r);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fake::Window window;
    fake::Process process;
    fake::FakeFileSystem files;
    fake::Settings settings;
    fake::FakeRegistry registry;
    fake::FakeHttp http;
    fake::Clock clock;
    fake::Random random;
    fake::CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};

    Site site;
    site.script.assign(reinterpret_cast<const char*>(data), size);
    site.other.content = "0123456789";
    http.server = site;
    files.AddFile(u"C:\\windows\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost\r\n");

    // A user who closes the window after a while: a wait line of any length
    // ends there, as it does for a real user.
    int rounds = 0;
    window.onDoEvents = [&] {
        if (++rounds == 20000) window.alive = false;
    };

    FrmUpdate form(platform);
    if (!form.Form_Load()) return 0;
    form.Timer1_Timer();
    form.cmdUpdate_Click();
    return 0;
}
