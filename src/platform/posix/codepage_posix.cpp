// Code pages on Linux and other POSIX systems, through iconv.
#include <errno.h>
#include <iconv.h>

#include "platform/codepage.h"

namespace qx {

namespace {

std::string IconvName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// Converts the whole input or nothing; false with the reason otherwise.
bool Convert(const std::string& to, const std::string& from, const std::string& in, std::string& out,
             std::string& why) {
    out.clear();
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        why = "this system has no converter for " + (to == "UTF-8" ? from : to);
        return false;
    }
    std::string buffer(in);
    char* src = buffer.empty() ? nullptr : &buffer[0];
    size_t srcLeft = buffer.size();
    bool ok = true;
    while (srcLeft > 0) {
        char chunk[1024];
        char* dst = chunk;
        size_t dstLeft = sizeof chunk;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(chunk, static_cast<size_t>(dst - chunk));
        // EILSEQ: not a character there; EINVAL: cut short at the end.
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            why = errno == EILSEQ ? "a character has no mapping there" : "the text is cut in the middle of a character";
            ok = false;
            break;
        }
        // glibc counts characters it replaced instead of refusing them.
        if (r != static_cast<size_t>(-1) && r > 0) {
            why = "a character has no exact mapping there";
            ok = false;
            break;
        }
    }
    if (ok) {
        char chunk[64];
        char* dst = chunk;
        size_t dstLeft = sizeof chunk;
        iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // shift state back to the initial one
        out.append(chunk, static_cast<size_t>(dst - chunk));
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

bool KnowsCodePage(unsigned codePage) {
    iconv_t cd = iconv_open("UTF-8", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

bool EncodeExact(unsigned codePage, const Text& text, Bytes& out, std::string& why) {
    return Convert(IconvName(codePage), "UTF-8", ToUtf8(text), out, why);
}

bool DecodeExact(unsigned codePage, const Bytes& bytes, Text& out) {
    std::string utf8, why;
    out.clear();
    if (!Convert("UTF-8", IconvName(codePage), bytes, utf8, why)) return false;
    out = FromUtf8(utf8);
    return true;
}

}  // namespace qx
