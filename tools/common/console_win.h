// What the command-line tools share on Windows: wide arguments in, lines out.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/codepage_win.h"

namespace qx::tools {

// A console shows wide text as it is; a pipe or file gets UTF-8, so scripts
// and tests read the same bytes as on Linux.
inline void PrintLine(DWORD which, const Text& line) {
    const HANDLE h = ::GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, done = 0;
    if (::GetConsoleMode(h, &mode)) {
        const Text text = line + u"\r\n";
        ::WriteConsoleW(h, Wide(text), static_cast<DWORD>(text.size()),
                        &done, nullptr);
    } else {
        const std::string utf8 = ToUtf8(line) + "\r\n";
        ::WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
    }
}

inline std::vector<Text> Arguments(int argc, wchar_t** argv) {
    std::vector<Text> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromWide(argv[i]));
    return args;
}

}  // namespace qx::tools
