// Platform layer: the current local date and time (the C run-time's calendar time converted
// with the process's time zone).
#pragma once

#include <ctime>

namespace qr::sys {

struct LocalTime {
    int nYear;    // e.g. 2009
    int nMonth;   // 1 to 12
    int nDay;     // 1 to 31
    int nHour;    // 0 to 23
    int nMinute;  // 0 to 59
    int nSecond;  // 0 to 60 (a leap second)
};

// The fields of a broken-down time of the C run-time, in the calendar's own numbering.
inline LocalTime localTimeFrom(const std::tm& tmLocal) {
    return {tmLocal.tm_year + 1900, tmLocal.tm_mon + 1, tmLocal.tm_mday,
            tmLocal.tm_hour,        tmLocal.tm_min,     tmLocal.tm_sec};
}

// Fills time with the current local time. False when the clock or the time-zone conversion
// fails; the cause is recorded as the last error and time is left unchanged.
bool localTimeNow(LocalTime& time);

}  // namespace qr::sys
