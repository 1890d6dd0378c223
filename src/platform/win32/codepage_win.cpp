#include "platform/win32/codepage_win.h"

#include <windows.h>

#include <climits>

namespace qx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Text must share its layout with Windows' wide strings");

namespace {

int CheckedLength(size_t length) {
    if (length > static_cast<size_t>(INT_MAX)) {
        throw QxError(err::kOverflow, u"溢出");
    }
    return static_cast<int>(length);
}

[[noreturn]] void RaiseConversionFailure() {
    throw QxError(err::kInvalidCall, u"无法转换文本的代码页");
}

}  // namespace

Win32CodePage::Win32CodePage() : codePage_(::GetACP()) {}

Win32CodePage::Win32CodePage(unsigned codePage) : codePage_(codePage) {
    if (!::IsValidCodePage(codePage)) {
        throw QxError(err::kInvalidCall, u"无效的代码页");
    }
}

Bytes Win32CodePage::ToAnsi(const Text& text) const {
    if (text.empty()) return Bytes();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = CheckedLength(text.size());
    // No default-character arguments: the code page's own default character
    // is what Windows' -A functions produce, and UTF-8 refuses the arguments.
    const int needed = ::WideCharToMultiByte(codePage_, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) RaiseConversionFailure();
    Bytes out(static_cast<size_t>(needed), '\0');
    const int written =
        ::WideCharToMultiByte(codePage_, 0, wide, length, &out[0], needed, nullptr, nullptr);
    if (written <= 0) RaiseConversionFailure();
    out.resize(static_cast<size_t>(written));
    return out;
}

Text Win32CodePage::FromAnsi(const Bytes& bytes) const {
    if (bytes.empty()) return Text();
    const int length = CheckedLength(bytes.size());
    const int needed = ::MultiByteToWideChar(codePage_, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) RaiseConversionFailure();
    Text out(static_cast<size_t>(needed), u'\0');
    const int written = ::MultiByteToWideChar(codePage_, 0, bytes.data(), length,
                                              reinterpret_cast<wchar_t*>(&out[0]), needed);
    if (written <= 0) RaiseConversionFailure();
    out.resize(static_cast<size_t>(written));
    return out;
}

}  // namespace qx
