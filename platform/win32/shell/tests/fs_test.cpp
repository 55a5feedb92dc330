// File-system services of win_fs.h. The shared tables hold for the real functions (Windows
// build, under Wine here) and for the POSIX stand-ins; the portable text logic is checked
// against them on both targets. Cases where Wine's shlwapi answers otherwise than the rules
// the stand-ins keep are POSIX-only, each with the reason.
#include <platform/win_fs.h>

#include "path_text.h"

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct TextCase {
    const char* input;
    const char* expected;
};

void CheckCanonical(const TextCase& c) {
    SCOPED_TRACE(c.input);
    char api[MAX_PATH], logic[MAX_PATH];
    ASSERT_TRUE(PathCanonicalizeA(api, c.input));
    EXPECT_STREQ(c.expected, api);
    ASSERT_TRUE(path_text::Canonicalize(logic, c.input));
    EXPECT_STREQ(c.expected, logic);
}

const TextCase kCanonical[] = {
    // Roots.
    {"", "\\"},
    {"C:", "C:\\"},
    {"C:\\", "C:\\"},
    {"\\", "\\"},
    // . and .. removed; .. above the root dropped.
    {"C:\\base\\rel\\x.txt", "C:\\base\\rel\\x.txt"},
    {"C:\\base\\.\\x.txt", "C:\\base\\x.txt"},
    {"C:\\base\\..\\x.txt", "C:\\x.txt"},
    {"C:\\a\\b\\..\\..\\..\\c", "C:\\c"},
    {"C:\\..\\x", "C:\\x"},
    {"C:\\..", "C:\\"},
    {"\\..\\x", "\\x"},
    {"\\.\\a", "\\a"},
    {"A:\\name_1\\.\\name_2\\.\\name_3\\..\\name_4\\..", "A:\\name_1\\name_2"},
    {"C:\\a\\..", "C:\\"},
    // Trailing backslashes stay.
    {"C:\\a\\.\\", "C:\\a\\"},
    {"C:\\a\\..\\", "C:\\"},
    {"x:\\A\\..\\..\\B\\", "x:\\B\\"},
    {"C:\\.\\", "C:\\"},
    {"a\\.\\b\\", "a\\b\\"},
    // Dots inside names, doubled backslashes, slashes: ordinary text.
    {"C:\\a.\\b", "C:\\a.\\b"},
    {"C:\\a\\b..\\..\\c", "C:\\a\\c"},
    {"C:\\a\\\\b", "C:\\a\\\\b"},
    {"C:\\a\\\\..\\b", "C:\\a\\b"},
    {"C:/a/../b", "C:/a/../b"},
    // Relative texts keep the .. they cannot resolve.
    {"..\\x", "..\\x"},
    {".\\x", "x"},
    {"C:..\\x", "C:..\\x"},
    // Network paths: .. never removes the server.
    {"\\\\server\\share\\..\\x", "\\\\server\\x"},
    {"\\\\server\\share\\a\\..\\..\\..\\x", "\\\\server\\x"},
};

TEST(PathCanonicalize, WindowsRules) {
    for (const TextCase& c : kCanonical)
        CheckCanonical(c);
}

#ifndef _WIN32
// Wine keeps a trailing "." and mangles names that start with dots, and its relative results
// climb into the root; the stand-in keeps to the component rules above.
const TextCase kCanonicalOwn[] = {
    {"C:\\a\\.", "C:\\a"},              // Wine: C:\a\.
    {"C:\\a\\..b\\c", "C:\\a\\..b\\c"}, // Wine: C:b\c
    {"C:\\a\\...\\c", "C:\\a\\...\\c"}, // Wine: C:.\c
    {"a\\..\\..\\b", "..\\b"},          // Wine: \b
    {"C:a\\..\\..\\b", "C:..\\b"},      // Wine: \b
    {"a\\..", ""},                      // Wine: \\ (two backslashes)
};

TEST(PathCanonicalize, ComponentRulesWhereWineDiffers) {
    for (const TextCase& c : kCanonicalOwn)
        CheckCanonical(c);
}
#endif

