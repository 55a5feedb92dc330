#include <platform/afx_dll_entry.h>

#include <gtest/gtest.h>

namespace {

int g_calls = 0;
int g_afterInitOrder = 0;
int g_beforeTermOrder = 0;
BOOL g_afterInitResult = TRUE;

BOOL AfterInit(HMODULE) {
    g_afterInitOrder = ++g_calls;
    return g_afterInitResult;
}
void BeforeTerm() {
    g_beforeTermOrder = ++g_calls;
}

int LibraryCount(HMODULE h) {
    int n = 0;
    for (CDynLinkLibrary* p = AfxGetModuleState()->m_pFirstLibrary; p; p = p->m_pNextDLL)
        n += (p->m_hModule == h);
    return n;
}

HMODULE FakeModule(int n) {
    static char anchors[4];
    return reinterpret_cast<HMODULE>(&anchors[n]);
}

TEST(ExtensionEntry, AttachLinksLibraryAndDetachUnlinksIt) {
    AFX_EXTENSION_MODULE record = {};
    CRuntimeClass registered = {"Registered", 0, 0, nullptr, nullptr, nullptr};
    AfxGetModuleState()->m_classList.m_pHead = &registered;
    g_calls = 0;
    g_afterInitResult = TRUE;
    ASSERT_TRUE(afx_entry::ExtensionLibraryAttach(record, FakeModule(0), AfterInit, BeforeTerm));
    EXPECT_TRUE(record.bInitialized);
    EXPECT_EQ(record.hModule, FakeModule(0));
    // The registered classes were moved aside into the record; the module list was cleared.
    EXPECT_EQ(record.pFirstSharedClass, &registered);
    EXPECT_EQ(AfxGetModuleState()->m_classList.m_pHead, nullptr);
    EXPECT_EQ(LibraryCount(FakeModule(0)), 1);
    EXPECT_EQ(g_afterInitOrder, 1);

    afx_entry::ExtensionLibraryDetach(record, BeforeTerm);
    EXPECT_EQ(g_beforeTermOrder, 2);
    EXPECT_FALSE(record.bInitialized);
    EXPECT_EQ(LibraryCount(FakeModule(0)), 0);
    AfxGetModuleState()->m_pClassInit = nullptr;
}

TEST(ExtensionEntry, FailedStartLeavesNothingLinked) {
    AFX_EXTENSION_MODULE record = {};
    g_calls = 0;
    EXPECT_FALSE(afx_entry::ExtensionLibraryAttach(record, nullptr, AfterInit, BeforeTerm));
    EXPECT_EQ(g_calls, 0); // the hook does not run when initialisation fails

    g_afterInitResult = FALSE;
    EXPECT_FALSE(afx_entry::ExtensionLibraryAttach(record, FakeModule(1), AfterInit, BeforeTerm));
    EXPECT_FALSE(record.bInitialized);
    EXPECT_EQ(LibraryCount(FakeModule(1)), 0);
    g_afterInitResult = TRUE;

    // Detach of a record that never started calls no hook.
    g_calls = 0;
    afx_entry::ExtensionLibraryDetach(record, BeforeTerm);
    EXPECT_EQ(g_calls, 0);
}

TEST(ExtensionEntry, TermRemovesOnlyItsOwnLibrary) {
    AFX_EXTENSION_MODULE a = {};
    AFX_EXTENSION_MODULE b = {};
    ASSERT_TRUE(afx_entry::ExtensionLibraryAttach(a, FakeModule(2), nullptr, nullptr));
    ASSERT_TRUE(afx_entry::ExtensionLibraryAttach(b, FakeModule(3), nullptr, nullptr));
    afx_entry::ExtensionLibraryDetach(a, nullptr);
    EXPECT_EQ(LibraryCount(FakeModule(2)), 0);
    EXPECT_EQ(LibraryCount(FakeModule(3)), 1);
    afx_entry::ExtensionLibraryDetach(b, nullptr);
    EXPECT_EQ(LibraryCount(FakeModule(3)), 0);
}

} // namespace
