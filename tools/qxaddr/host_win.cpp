// qxaddr on Windows: wide arguments, code pages and files through the
// updater's own Win32 platform layer.
#include <windows.h>

#include <string>
#include <vector>

#include "common/console_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "qxaddr.h"

namespace qx::qxaddr {
namespace {

class Win32Host : public Host {
public:
    // For display: characters that cannot be decoded are replaced.
    Text Decode(unsigned codePage, const Bytes& ansi) override {
        try {
            return Win32CodePage(codePage).FromAnsi(ansi);
        } catch (const QxError&) {
            return Text(ansi.begin(), ansi.end());
        }
    }

    int64_t FileLength(const Text& path) override { return files_.FileLength(path); }
    Bytes ReadAt(const Text& path, int64_t offset, size_t count) override {
        return files_.ReadAt(path, offset, count);
    }
    void WriteAt(const Text& path, int64_t offset, const Bytes& data) override {
        files_.WriteAt(path, offset, data);
    }

    void Out(const Text& line) override { tools::PrintLine(STD_OUTPUT_HANDLE, line); }
    void Err(const Text& line) override { tools::PrintLine(STD_ERROR_HANDLE, line); }

private:
    Win32FileSystem files_;
};

}  // namespace
}  // namespace qx::qxaddr

int wmain(int argc, wchar_t** argv) {
    const std::vector<qx::Text> args = qx::tools::Arguments(argc, argv);
    qx::qxaddr::Win32Host host;
    return qx::qxaddr::Run(host, args);
}
