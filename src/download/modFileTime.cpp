#include "download/modFileTime.h"

namespace qx {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsPerDay = 86400;
// Days from 0000-03-01 (the start of the shifted calendar below) to 1601-01-01.
constexpr int64_t kDaysTo1601 = 584694;
constexpr int kLastYear = 30827;

// Day number of a date counted from 0000-03-01, years starting in March so
// that the leap day falls at the end of a year.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = year / 400;  // year >= 0 here
    const int64_t yearOfEra = year - era * 400;
    const int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra;
}

void CivilFromDays(int64_t days, DateTime& dt) {
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    dt.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    dt.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    dt.year = static_cast<int>(yearOfEra + era * 400 + (dt.month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsRepresentable(const DateTime& dt) {
    if (dt.year < 1601 || dt.year > kLastYear) return false;
    if (dt.month < 1 || dt.month > 12) return false;
    if (dt.day < 1 || dt.day > DaysInMonth(dt.year, dt.month)) return false;
    return dt.hour >= 0 && dt.hour <= 23 && dt.minute >= 0 && dt.minute <= 59 && dt.second >= 0 &&
           dt.second <= 59;
}

}  // namespace

DateTime FileTimeToDateTime(uint64_t fileTime) {
    const uint64_t totalSeconds = fileTime / kTicksPerSecond;
    const int64_t days = static_cast<int64_t>(totalSeconds / kSecondsPerDay);
    const int64_t secondOfDay = static_cast<int64_t>(totalSeconds % kSecondsPerDay);
    DateTime dt;
    CivilFromDays(days + kDaysTo1601, dt);
    dt.hour = static_cast<int>(secondOfDay / 3600);
    dt.minute = static_cast<int>(secondOfDay / 60 % 60);
    dt.second = static_cast<int>(secondOfDay % 60);
    return dt;
}

uint64_t DateTimeToFileTime(const DateTime& dt) {
    if (!IsRepresentable(dt)) return 0;
    const int64_t days = DaysFromCivil(dt.year, dt.month, dt.day) - kDaysTo1601;
    const int64_t seconds = days * kSecondsPerDay + dt.hour * 3600 + dt.minute * 60 + dt.second;
    return static_cast<uint64_t>(seconds) * kTicksPerSecond;
}

// The file service promises not to raise here; the guards keep that promise
// for the download engine even if a service breaks it, since a time stamp
// that cannot be read only costs one more download.
uint64_t GetFileWriteTime(IFileSystem& files, const Text& strFile) {
    try {
        return files.GetFileWriteTime(strFile);
    } catch (const QxError&) {
        return 0;
    }
}

DateTime GetFileDate(IFileSystem& files, const Text& strFile) {
    return FileTimeToDateTime(GetFileWriteTime(files, strFile));
}

void SetFileTimes(IFileSystem& files, const Text& strFile, uint64_t lngFileTime) {
    try {
        files.SetFileTimes(strFile, lngFileTime);
    } catch (const QxError&) {
        // The file keeps its old times; the next run downloads it again.
    }
}

void SetFileDate(IFileSystem& files, const Text& strFile, const DateTime& dtDate) {
    const uint64_t raw = DateTimeToFileTime(dtDate);
    if (raw == 0) return;
    SetFileTimes(files, strFile, raw);
}

}  // namespace qx
