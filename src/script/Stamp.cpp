#include "script/Stamp.h"

#include <cstdio>

namespace qx {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads minDigits..maxDigits decimal digits at pos.
bool ReadNumber(const Text& s, size_t& pos, size_t minDigits, size_t maxDigits, int& value) {
    size_t n = 0;
    value = 0;
    while (pos < s.size() && IsDigit(s[pos]) && n < maxDigits) {
        value = value * 10 + (s[pos] - u'0');
        ++pos;
        ++n;
    }
    return n >= minDigits && !(pos < s.size() && IsDigit(s[pos]));
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool ParseStamp(const Text& text, DateTime& out) {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && (text[b] == u' ' || text[b] == u'\t')) ++b;
    while (e > b && (text[e - 1] == u' ' || text[e - 1] == u'\t')) --e;
    const Text s = text.substr(b, e - b);

    DateTime dt;
    size_t pos = 0;
    if (!ReadNumber(s, pos, 4, 4, dt.year)) return false;
    if (pos >= s.size() || (s[pos] != u'-' && s[pos] != u'/')) return false;
    const char16_t sep = s[pos++];
    if (!ReadNumber(s, pos, 1, 2, dt.month)) return false;
    if (pos >= s.size() || s[pos] != sep) return false;
    ++pos;
    if (!ReadNumber(s, pos, 1, 2, dt.day)) return false;
    if (dt.year < 100 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > DaysInMonth(dt.year, dt.month)) {
        return false;
    }
    dt.hour = dt.minute = dt.second = 0;
    if (pos < s.size()) {
        size_t blanks = 0;
        while (pos < s.size() && s[pos] == u' ') ++pos, ++blanks;
        if (blanks == 0) return false;
        if (!ReadNumber(s, pos, 1, 2, dt.hour)) return false;
        if (pos >= s.size() || s[pos] != u':') return false;
        ++pos;
        if (!ReadNumber(s, pos, 2, 2, dt.minute)) return false;
        if (pos < s.size()) {
            if (s[pos] != u':') return false;
            ++pos;
            if (!ReadNumber(s, pos, 2, 2, dt.second)) return false;
        }
        if (pos != s.size() || dt.hour > 23 || dt.minute > 59 || dt.second > 59) return false;
    }
    out = dt;
    return true;
}

Text FormatStamp(const DateTime& stamp) {
    char buf[40];
    if (stamp.hour == 0 && stamp.minute == 0 && stamp.second == 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", stamp.year, stamp.month, stamp.day);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", stamp.year, stamp.month,
                      stamp.day, stamp.hour, stamp.minute, stamp.second);
    }
    return FromUtf8(buf);
}

}  // namespace qx
