// File-system services of win_fs.h. The tables hold for the real functions (Windows build,
// under Wine here) and for the POSIX stand-ins, and the portable text logic is checked against
// them on both targets; differential_test.cpp compares it with the real functions on generated
// texts.
#include <platform/win_fs.h>

#include "path_text.h"

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

// The scan's own rules, kept because Windows answers so: dots and blanks make components like
// any other text, and ".." climbs whatever precedes it.
const TextCase kCanonicalQuirks[] = {
    {"C:\\a\\.", "C:\\a\\."},          // a trailing "." is not followed by a backslash
    {"C:\\a\\..b\\c", "C:b\\c"},       // "..b" climbs, and the root's backslash goes too
    {"C:\\a\\...\\c", "C:.\\c"},       // so does "...", leaving one dot
    {"a\\..\\..\\b", "\\b"},           // nothing left: restarts at "\", skips a character
    {"C:a\\..\\..\\b", "\\b"},         // a drive-relative start is no root
    {"a\\...\\b", "\\\\b"},            // ... and "..." skips its third dot instead
    {"..\\..\\x", "\\x"},              // the first ".." has nothing before it and stays text
    {"C:.\\x", "C:x"},                 // ".\" after the colon
    {"Z:.\\", "Z:\\"},                 // ... and the naked drive gets its backslash
    {"\\\\.\\pipe\\x", "\\\\pipe\\x"}, // device prefixes are text like any other
    {"\\\\?\\C:\\a\\..\\b", "\\\\?\\C:\\b"},
    {"\\\\server\\..\\x", "\\\\server\\x"},
    {"\\\\server\\share\\..", "\\\\server"},
};

TEST(PathCanonicalize, KeptQuirks) {
    for (const TextCase& c : kCanonicalQuirks)
        CheckCanonical(c);
}

TEST(PathCanonicalize, RefusesTextsOfMaxPathCharacters) {
    char api[MAX_PATH], logic[MAX_PATH];
    const std::string longest = "C:\\" + std::string(256, 'a'); // 259 characters
    ASSERT_TRUE(PathCanonicalizeA(api, longest.c_str()));
    EXPECT_EQ(longest, api);
    ASSERT_TRUE(path_text::Canonicalize(logic, longest.c_str()));
    EXPECT_EQ(longest, logic);
    // One more is refused, even where ".." would bring the result below the limit.
    const std::string tooLong[] = {longest + "b", "C:\\" + std::string(200, 'a') + "\\..\\" +
                                                      std::string(100, 'b')};
    for (const std::string& text : tooLong) {
        SCOPED_TRACE(text.size());
        std::memset(api, 'x', sizeof api);
        std::memset(logic, 'x', sizeof logic);
        EXPECT_FALSE(PathCanonicalizeA(api, text.c_str()));
        EXPECT_STREQ("", api);
        EXPECT_FALSE(path_text::Canonicalize(logic, text.c_str()));
        EXPECT_STREQ("", logic);
    }
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

// Kept because Windows answers so: a trailing backslash of the base is a level of its own, a
// share is an ordinary component, slashes separate nothing, and a file's name is cut off in
// place (the prefix "C:" counts as three characters and reaches into what was cut).
const RelativeCase kRelativeQuirks[] = {
    {"C:\\a\\", true, "C:\\a\\b\\c.txt", false, "\\b\\c.txt"},
    {"C:\\a\\b\\", true, "C:\\a\\b\\c\\", true, "\\c\\"},
    {"\\\\s\\sh1\\a", true, "\\\\s\\sh2\\b", false, "..\\..\\sh2\\b"},
    {"\\\\server\\share\\dir", true, "\\\\server\\share", false, "..\\..\\share"},
    {"\\\\server\\share\\dir", true, "\\\\server\\share", true, ".."},
    {"C:\\\\a", true, "C:\\\\a\\b", false, ".\\b"},
    {"C:\\\\a", true, "C:\\b", true, "..\\b"}, // the prefix "C:" counts as three
    {"C:/a", false, "C:/a/b", false, "../a/b"},
    {"C:/a", true, "C:/b", true, nullptr},
    {"a\\b", true, "a\\c", false, "..\\c"},
};

TEST(PathRelativePathTo, KeptQuirks) {
    for (const RelativeCase& c : kRelativeQuirks)
        CheckRelative(c);
}

TEST(PathRelativePathTo, ResultsOfMaxPathCharactersFail) {
    // 85 levels below C:\ give 85 ".." joined by backslashes (254 characters); a backslash and
    // a name of 4 make 259 characters, a name of 5 one too many.
    std::string base = "C:\\";
    for (int i = 0; i < 85; ++i)
        base += "a\\";
    char api[MAX_PATH], logic[MAX_PATH];
    for (std::size_t name : {4u, 5u}) {
        SCOPED_TRACE(name);
        const std::string to = "C:\\" + std::string(name, 'x');
        BOOL ok = PathRelativePathToA(api, base.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(), 0);
        bool okLogic = path_text::RelativePathTo(logic, base.c_str(), true, to.c_str(), false);
        EXPECT_EQ(name == 4, ok != FALSE);
        EXPECT_EQ(name == 4, okLogic);
        EXPECT_EQ(std::string(api), logic);
        EXPECT_EQ(name == 4 ? 259u : 0u, std::string(logic).size());
    }
    // Texts of MAX_PATH characters or more are refused outright (the shell does not check
    // them, see differential_test.cpp).
    const std::string tooLong = "C:\\" + std::string(257, 'a');
    EXPECT_FALSE(path_text::RelativePathTo(logic, tooLong.c_str(), true, "C:\\x", false));
    EXPECT_STREQ("", logic);
    EXPECT_FALSE(path_text::RelativePathTo(logic, "C:\\x", true, tooLong.c_str(), false));
}

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
    // The name goes through the mapping of Windows paths (its rules: posix_path_test.cpp): a
    // Windows spelling of the file is found, and the network spelling "//..." of it is not,
    // although POSIX itself would find it.
    std::string backslashed = file;
    for (char& c : backslashed)
        if (c == '/')
            c = '\\';
    EXPECT_TRUE(PathFileExistsA(("Z:" + backslashed).c_str()));
    EXPECT_FALSE(PathFileExistsA(("/" + file).c_str()));
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
    const char* roots[] = {"Z:\\", "\\"};
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
    // A root that POSIX would take ("//"), refused by the mapping as a network path; a root
    // must end with a separator ("Z:" maps to ".").
    char label[256];
    EXPECT_FALSE(GetVolumeInformationA("//", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationA("Z:", label, 255, nullptr, nullptr, nullptr, nullptr, 0));
#endif
}

} // namespace
