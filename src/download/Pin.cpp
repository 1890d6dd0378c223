#include "download/Pin.h"

#include "download/TextUtils.h"

namespace qx {

namespace {

const Text kPrefix = u"sha256=";
constexpr size_t kDigits = 64;

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

Pin ParsePin(const Text& field) {
    Pin pin;
    if (LowerAscii(field.substr(0, kPrefix.size())) != kPrefix) return pin;
    pin.state = Pin::kMalformed;
    if (field.size() != kPrefix.size() + kDigits) return pin;
    Bytes digest;
    for (size_t i = kPrefix.size(); i < field.size(); i += 2) {
        const int high = HexValue(field[i]);
        const int low = HexValue(field[i + 1]);
        if (high < 0 || low < 0) return pin;
        digest += static_cast<char>(high * 16 + low);
    }
    pin.state = Pin::kValid;
    pin.digest = digest;
    return pin;
}

Text FormatPin(const Bytes& digest32) {
    static const char16_t kHex[] = u"0123456789abcdef";
    Text out = kPrefix;
    for (char b : digest32) {
        const unsigned char v = static_cast<unsigned char>(b);
        out += kHex[v >> 4];
        out += kHex[v & 15];
    }
    return out;
}

}  // namespace qx
