// qxaddr on Windows: wide arguments, code pages through the system's own
// conversion, files through the updater's Win32 file service.
#include <windows.h>

#include <string>
#include <vector>

#include "common/console_win.h"
#include "platform/win32/files_win.h"
#include "qxaddr.h"

namespace qx::qxaddr {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Code pages for which Windows refuses the best-fit and default-character
// arguments of WideCharToMultiByte.
bool TakesNoDefaultChar(unsigned codePage) {
    return codePage == CP_UTF7 || codePage == CP_UTF8 || codePage == 42 || codePage == 54936 ||
           (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011);
}

class Win32Host : public Host {
public:
    bool Encode(unsigned codePage, const Text& text, Bytes& ansi, std::string& why) override {
        ansi.clear();
        if (!::IsValidCodePage(codePage)) {
            why = "Windows does not know this code page";
            return false;
        }
        if (text.empty()) return true;
        const int length = static_cast<int>(text.size());
        const bool plain = TakesNoDefaultChar(codePage);
        const DWORD flags = plain ? (codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
        BOOL usedDefault = FALSE;
        const int needed = ::WideCharToMultiByte(codePage, flags, Wide(text), length, nullptr, 0, nullptr,
                                                 plain ? nullptr : &usedDefault);
        if (needed <= 0 || usedDefault) {
            why = "a character has no mapping there";
            return false;
        }
        ansi.assign(static_cast<size_t>(needed), '\0');
        const int written = ::WideCharToMultiByte(codePage, flags, Wide(text), length, &ansi[0], needed, nullptr,
                                                  plain ? nullptr : &usedDefault);
        if (written != needed || usedDefault) {
            why = "a character has no mapping there";
            return false;
        }
        // What the updater will read must be exactly what was asked for.
        if (Decode(codePage, ansi) != text) {
            why = "a character has no exact mapping there";
            return false;
        }
        return true;
    }

    Text Decode(unsigned codePage, const Bytes& ansi) override {
        if (ansi.empty()) return Text();
        const int length = static_cast<int>(ansi.size());
        const int needed = ::MultiByteToWideChar(codePage, 0, ansi.data(), length, nullptr, 0);
        if (needed <= 0) return Text(ansi.begin(), ansi.end());
        Text out(static_cast<size_t>(needed), u'\0');
        ::MultiByteToWideChar(codePage, 0, ansi.data(), length, reinterpret_cast<wchar_t*>(&out[0]), needed);
        return out;
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
