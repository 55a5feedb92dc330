#include <platform/afx.h>

#include <dbpf_test_support.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs f and reports whether it threw the invalid-argument exception (which is freed).
template <class F> bool ThrowsInvalidArg(F f) {
    return dbpf_test::ThrowsPointer<CInvalidArgException, CException>(f);
}

// Counts live objects, so that tests see every construction matched by a destruction.
struct Tracked {
    static int s_live;
    CString text;
    Tracked() { ++s_live; }
    Tracked(const Tracked& o) : text(o.text) { ++s_live; }
    Tracked& operator=(const Tracked&) = default;
    virtual ~Tracked() { --s_live; }
};
int Tracked::s_live = 0;

std::string Join(const CStringArray& a) {
    std::string out;
    for (INT_PTR i = 0; i < a.GetSize(); ++i) {
        out += a[i];
        out += ';';
    }
    return out;
}

TEST(CArray, RemoveAtClosesTheGapInOrder) {
    CStringArray a;
    for (const char* s : {"a", "b", "c", "d", "e"})
        a.Add(s);
    a.RemoveAt(1);
    EXPECT_EQ(Join(a), "a;c;d;e;");
    a.RemoveAt(3);
    EXPECT_EQ(Join(a), "a;c;d;");
    a.RemoveAt(0, 2);
    EXPECT_EQ(Join(a), "d;");
    a.RemoveAt(0);
    EXPECT_EQ(a.GetSize(), 0);
}

TEST(CArray, ElementsAreConstructedAndDestroyedOnce) {
    Tracked::s_live = 0;
    {
        CArray<Tracked, Tracked&> a;
        a.SetSize(3);
        EXPECT_EQ(Tracked::s_live, 3);
        Tracked t;
        t.text = "x";
        for (int i = 0; i < 100; ++i)
            a.Add(t); // several reallocations
        EXPECT_EQ(Tracked::s_live, 104);
        a.RemoveAt(0, 50);
        EXPECT_EQ(Tracked::s_live, 54);
        EXPECT_STREQ(a[52].text, "x");
        a.SetSize(10);
        EXPECT_EQ(Tracked::s_live, 11);
        a.RemoveAll();
        EXPECT_EQ(a.GetSize(), 0);
        EXPECT_EQ(a.GetData(), nullptr);
        EXPECT_EQ(Tracked::s_live, 1);
        a.SetSize(2);
    }
    EXPECT_EQ(Tracked::s_live, 0);
}

TEST(CArray, AddOfOwnElementSurvivesGrowth) {
    CStringArray a;
    a.Add("first element, long enough to live on the heap");
    for (int i = 0; i < 40; ++i)
        a.Add(a[0]);
    EXPECT_STREQ(a[40], "first element, long enough to live on the heap");
}

TEST(CArray, IndexOutsideThrows) {
    CStringArray a;
    a.Add("x");
    EXPECT_TRUE(ThrowsInvalidArg([&] { (void)a[1]; }));
    EXPECT_TRUE(ThrowsInvalidArg([&] { (void)a.GetAt(-1); }));
    EXPECT_TRUE(ThrowsInvalidArg([&] { a.RemoveAt(1); }));
    EXPECT_TRUE(ThrowsInvalidArg([&] { a.RemoveAt(0, 2); }));
    EXPECT_TRUE(ThrowsInvalidArg([&] { a.SetSize(-1); }));
    EXPECT_EQ(a.GetSize(), 1);
}

TEST(CArray, SetAtGrowCopyAndInsert) {
    CStringArray a;
    a.SetAtGrow(a.GetSize(), "a");
    a.SetAtGrow(3, "d"); // fills the gap with empty strings
    EXPECT_EQ(Join(a), "a;;;d;");
    CStringArray b;
    b.Copy(a);
    a.SetSize(0);
    EXPECT_EQ(Join(b), "a;;;d;");
    b.InsertAt(1, CString("x"), 2);
    EXPECT_EQ(Join(b), "a;x;x;;;d;");
    b.Copy(b);
    EXPECT_EQ(b.GetSize(), 6);
}

TEST(CTypedPtrArray, HoldsWithoutOwning) {
    int values[3] = {1, 2, 3};
    CTypedPtrArray<CPtrArray, int*> a;
    for (int& v : values)
        a.SetAtGrow(a.GetSize(), &v);
    EXPECT_EQ(a.GetSize(), 3);
    EXPECT_EQ(*a[2], 3);
    EXPECT_EQ(a.GetAt(0), &values[0]);
    a.SetSize(0, -1);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(values[1], 2);
}

} // namespace
