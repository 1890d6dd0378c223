// Arbitrary bytes as update.inf through a whole update session on fakes of
// every platform service: whatever the script, the session must end without
// a crash, a sanitizer report, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>

#include "fakes/FormFixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qx;
    fake::Services s;
    s.files.AddFile(u"C:\\windows\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost\r\n");
    // Every file but update.inf is small, so download lines run the engine.
    s.http.server = [script = Bytes(reinterpret_cast<const char*>(data), size)](const fake::HttpExchange& r) {
        const bool inf = r.url.size() >= 11 && r.url.compare(r.url.size() - 11, 11, u"/update.inf") == 0;
        return fake::FileServer{inf ? script : Bytes("0123456789")}(r);
    };
    // A user who closes the window after a while ends a wait of any length.
    int rounds = 0;
    s.window.onDoEvents = [&] { if (++rounds == 20000) s.window.alive = false; };
    FrmUpdate form(s.platform);
    if (form.Form_Load()) {
        form.Timer1_Timer();
        form.cmdUpdate_Click();
    }
    return 0;
}
