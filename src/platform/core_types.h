// Types shared by every part of the updater: text, calendar time and the
// failure that travels up the call chain until a procedure handles it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qx {

// All text inside the program is UTF-16, so the Linux test build and the
// Windows build agree code unit for code unit.
using Text = std::u16string;

// Raw bytes: file contents, ANSI-encoded text at the platform edges.
using Bytes = std::string;

// Conversions used where the program talks to the outside in UTF-8 (test
// output, the driver, log files of tools). Ill-formed input becomes U+FFFD.
Text FromUtf8(const std::string& utf8);
std::string ToUtf8(const Text& text);

// A calendar date and time of day to the second, without time zone.
struct DateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    // 1899-12-30 00:00:00, the value of a date that was never set.
    static DateTime Zero() { return DateTime{}; }

    friend bool operator==(const DateTime& a, const DateTime& b) {
        return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
               a.minute == b.minute && a.second == b.second;
    }
    friend bool operator!=(const DateTime& a, const DateTime& b) { return !(a == b); }
    friend bool operator<(const DateTime& a, const DateTime& b) {
        const int l[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
        const int r[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
        for (int i = 0; i < 6; ++i) {
            if (l[i] != r[i]) return l[i] < r[i];
        }
        return false;
    }
    friend bool operator>(const DateTime& a, const DateTime& b) { return b < a; }
};

// "yyyy-mm-dd hh:nn:ss", for messages and tests.
Text FormatDateTime(const DateTime& dt);

// A failure: a number (never 0) and a description. Thrown by operations
// that fail and caught only by the procedures that are meant to handle it.
class QxError : public std::runtime_error {
public:
    QxError(int32_t number, Text description);
    int32_t Number() const { return number_; }
    const Text& Description() const { return description_; }

private:
    int32_t number_;
    Text description_;
};

// Error numbers the program raises itself. They follow the numbering of
// classic Windows run-time errors so administrators can look them up.
namespace err {
constexpr int32_t kInvalidCall = 5;
constexpr int32_t kOverflow = 6;
constexpr int32_t kBadFileName = 52;
constexpr int32_t kFileNotFound = 53;
constexpr int32_t kFileAlreadyOpen = 55;
constexpr int32_t kPermissionDenied = 70;
constexpr int32_t kPathFileAccess = 75;
constexpr int32_t kPathNotFound = 76;
constexpr int32_t kObjectRequired = 424;
constexpr int32_t kCantCreateObject = 429;
constexpr int32_t kAutomation = 440;
}  // namespace err

}  // namespace qx
