#include "core/TextHelpers.h"

#include <string>

namespace qx {

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
