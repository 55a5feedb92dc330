// CTime from file times and fields, and the time services under it. The breakdown cases hold
// for the real Windows functions as well (Windows build under Wine).
#include <platform/afx.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace {

using dbpf_test::ScopedTz;

FILETIME Ft(std::uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// Runs f and returns the result code of the COleException it raises, or 0 when none.
template <typename F> HRESULT RaisedCode(F f) {
    try {
        f();
    } catch (COleException* e) {
        HRESULT sc = e->m_sc;
        e->Delete();
        return sc;
    }
    return 0;
}

// On Windows the local-time step uses the system's zone, which TZ does not change; the exact
// cases need it to be UTC.
bool SystemZoneIsUtc() {
    FILETIME utc = Ft(132696144000000000ULL), local;
    return FileTimeToLocalFileTime(&utc, &local) && local.dwLowDateTime == utc.dwLowDateTime &&
           local.dwHighDateTime == utc.dwHighDateTime;
}

struct BreakdownCase {
    std::uint64_t ticks;
    WORD year, month, dayOfWeek, day, hour, minute, second, ms;
};

const BreakdownCase kBreakdown[] = {
    {0, 1601, 1, 1, 1, 0, 0, 0, 0},
    {116444736000000000ULL, 1970, 1, 4, 1, 0, 0, 0, 0},
    {125963012967890000ULL, 2000, 2, 2, 29, 12, 34, 56, 789}, // leap day
    {126444736000000000ULL, 2001, 9, 0, 9, 1, 46, 40, 0},     // a Sunday
    {94354847990000000ULL, 1899, 12, 0, 31, 23, 59, 59, 0},
    {0x7FFFFFFFFFFFFFFFULL, 30828, 9, 4, 14, 2, 48, 5, 477}, // the largest accepted value
};

TEST(FileTimeBreakdown, KnownValues) {
    for (const BreakdownCase& c : kBreakdown) {
        SCOPED_TRACE(c.ticks);
        FILETIME ft = Ft(c.ticks);
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(c.year, st.wYear);
        EXPECT_EQ(c.month, st.wMonth);
        EXPECT_EQ(c.dayOfWeek, st.wDayOfWeek);
        EXPECT_EQ(c.day, st.wDay);
        EXPECT_EQ(c.hour, st.wHour);
        EXPECT_EQ(c.minute, st.wMinute);
        EXPECT_EQ(c.second, st.wSecond);
        EXPECT_EQ(c.ms, st.wMilliseconds);
    }
}

TEST(FileTimeBreakdown, RefusesValuesWithTheHighBit) {
    FILETIME ft = Ft(0x8000000000000000ULL);
    SYSTEMTIME st;
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
}

TEST(CTimeFromFileTime, UtcValues) {
    ScopedTz tz("UTC0");
    if (!SystemZoneIsUtc())
        GTEST_SKIP() << "the system time zone is not UTC";
    // Milliseconds are dropped, not rounded.
    EXPECT_EQ(1000000000, CTime(Ft(126444736000000000ULL)).GetTime());
    EXPECT_EQ(1000000000, CTime(Ft(126444736009999999ULL)).GetTime());
    EXPECT_EQ(951827696, CTime(Ft(125963012967890000ULL)).GetTime());
    // Before 1900, including the all-zero value of a failed query: the zero time.
    EXPECT_EQ(0, CTime(Ft(0)).GetTime());
    EXPECT_EQ(0, CTime(Ft(94354847990000000ULL)).GetTime());
}

TEST(CTimeFromFileTime, RaisesForTimesThatCannotBeFormed) {
    ScopedTz tz("UTC0");
    if (!SystemZoneIsUtc())
        GTEST_SKIP() << "the system time zone is not UTC";
    // 1900-06-01: broken down fine, but before the calendar range.
    EXPECT_EQ(E_INVALIDARG, RaisedCode([] { CTime t(Ft(94485312000000000ULL)); }));
    // 3001-01-01: after it.
    EXPECT_EQ(E_INVALIDARG, RaisedCode([] { CTime t(Ft(441796896000000000ULL)); }));
    // The breakdown refuses it.
    EXPECT_EQ(E_INVALIDARG, RaisedCode([] { CTime t(Ft(0x8000000000000000ULL)); }));
}

TEST(CTimeFromFields, FieldChecksRaiseFail) {
    ScopedTz tz("UTC0");
    struct {
        int y, mo, d, h, mi, s;
    } bad[] = {{1899, 12, 31, 0, 0, 0}, {2020, 0, 1, 0, 0, 0},  {2020, 13, 1, 0, 0, 0},
               {2020, 1, 0, 0, 0, 0},   {2020, 1, 32, 0, 0, 0}, {2020, 1, 1, 24, 0, 0},
               {2020, 1, 1, -1, 0, 0},  {2020, 1, 1, 0, 60, 0}, {2020, 1, 1, 0, 0, 60}};
    for (const auto& b : bad) {
        SCOPED_TRACE(testing::Message() << b.y << "-" << b.mo << "-" << b.d << " " << b.h << ":"
                                        << b.mi << ":" << b.s);
        EXPECT_EQ(E_FAIL, RaisedCode([&] { CTime t(b.y, b.mo, b.d, b.h, b.mi, b.s); }));
    }
    // Day 31 of a 30-day month passes the checks and is normalised by the runtime.
    EXPECT_EQ(CTime(2021, 5, 1, 0, 0, 0).GetTime(), CTime(2021, 4, 31, 0, 0, 0).GetTime());
}

TEST(CTimeFromFields, LocalTimeAndFormat) {
    ScopedTz tz("UTC0");
    CTime t(2001, 9, 9, 1, 46, 40);
    EXPECT_EQ(1000000000, t.GetTime());
    EXPECT_STREQ("2001-09-09 01:46:40", t.Format("%Y-%m-%d %H:%M:%S"));
}

#ifndef _WIN32
// The stand-in applies the offset in force at the instant converted, so that a file time
// comes back as the same calendar time in summer and in winter.
TEST(CTimeFromFileTime, DaylightSavingZone) {
    ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
    FILETIME summer = Ft(132696144000000000ULL); // 2021-07-01 12:00 UTC
    FILETIME winter = Ft(132551856000000000ULL); // 2021-01-15 12:00 UTC
    FILETIME local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    EXPECT_EQ(14, st.wHour);
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    EXPECT_EQ(13, st.wHour);
    EXPECT_EQ(1625140800, CTime(summer).GetTime());
    EXPECT_EQ(1610712000, CTime(winter).GetTime());
}

// West of Greenwich the zero file time has no local time: the step fails instead of
// wrapping around.
TEST(CTimeFromFileTime, ZeroTimeWestOfGreenwich) {
    ScopedTz tz("EST5EDT");
    FILETIME zero = Ft(0), local;
    EXPECT_FALSE(FileTimeToLocalFileTime(&zero, &local));
    EXPECT_EQ(E_INVALIDARG, RaisedCode([&] { CTime t(zero); }));
}
#endif

} // namespace
