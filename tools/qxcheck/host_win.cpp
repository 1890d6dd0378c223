// qxcheck on Windows: wide arguments, files through the updater's Win32
// file service.
#include <windows.h>

#include <string>
#include <vector>

#include "common/console_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "qxcheck.h"

namespace qx::qxcheck {
namespace {

class Win32Host : public Host {
public:
    Bytes ReadFile(const Text& path) override {
        if (!files_.FileExists(path)) throw QxError(err::kFileNotFound, u"no such file");
        return files_.ReadAll(path);
    }

    bool FileExistsBelow(const Text& root, const Text& serverPath) override {
        Text path = root + serverPath;
        for (char16_t& c : path) {
            if (c == u'/') c = u'\\';
        }
        const DWORD attributes = ::GetFileAttributesW(Wide(path));
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    ICrypto& Crypto() override { return crypto_; }

    void Out(const Text& line) override { tools::PrintLine(STD_OUTPUT_HANDLE, line); }
    void Err(const Text& line) override { tools::PrintLine(STD_ERROR_HANDLE, line); }

private:
    Win32FileSystem files_;
    Win32Crypto crypto_;
};

}  // namespace
}  // namespace qx::qxcheck

int wmain(int argc, wchar_t** argv) {
    const std::vector<qx::Text> args = qx::tools::Arguments(argc, argv);
    qx::qxcheck::Win32Host host;
    return qx::qxcheck::Run(host, args);
}
