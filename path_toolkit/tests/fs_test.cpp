// CPath's file-system queries, on real files the tests make. The same cases run natively and
// on Windows (under Wine here); paths come from the temporary directory of each platform.
#include <corvane.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

using dbpf_test::ScopedTz;
using dbpf_test::TempDir;

// Seconds since 1970 as a FILETIME.
FILETIME FileTimeOf(long long seconds) {
    unsigned long long ticks =
        static_cast<unsigned long long>(seconds + 11644473600LL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// Sets the access and write times (and on Windows the creation time) of a file.
bool SetTimes(const std::string& path, long long created, long long accessed, long long written) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME c = FileTimeOf(created), a = FileTimeOf(accessed), w = FileTimeOf(written);
    BOOL ok = SetFileTime(h, &c, &a, &w);
    CloseHandle(h);
    return ok != 0;
#else
    (void)created;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(accessed);
    times[0].tv_nsec = 0;
    times[1].tv_sec = static_cast<time_t>(written);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

// On Windows the file time goes to local time in the system's zone, which TZ does not set.
bool SystemZoneIsUtc() {
    FILETIME utc = FileTimeOf(1625140800), local;
    return FileTimeToLocalFileTime(&utc, &local) && local.dwLowDateTime == utc.dwLowDateTime &&
           local.dwHighDateTime == utc.dwHighDateTime;
}

struct ConversionCase {
    const char* path;
    const char* base;
    const char* expected;
};

TEST(CPathConversions, AbsoluteForm) {
    const ConversionCase cases[] = {
        {"rel\\x.txt", "C:\\base", "C:\\base\\rel\\x.txt"},
        {"rel\\x.txt", "C:\\base\\", "C:\\base\\rel\\x.txt"},
        {"..\\x.txt", "C:\\base", "C:\\x.txt"},
        {"..\\..\\..\\x.txt", "C:\\base", "C:\\x.txt"}, // .. above the root is dropped
        {".\\a\\.\\x.txt", "C:\\base", "C:\\base\\a\\x.txt"},
        {"rel\\x.txt", "\\\\srv\\share\\dir", "\\\\srv\\share\\dir\\rel\\x.txt"},
        // A base with slashes, as POSIX callers give it: the slashes count as separators.
        {"..\\x.txt", "C:/base/sub", "C:\\base\\x.txt"},
        {"rel\\x.txt", "/home/u", "\\home\\u\\rel\\x.txt"},
        // Not relative, or no base: nothing.
        {"C:\\a\\x.txt", "C:\\base", ""},
        {"\\a\\x.txt", "C:\\base", ""},
        {"x.txt", "C:\\base", ""},
        {"rel\\x.txt", "", ""},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " against " + c.base);
        CPath path(c.path, 0, 0);
        EXPECT_STREQ(c.expected, path.GetAbsolutePath(c.base));
    }
    CPath path("rel\\x.txt", 0, 0);
    EXPECT_STREQ("", path.GetAbsolutePath(nullptr));
    // A joined text too long for the platform's buffer gives nothing.
    EXPECT_STREQ("", path.GetAbsolutePath(("C:\\" + std::string(255, 'b')).c_str()));
}

TEST(CPathConversions, RelativeForm) {
    const ConversionCase cases[] = {
        {"C:\\a\\b\\c.txt", "C:\\a", "b\\c.txt"}, // no leading .\ .
        {"C:\\a\\b\\c.txt", "C:\\a\\", "b\\c.txt"},
        {"C:\\a\\b\\c.txt", "c:/A", "b\\c.txt"},
        {"C:\\x\\y.txt", "C:\\a", "..\\x\\y.txt"},
        {"C:\\y.txt", "C:\\", "y.txt"},
        {"C:\\a\\y.txt", "C:\\a\\b\\c", "..\\..\\y.txt"},
        {"\\home\\u\\x.txt", "/home/v", "..\\u\\x.txt"},
        {"\\\\srv\\share\\b\\c.txt", "\\\\srv\\share\\a", "..\\b\\c.txt"},
        // Other drive, relative object, no base: nothing.
        {"D:\\y.txt", "C:\\a", ""},
        {"rel\\x.txt", "C:\\a", ""},
        {"C:\\a\\b.txt", "", ""},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " against " + c.base);
        CPath path(c.path, 0, 0);
        EXPECT_STREQ(c.expected, path.GetRelativePath(c.base));
    }
    // A directory keeps its trailing backslash.
    CPath dir("C:\\a\\b", 1, 0);
    EXPECT_STREQ("b\\", dir.GetRelativePath("C:\\a"));
}

