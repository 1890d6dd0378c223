#include "platform/win32/codepage_win.h"

#include <windows.h>

#include <climits>
#include <vector>

#include "platform/win32/handles_win.h"

namespace qx {

namespace {

int CheckedLength(size_t length) {
    if (length > static_cast<size_t>(INT_MAX)) {
        throw QxError(err::kOverflow, u"溢出");
    }
    return static_cast<int>(length);
}

// The whole text in the code page; false when Windows refuses it or, with
// usedDefault given, had to use the default character.
bool Narrow(unsigned codePage, DWORD flags, const Text& text, Bytes& out, BOOL* usedDefault) {
    out.clear();
    if (text.empty()) return true;
    const int length = CheckedLength(text.size());
    const int needed = ::WideCharToMultiByte(codePage, flags, Wide(text), length, nullptr, 0, nullptr, usedDefault);
    if (needed <= 0 || (usedDefault != nullptr && *usedDefault)) return false;
    out.assign(static_cast<size_t>(needed), '\0');
    const int written =
        ::WideCharToMultiByte(codePage, flags, Wide(text), length, &out[0], needed, nullptr, usedDefault);
    if (written <= 0 || (usedDefault != nullptr && *usedDefault)) return false;
    out.resize(static_cast<size_t>(written));
    return true;
}

bool Widen(unsigned codePage, DWORD flags, const Bytes& bytes, Text& out) {
    out.clear();
    if (bytes.empty()) return true;
    const int length = CheckedLength(bytes.size());
    const int needed = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    out.assign(static_cast<size_t>(needed), u'\0');
    const int written = ::MultiByteToWideChar(codePage, flags, bytes.data(), length,
                                              reinterpret_cast<wchar_t*>(&out[0]), needed);
    if (written <= 0) return false;
    out.resize(static_cast<size_t>(written));
    return true;
}

[[noreturn]] void RaiseConversionFailure() {
    throw QxError(err::kInvalidCall, u"无法转换文本的代码页");
}

// Code pages for which Windows refuses the best-fit and default-character
// arguments of WideCharToMultiByte.
bool TakesNoDefaultChar(unsigned codePage) {
    return codePage == CP_UTF7 || codePage == CP_UTF8 || codePage == 42 || codePage == 54936 ||
           (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011);
}

}  // namespace

Win32CodePage::Win32CodePage() : codePage_(::GetACP()) {}

Win32CodePage::Win32CodePage(unsigned codePage) : codePage_(codePage) {
    if (!::IsValidCodePage(codePage)) {
        throw QxError(err::kInvalidCall, u"无效的代码页");
    }
}

// No default-character arguments: the code page's own default character is
// what Windows' -A functions produce, and UTF-8 refuses the arguments.
Bytes Win32CodePage::ToAnsi(const Text& text) const {
    Bytes out;
    if (!Narrow(codePage_, 0, text, out, nullptr)) RaiseConversionFailure();
    return out;
}

Text Win32CodePage::FromAnsi(const Bytes& bytes) const {
    Text out;
    if (!Widen(codePage_, 0, bytes, out)) RaiseConversionFailure();
    return out;
}

Text WindowText(HWND window) {
    std::vector<wchar_t> buffer(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1);
    const int length = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
    return FromWide(buffer.data(), static_cast<size_t>(length > 0 ? length : 0));
}

Text SystemMessage(DWORD code, HMODULE module) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
            (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0),
        module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    Text text = length != 0 && buffer != nullptr ? FromWide(buffer, length) : Text();
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    return text;
}

bool KnowsCodePage(unsigned codePage) { return ::IsValidCodePage(codePage) != FALSE; }

bool EncodeExact(unsigned codePage, const Text& text, Bytes& out, std::string& why) {
    out.clear();
    if (!KnowsCodePage(codePage)) {
        why = "Windows does not know this code page";
        return false;
    }
    const bool plain = TakesNoDefaultChar(codePage);
    const DWORD flags = plain ? (codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    if (!Narrow(codePage, flags, text, out, plain ? nullptr : &usedDefault)) {
        why = "a character has no mapping there";
        return false;
    }
    // What the program will read back must be exactly what was asked for.
    Text back;
    if (!Widen(codePage, 0, out, back) || back != text) {
        why = "a character has no exact mapping there";
        return false;
    }
    return true;
}

bool DecodeExact(unsigned codePage, const Bytes& bytes, Text& out) {
    // A few code pages refuse the flag; they decode without the test.
    if (Widen(codePage, MB_ERR_INVALID_CHARS, bytes, out)) return true;
    return ::GetLastError() == ERROR_INVALID_FLAGS && Widen(codePage, 0, bytes, out);
}

}  // namespace qx
