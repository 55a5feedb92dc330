#include <corvane.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

std::string Components(CPath& p) {
    std::string out;
    for (int i = 0; i < p.GetDirCount(); ++i)
        out += (i ? "|" : "") + S(p.GetDir(i));
    return out;
}

struct SplitCase {
    const char* input;
    int bDirectory;
    int bArgs;
    const char* drive;
    const char* dir;
    const char* components; // joined with |
    const char* title;
    const char* extName;
    int relative;
    int local;
    const char* rebuilt; // GetPath(0, 0)
    const char* args;
};

void Check(const SplitCase& c) {
    SCOPED_TRACE(std::string(c.input) + " dir=" + std::to_string(c.bDirectory) +
                 " args=" + std::to_string(c.bArgs));
    CPath p(c.input, c.bDirectory, c.bArgs);
    EXPECT_EQ(S(p.GetDrive()), c.drive);
    EXPECT_EQ(S(p.GetDir(-1)), c.dir);
    EXPECT_EQ(Components(p), c.components);
    EXPECT_EQ(S(p.GetFileTitle()), c.title);
    EXPECT_EQ(S(p.GetExtName()), c.extName);
    EXPECT_EQ(S(p.GetExtension()), *c.extName ? std::string(".") + c.extName : "");
    EXPECT_EQ(p.IsRelativePath(), c.relative);
    EXPECT_EQ(p.IsLocalPath(), c.local);
    EXPECT_EQ(p.IsFilePath(), *c.title ? 1 : 0);
    EXPECT_EQ(S(p.GetPath(0, 0)), c.rebuilt);
    EXPECT_EQ(S(p.GetLocation()), std::string(c.drive) + c.dir);
    EXPECT_EQ(S(p.GetArgument(-1, 0)), c.args);
    EXPECT_STREQ(static_cast<const char*>(p), c.rebuilt); // never with arguments
}

TEST(CPathSplit, Normal) {
    const SplitCase cases[] = {
        {"C:\\dir\\sub\\file.txt", 0, 0, "C:", "\\dir\\sub\\", "dir|sub", "file", "txt", 0, 1,
         "C:\\dir\\sub\\file.txt", ""},
        {"C:/dir/file.tar.gz", 0, 0, "C:", "\\dir\\", "dir", "file.tar", "gz", 0, 1,
         "C:\\dir\\file.tar.gz", ""},
        {"rel\\x.txt", 0, 0, "", "rel\\", "rel", "x", "txt", 1, 0, "rel\\x.txt", ""},
        {"C:rel\\x.txt", 0, 0, "C:", "rel\\", "rel", "x", "txt", 1, 0, "C:rel\\x.txt", ""},
        {"file.txt", 0, 0, "", "", "", "file", "txt", 0, 0, "file.txt", ""},
        {"C:", 0, 0, "C:", "", "", "", "", 0, 1, "C:", ""},
        {"C:\\a\\b\\", 1, 0, "C:", "\\a\\b\\", "a|b", "", "", 0, 1, "C:\\a\\b\\", ""},
        {"\"C:\\Program Files\\app.exe\" /a 1", 0, 1, "C:", "\\Program Files\\", "Program Files",
         "app", "exe", 0, 1, "C:\\Program Files\\app.exe", "/a 1"},
        {"\"C:\\Program Files\\app.exe\"", 0, 1, "C:", "\\Program Files\\", "Program Files", "app",
         "exe", 0, 1, "C:\\Program Files\\app.exe", ""},
        {"app.exe   /a", 0, 1, "", "", "", "app", "exe", 0, 0, "app.exe", "  /a"},
        {"C:\\\xE9t\xE9\\\xFF.\xC0", 0, 0, "C:", "\\\xE9t\xE9\\", "\xE9t\xE9", "\xFF", "\xC0", 0, 1,
         "C:\\\xE9t\xE9\\\xFF.\xC0", ""},
        {"C:\\dir.d\\noext", 0, 0, "C:", "\\dir.d\\", "dir.d", "noext", "", 0, 1,
         "C:\\dir.d\\noext", ""},
    };
    for (const SplitCase& c : cases)
        Check(c);
}