TEST(CPathFileSystem, ExistenceOfFilesAndLocations) {
    TempDir dir;
    std::string file = dir.Write("x.txt", "abc");
    CPath path(file.c_str(), 0, 0);
    EXPECT_EQ(1, path.ExistFile());
    EXPECT_EQ(1, path.ExistLocation());

    // Quotes and arguments of a command line do not take part.
    CPath command(("\"" + file + "\" /a b").c_str(), 0, 1);
    EXPECT_EQ(1, command.ExistFile());

    CPath missing(dir.Text("missing.txt").c_str(), 0, 0);
    EXPECT_EQ(0, missing.ExistFile());
    EXPECT_EQ(1, missing.ExistLocation());

    // A directory object has no title: no file, but the location exists.
    CPath folder(dir.Text().c_str(), 1, 0);
    EXPECT_EQ(0, folder.ExistFile());
    EXPECT_EQ(1, folder.ExistLocation());

    CPath gone((dir.Text("nowhere") + "/x.txt").c_str(), 0, 0);
    EXPECT_EQ(0, gone.ExistLocation());

    CPath fresh;
    EXPECT_EQ(0, fresh.ExistFile());
    EXPECT_EQ(0, fresh.ExistLocation());
}

TEST(CPathFileSystem, ShortAndLongForms) {
    TempDir dir;
    std::string file = dir.Write("a long name.text", "abc");
    CPath path(file.c_str(), 0, 0);
    CString strShort = path.GetShortPath();
    CString strLong = path.GetLongPath();
    ASSERT_FALSE(strShort.IsEmpty());
    ASSERT_FALSE(strLong.IsEmpty());
    EXPECT_EQ(1, CPath(strShort, 0, 0).ExistFile());
    EXPECT_EQ(1, CPath(strLong, 0, 0).ExistFile());

    CPath missing(dir.Text("missing.txt").c_str(), 0, 0);
    EXPECT_STREQ("", missing.GetShortPath());
    EXPECT_STREQ("", missing.GetLongPath());
}

TEST(CPathFileSystem, SizeAboveFourGigabytes) {
    TempDir dir;
    std::string file = dir.Write("sparse.bin", "");
    // Sparse where the file system allows: nothing near 5 GiB is written.
    std::error_code ec;
    fs::resize_file(file, 5368709120ULL, ec);
    if (ec)
        GTEST_SKIP() << "cannot make a 5 GiB file here: " << ec.message();
    CPath path(file.c_str(), 0, 0);
    __int64 nSize = -1;
    EXPECT_EQ(1, path.GetFileSize(nSize));
    EXPECT_EQ(5368709120LL, nSize);
    fs::resize_file(file, 0, ec);
}

TEST(CPathFileSystem, MissingFilesAndDirectories) {
    TempDir dir;
    const std::string texts[] = {dir.Text("missing.txt"), dir.Text()};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        CPath path(text.c_str(), 0, 0);
        __int64 nSize = 12345;
        EXPECT_EQ(0, path.GetFileSize(nSize));
        EXPECT_EQ(0, nSize);
        CTime time(1000000000);
        for (DWORD dwWhich : {0u, 1u, 2u}) {
            EXPECT_EQ(0, path.GetFileTime(time, dwWhich));
            EXPECT_EQ(0, time.GetTime());
        }
    }
}

