#include "config/TrailerBytes.h"

namespace qx {

const Text& DefaultServerAddress() {
    static const Text address = u"127.0.0.1";
    return address;
}

Bytes EncodeTrailer(const Bytes& ansi) {
    Bytes out = ansi.substr(0, kTrailerSize);
    out.resize(kTrailerSize, '\0');
    return out;
}

bool FitsTrailer(const Bytes& ansi) {
    return ansi.size() < kTrailerSize && ansi.find('\0') == Bytes::npos;
}

bool DecodeTrailer(const Bytes& trailer, Bytes& ansi) {
    if (trailer.size() != kTrailerSize) return false;
    const size_t nul = trailer.find('\0');
    if (nul == 0 || nul == Bytes::npos) return false;
    ansi = trailer.substr(0, nul);
    return true;
}

}  // namespace qx
