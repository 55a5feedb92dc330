#include <platform/afx.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Runs f and reports whether it threw the invalid-argument exception (which is freed).
template <class F> bool ThrowsInvalidArg(F f) {
    return dbpf_test::ThrowsPointer<CInvalidArgException, CException>(f);
}

TEST(CString, CopiesAreIndependent) {
    CString a("abc");
    CString b(a);
    CString c;
    c = a;
    b += "d";
    c.SetAt(0, 'x');
    EXPECT_STREQ(a, "abc");
    EXPECT_STREQ(b, "abcd");
    EXPECT_STREQ(c, "xbc");
    const char* null = nullptr;
    CString n(null);
    EXPECT_TRUE(n.IsEmpty());
    EXPECT_STREQ(n, "");
}

TEST(CString, SelfReferencingOperationsAreSafe) {
    CString s("abcdef");
    s += s;
    EXPECT_STREQ(s, "abcdefabcdef");
    s = s.Mid(3, 4);
    EXPECT_STREQ(s, "defa");
    s = static_cast<const char*>(s) + 1; // substring of itself
    EXPECT_STREQ(s, "efa");
    s.Format("<%s|%s>", static_cast<const char*>(s), static_cast<const char*>(s));
    EXPECT_STREQ(s, "<efa|efa>");
    s = s; // NOLINT: self-assignment keeps the text
    EXPECT_STREQ(s, "<efa|efa>");
}

TEST(CString, AppendOneCharacterAtATimeKeepsText) {
    CString s;
    std::string ref;
    for (int i = 0; i < 5000; ++i) {
        char ch = static_cast<char>('a' + i % 26);
        s += ch;
        ref += ch;
    }
    EXPECT_EQ(s.GetLength(), 5000);
    EXPECT_EQ(std::string(s), ref);
    s += '\0'; // a zero is not text
    EXPECT_EQ(s.GetLength(), 5000);
}

TEST(CString, FindEdges) {
    const CString s("a\\b\\c");
    struct Case {
        char ch;
        int start;
        int expected;
    } cases[] = {{'\\', 0, 1},  {'\\', 1, 1},  {'\\', 2, 3}, {'\\', 4, -1}, {'a', 5, -1},
                 {'a', 99, -1}, {'a', -1, -1}, {'z', 0, -1}, {'\0', 0, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.ch) + " from " + std::to_string(c.start));
        EXPECT_EQ(s.Find(c.ch, c.start), c.expected);
    }
    EXPECT_EQ(s.Find("b\\", 0), 2);
    EXPECT_EQ(s.Find("b\\", 3), -1);
    EXPECT_EQ(s.Find("", 5), 5);
    EXPECT_EQ(s.Find("", 6), -1);
    EXPECT_EQ(s.FindOneOf("cb"), 2);
    EXPECT_EQ(s.FindOneOf("xyz"), -1);
    EXPECT_EQ(s.FindOneOf(""), -1);
    EXPECT_EQ(CString().Find('a'), -1);
}

TEST(CString, LeftRightMidClamp) {
    const CString s("hello");
    EXPECT_STREQ(s.Left(2), "he");
    EXPECT_STREQ(s.Left(0), "");
    EXPECT_STREQ(s.Left(-3), "");
    EXPECT_STREQ(s.Left(99), "hello");
    EXPECT_STREQ(s.Right(3), "llo");
    EXPECT_STREQ(s.Right(99), "hello");
    EXPECT_STREQ(s.Right(-1), "");
    EXPECT_STREQ(s.Mid(1, 3), "ell");
    EXPECT_STREQ(s.Mid(3), "lo");
    EXPECT_STREQ(s.Mid(5), "");
    EXPECT_STREQ(s.Mid(7, 2), "");
    EXPECT_STREQ(s.Mid(-2, 2), "he");
    EXPECT_STREQ(s.Mid(2, 99), "llo");
    EXPECT_STREQ(s.Mid(2, -1), "");
}

TEST(CString, RemoveReplaceTrim) {
    CString s("/a/b//c/");
    EXPECT_EQ(s.Remove('/'), 5);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(s.Remove('/'), 0);
    CString p("C:/x/y");
    EXPECT_EQ(p.Replace('/', '\\'), 2);
    EXPECT_STREQ(p, "C:\\x\\y");
    CString t(" \t\r\n mid dle \v\f ");
    t.TrimLeft();
    EXPECT_STREQ(t, "mid dle \v\f ");
    t.TrimRight();
    EXPECT_STREQ(t, "mid dle");
    CString blank("   ");
    blank.TrimLeft();
    EXPECT_TRUE(blank.IsEmpty());
    CString high("\xA0x\xA0"); // bytes above 0x7F are not white space
    high.TrimLeft();
    high.TrimRight();
    EXPECT_EQ(high.GetLength(), 3);
}

TEST(CString, CompareNoCaseFoldsAsciiOnly) {
    EXPECT_EQ(CString("Verbose").CompareNoCase("vERBOSE"), 0);
    EXPECT_LT(CString("a").CompareNoCase("B"), 0);
    EXPECT_GT(CString("b").CompareNoCase("A"), 0);
    EXPECT_LT(CString("ab").CompareNoCase("abc"), 0);
    EXPECT_EQ(CString("").CompareNoCase(nullptr), 0);
    EXPECT_NE(CString("\xC4").CompareNoCase("\xE4"), 0);
    EXPECT_GT(CString("\xE4").Compare("a"), 0); // bytes compare unsigned
}

TEST(CString, Format) {
    CString s;
    s.Format("%s=%d %c%5.2f|%x", "n", -42, 'q', 3.14159, 255u);
    EXPECT_STREQ(s, "n=-42 q 3.14|ff");
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    std::string big(10000, 'z');
    s.Format("[%s]", big.c_str());
    EXPECT_EQ(s.GetLength(), 10002);
    s.Format("%s%lld", s.GetString(), 1LL << 40); // the arguments may point into the string
    EXPECT_EQ(s.GetLength(), 10015);
    EXPECT_EQ(std::string(s.Right(13)), "1099511627776");
}

TEST(CString, GetAtOutsideThrows) {
    const CString s("ab");
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s.GetAt(2), '\0');
    EXPECT_TRUE(ThrowsInvalidArg([&] { (void)s.GetAt(3); }));
    EXPECT_TRUE(ThrowsInvalidArg([&] { (void)s.GetAt(-1); }));
}

} // namespace
