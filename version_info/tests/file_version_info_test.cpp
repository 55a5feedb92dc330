// CFileVersionInfo on windres-made test modules. The same tests run natively (over the
// stand-ins) and under Wine (over the system's version functions).
#include <edrith.h>

#include <platform/win_resources.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string Fixture(const std::string& name, const char* arch = nullptr) {
    if (arch == nullptr) {
        arch = sizeof(void*) == 8 ? "x64" : "x86";
    }
    return std::string(DBPF_PE_FIXTURES) + "/" + name + "-" + arch + ".dll";
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::vector<unsigned char> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        int c;
        while ((c = std::fgetc(f)) != EOF) {
            out.push_back(static_cast<unsigned char>(c));
        }
        std::fclose(f);
    }
    return out;
}

// A module handle for a test module: loaded as data on POSIX, as a module on Windows (where
// GetModuleFileNameA refuses data-file handles).
HMODULE LoadModule(const std::string& path) {
#ifdef _WIN32
    return LoadLibraryA(path.c_str());
#else
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
#endif
}

std::string Value(const CFileVersionInfo& v, const char* name) {
    char buf[512];
    return v.QueryStringValue(name, buf, sizeof buf) ? std::string(buf) : "<absent>";
}

void ExpectClosed(CFileVersionInfo& v) {
    EXPECT_FALSE(v.IsValid());
    const VS_FIXEDFILEINFO& f = v.GetVSFFI();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&f);
    for (std::size_t i = 0; i < sizeof f; ++i) {
        ASSERT_EQ(p[i], 0) << "fixed record byte " << i;
    }
    EXPECT_EQ(v.GetFileVersionMajor() + v.GetFileVersionMinor() + v.GetFileVersionBuild() +
                  v.GetFileVersionQFE() + v.GetProductVersionMajor() + v.GetProductVersionMinor() +
                  v.GetProductVersionBuild() + v.GetProductVersionQFE(),
              0);
    EXPECT_EQ(v.GetTransCount(), 0u);
    EXPECT_EQ(v.GetCurTransIndex(), 0u);
    EXPECT_EQ(v.GetCurTrans(), 0u);
    EXPECT_EQ(v.FindTrans(0, 0), -1);
    EXPECT_FALSE(v.SetTransIndex(0));
    EXPECT_FALSE(v.SetTrans(0, 0));
    char buf[8];
    std::memset(buf, 0x5A, sizeof buf);
    EXPECT_FALSE(v.QueryStringValue("ProductName", buf, sizeof buf));
    EXPECT_FALSE(v.QueryStringValue(9, nullptr, 0));
    EXPECT_EQ(buf[0], 0x5A); // untouched
    EXPECT_STREQ(v.GetFileVersion(), " ");
}

TEST(FileVersionInfo, FreshObjectIsClosed) {
    CFileVersionInfo v;
    ExpectClosed(v);
}

