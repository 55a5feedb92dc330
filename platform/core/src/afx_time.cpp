// CTime construction, and on POSIX the time services it rests on.
//
// A file time counts 100-nanosecond intervals since 1601-01-01 00:00 UTC. Its conversion to
// a calendar time runs in three platform steps: to local file time, to a breakdown
// (year .. second), and from the breakdown through _mktime64 with the daylight-saving flag
// of the caller, normally -1 so that the runtime decides whether daylight saving applied.
#include <platform/afx_time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

[[noreturn]] void ThrowResult(HRESULT sc) {
    AfxThrowOleException(sc);
}

} // namespace

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST) {
    if (nYear < 1900 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 || nHour < 0 ||
        nHour > 23 || nMin < 0 || nMin > 59 || nSec < 0 || nSec > 59)
        ThrowResult(E_FAIL);
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMin;
    t.tm_sec = nSec;
    t.tm_isdst = nDST;
    m_time = _mktime64(&t);
    if (m_time == -1)
        ThrowResult(E_INVALIDARG);
}

CTime::CTime(const SYSTEMTIME& st, int nDST) : m_time(0) {
    if (st.wYear < 1900)
        return; // the zero time
    *this = CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, nDST);
}

CTime::CTime(const FILETIME& ft, int nDST) : m_time(0) {
    FILETIME local;
    if (!FileTimeToLocalFileTime(&ft, &local))
        ThrowResult(E_INVALIDARG);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&local, &st))
        ThrowResult(E_INVALIDARG);
    *this = CTime(st, nDST);
}

bool CTime::GetLocalTm(struct tm* ptm) const {
    if (!ptm)
        return false;
#ifdef _WIN32
    __time64_t t = m_time;
    struct tm* r = _localtime64(&t);
    if (!r)
        return false;
    *ptm = *r;
    return true;
#else
    time_t t = static_cast<time_t>(m_time);
    if (static_cast<__time64_t>(t) != m_time)
        return false;
    return localtime_r(&t, ptm) != nullptr;
#endif
}

CString CTime::Format(const char* pszFormat) const {
    struct tm t;
    if (!pszFormat || !GetLocalTm(&t))
        return CString();
    char buffer[256];
    std::size_t n = std::strftime(buffer, sizeof buffer, pszFormat, &t);
    return CString(buffer, static_cast<int>(n));
}

#ifndef _WIN32

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;
// 3000-12-31 23:59:59 UTC, the last second _mktime64 accepts.
constexpr std::int64_t kMaxTime64 = 32535215999LL;

std::uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void SetTicks(FILETIME* ft, std::uint64_t ticks) {
    ft->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// Year, month (1-12) and day (1-31) of a day count since 1970-01-01 in the proleptic
// Gregorian calendar. Works in 400-year eras of 146097 days starting on March 1, so that
// the leap day is the last day of its year.
void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
    z += 719468; // days from 0000-03-01 to 1970-01-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);               // [0, 146096]
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
    const unsigned mp = (5 * doy + 2) / 153;                                    // [0, 11]
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

} // namespace

extern "C" {

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (!lpFileTime || !lpLocalFileTime)
        return FALSE;
    const std::uint64_t ticks = Ticks(*lpFileTime);
    const time_t utc =
        static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference);
    struct tm t;
    if (!localtime_r(&utc, &t))
        return FALSE;
    const std::int64_t offset = static_cast<std::int64_t>(t.tm_gmtoff);
    std::uint64_t local;
    if (offset >= 0) {
        const std::uint64_t add = static_cast<std::uint64_t>(offset) * kTicksPerSecond;
        if (ticks > UINT64_MAX - add)
            return FALSE;
        local = ticks + add;
    } else {
        const std::uint64_t sub = static_cast<std::uint64_t>(-offset) * kTicksPerSecond;
        if (ticks < sub)
            return FALSE;
        local = ticks - sub;
    }
    SetTicks(lpLocalFileTime, local);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (!lpFileTime || !lpSystemTime)
        return FALSE;
    const std::uint64_t ticks = Ticks(*lpFileTime);
    if (ticks >= 0x8000000000000000ULL)
        return FALSE;
    const std::uint64_t seconds = ticks / kTicksPerSecond;
    const std::uint64_t days = seconds / 86400; // since 1601-01-01, a Monday
    const std::uint64_t rest = seconds % 86400;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(static_cast<std::int64_t>(days) - kEpochDifference / 86400, &year, &month, &day);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wHour = static_cast<WORD>(rest / 3600);
    lpSystemTime->wMinute = static_cast<WORD>(rest / 60 % 60);
    lpSystemTime->wSecond = static_cast<WORD>(rest % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
    return TRUE;
}

__time64_t _mktime64(struct tm* ptm) {
    if (!ptm)
        return -1;
    struct tm t = *ptm;
    errno = 0;
    const time_t r = mktime(&t);
    // -1 is also 1969-12-31 23:59:59 UTC, which lies outside the range anyway.
    if (r == static_cast<time_t>(-1))
        return -1;
    const __time64_t result = static_cast<__time64_t>(r);
    if (result < 0 || result > kMaxTime64)
        return -1;
    *ptm = t;
    return result;
}

} // extern "C"

#endif // !_WIN32