// The zero record of a failed query is the zero time in every zone, also west of Greenwich
// where its local file time does not exist.
TEST(CPathFileSystem, MissingFileWestOfGreenwich) {
    ScopedTz tz("EST5EDT");
    TempDir dir;
    CPath path(dir.Text("missing.txt").c_str(), 0, 0);
    CTime time(1000000000);
    EXPECT_EQ(0, path.GetFileTime(time, 2));
    EXPECT_EQ(0, time.GetTime());
}

TEST(CPathFileSystem, TheThreeTimes) {
    ScopedTz tz("UTC0");
    if (!SystemZoneIsUtc())
        GTEST_SKIP() << "the system time zone is not UTC";
    TempDir dir;
    const long long before = static_cast<long long>(std::time(nullptr));
    std::string file = dir.Write("times.txt", "abc");
    const long long created = 1262304000;  // 2010-01-01
    const long long accessed = 1625140800; // 2021-07-01 12:00
    const long long written = 1577836800;  // 2020-01-01
    ASSERT_TRUE(SetTimes(file, created, accessed, written));
    const long long after = static_cast<long long>(std::time(nullptr));

    CPath path(file.c_str(), 0, 0);
    CTime time;
    ASSERT_EQ(1, path.GetFileTime(time, 2));
    EXPECT_EQ(written, time.GetTime());
    ASSERT_EQ(1, path.GetFileTime(time, 1));
    EXPECT_EQ(accessed, time.GetTime());
    ASSERT_EQ(1, path.GetFileTime(time, 7)); // any other value: the access time
    EXPECT_EQ(accessed, time.GetTime());
    ASSERT_EQ(1, path.GetFileTime(time, 0));
#ifdef _WIN32
    // Wine keeps no creation time of its own on Linux file systems.
    const bool bWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (!bWine) {
        EXPECT_EQ(created, time.GetTime());
    }
    (void)before;
    (void)after;
#else
    // POSIX cannot set the birth time: it is when the test made the file (or, without a
    // recorded birth time, when it set the times), within the clock's granularity.
    EXPECT_GE(time.GetTime(), before - 2);
    EXPECT_LE(time.GetTime(), after + 2);
    (void)created;
#endif
}

TEST(CPathFileSystem, FileTimesOutsideTheCalendarRangeRaise) {
    ScopedTz tz("UTC0");
    if (!SystemZoneIsUtc())
        GTEST_SKIP() << "the system time zone is not UTC";
    TempDir dir;
    std::string file = dir.Write("old.txt", "abc");
    ASSERT_TRUE(SetTimes(file, -315619200, -315619200, -315619200)); // 1960-01-01
    CPath path(file.c_str(), 0, 0);
    CTime time;
    HRESULT sc = 0;
    try {
        path.GetFileTime(time, 2);
    } catch (COleException* e) {
        sc = e->m_sc;
        e->Delete();
    }
    EXPECT_EQ(E_INVALIDARG, sc);
}

TEST(CPathDriveLabel, KindsOfPathWithoutAsking) {
    // Relative paths have no label.
    CPath relative("rel\\x.txt", 0, 0);
    EXPECT_STREQ("", relative.GetDriveLabel(0));
    EXPECT_STREQ("", relative.GetDriveLabel(1));
    // The server name of a network path, kept for later calls whatever they ask.
    CPath network("\\\\server\\share\\x.txt", 0, 0);
    EXPECT_STREQ("server", network.GetDriveLabel(1));
    EXPECT_STREQ("server", network.GetDriveLabel(0));
    // A path without drive or directory has no server name.
    CPath bare("x.txt", 0, 0);
    EXPECT_STREQ("", bare.GetDriveLabel(1));
}

TEST(CPathDriveLabel, RootOfTheTemporaryDirectory) {
    TempDir dir;
    CPath path(dir.Write("x.txt", "").c_str(), 0, 0);
    // Whatever the volume's label, a second call agrees with the first.
    CString strFirst = path.GetDriveLabel(0);
    EXPECT_STREQ(strFirst, path.GetDriveLabel(0));
}

} // namespace