TEST(CPathSplit, Network) {
    const SplitCase cases[] = {
        {"\\\\server\\share\\dir\\f.txt", 0, 0, "", "\\\\server\\share\\dir\\", "server|share|dir",
         "f", "txt", 0, 0, "\\\\server\\share\\dir\\f.txt", ""},
        {"//server/share/f.txt", 0, 0, "", "\\\\server\\share\\", "server|share", "f", "txt", 0, 0,
         "\\\\server\\share\\f.txt", ""},
        // The network rule is for paths without drive: after a drive only the root backslash
        // is skipped, and a second one starts an empty component.
        {"C:\\\\a\\f.txt", 0, 0, "C:", "\\\\a\\", "|a", "f", "txt", 0, 1, "C:\\\\a\\f.txt", ""},
        {"C://a/f.txt", 0, 0, "C:", "\\\\a\\", "|a", "f", "txt", 0, 1, "C:\\\\a\\f.txt", ""},
        {"C:\\\\\\a\\", 1, 0, "C:", "\\\\\\a\\", "||a", "", "", 0, 1, "C:\\\\\\a\\", ""},
        {"Z:\\\\srv\\share\\f", 0, 0, "Z:", "\\\\srv\\share\\", "|srv|share", "f", "", 0, 1,
         "Z:\\\\srv\\share\\f", ""},
    };
    for (const SplitCase& c : cases)
        Check(c);
}

// Rooted paths without drive (every absolute POSIX path) skip the one root backslash only;
// directory mode keeps the last component whole, suffix included.
TEST(CPathSplit, MendedRootedAndDirectoryMode) {
    const SplitCase cases[] = {
        {"\\tools\\bin\\x.exe", 0, 0, "", "\\tools\\bin\\", "tools|bin", "x", "exe", 0, 0,
         "\\tools\\bin\\x.exe", ""},
        {"/home/u/x.txt", 0, 0, "", "\\home\\u\\", "home|u", "x", "txt", 0, 0, "\\home\\u\\x.txt",
         ""},
        {"C:\\a\\b.d", 1, 0, "C:", "\\a\\b.d\\", "a|b.d", "", "", 0, 1, "C:\\a\\b.d\\", ""},
        {"C:\\a\\b.d\\", 1, 0, "C:", "\\a\\b.d\\", "a|b.d", "", "", 0, 1, "C:\\a\\b.d\\", ""},
        {".profile", 1, 0, "", ".profile\\", ".profile", "", "", 0, 0, ".profile\\", ""},
    };
    for (const SplitCase& c : cases)
        Check(c);
}

TEST(CPathSplit, KeptQuirks) {
    const SplitCase cases[] = {
        // A name that starts with a dot is all extension, and an extension without a title is
        // dropped: nothing of it is left.
        {".profile", 0, 0, "", "", "", "", "", 0, 0, "", ""},
        // Directory mode decides "relative" on the directory the split found, which is empty
        // for a bare name.
        {"sub", 1, 0, "", "sub\\", "sub", "", "", 0, 0, "sub\\", ""},
        // Components between doubled backslashes are empty, not skipped.
        {"a\\\\b\\c.txt", 0, 0, "", "a\\\\b\\", "a||b", "c", "txt", 1, 0, "a\\\\b\\c.txt", ""},
        // Only double quotes around the whole text are removed.
        {"\"C:\\a b\\x.txt", 0, 0, "", "\"C:\\a b\\", "\"C:|a b", "x", "txt", 1, 0,
         "\"C:\\a b\\x.txt", ""},
    };
    for (const SplitCase& c : cases)
        Check(c);
}

