// Conversion between the program's UTF-16 text and a Windows code page.
#pragma once

#include "platform/codepage.h"

namespace qx {

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
