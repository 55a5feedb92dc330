// The one mapping of Windows paths to POSIX paths that every stand-in uses. Pure text, so the
// table holds on every target.
#include <platform/posix_path.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* windows;
    const char* posix; // null: refused
};

void Check(const Case& c) {
    SCOPED_TRACE(c.windows ? c.windows : "(null)");
    std::string out = "unchanged";
    const bool ok = dbpf::posix::ToPosixPath(c.windows, &out);
    if (c.posix == nullptr) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, "unchanged");
    } else {
        EXPECT_TRUE(ok);
        EXPECT_EQ(out, c.posix);
    }
}

TEST(PosixPath, TheRules) {
    const Case cases[] = {
        // Drive Z: is the root, in either case and with either separator.
        {"Z:\\home\\u\\x.txt", "/home/u/x.txt"},
        {"z:\\home", "/home"},
        {"Z:/tmp/x", "/tmp/x"},
        {"Z:\\", "/"},
        {"Z:/", "/"},
        // Without a drive the path is used as it is: rooted or relative.
        {"\\home\\u\\x.txt", "/home/u/x.txt"},
        {"/home/u/x.txt", "/home/u/x.txt"},
        {"\\", "/"},
        {"rel\\x.txt", "rel/x.txt"},
        {"x.txt", "x.txt"},
        {"mixed/dir\\x", "mixed/dir/x"},
        // Drive-relative: the current directory of Z:, the working directory under Wine.
        {"Z:notes.txt", "notes.txt"},
        {"z:sub\\notes.txt", "sub/notes.txt"},
        {"Z:", "."},
        {"Z:..\\x", "../x"},
        // Only a letter makes a drive.
        {"1:x", "1:x"},
        {":x", ":x"},
        // Trailing separators stay, as do . and .. (the file system resolves them).
        {"Z:\\home\\u\\", "/home/u/"},
        {"\\tmp\\\\", "/tmp//"},
        {"Z:\\a\\.\\b\\..\\c", "/a/./b/../c"},
        {".", "."},
        {"..\\..", "../.."},
        {"\\..\\x", "/../x"},
        // Blanks and bytes of other characters are part of names.
        {"Z:\\My Files\\\xC3\xA9t\xC3\xA9.txt", "/My Files/\xC3\xA9t\xC3\xA9.txt"},
        {"a b \\ c", "a b / c"},
        // Other drives do not exist.
        {"C:\\x.txt", nullptr},
        {"c:x.txt", nullptr},
        {"Y:", nullptr},
        {"A:/", nullptr},
        // Nor do network paths and device namespaces, in any spelling.
        {"\\\\srv\\share\\f", nullptr},
        {"//srv/share/f", nullptr},
        {"\\/srv/share", nullptr},
        {"/\\srv", nullptr},
        {"\\\\", nullptr},
        {"\\\\.\\pipe\\x", nullptr},
        {"\\\\?\\Z:\\x", nullptr},
        {"\\\\?\\UNC\\srv\\share", nullptr},
        // Nothing to map.
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases)
        Check(c);
}

} // namespace
