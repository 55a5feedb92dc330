// The same expectations hold for the real Windows functions (Windows build, under Wine here)
// and for the POSIX stand-ins. differential_test.cpp compares the portable logic with the real
// functions on generated inputs.
#include <platform/win_shell.h>

#include "shell_logic.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <shellapi.h>
#endif

namespace {

std::string Args(const std::string& in) {
    std::vector<char> buf(in.begin(), in.end());
    buf.push_back('\0');
    const char* p = PathGetArgsA(buf.data());
    return p;
}
std::string RemoveArgs(const std::string& in) {
    std::vector<char> buf(in.begin(), in.end());
    buf.push_back('\0');
    PathRemoveArgsA(buf.data());
    return buf.data();
}
std::string Unquote(const std::string& in) {
    std::vector<char> buf(in.begin(), in.end());
    buf.push_back('\0');
    PathUnquoteSpacesA(buf.data());
    return buf.data();
}

struct SplitResult {
    int rc;
    std::string drive, dir, fname, ext;
};
SplitResult Split(const std::string& in) {
    char drive[3], dir[256], fname[256], ext[256];
    SplitResult r;
    r.rc = _splitpath_s(in.c_str(), drive, sizeof drive, dir, sizeof dir, fname, sizeof fname, ext,
                        sizeof ext);
    r.drive = drive;
    r.dir = dir;
    r.fname = fname;
    r.ext = ext;
    return r;
}

struct ArgsCase {
    const char* input;
    const char* args;
    const char* removed;
};

const ArgsCase kArgsCases[] = {
    {"app.exe", "", "app.exe"},
    {"app.exe /a", "/a", "app.exe"},
    {"app.exe   /a", "  /a", "app.exe"},
    {"app.exe ", "", "app.exe"},
    {"app.exe  ", " ", "app.exe"},
    {"\"C:\\Program Files\\app.exe\" /x \"y z\"", "/x \"y z\"", "\"C:\\Program Files\\app.exe\""},
    {"a\"b c\"d e", "e", "a\"b c\"d"},
    {"a\"b c", "", "a\"b c"},
    {" lead", "lead", ""},
    {" ", "", ""},
    {"", "", ""},
    {"x\ty", "", "x\ty"},
    {"\xE9t\xE9 \xFF", "\xFF", "\xE9t\xE9"},
    {"C:/dir/a.exe -q", "-q", "C:/dir/a.exe"},
};

TEST(ShellArguments, GetAndRemove) {
    for (const ArgsCase& c : kArgsCases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Args(c.input), c.args);
        EXPECT_EQ(RemoveArgs(c.input), c.removed);
    }
}

TEST(ShellArguments, UnquoteOnlyEnclosingPair) {
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"\"a b\"", "a b"}, {"\"a b", "\"a b"},         {"a b\"", "a b\""},           {"\"\"", ""},
        {"\"", ""},         {"\"a\" \"b\"", "a\" \"b"}, {"\"\xC0\xFF\"", "\xC0\xFF"}, {"x", "x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Unquote(c.input), c.expected);
    }
}

TEST(ShellSplitPath, Parts) {
    const struct {
        const char* input;
        SplitResult expected;
    } cases[] = {
        {"C:\\dir\\sub\\file.txt", {0, "C:", "\\dir\\sub\\", "file", ".txt"}},
        {"C:/dir/file.tar.gz", {0, "C:", "/dir/", "file.tar", ".gz"}},
        {"\\\\server\\share\\f.txt", {0, "", "\\\\server\\share\\", "f", ".txt"}},
        {".profile", {0, "", "", "", ".profile"}},
        {"C:", {0, "C:", "", "", ""}},
        {"x:", {0, "x:", "", "", ""}},
        {":x", {0, "", "", ":x", ""}},
        {"a.b\\c", {0, "", "a.b\\", "c", ""}},
        {"C:rel\\x.txt", {0, "C:", "rel\\", "x", ".txt"}},
        {"dir\\..", {0, "", "dir\\", ".", "."}},
        {"name.", {0, "", "", "name", "."}},
        {"C:\\a\\b\\", {0, "C:", "\\a\\b\\", "", ""}},
        {"\xE9\\\xFF.\xC0", {0, "", "\xE9\\", "\xFF", ".\xC0"}},
        {"C:\\My Files\\a b.c d", {0, "C:", "\\My Files\\", "a b", ".c d"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        SplitResult r = Split(c.input);
        EXPECT_EQ(r.rc, c.expected.rc);
        EXPECT_EQ(r.drive, c.expected.drive);
        EXPECT_EQ(r.dir, c.expected.dir);
        EXPECT_EQ(r.fname, c.expected.fname);
        EXPECT_EQ(r.ext, c.expected.ext);
    }
}

TEST(ShellSplitPath, PartsFlushWithTheirBuffers) {
    // 255 characters plus the zero fill each 256-byte buffer exactly.
    std::string dir = "\\" + std::string(253, 'd') + "\\";
    std::string name(255, 'n');
    std::string ext = "." + std::string(254, 'e');
    SplitResult r = Split(dir);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.dir, dir);
    r = Split(name);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.fname, name);
    r = Split(ext);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.ext, ext);

    char buf[260];
    std::string longest(259, 'x');
    EXPECT_EQ(strcpy_s(buf, sizeof buf, longest.c_str()), 0);
    EXPECT_EQ(std::string(buf), longest);
}

