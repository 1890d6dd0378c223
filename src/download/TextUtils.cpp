#include "download/TextUtils.h"

#include <string>

namespace qx {

namespace {

// Positions are kept in 16-bit variables; a longer text overflows them the
// moment a separator is found that far in.
constexpr Text::size_type kMaxPosition = 32767;

// 1-based position of the first occurrence, 0 when there is none.
Text::size_type FirstPosition(const Text& strMain, const Text& strSep) {
    const Text::size_type found = strMain.find(strSep);
    if (found == Text::npos) return 0;
    if (found + 1 > kMaxPosition) throw QxError(err::kOverflow, u"溢出");
    return found + 1;
}

// 1-based position of the last occurrence, 0 when there is none.
Text::size_type LastPosition(const Text& strMain, const Text& strSep) {
    const Text::size_type found = strMain.rfind(strSep);
    if (found == Text::npos) return 0;
    if (found + 1 > kMaxPosition) throw QxError(err::kOverflow, u"溢出");
    return found + 1;
}

Text After(const Text& strMain, Text::size_type position, const Text& strSep) {
    const Text::size_type start = position - 1 + strSep.size();
    return start >= strMain.size() ? Text() : strMain.substr(start);
}

bool IsAsciiLetterOrDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Bit patterns above 0x7FFFFFFF are stored as the negative number with the
// same 32 bits, without relying on implementation-defined conversions.
int32_t ToSigned(uint32_t bits) {
    if (bits <= 0x7FFFFFFFu) return static_cast<int32_t>(bits);
    return static_cast<int32_t>(bits - 0x80000000u) - 0x7FFFFFFF - 1;
}

}  // namespace

Text StrLeft(const Text& strMain, const Text& strSep) {
    const Text::size_type p = FirstPosition(strMain, strSep);
    return p == 0 ? Text() : strMain.substr(0, p - 1);
}

Text StrLeftBack(const Text& strMain, const Text& strSep) {
    const Text::size_type p = LastPosition(strMain, strSep);
    return p == 0 ? Text() : strMain.substr(0, p - 1);
}

Text StrRight(const Text& strMain, const Text& strSep) {
    const Text::size_type p = FirstPosition(strMain, strSep);
    return p == 0 ? Text() : After(strMain, p, strSep);
}

Text StrRightBack(const Text& strMain, const Text& strSep) {
    const Text::size_type p = LastPosition(strMain, strSep);
    return p == 0 ? Text() : After(strMain, p, strSep);
}

Text EncodeURI(const Text& strInput, const Text& strIgnore) {
    Text result;
    result.reserve(strInput.size());
    for (const char16_t c : strInput) {
        if (IsAsciiLetterOrDigit(c) || strIgnore.find(c) != Text::npos) {
            result += c;
        } else {
            result += Hex2(U2UTF(static_cast<int32_t>(static_cast<uint16_t>(c))));
        }
    }
    return result;
}

int32_t U2UTF(int32_t lngIn) {
    if (lngIn < 0) return 63;
    const uint32_t c = static_cast<uint32_t>(lngIn);
    if (c < 0x80u) return lngIn;
    if (c < 0x800u) return ToSigned(0xC080u | ((c & 0x7C0u) << 2) | (c & 0x3Fu));
    if (c < 0x10000u) {
        return ToSigned(0xE08080u | ((c & 0xF000u) << 4) | ((c & 0xFC0u) << 2) | (c & 0x3Fu));
    }
    if (c < 0x200000u) {
        return ToSigned(0xF0808080u | ((c & 0x1C0000u) << 6) | ((c & 0x3F000u) << 4) |
                        ((c & 0xFC0u) << 2) | (c & 0x3Fu));
    }
    return 63;
}

Text Hex2(int32_t lngIn) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    uint32_t bits = static_cast<uint32_t>(lngIn);
    Text digits;
    do {
        digits.insert(digits.begin(), kDigits[bits & 0xFu]);
        bits >>= 4;
    } while (bits != 0);
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), u'0');

    Text result;
    result.reserve(digits.size() / 2 * 3);
    for (Text::size_type i = 0; i < digits.size(); i += 2) {
        result += u'%';
        result += digits[i];
        result += digits[i + 1];
    }
    return result;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

Text Trim(const Text& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

Text LowerAscii(Text s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

Text Decimal(long long n) { return FromUtf8(std::to_string(n)); }

Text Quoted(const Text& text) { return u"\"" + text + u"\""; }

}  // namespace qx
