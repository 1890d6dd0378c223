// Small helpers that tests of every layer use to build values and to show
// what they got when a check fails.
#pragma once

#include <string>

#include "platform/core_types.h"

namespace qx::test {

// Upper-case hex pairs separated by blanks: "D4 DA CF".
inline std::string Hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

}  // namespace qx::test