TEST(CPathSplit, MalformedTextsGiveEmptyParts) {
    for (const char* text : {"", "\"", "\"\"", " "}) {
        SCOPED_TRACE(text);
        CPath p(text, 0, 1);
        EXPECT_EQ(S(p.GetPath(0, 0)), "");
        EXPECT_EQ(p.GetDirCount(), 0);
        EXPECT_EQ(p.GetArgCount(), 0);
        EXPECT_EQ(S(p.GetPath(0, 1)), text); // the input is kept as given
    }
    CPath n(nullptr, 0, 0);
    EXPECT_EQ(S(n.GetPath(0, 1)), "");
}

TEST(CPathSplit, InputKeptAsGiven) {
    const char* line = "\"C:\\Program Files\\app.exe\"  /a  \"x y\"";
    CPath p(line, 0, 1);
    EXPECT_EQ(S(p.GetPath(0, 1)), line);
    EXPECT_EQ(S(p.GetPath(0, 0)), "C:\\Program Files\\app.exe");
    EXPECT_EQ(S(p.GetArgument(-1, 0)), " /a  \"x y\"");
}

// Texts over 259 characters, or with a part over 255, are refused: the object is as after a
// split of an empty text, nothing of an earlier split left, in every mode. The texts run from
// one character over a limit to 10,000 characters of every shape.
TEST(CPathSplit, LengthsAtTheLimits) {
    std::string manyDirs = "C:";
    while (manyDirs.size() < 10000)
        manyDirs += "\\dir";
    struct {
        std::string text;
        bool accepted;
    } cases[] = {
        {"C:\\" + std::string(252, 'd') + "\\" + "x.y", true},  // 259 characters
        {"C:\\" + std::string(253, 'd') + "\\" + "x.y", false}, // 260
        {std::string(300, 'a'), false},
        {"\\" + std::string(253, 'd') + "\\x", true},  // directory of 255
        {"\\" + std::string(254, 'd') + "\\x", false}, // directory of 256
        {std::string(255, 't') + ".e", true},          // title of 255
        {std::string(256, 't'), false},                // title of 256
        {"t." + std::string(254, 'e'), true},          // extension of 255 with dot
        {"t." + std::string(255, 'e'), false},         // 256
        {"a.exe " + std::string(250, 'x'), true},      // 256 with the arguments
        {"a.exe " + std::string(254, 'x'), false},     // 260 with the arguments
        // 10,000 characters: one long name, many directories, a program with long arguments,
        // nothing but quotes or blanks, a long server name.
        {"C:\\" + std::string(10000, 'a') + ".txt", false},
        {manyDirs + "\\file.txt", false},
        {"\"C:\\Program Files\\app.exe\" " + std::string(10000, 'x'), false},
        {std::string(10000, '"'), false},
        {std::string(10000, ' '), false},
        {"\\\\" + std::string(10000, 's') + "\\share\\f.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.text.size()) + " characters: " + c.text.substr(0, 12));
        if (c.accepted) {
            CPath p("C:\\earlier\\split.txt /x", 0, 1);
            p.SetPath(c.text.c_str(), 0, 1);
            EXPECT_EQ(S(p.GetPath(0, 1)), c.text);
            EXPECT_FALSE(S(p.GetPath(1, 0)).empty());
            continue;
        }
        for (int bArgs = 0; bArgs <= 1; ++bArgs) {
            for (int bDir = 0; bDir <= 1; ++bDir) {
                SCOPED_TRACE("bDirectory " + std::to_string(bDir) + ", bArgs " +
                             std::to_string(bArgs));
                CPath p("C:\\earlier\\split.txt /x", 0, 1);
                p.SetPath(c.text.c_str(), bDir, bArgs);
                EXPECT_EQ(S(p.GetPath(1, 1)), "");
                EXPECT_EQ(S(p.GetPath(1, 0)), "");
                EXPECT_EQ(S(p.GetDrive()), "");
                EXPECT_EQ(S(p.GetFileName()), "");
                EXPECT_EQ(p.GetDirCount(), 0);
                EXPECT_EQ(p.GetArgCount(), 0);
                EXPECT_EQ(S(static_cast<const char*>(p)), "");
            }
        }
    }
}

TEST(CPathSplit, NewSplitDropsEverythingOfTheLast) {
    CPath p("\"C:\\a b\\x.txt\" /old 1", 0, 1);
    p.SetPath("D:\\y\\", 1, 0); // directory mode touches no title; no arguments given
    EXPECT_EQ(S(p.GetFileTitle()), "");
    EXPECT_EQ(S(p.GetPath(1, 0)), "D:\\y\\");
    EXPECT_EQ(p.GetArgCount(), 0);
    p.SetPath("x.txt /a", 0, 1);
    p = "";
    EXPECT_EQ(S(p.GetPath(1, 1)), "");
    EXPECT_EQ(S(p.GetDrive()), "");
    EXPECT_EQ(p.GetArgCount(), 0);
}

TEST(CPathSplit, SplitThenRebuildGivesTheInputBack) {
    std::mt19937 rng(7u);
    const char kChars[] = "abcXYZ09_ $~\xE9\xFF";
    auto name = [&](std::size_t maxLen) {
        std::string s;
        std::size_t n = 1 + rng() % maxLen;
        for (std::size_t i = 0; i < n; ++i)
            s += kChars[rng() % (sizeof kChars - 1)];
        return s;
    };
    for (int i = 0; i < 2000; ++i) {
        std::string drive =
            (rng() % 2) ? std::string(1, static_cast<char>('A' + rng() % 26)) + ":" : "";
        std::string dir;
        unsigned depth = rng() % 5;
        if (depth && rng() % 2)
            dir = "\\";
        for (unsigned k = 0; k < depth; ++k)
            dir += name(12) + "\\";
        std::string title = name(10);
        std::string ext = (rng() % 3) ? "." + name(4) : "";
        std::string text = drive + dir + title + ext;
        SCOPED_TRACE(text);
        CPath p(text.c_str(), 0, 0);
        ASSERT_EQ(S(p.GetPath(0, 0)), text);
        std::string joined = Components(p);
        std::string rebuiltDir = (dir.size() && dir[0] == '\\') ? "\\" : "";
        for (int k = 0; k < p.GetDirCount(); ++k)
            rebuiltDir += S(p.GetDir(k)) + "\\";
        ASSERT_EQ(rebuiltDir, dir);
        ASSERT_EQ(p.IsRelativePath(), (!dir.empty() && dir[0] != '\\') ? 1 : 0);

        CPath copy;
        copy = p;
        ASSERT_EQ(S(copy.GetPath(0, 0)), text);
        ASSERT_EQ(Components(copy), joined);
    }
}

TEST(CPathAccessors, DirIndexesAndBackSlashes) {
    CPath p("C:\\a\\b\\c.txt", 0, 0);
    EXPECT_EQ(S(p.GetDir(5)), "");
    EXPECT_EQ(S(p.GetDir(2)), "");
    EXPECT_EQ(S(p.GetDir(-7)), "\\a\\b\\");
    CPath none("file.txt", 0, 0);
    EXPECT_EQ(none.GetDirCount(), 0);

    const struct {
        const char* input;
        int bSlash;
        const char* added;
        const char* removed;
    } cases[] = {
        {"", 0, "", ""},
        {"C:\\dir\\", 0, "C:\\dir\\", "C:\\dir"},
        {"C:/dir/", 1, "C:/dir/", "C:/dir"},
        {"C:\\dir", 1, "C:\\dir/", "C:\\dir"},
        {"C:\\dir", 0, "C:\\dir\\", "C:\\dir"},
        {"C:\\dir\\\\", 0, "C:\\dir\\\\", "C:\\dir\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(S(CPath::AddBackSlash(c.input, c.bSlash)), c.added);
        EXPECT_EQ(S(CPath::RemoveBackSlash(c.input)), c.removed);
    }
    EXPECT_EQ(S(CPath::AddBackSlash(nullptr, 0)), "");
}

TEST(CPathAccessors, GetPathWithArgumentsNeverRepeatsThem) {
    const struct {
        const char* text;
        int bArgs;
        const char* withArgs;      // GetPath(1, 0)
        const char* inputWithArgs; // GetPath(1, 1)
    } cases[] = {
        {"app.exe /a 1", 1, "app.exe /a 1", "app.exe /a 1"},
        {"\"C:\\P F\\a.exe\" /x", 1, "C:\\P F\\a.exe /x", "\"C:\\P F\\a.exe\" /x"},
        {"app.exe", 1, "app.exe", "app.exe"},
        {"C:\\My Files\\a.txt", 0, "C:\\My Files\\a.txt", "C:\\My Files\\a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CPath p(c.text, 0, c.bArgs);
        EXPECT_EQ(S(p.GetPath(1, 0)), c.withArgs);
        EXPECT_EQ(S(p.GetPath(1, 1)), c.inputWithArgs);
    }
    // Edited arguments follow the program part of the given text once.
    CPath edited("\"C:\\P F\\a.exe\" /x", 0, 1);
    edited.AddSetArgument("y", "2");
    EXPECT_EQ(S(edited.GetPath(1, 1)), "\"C:\\P F\\a.exe\" /x /y 2");
    // A path given without arguments keeps its blanks; arguments set later follow it.
    CPath plain("C:\\My Files\\a.txt", 0, 0);
    plain.SetArguments("/x");
    EXPECT_EQ(S(plain.GetPath(1, 1)), "C:\\My Files\\a.txt /x");
    EXPECT_EQ(S(plain.GetPath(1, 0)), "C:\\My Files\\a.txt /x");
}

TEST(CPathAssign, CopiesPartsAndListsButNotTheCast) {
    CPath src("C:\\a\\b\\c.txt /k v", 0, 1);
    src.AddSetArgument("n", "w x"); // list only, text emptied
    (void)src.GetDirCount();
    CPath dst("D:\\other.txt", 0, 0);
    const char* cast = dst;
    EXPECT_STREQ(cast, "D:\\other.txt");
    dst = src;
    EXPECT_EQ(S(dst.GetPath(1, 0)), "C:\\a\\b\\c.txt /k v /n \"w x\"");
    EXPECT_EQ(Components(dst), "a|b");
    EXPECT_EQ(dst.GetArgCount(), 2);
    src.RemoveArgument(0);
    EXPECT_EQ(dst.GetArgCount(), 2); // independent copies
}

TEST(CPathAssign, SelfAssignmentKeepsEditedArguments) {
    CPath p("C:\\x.exe", 0, 1);
    p.AddSetArgument("a", "1"); // the arguments now exist only as a list
    CPath& same = p;
    p = same;
    EXPECT_EQ(p.GetArgCount(), 1);
    EXPECT_EQ(S(p.GetArgument(-1, 0)), "/a 1");
    EXPECT_EQ(S(p.GetPath(0, 0)), "C:\\x.exe");
}

TEST(CPathSource, ProcessCommandLineAndExecutable) {
    CPath self(1);
    EXPECT_EQ(S(self.GetFileTitle()), "corvane_tests");
    EXPECT_EQ(self.IsRelativePath(), 0);
    EXPECT_GT(self.GetDirCount(), 0);

    CPath line(static_cast<DWORD>(0));
    EXPECT_NE(S(line.GetFileTitle()).find("corvane_tests"), std::string::npos);

    CPath other(7);
    EXPECT_EQ(S(other.GetPath(1, 1)), "");
    CPath keep("C:\\k.txt", 0, 0);
    keep.SetPath(static_cast<DWORD>(7));
    EXPECT_EQ(S(keep.GetPath(0, 0)), "C:\\k.txt");
}

} // namespace
