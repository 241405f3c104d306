// MS-DOS date and time of ZIP headers, in local time.
#include <ctime>

#include "dostime.h"

extern "C" {

QB_API dostime_t dostime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return 0;
    return static_cast<dostime_t>(year - 1980) << 25 | static_cast<dostime_t>(month) << 21 |
           static_cast<dostime_t>(day) << 16 | static_cast<dostime_t>(hour) << 11 |
           static_cast<dostime_t>(minute) << 5 | static_cast<dostime_t>(second) >> 1;
}

QB_API dostime_t unix2dostime(time_t unix_time) {
    // DOS keeps two-second steps; round up so a file never looks older than it is.
    const time_t even = (unix_time + 1) & ~static_cast<time_t>(1);
    struct tm t;
    if (!localtime_r(&even, &t)) return 0;
    return dostime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

QB_API time_t dos2unixtime(dostime_t d) {
    struct tm t = {};
    t.tm_sec = static_cast<int>(2 * (d & 0x1f));
    t.tm_min = static_cast<int>((d >> 5) & 0x3f);
    t.tm_hour = static_cast<int>((d >> 11) & 0x1f);
    t.tm_mday = static_cast<int>((d >> 16) & 0x1f);
    t.tm_mon = static_cast<int>((d >> 21) & 0x0f);
    t.tm_year = static_cast<int>(1980 + ((d >> 25) & 0x7f));
    if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 59)
        return -1;
    t.tm_mon -= 1;
    t.tm_year -= 1900;
    t.tm_isdst = -1;
    return mktime(&t);
}

QB_API dostime_t mindostime(void) { return dostime(1980, 1, 1, 0, 0, 0); }
QB_API dostime_t maxdostime(void) { return dostime(2107, 12, 31, 23, 59, 58); }

}  // extern "C"
