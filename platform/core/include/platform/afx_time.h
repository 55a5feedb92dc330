// CTime: a calendar time, held as seconds since 1970-01-01 00:00 UTC (64-bit).
//
// The value 0 is the "zero time": it is what a default object holds and what a date before
// 1900 becomes. Conversions from broken-down or file times go through the runtime's
// _mktime64 and so cover 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC; outside that
// range the calendar time cannot be formed.
//
// Failures are raised, as the class layer raises them, with a pointer to a COleException
// (afx_object.h) whose m_sc is the result code:
//   E_INVALIDARG  a platform conversion failed (file time to local time or to its breakdown)
//                 or the fields do not form a calendar time in the range above;
//   E_FAIL        a field is out of range (month 1-12, day 1-31, hour 0-23, minute and
//                 second 0-59, year 1900 or later).
// The catcher owns the exception and calls Delete().
//
// Local time is the process's time zone (TZ on POSIX, the system's setting on Windows).
#pragma once

#include <platform/afx_object.h>
#include <platform/afx_string.h>
#include <platform/win_types.h>

#include <ctime>

#ifdef _WIN32
#include <time.h>
#else
#include <cstdint>

// The runtime's 64-bit calendar time.
typedef std::int64_t __time64_t;

// POSIX stand-ins of the time services a file time is converted with. They behave as the
// Windows ones for every value a file can carry, with one difference: the local-time
// conversion applies the time zone offset in force at the given instant (Windows applies
// the offset in force now).
extern "C" {
// UTC file time to local file time. FALSE when the result would leave the FILETIME range.
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
// Breakdown of a file time (proleptic Gregorian calendar). FALSE for values at or above
// 0x8000000000000000, which Windows refuses too.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// mktime over 64-bit time: normalises *ptm and returns the calendar time, or -1 when it lies
// outside 1970-01-01 00:00:00 UTC .. 3000-12-31 23:59:59 UTC (ptm is then left alone).
__time64_t _mktime64(struct tm* ptm);
}
#endif

class CTime {
public:
    // The zero time.
    CTime() noexcept : m_time(0) {}
    explicit CTime(__time64_t time) noexcept : m_time(time) {}
    // Local date and time; nDST < 0 lets the runtime decide whether daylight saving applies,
    // 0 says it does not, > 0 that it does. Raises as described above.
    CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST = -1);
    // Local date and time from a breakdown (milliseconds and day of week ignored). A year
    // before 1900 gives the zero time; otherwise as the constructor above.
    CTime(const SYSTEMTIME& st, int nDST = -1);
    // A file time (UTC): converted to local file time, broken down, then as from a
    // SYSTEMTIME. Raises E_INVALIDARG when either platform step fails.
    CTime(const FILETIME& ft, int nDST = -1);

    __time64_t GetTime() const noexcept { return m_time; }

    // The value as local time. False when the runtime cannot break it down.
    bool GetLocalTm(struct tm* ptm) const;
    // strftime over the local time; empty when the value cannot be broken down.
    CString Format(const char* pszFormat) const;

    bool operator==(const CTime& other) const noexcept { return m_time == other.m_time; }
    bool operator!=(const CTime& other) const noexcept { return m_time != other.m_time; }
    bool operator<(const CTime& other) const noexcept { return m_time < other.m_time; }

private:
    __time64_t m_time;
};
