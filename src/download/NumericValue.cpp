#include "download/NumericValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace qx {

namespace {

[[noreturn]] void RaiseOverflow() { throw QxError(err::kOverflow, u"溢出"); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

int OctDigit(char16_t c) { return c >= u'0' && c <= u'7' ? c - u'0' : -1; }

// Digits after "&H" or "&O" up to the first character that is not one.
// The digits wrap into a signed integer of the smaller of the two sizes that
// holds them, which is why "&hFFFF" is -1 in a script.
NumericReading ReadRadix(const Text& s, size_t start, int radix) {
    NumericReading r;
    r.radix = radix;
    uint64_t bits = 0;
    for (size_t i = start; i < s.size(); ++i) {
        const int d = radix == 16 ? HexDigit(s[i]) : OctDigit(s[i]);
        if (d < 0) break;
        bits = bits * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
        if (bits > 0xFFFFFFFFull) RaiseOverflow();
    }
    r.bits = static_cast<uint32_t>(bits);
    if (r.bits <= 0xFFFFu) {
        r.value = static_cast<int16_t>(static_cast<uint16_t>(r.bits));
    } else {
        r.value = static_cast<int32_t>(r.bits);
    }
    return r;
}

// The decimal number at the start of s (blanks already gone).
double ReadDecimal(const Text& s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    std::string digits;  // integer and fraction digits, without the point
    long intCount = 0;
    while (i < s.size() && IsDigit(s[i])) {
        digits.push_back(static_cast<char>(s[i]));
        ++intCount;
        ++i;
    }
    if (i < s.size() && s[i] == u'.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            digits.push_back(static_cast<char>(s[i]));
            ++i;
        }
    }
    if (digits.empty()) return 0;

    // An exponent counts only with at least one digit: "1e" and "1e+" are 1.
    long exponent = 0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) {
            expNegative = s[j] == u'-';
            ++j;
        }
        if (j < s.size() && IsDigit(s[j])) {
            long e = 0;
            while (j < s.size() && IsDigit(s[j])) {
                // Far past any double; saturating keeps the sum below exact.
                if (e < 1000000) e = e * 10 + (s[j] - u'0');
                ++j;
            }
            exponent = expNegative ? -e : e;
        }
    }

    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    // The value is 0.<significant digits> times ten to this power.
    const long order = intCount - static_cast<long>(first) + exponent;
    if (order > 400) RaiseOverflow();
    if (order < -400) return 0;

    const std::string normal = "0." + digits.substr(first) + "e" + std::to_string(order);
    double value = 0;
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (order > 0) RaiseOverflow();
        return 0;
    }
    if (result.ec != std::errc() || std::isinf(value)) RaiseOverflow();
    if (value == 0) return 0;
    return negative ? -value : value;
}

}  // namespace

NumericReading ReadNumber(const Text& field) {
    Text s;
    s.reserve(field.size());
    for (char16_t c : field) {
        if (c != u' ' && c != u'\t' && c != u'\n') s.push_back(c);
    }
    if (s.size() >= 2 && s[0] == u'&') {
        if (s[1] == u'h' || s[1] == u'H') return ReadRadix(s, 2, 16);
        if (s[1] == u'o' || s[1] == u'O') return ReadRadix(s, 2, 8);
    }
    NumericReading r;
    r.value = ReadDecimal(s);
    return r;
}

double NumericValue(const Text& field) { return ReadNumber(field).value; }

int32_t RoundToLong(double value) {
    if (std::isnan(value)) RaiseOverflow();
    double r = std::floor(value);
    const double fraction = value - r;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    if (r < -2147483648.0 || r > 2147483647.0) RaiseOverflow();
    return static_cast<int32_t>(r);
}

float ToSingle(double value) {
    if (std::isnan(value) || std::fabs(value) > std::numeric_limits<float>::max()) RaiseOverflow();
    return static_cast<float>(value);
}

}  // namespace qx
