// The --codepage option every tool takes: scripts and trailers are written
// in the code page of the workstations, GBK unless the deployer says other.
#pragma once

#include "platform/core_types.h"

namespace qx::tools {

constexpr unsigned kDefaultCodePage = 936;

// A code page number as typed: decimal digits only, 1 to 65535.
inline bool ParseCodePage(const Text& text, unsigned& out) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<unsigned>(c - u'0');
    }
    if (value == 0 || value > 65535) return false;
    out = value;
    return true;
}

}  // namespace qx::tools