TEST(PathCanonicalize, RefusesResultsThatDoNotFit) {
    std::string longPath = "C:\\" + std::string(300, 'a');
    char logic[MAX_PATH];
    EXPECT_FALSE(path_text::Canonicalize(logic, longPath.c_str()));
    EXPECT_STREQ("", logic);
    // Shrinks below the limit once .. is applied.
    std::string shrinking = "C:\\" + std::string(200, 'a') + "\\..\\" + std::string(100, 'b');
    ASSERT_TRUE(path_text::Canonicalize(logic, shrinking.c_str()));
    EXPECT_EQ("C:\\" + std::string(100, 'b'), logic);
}

struct RelativeCase {
    const char* from;
    bool fromIsDir;
    const char* to;
    bool toIsDir;
    const char* expected; // null: refused
};

void CheckRelative(const RelativeCase& c) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    char api[MAX_PATH], logic[MAX_PATH];
    BOOL ok = PathRelativePathToA(api, c.from, c.fromIsDir ? FILE_ATTRIBUTE_DIRECTORY : 0, c.to,
                                  c.toIsDir ? FILE_ATTRIBUTE_DIRECTORY : 0);
    bool okLogic = path_text::RelativePathTo(logic, c.from, c.fromIsDir, c.to, c.toIsDir);
    if (!c.expected) {
        EXPECT_FALSE(ok);
        EXPECT_FALSE(okLogic);
        return;
    }
    ASSERT_TRUE(ok);
    EXPECT_STREQ(c.expected, api);
    ASSERT_TRUE(okLogic);
    EXPECT_STREQ(c.expected, logic);
}

const RelativeCase kRelative[] = {
    // Below, beside and above the base.
    {"C:\\a", true, "C:\\a\\b\\c.txt", false, ".\\b\\c.txt"},
    {"C:\\a", true, "C:\\x\\y.txt", false, "..\\x\\y.txt"},
    {"C:\\a\\b\\c", true, "C:\\x", false, "..\\..\\..\\x"},
    {"C:\\a\\b", true, "C:\\a", true, ".."},
    {"C:\\a", true, "C:\\a", true, "."},
    {"C:\\a", true, "C:\\a\\", true, ".\\"},
    {"C:\\", true, "C:\\x.txt", false, ".\\x.txt"},
    {"C:", true, "C:\\x", false, ".\\x"},
    // The base given as a file: its directory counts.
    {"C:\\a\\f.txt", false, "C:\\a\\b\\c.txt", false, ".\\b\\c.txt"},
    {"C:\\a", false, "C:\\a\\x", false, ".\\a\\x"},
    // Components compare without regard to case, whole.
    {"c:\\A", true, "C:\\a\\x.txt", false, ".\\x.txt"},
    {"C:\\a\\b", true, "C:\\a\\B\\x.txt", false, ".\\x.txt"},
    {"C:\\ab", true, "C:\\a\\x.txt", false, "..\\a\\x.txt"},
    {"C:\\a", true, "C:\\ab\\x.txt", false, "..\\ab\\x.txt"},
    {"C:\\a b", true, "C:\\a b\\c", false, ".\\c"},
    // Rooted and network paths, relative pairs.
    {"\\home\\u", true, "\\home\\v\\x.txt", false, "..\\v\\x.txt"},
    {"\\\\s\\sh\\a", true, "\\\\s\\sh\\b\\c.txt", false, "..\\b\\c.txt"},
    {"a\\b", true, "a\\c\\x.txt", false, "..\\c\\x.txt"},
    // No common root.
    {"C:\\a", true, "D:\\y.txt", false, nullptr},
    {"\\\\s\\sh\\a", true, "\\\\t\\sh\\b\\c.txt", false, nullptr},
    {"a", true, "b\\x.txt", false, nullptr},
    {"", true, "C:\\a", false, nullptr},
    {"C:\\a", true, "", false, nullptr},
};

TEST(PathRelativePathTo, WindowsRules) {
    for (const RelativeCase& c : kRelative)
        CheckRelative(c);
}

#ifndef _WIN32
// Wine treats a trailing backslash of the base as an empty component and answers a rooted
// "\b\c.txt"; the stand-in ignores it, so C:\base\ and C:\base give the same result.
const RelativeCase kRelativeOwn[] = {
    {"C:\\a\\", true, "C:\\a\\b\\c.txt", false, ".\\b\\c.txt"}, // Wine: \b\c.txt
    {"C:\\a\\b\\", true, "C:\\a\\b\\c\\", true, ".\\c\\"},      // Wine: \c\ .
    {"\\\\s\\sh1\\a", true, "\\\\s\\sh2\\b", false, nullptr},   // other share
};

