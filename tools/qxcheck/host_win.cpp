// qxcheck on Windows: wide arguments, code pages through the system's own
// conversion, files through the updater's Win32 file service.
#include <windows.h>

#include <string>
#include <vector>

#include "common/console_win.h"
#include "platform/win32/files_win.h"
#include "qxcheck.h"

namespace qx::qxcheck {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class Win32Host : public Host {
public:
    bool KnowsCodePage(unsigned codePage) override { return ::IsValidCodePage(codePage) != FALSE; }

    bool DecodeStrict(unsigned codePage, const Bytes& bytes, Text& text) override {
        text.clear();
        if (bytes.empty()) return true;
        const int length = static_cast<int>(bytes.size());
        // A few code pages refuse the flag; they decode without the test.
        DWORD flags = MB_ERR_INVALID_CHARS;
        int needed = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
        if (needed <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
            flags = 0;
            needed = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
        }
        if (needed <= 0) return false;
        text.assign(static_cast<size_t>(needed), u'\0');
        const int written = ::MultiByteToWideChar(codePage, flags, bytes.data(), length,
                                                  reinterpret_cast<wchar_t*>(&text[0]), needed);
        if (written != needed) return false;
        return true;
    }

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

    void Out(const Text& line) override { tools::PrintLine(STD_OUTPUT_HANDLE, line); }
    void Err(const Text& line) override { tools::PrintLine(STD_ERROR_HANDLE, line); }

private:
    Win32FileSystem files_;
};

}  // namespace
}  // namespace qx::qxcheck

int wmain(int argc, wchar_t** argv) {
    const std::vector<qx::Text> args = qx::tools::Arguments(argc, argv);
    qx::qxcheck::Win32Host host;
    return qx::qxcheck::Run(host, args);
}