#ifndef _WIN32
// The real functions end the process here (invalid-parameter handler); the stand-ins report.
TEST(ShellSplitPath, StandInsReportOverflow) {
    std::string dir = "\\" + std::string(254, 'd') + "\\"; // 256 characters
    SplitResult r = Split("C:" + dir + "x.y");
    EXPECT_EQ(r.rc, ERANGE);
    EXPECT_EQ(r.drive, "");
    EXPECT_EQ(r.dir, "");
    EXPECT_EQ(r.fname, "");
    EXPECT_EQ(Split("." + std::string(255, 'e')).rc, ERANGE);
    EXPECT_EQ(_splitpath_s(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
    char d[3];
    EXPECT_EQ(_splitpath_s("C:", d, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);

    char buf[260];
    std::string tooLong(260, 'x');
    EXPECT_EQ(strcpy_s(buf, sizeof buf, tooLong.c_str()), ERANGE);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(strcpy_s(buf, sizeof buf, nullptr), EINVAL);
    EXPECT_EQ(strcpy_s(nullptr, 4, "x"), EINVAL);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(buf), buf, sizeof buf), 0u);
}
#endif

TEST(ShellProcess, CommandLineAndModuleNameNameThisProgram) {
    const char* commandLine = GetCommandLineA();
    ASSERT_NE(commandLine, nullptr);
    EXPECT_NE(std::strstr(commandLine, "platform_shell_tests"), nullptr) << commandLine;

    char name[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, name, sizeof name);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof name);
    EXPECT_EQ(std::strlen(name), n);
    EXPECT_NE(std::strstr(name, "platform_shell_tests"), nullptr) << name;

    char small[8];
    std::memset(small, 0x7F, sizeof small);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
    EXPECT_EQ(std::string(small, 7), std::string(name, 7));
#ifndef _WIN32
    EXPECT_EQ(small[7], '\0'); // Windows versions differ here; the stand-in terminates
#endif
}

TEST(ShellProcess, CommandLineQuotesAsWindowsParsesIt) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"app"}, "app"},
        {{"C:\\Program Files\\app.exe", "/a", "b c"}, "\"C:\\Program Files\\app.exe\" /a \"b c\""},
        {{"x", ""}, "x \"\""},
        {{"say\"hi\""}, "\"say\\\"hi\\\"\""},
        {{"tab\there"}, "\"tab\there\""},
        {{"C:\\dir\\"}, "C:\\dir\\"},
        {{"C:\\my dir\\"}, "\"C:\\my dir\\\\\""},
        {{"a\\\\\"b"}, "\"a\\\\\\\\\\\"b\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::string line = shell_logic::BuildCommandLine(c.args);
        EXPECT_EQ(line, c.expected);
#ifdef _WIN32
        // Windows' own parser gives the arguments back. It reads the program name (the first
        // argument) by a simpler rule without escapes, so a plain one goes first.
        std::string full = "prog " + line;
        std::wstring wide(full.begin(), full.end());
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(static_cast<std::size_t>(argc), c.args.size() + 1);
        for (int i = 1; i < argc; ++i) {
            std::wstring expected(c.args[i - 1].begin(), c.args[i - 1].end());
            EXPECT_EQ(std::wstring(argv[i]), expected);
        }
        LocalFree(argv);
#endif
    }
}

} // namespace