TEST(PathRelativePathTo, TrailingBackslashOfTheBase) {
    for (const RelativeCase& c : kRelativeOwn)
        CheckRelative(c);
}
#endif

using dbpf_test::TempDir;
using dbpf_test::WriteBytes;

TEST(FileSystemStandIns, ExistenceOfFilesAndDirectories) {
    TempDir dir;
    std::string file = dir.Text("x.txt");
    WriteBytes(file, "abc");
    EXPECT_TRUE(PathFileExistsA(file.c_str()));
    EXPECT_TRUE(PathFileExistsA(dir.Text().c_str()));
    EXPECT_FALSE(PathFileExistsA(dir.Text("missing.txt").c_str()));
    EXPECT_FALSE(PathFileExistsA(""));
#ifndef _WIN32
    // Windows spellings of the same POSIX path.
    std::string backslashed = file;
    for (char& c : backslashed)
        if (c == '/')
            c = '\\';
    EXPECT_TRUE(PathFileExistsA(backslashed.c_str()));
    EXPECT_TRUE(PathFileExistsA(("Z:" + backslashed).c_str()));
    EXPECT_TRUE(PathFileExistsA(("z:" + file).c_str()));
    // Other drives and network paths do not exist.
    EXPECT_FALSE(PathFileExistsA(("C:" + backslashed).c_str()));
    EXPECT_FALSE(PathFileExistsA(("\\\\server\\share" + backslashed).c_str()));
#endif
}

TEST(FileSystemStandIns, ShortAndLongNames) {
    TempDir dir;
    std::string file = dir.Text("long name.text");
    WriteBytes(file, "abc");
    char buffer[MAX_PATH];
    DWORD n = GetLongPathNameA(file.c_str(), buffer, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
    EXPECT_TRUE(PathFileExistsA(buffer));
    n = GetShortPathNameA(file.c_str(), buffer, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
    EXPECT_TRUE(PathFileExistsA(buffer));
#ifndef _WIN32
    EXPECT_EQ(file, buffer); // no 8.3 names: the path itself
#endif
    // Too small a buffer: the size needed, zero included.
    char tiny[4];
    EXPECT_EQ(GetLongPathNameA(file.c_str(), buffer, MAX_PATH) + 1,
              GetLongPathNameA(file.c_str(), tiny, sizeof tiny));
    std::string missing = dir.Text("missing.txt");
    EXPECT_EQ(0u, GetLongPathNameA(missing.c_str(), buffer, MAX_PATH));
    EXPECT_EQ(0u, GetShortPathNameA(missing.c_str(), buffer, MAX_PATH));
}

TEST(FileSystemStandIns, OpenOnlyExistingFiles) {
    TempDir dir;
    std::string file = dir.Text("x.bin");
    WriteBytes(file, std::string(1000, 'z'));
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0x27, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(0u, info.nFileSizeHigh);
    EXPECT_EQ(1000u, info.nFileSizeLow);
    EXPECT_EQ(0u, info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(0u, info.ftLastWriteTime.dwHighDateTime);
    EXPECT_TRUE(CloseHandle(h));

    // A directory needs a flag the callers do not pass; a missing file cannot be opened.
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir.Text().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, 0x27, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA(dir.Text("missing").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0x27, nullptr));
}

TEST(FileSystemStandIns, VolumeOfTheRoot) {
#ifdef _WIN32
    const char* roots[] = {"C:\\"};
#else
    const char* roots[] = {"Z:\\", "\\", "/"};
#endif
    for (const char* root : roots) {
        SCOPED_TRACE(root);
        char label[256];
        label[0] = 'x';
        label[1] = '\0';
        ASSERT_TRUE(GetVolumeInformationA(root, label, 255, nullptr, nullptr, nullptr, nullptr, 0));
        EXPECT_LT(std::string(label).size(), 255u);
    }
#ifndef _WIN32
    char label[256];
    EXPECT_FALSE(GetVolumeInformationA("C:\\", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationA("\\\\server\\share\\", label, 255, nullptr, nullptr, nullptr,
                                       nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationA("", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
#endif
}

} // namespace
