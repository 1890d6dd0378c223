#include "download/HttpDate.h"

#include <cstddef>
#include <initializer_list>

namespace qx {

namespace {

const char* const kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const kShortDays[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
const char* const kLongDays[7] = {"monday", "tuesday", "wednesday", "thursday",
                                  "friday", "saturday", "sunday"};

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A cursor over the text; every reader either consumes what it wants and
// returns true, or returns false and the whole parse fails.
class Reader {
public:
    explicit Reader(const Text& text) : s_(text) {}

    bool AtEnd() const { return pos_ == s_.size(); }

    bool Char(char16_t c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // One or more blanks.
    bool Blanks() {
        const size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] == u' ') ++pos_;
        return pos_ > start;
    }

    // Exactly the given ASCII word, any case.
    bool Word(const char* word) {
        size_t i = 0;
        for (; word[i] != '\0'; ++i) {
            if (pos_ + i >= s_.size() || Lower(s_[pos_ + i]) != static_cast<char16_t>(word[i])) {
                return false;
            }
        }
        pos_ += i;
        return true;
    }

    // Between minDigits and maxDigits decimal digits.
    bool Number(int minDigits, int maxDigits, int& value) {
        int n = 0;
        int v = 0;
        while (n < maxDigits && pos_ < s_.size() && IsDigit(s_[pos_])) {
            v = v * 10 + (s_[pos_] - u'0');
            ++pos_;
            ++n;
        }
        if (n < minDigits) return false;
        if (pos_ < s_.size() && IsDigit(s_[pos_])) return false;  // too many digits
        value = v;
        return true;
    }

    bool Month(int& month) {
        for (int m = 0; m < 12; ++m) {
            if (Word(kMonths[m])) {
                month = m + 1;
                return true;
            }
        }
        return false;
    }

    bool ShortDay() {
        for (const char* d : kShortDays) {
            if (Word(d)) return true;
        }
        return false;
    }

    bool LongDay() {
        for (const char* d : kLongDays) {
            if (Word(d)) return true;
        }
        return false;
    }

    // hh:mm:ss with two digits each.
    bool TimeOfDay(DateTime& dt) {
        return Number(2, 2, dt.hour) && Char(u':') && Number(2, 2, dt.minute) && Char(u':') &&
               Number(2, 2, dt.second);
    }

    bool Zone() { return Word("gmt") || Word("utc"); }

private:
    const Text& s_;
    size_t pos_ = 0;
};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsValid(const DateTime& dt) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (dt.month < 1 || dt.month > 12 || dt.day < 1) return false;
    const int last = dt.month == 2 && IsLeapYear(dt.year) ? 29 : kDays[dt.month - 1];
    return dt.day <= last && dt.hour <= 23 && dt.minute <= 59 && dt.second <= 59;
}

// "Tue, 15 Nov 1994 08:12:31 GMT"; a one-digit day is tolerated.
bool ReadFixDate(const Text& text, DateTime& dt) {
    Reader r(text);
    return r.ShortDay() && r.Char(u',') && r.Blanks() && r.Number(1, 2, dt.day) && r.Blanks() &&
           r.Month(dt.month) && r.Blanks() && r.Number(4, 4, dt.year) && r.Blanks() &&
           r.TimeOfDay(dt) && r.Blanks() && r.Zone() && r.AtEnd();
}

// "Tuesday, 15-Nov-94 08:12:31 GMT"
bool ReadObsoleteDate(const Text& text, DateTime& dt) {
    Reader r(text);
    int year = 0;
    if (!(r.LongDay() && r.Char(u',') && r.Blanks() && r.Number(2, 2, dt.day) && r.Char(u'-') &&
          r.Month(dt.month) && r.Char(u'-') && r.Number(2, 2, year) && r.Blanks() &&
          r.TimeOfDay(dt) && r.Blanks() && r.Zone() && r.AtEnd())) {
        return false;
    }
    // Without a clock the century comes from a fixed pivot: servers that
    // still send this form were written in the 1990s, and a file dated
    // after 2069 is not something an update server offers.
    dt.year = year >= 70 ? 1900 + year : 2000 + year;
    return true;
}

// "Tue Nov 15 08:12:31 1994"; the day may be padded with a blank ("Nov  6").
bool ReadAsctimeDate(const Text& text, DateTime& dt) {
    Reader r(text);
    return r.ShortDay() && r.Blanks() && r.Month(dt.month) && r.Blanks() &&
           r.Number(1, 2, dt.day) && r.Blanks() && r.TimeOfDay(dt) && r.Blanks() &&
           r.Number(4, 4, dt.year) && r.AtEnd();
}

}  // namespace

bool ParseHttpDate(const Text& text, DateTime& out) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && (text[first] == u' ' || text[first] == u'\t')) ++first;
    while (last > first && (text[last - 1] == u' ' || text[last - 1] == u'\t')) --last;
    const Text trimmed = text.substr(first, last - first);

    using FormReader = bool (*)(const Text&, DateTime&);
    for (FormReader read : {ReadFixDate, ReadObsoleteDate, ReadAsctimeDate}) {
        DateTime dt;
        if (read(trimmed, dt) && IsValid(dt)) {
            out = dt;
            return true;
        }
    }
    return false;
}

}  // namespace qx