TEST(FileVersionInfo, OpensTwoTranslations) {
    for (const char* arch : {"x86", "x64"}) {
        SCOPED_TRACE(arch);
        CFileVersionInfo v;
        ASSERT_TRUE(v.Open(Fixture("versioned", arch).c_str()));
        EXPECT_TRUE(v.IsValid());
        EXPECT_EQ(v.GetVSFFI().dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(v.GetFileVersionMajor(), 1);
        EXPECT_EQ(v.GetFileVersionMinor(), 2);
        EXPECT_EQ(v.GetFileVersionBuild(), 3);
        EXPECT_EQ(v.GetFileVersionQFE(), 4);
        EXPECT_EQ(v.GetProductVersionMajor(), 5);
        EXPECT_EQ(v.GetProductVersionMinor(), 6);
        EXPECT_EQ(v.GetProductVersionBuild(), 7);
        EXPECT_EQ(v.GetProductVersionQFE(), 8);

        EXPECT_EQ(v.GetTransCount(), 2u);
        EXPECT_EQ(v.GetCurTransIndex(), 0u);
        EXPECT_EQ(v.GetCurTrans(), 0x04E40409u);
        EXPECT_EQ(v.GetCurLID(), 0x0409);
        EXPECT_EQ(v.GetCurCP(), 1252);
        EXPECT_EQ(v.GetTransByIndex(1), 0x04E40407u);
        EXPECT_EQ(v.GetLIDByIndex(1), 0x0407);
        EXPECT_EQ(v.GetCPByIndex(1), 1252);
        EXPECT_EQ(v.GetTransByIndex(2), 0u);
        EXPECT_EQ(v.GetLIDByIndex(2), 0);
        EXPECT_EQ(v.GetCPByIndex(2), 0);
        EXPECT_EQ(v.FindTrans(0x0407, 1252), 1);
        EXPECT_EQ(v.FindTrans(0x0407, 1200), -1);

        EXPECT_EQ(Value(v, "CompanyName"), "Example Software Ltd.");
        EXPECT_EQ(Value(v, "companyname"), "Example Software Ltd."); // keys ignore case
        EXPECT_EQ(v.GetFileVersion(), CString("Sample Product 1.2.3.4"));

        // Switching language changes every lookup; there is no fall-back to the other table.
        ASSERT_TRUE(v.SetTrans(0x0407, 1252));
        EXPECT_EQ(v.GetCurTransIndex(), 1u);
        EXPECT_EQ(Value(v, "CompanyName"), "Beispiel GmbH");
        EXPECT_EQ(Value(v, "InternalName"), "<absent>");
        EXPECT_EQ(v.GetFileVersion(), CString("Beispielprodukt 1.2.3.4 (de)"));
        EXPECT_FALSE(v.SetTrans(0x040C, 1252));
        EXPECT_EQ(v.GetCurTransIndex(), 1u);
        EXPECT_TRUE(v.SetTrans(0x0407, 1252)); // already current
        EXPECT_FALSE(v.SetTransIndex(2));
        EXPECT_EQ(v.GetCurTransIndex(), 1u);
        EXPECT_TRUE(v.SetTransIndex(1));
        EXPECT_TRUE(v.SetTransIndex(0));
        EXPECT_EQ(Value(v, "CompanyName"), "Example Software Ltd.");
    }
}

#ifndef _WIN32
TEST(FileVersionInfo, TextComesBackAsUtf8) {
    CFileVersionInfo v;
    ASSERT_TRUE(v.Open(Fixture("versioned").c_str()));
    ASSERT_TRUE(v.SetTrans(0x0407, 1252));
    EXPECT_EQ(Value(v, "LegalCopyright"), "\xC2\xA9 M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC");
}
#endif

TEST(FileVersionInfo, StringValuesAndCallerBuffers) {
    CFileVersionInfo v;
    ASSERT_TRUE(v.Open(Fixture("long_values").c_str()));
    char buf[64];

    // Longer than the buffer: cut to size - 1 and terminated, result 1.
    std::memset(buf, 0x7F, sizeof buf);
    ASSERT_TRUE(v.QueryStringValue("Comments", buf, 11));
    EXPECT_STREQ(buf, "0123456789");
    EXPECT_EQ(buf[11], 0x7F); // nothing written past the given size

    // Missing: 0, the buffer zeroed.
    std::memset(buf, 0x7F, sizeof buf);
    EXPECT_FALSE(v.QueryStringValue("LegalTrademarks", buf, 16));
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(buf[i], 0);
    }
    EXPECT_EQ(buf[16], 0x7F);

    // Null buffer: an existence test. Bad sizes, a null name, bad indexes: 0, nothing touched.
    EXPECT_TRUE(v.QueryStringValue("Comments", nullptr, 0));
    EXPECT_FALSE(v.QueryStringValue("LegalTrademarks", nullptr, 0));
    std::memset(buf, 0x7F, sizeof buf);
    EXPECT_FALSE(v.QueryStringValue("Comments", buf, 0));
    EXPECT_FALSE(v.QueryStringValue("Comments", buf, -5));
    EXPECT_FALSE(v.QueryStringValue(nullptr, buf, 16));
    EXPECT_FALSE(v.QueryStringValue(13, buf, 16));
    EXPECT_FALSE(v.QueryStringValue(-1, buf, 16));
    EXPECT_EQ(buf[0], 0x7F);
    EXPECT_TRUE(v.QueryStringValue(9, buf, sizeof buf)); // index 9 is ProductName
    EXPECT_STREQ(buf, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd");

    // Only 31 characters of the 40-character product name make it into GetFileVersion.
    EXPECT_EQ(v.GetFileVersion(), CString("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 9.8.7.6"));
}

TEST(FileVersionInfo, NameTooLongForTheKeyFails) {
    CFileVersionInfo v;
    ASSERT_TRUE(v.Open(Fixture("long_values").c_str()));
    // The key "\StringFileInfo\llllcccc\<name>" has room for names of up to 234 characters.
    for (std::size_t len : {234u, 235u, 300u, 5000u}) {
        SCOPED_TRACE(len);
        const std::string name(len, 'C');
        char buf[16];
        std::memset(buf, 0x7F, sizeof buf);
        EXPECT_FALSE(v.QueryStringValue(name.c_str(), buf, sizeof buf));
        EXPECT_EQ(buf[0], 0);
        EXPECT_FALSE(v.QueryStringValue(name.c_str(), nullptr, 0));
    }
    // A long name that is a prefix-extension of a real one is not cut down to it.
    const std::string cut = "Comments" + std::string(300, 'x');
    EXPECT_FALSE(v.QueryStringValue(cut.c_str(), nullptr, 0));
}

TEST(FileVersionInfo, FailedOpensLeaveTheObjectClosed) {
    const char* cases[] = {"no_version", "no_translation", "bad_signature", "short_root",
                           "does_not_exist"};
    for (const char* name : cases) {
        SCOPED_TRACE(name);
        CFileVersionInfo v;
        ASSERT_TRUE(v.Open(Fixture("versioned").c_str()));
        EXPECT_FALSE(v.Open(Fixture(name).c_str()));
        ExpectClosed(v);
    }
}

TEST(FileVersionInfo, DamagedFilesFailToOpen) {
    // Damaged copies of the two-translation module. Offsets below are those of the x86 module
    // as windres and ld lay it out; each case checks that it damages what it means to.
    const std::vector<unsigned char> good = ReadFile(Fixture("versioned", "x86"));
    ASSERT_GT(good.size(), 0x400u);
    auto u32 = [&](const std::vector<unsigned char>& b, std::size_t at) {
        return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                          (std::uint32_t(b[at + 3]) << 24));
    };
    const std::size_t pe = u32(good, 0x3C);
    const std::size_t opt = pe + 24;
    const std::size_t rsrc_dd = opt + 96 + 16; // PE32: data directories at +96, resources 3rd
    const std::size_t sections = opt + (good[pe + 20] | (good[pe + 21] << 8));
    std::size_t rsrc = 0;
    for (std::size_t s = sections; s < sections + 40 * good[pe + 6]; s += 40) {
        if (u32(good, s + 12) == u32(good, rsrc_dd)) {
            rsrc = u32(good, s + 20); // the resource directory starts its section
        }
    }
    ASSERT_NE(rsrc, 0u);
    struct Case {
        const char* what;
        std::size_t keep; // bytes kept (0: all)
        std::size_t at;   // field changed (0: none)
        std::uint32_t value;
    };
    const Case cases[] = {
        {"cut in the resource directory", rsrc + 24, 0, 0},
        {"resource directory claims 65535 entries", 0, rsrc + 14, 0xFFFF0000u},
        {"every root entry points at the root", 0, rsrc + 16 + 4, 0x80000000u},
        {"resource directory RVA outside every section", 0, rsrc_dd, 0x7FFFFFF0u},
        {"PE header offset outside the file", 0, 0x3C, 0x7FFFFFF0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> bad = good;
        if (c.keep != 0) {
            bad.resize(c.keep);
        }
        if (c.at != 0) {
            for (int i = 0; i < 4; ++i) {
                bad[c.at + i] = static_cast<unsigned char>(c.value >> (8 * i));
            }
        }
        if (c.at == rsrc + 16 + 4) {
            // Point every root entry at the root, whichever one leads to the version resource.
            const std::size_t n =
                (bad[rsrc + 12] | (bad[rsrc + 13] << 8)) + (bad[rsrc + 14] | (bad[rsrc + 15] << 8));
            for (std::size_t e = 0; e < n; ++e) {
                for (int i = 0; i < 4; ++i) {
                    bad[rsrc + 16 + 8 * e + 4 + i] = static_cast<unsigned char>(c.value >> (8 * i));
                }
            }
        }
#ifdef _WIN32
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        std::string path = std::string(dir) + "edrith_damaged.dll";
#else
        char tmpl[] = "/tmp/edrith_damaged_XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        std::string path = tmpl;
#endif
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bad.data(), 1, bad.size(), f);
        std::fclose(f);
        CFileVersionInfo v;
        ASSERT_TRUE(v.Open(Fixture("versioned").c_str()));
        EXPECT_FALSE(v.Open(path.c_str()));
        ExpectClosed(v);
        std::remove(path.c_str());
    }
}

