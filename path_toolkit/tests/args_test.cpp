#include <corvane.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

// The list as "name=value;" items (the switch character is not visible through the
// interface; it shows in the rebuilt text).
std::string List(CPath& p) {
    std::string out;
    for (int i = 0; i < p.GetArgCount(); ++i)
        out += S(p.GetArgument(i, 1)) + "=" + S(p.GetArgument(i, 0)) + ";";
    return out;
}

// The text rebuilt from the list: adding and removing a helper argument edits the list, which
// empties the text.
std::string Rebuilt(CPath& p) {
    p.AddSetArgument("rebuild-helper", "");
    p.RemoveArgument(p.GetArgCount() - 1);
    return S(p.GetArgument(-1, 0));
}

TEST(CPathArguments, Parse) {
    const struct {
        const char* text;
        const char* list;
        const char* rebuilt; // nullptr: not checked
    } cases[] = {
        {"/a 1 /b \"x y\" z", "a=1;b=x y;=z;", "/a 1 /b \"x y\" z"},
        {"-x", "x=;", "-x"},
        {"/long-name v", "longname=v;", "-longname v"},
        {"a\"p q\" d", "=p q;=d;", "\"p q\" d"},
        {"/a \"\" /b", "a=;b=;", "/a /b"},
        {"/a \"unterminated more", "a=;", nullptr},
        {"x y", "=x;=y;", "x y"},
        {"/a/b", "ab=;", "/ab"},
        {"--verbose on", "verbose=on;", "-verbose on"},
        {"/a\tb", "a\tb=;", "/a\tb"},
        {"  /a   1  ", "a=1;", "/a 1"},
        {"/a \"say \"hi\"", "a=say ;", nullptr}, // hi" opens a quote that never closes
        {"\xE9\xFF /\xC0 \"\x80 \x81\"", "=\xE9\xFF;\xC0=\x80 \x81;", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CPath p;
        p.SetArguments(c.text);
        EXPECT_EQ(List(p), c.list);
        EXPECT_EQ(S(p.GetArgument(-1, 0)), c.text); // parsing keeps the caller's text
        if (c.rebuilt) {
            EXPECT_EQ(Rebuilt(p), c.rebuilt);
        }
    }
}

TEST(CPathArguments, KeptQuirks) {
    // A lone dash is an argument with an empty name and value; its text form is empty.
    CPath dash;
    dash.SetArguments("-");
    EXPECT_EQ(dash.GetArgCount(), 1);
    EXPECT_EQ(List(dash), "=;");
    dash.RemoveArgument(5);
    dash.AddSetArgument("", "");
    EXPECT_EQ(dash.GetArgCount(), 2);
    EXPECT_EQ(S(dash.GetArgument(-1, 0)), "");

    // A text without any argument stays unparsed and is kept.
    CPath quote;
    quote.SetArguments("\"open");
    EXPECT_EQ(quote.GetArgCount(), 0);
    EXPECT_EQ(S(quote.GetArgument(-1, 0)), "\"open");

    // Values are not escaped: quotes inside a value are written as they are.
    CPath q;
    q.AddSetArgument("v", "a\"b");
    EXPECT_EQ(S(q.GetArgument(-1, 0)), "/v a\"b");
}

TEST(CPathArguments, BlanksAfterTheProgramStayInTheText) {
    CPath p("app.exe   /a", 0, 1);
    EXPECT_EQ(S(p.GetArgument(-1, 0)), "  /a");
    EXPECT_EQ(p.GetArgCount(), 1);
    EXPECT_EQ(S(p.GetArgument(0, 1)), "a");
}

TEST(CPathArguments, Lookup) {
    CPath p;
    p.SetArguments("/a 1 /Verbose -a 2");
    const struct {
        const char* name;
        int index;
    } cases[] = {{"-A", 0}, {"a", 0},  {"/a", 0}, {"verbose", 1}, {"/VER-BOSE", 1},
                 {"", -1},  {"/", -1}, {"-", -1}, {"b", -1},      {" a ", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(p.FindArgument(c.name), c.index);
    }
    EXPECT_EQ(p.FindArgument(nullptr), -1);
    EXPECT_EQ(p.GetArgCount(), 3); // duplicates are kept
    EXPECT_EQ(S(p.GetArgument(0, 1)), "a");
    EXPECT_EQ(S(p.GetArgument(0, 0)), "1");
    EXPECT_EQ(S(p.GetArgument(5, 0)), "");
    EXPECT_EQ(S(p.GetArgument(3, 1)), "");

    CPath empty;
    EXPECT_EQ(empty.FindArgument("a"), -1);
}

TEST(CPathArguments, Edits) {
    CPath p;
    p.SetArguments("/a 1 /b");
    p.AddSetArgument("a", "2");
    EXPECT_EQ(S(p.GetArgument(-1, 0)), "/a 2 /b");
    EXPECT_EQ(p.GetArgCount(), 2);

    CPath out;
    out.AddSetArgument("/out", "C:\\My Files\\x");
    EXPECT_EQ(S(out.GetArgument(-1, 0)), "/out \"C:\\My Files\\x\"");

    CPath k;
    k.SetArguments("/a 1 /b \"x y\" z");
    k.AddSetArgument("k", "v");
    EXPECT_EQ(S(k.GetArgument(-1, 0)), "/a 1 /b \"x y\" z /k v");

    // Names empty without switch characters are never found: each call appends.
    CPath bare;
    bare.AddSetArgument("-", "v");
    bare.AddSetArgument("/", "w");
    EXPECT_EQ(bare.GetArgCount(), 2);
    EXPECT_EQ(S(bare.GetArgument(-1, 0)), "v w");

    // SetArguments drops the list, edited or not.
    p.SetArguments("/z");
    EXPECT_EQ(List(p), "z=;");
}

TEST(CPathArguments, RemoveParsesFirstAndClosesTheGap) {
    CPath p;
    p.SetArguments("/a 1 /b 2 /c 3");
    p.RemoveArgument(0); // right after the text was set
    EXPECT_EQ(S(p.GetArgument(-1, 0)), "/b 2 /c 3");
    p.RemoveArgument(-1);
    p.RemoveArgument(p.GetArgCount());
    EXPECT_EQ(List(p), "b=2;c=3;");
    p.RemoveArgument(1);
    EXPECT_EQ(List(p), "b=2;");
    p.RemoveArgument(0);
    EXPECT_EQ(p.GetArgCount(), 0);
    EXPECT_EQ(S(p.GetArgument(-1, 0)), "");

    CPath split("C:\\app.exe /x /y", 0, 1);
    split.RemoveArgument(1);
    EXPECT_EQ(S(split.GetPath(1, 0)), "C:\\app.exe /x");
}

} // namespace
