// The one place where the program's UTF-16 text meets Windows' encodings:
// wide strings for the -W functions, and code pages.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/codepage.h"

namespace qx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Text must share its layout with Windows' wide strings");

// Text as the -W functions take it; valid while the text lives unchanged.
inline const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline Text FromWide(const wchar_t* wide, size_t length) {
    return Text(reinterpret_cast<const char16_t*>(wide), length);
}
inline Text FromWide(const wchar_t* wide) { return Text(reinterpret_cast<const char16_t*>(wide)); }

// The caption of a window or the content of a control.
Text WindowText(HWND window);

// The system's own words for an error code, in the language of the machine
// (from module's messages first, when given), without the line break they
// end in; empty when it has none.
Text SystemMessage(DWORD code, HMODULE module = nullptr);

class Win32CodePage final : public ICodePage {
public:
    // The machine's ANSI code page, the one the -A functions of Windows use.
    Win32CodePage();
    // A fixed code page, for tests and for data whose encoding is known.
    // Raises error 5 when Windows does not know the code page.
    explicit Win32CodePage(unsigned codePage);

    unsigned Number() const override { return codePage_; }
    Bytes ToAnsi(const Text& text) const override;
    Text FromAnsi(const Bytes& bytes) const override;

private:
    unsigned codePage_;
};

}  // namespace qx