TEST(FileVersionInfo, NullArgumentsLeaveAnOpenObjectOpen) {
    CFileVersionInfo v;
    ASSERT_TRUE(v.Open(Fixture("versioned").c_str()));
    ASSERT_TRUE(v.SetTransIndex(1));
    EXPECT_FALSE(v.Open(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(v.Open(static_cast<HINSTANCE>(nullptr)));
    EXPECT_TRUE(v.IsValid());
    EXPECT_EQ(v.GetCurTransIndex(), 1u);
    EXPECT_EQ(Value(v, "CompanyName"), "Beispiel GmbH");
}

TEST(FileVersionInfo, OpensByModuleHandle) {
    HMODULE m = LoadModule(Fixture("versioned"));
    ASSERT_NE(m, nullptr);
    CFileVersionInfo v;
    EXPECT_TRUE(v.Open(m));
    EXPECT_EQ(v.GetTransCount(), 2u);
    EXPECT_EQ(Value(v, "ProductName"), "Sample Product");
    FreeLibrary(m);
}

#ifndef _WIN32
TEST(FileVersionInfo, ModulePathLongerThanTheBufferFails) {
    // A copy of the module under a directory nest whose path passes 260 characters.
    std::string dir = "/tmp/edrith_long_" + std::to_string(getpid());
    std::vector<std::string> made;
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    made.push_back(dir);
    while (dir.size() < 300) {
        dir += "/" + std::string(40, 'd');
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        made.push_back(dir);
    }
    const std::string path = dir + "/versioned.dll";
    const std::vector<unsigned char> bytes = ReadFile(Fixture("versioned"));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    HMODULE m = LoadModule(path);
    ASSERT_NE(m, nullptr);
    CFileVersionInfo v;
    ASSERT_TRUE(v.Open(Fixture("long_values").c_str()));
    EXPECT_FALSE(v.Open(m));
    // Left as it was: still the earlier file.
    EXPECT_TRUE(v.IsValid());
    EXPECT_EQ(v.GetFileVersionMajor(), 9);
    // The same file by path opens.
    EXPECT_TRUE(v.Open(path.c_str()));
    EXPECT_EQ(v.GetFileVersionMajor(), 1);
    FreeLibrary(m);
    std::remove(path.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        rmdir(it->c_str());
    }
}
#endif

TEST(FileVersionInfo, CopiesOwnTheirBlocks) {
    CFileVersionInfo* a = new CFileVersionInfo;
    ASSERT_TRUE(a->Open(Fixture("versioned").c_str()));
    ASSERT_TRUE(a->SetTransIndex(1));
    CFileVersionInfo b(*a);
    CFileVersionInfo c;
    ASSERT_TRUE(c.Open(Fixture("long_values").c_str()));
    c = *a;   // c's earlier block is released
    delete a; // the copies must not depend on the source's block
    for (CFileVersionInfo* v : {&b, &c}) {
        EXPECT_TRUE(v->IsValid());
        EXPECT_EQ(v->GetTransCount(), 2u);
        EXPECT_EQ(v->GetCurTransIndex(), 1u);
        EXPECT_EQ(v->GetFileVersionQFE(), 4);
        EXPECT_EQ(Value(*v, "CompanyName"), "Beispiel GmbH");
        EXPECT_TRUE(v->SetTransIndex(0));
        EXPECT_EQ(Value(*v, "CompanyName"), "Example Software Ltd.");
    }
    c = c; // self-assignment keeps the block
    EXPECT_EQ(Value(c, "CompanyName"), "Example Software Ltd.");
    const CFileVersionInfo closed;
    c = closed;
    ExpectClosed(c);
    CFileVersionInfo d(closed);
    ExpectClosed(d);
}

TEST(FileVersionInfo, Names) {
    CFileVersionInfo v;
    EXPECT_STREQ(v.GetVerStringName(0), "Comments");
    EXPECT_STREQ(v.GetVerStringName(12), "OLESelfRegister");
    EXPECT_EQ(v.GetVerStringName(13), nullptr);
    EXPECT_EQ(v.GetVerStringName(-1), nullptr);

    struct Case {
        unsigned short cp;
        BOOL known;
        const char* name;
    };
    const Case cases[] = {
        {0, TRUE, "7-bit ASCII"},
        {932, TRUE, "Japan (Shift ?JIS X-0208)"}, // plain question marks, as the table has them
        {949, TRUE, "Korea (Shift ?KSC 5601)"},
        {1200, TRUE, "Unicode"},
        {1252, TRUE, "Multilingual"},
        {1256, TRUE, "Arabic"},
        {437, FALSE, "Unknown"},
        {65001, FALSE, "Unknown"},
    };
    for (const Case& c : cases) {
        const char* name = "unset";
        EXPECT_EQ(CFileVersionInfo::GetCPName(c.cp, &name), c.known);
        EXPECT_STREQ(name, c.name);
    }
    EXPECT_FALSE(CFileVersionInfo::GetCPName(1252, nullptr));

    char buf[64];
    EXPECT_EQ(CFileVersionInfo::GetLIDName(0x0409, nullptr, 64), 0);
    EXPECT_EQ(CFileVersionInfo::GetLIDName(0x0409, buf, 0), 0);
    const int n = CFileVersionInfo::GetLIDName(0x0409, buf, sizeof buf);
    EXPECT_GT(n, 0);
    EXPECT_EQ(std::string(buf).rfind("English", 0), 0u) << buf; // the platform's wording follows
}

} // namespace
