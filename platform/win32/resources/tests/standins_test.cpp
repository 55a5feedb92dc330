// The POSIX stand-ins of the module, resource and version functions, and a comparison with
// Wine's own version functions on Wine's own DLLs where Wine is installed.
#include <platform/win_resources.h>

#include "fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(ModuleStandIns, LoadOnlyAsData) {
    const std::string path = fixtures::Path("versioned", "x86");
    EXPECT_EQ(LoadLibraryExA(path.c_str(), nullptr, 0), nullptr);
    EXPECT_EQ(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | 0x8), nullptr);
    EXPECT_EQ(LoadLibraryExA(nullptr, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    // Not a PE file.
    fixtures::TempFile text(std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(LoadLibraryExA(text.path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);

    // The name goes through the mapping of Windows paths (its rules: posix_path_test.cpp): the
    // network spelling "//..." of the file is refused although POSIX would open it, and a
    // Windows spelling with Z: and backslashes is the file.
    EXPECT_EQ(LoadLibraryExA(("/" + path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    HMODULE m = LoadLibraryExA(windows.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(m, nullptr);
    char name[4096];
    ASSERT_GT(GetModuleFileNameA(m, name, sizeof name), 0u);
    char* real = realpath(path.c_str(), nullptr);
    EXPECT_STREQ(name, real);
    std::free(real);
    EXPECT_TRUE(FreeLibrary(m));
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(ModuleStandIns, ModuleFileNameIsCutLikeWindows) {
    HMODULE m = LoadLibraryExA(fixtures::Path("versioned", "x64").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    char full[4096];
    const DWORD n = GetModuleFileNameA(m, full, sizeof full);
    ASSERT_GT(n, 4u);
    char small[5];
    std::memset(small, 0x7F, sizeof small);
    EXPECT_EQ(GetModuleFileNameA(m, small, sizeof small), sizeof small); // cut: the size
    EXPECT_EQ(std::string(small), std::string(full, 4));
    EXPECT_EQ(GetModuleFileNameA(m, full, n + 1), n); // exactly fits
    EXPECT_EQ(GetModuleFileNameA(m, full, n), n);     // one short: cut
    EXPECT_EQ(GetModuleFileNameA(m, full, 0), 0u);
    FreeLibrary(m);
    // The null handle is this process's executable.
    ASSERT_GT(GetModuleFileNameA(nullptr, full, sizeof full), 0u);
    EXPECT_EQ(full[0], '/');
}

TEST(ModuleStandIns, Resources) {
    HMODULE m = LoadLibraryExA(fixtures::Path("versioned", "x64").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    struct Case {
        const char* name;
        const char* type;
        const char* expected;
    };
    const Case cases[] = {
        {"greeting", RT_RCDATA, "Hello"},   {"Config", "payload", "payload"},
        {MAKEINTRESOURCEA(7), "#10", "en"}, {"#7", RT_RCDATA, "en"},
        {"nothing", RT_RCDATA, nullptr},
    };
    for (const Case& c : cases) {
        HRSRC r = FindResourceA(m, c.name, c.type);
        if (c.expected == nullptr) {
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(m, r)));
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(bytes, SizeofResource(m, r)).substr(0, std::strlen(c.expected)),
                  c.expected);
    }
    // Handles that do not belong: another module's, a made-up one, the null module.
    HRSRC de = FindResourceA(m, "greeting", RT_RCDATA);
    ASSERT_NE(de, nullptr);
    HMODULE other = LoadLibraryExA(fixtures::Path("no_version", "x64").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(SizeofResource(other, de), 0u);
    EXPECT_EQ(LoadResource(other, de), nullptr);
    alignas(16) unsigned char local[256] = {};
    EXPECT_EQ(SizeofResource(m, reinterpret_cast<HRSRC>(local)), 0u);
    EXPECT_EQ(SizeofResource(reinterpret_cast<HMODULE>(local), de), 0u);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(local), nullptr, 0), 0u);
    EXPECT_EQ(FindResourceA(nullptr, "greeting", RT_RCDATA), nullptr);
    FreeLibrary(other);
    FreeLibrary(m);
}

TEST(VersionStandIns, SizeAndBlock) {
    DWORD handle = 7;
    EXPECT_EQ(GetFileVersionInfoSizeA(fixtures::Path("no_version", "x86").c_str(), &handle), 0u);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA(fixtures::Path("absent", "x86").c_str(), nullptr), 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, nullptr), 0u);
    const std::string path = fixtures::Path("versioned", "x86");
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> block(size);
    EXPECT_FALSE(GetFileVersionInfoA(path.c_str(), 0, size - 1, block.data()));
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    void* v = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductName", &v, &len));
    EXPECT_STREQ(static_cast<const char*>(v), "Sample Product");
    EXPECT_FALSE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductName", nullptr, &len));
}

// Peak resident memory of this process so far, in KiB (ru_maxrss on Linux).
long PeakRssKiB() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A module with 1.5 GB appended (as signed or self-extracting files carry data behind their
// sections) answers like the module itself, and looking at it does not read the tail: the file
// is sparse, so it costs no disk, and the peak memory of the process stays where it was.
TEST(ModuleStandIns, AppendedDataIsNeitherReadNorRefused) {
    fixtures::TempFile big(fixtures::Read(fixtures::Path("versioned", "x64")));
    ASSERT_EQ(truncate(big.path().c_str(), 1536l << 20), 0);
    const long before = PeakRssKiB();

    DWORD size = GetFileVersionInfoSizeA(big.path().c_str(), nullptr);
    ASSERT_NE(size, 0u);
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(big.path().c_str(), 0, size, block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "1.2.3.4");

    HMODULE m = LoadLibraryExA(big.path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    ASSERT_NE(r, nullptr);
    const DWORD bytes = SizeofResource(m, r);
    const std::uint8_t* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(m, r)));
    ASSERT_NE(data, nullptr);
    ASSERT_GE(bytes, 2u);
    EXPECT_EQ(data[0] | (data[1] << 8), block[0] | (block[1] << 8)); // the same version tree
    EXPECT_TRUE(FreeLibrary(m));

    // Reading the whole file would have taken 1.5 GB; allow for what the test itself allocates.
    EXPECT_LT(PeakRssKiB() - before, 32l * 1024) << "peak RSS grew from " << before << " KiB";
}

TEST(VersionStandIns, LanguageNames) {
    struct Case {
        DWORD id;
        const char* name;
    };
    const Case cases[] = {
        {0x0409, "English (United States)"},
        {0x0407, "German (Germany)"},
        {0x040C, "French (France)"},
        {0x0411, "Japanese (Japan)"},
    };
    for (const Case& c : cases) {
        char buf[64];
        std::memset(buf, 0x7F, sizeof buf);
        EXPECT_EQ(VerLanguageNameA(c.id, buf, sizeof buf), std::strlen(c.name));
        EXPECT_STREQ(buf, c.name);
    }
    // Cut to the buffer and terminated; the result is still the whole name's length.
    char small[8];
    EXPECT_EQ(VerLanguageNameA(0x0409, small, sizeof small), 23u);
    EXPECT_STREQ(small, "English");
    EXPECT_EQ(VerLanguageNameA(0x0409, nullptr, 0), 23u);
    char unknown[16] = "x";
    EXPECT_EQ(VerLanguageNameA(0x1234, unknown, sizeof unknown), 0u);
    EXPECT_STREQ(unknown, "");
}

// Runs Wine's own version functions through a small Windows program and compares their answers
// for Wine's DLLs (and the test modules) with those of the stand-ins.
#if defined(DBPF_VERSION_PROBE) && defined(DBPF_WINE64)

std::map<std::string, std::vector<std::string>> StandInAnswers(const std::string& path) {
    std::vector<std::string> lines;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    std::vector<std::uint8_t> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len) || len < 52) {
        lines.push_back("fixed none");
        return {{path, lines}};
    }
    char line[512];
    std::string f = "fixed";
    const DWORD* w = reinterpret_cast<const DWORD*>(fixed);
    for (int k = 0; k < 13; ++k) {
        std::snprintf(line, sizeof line, " %08lx", static_cast<unsigned long>(w[k]));
        f += line;
    }
    lines.push_back(f);
    DWORD* trans = nullptr;
    std::string t = "trans";
    UINT tlen = 0;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&trans),
                       &tlen)) {
        for (UINT k = 0; k < tlen / 4; ++k) {
            std::snprintf(line, sizeof line, " %08lx", static_cast<unsigned long>(trans[k]));
            t += line;
        }
    }
    lines.push_back(t);
    static const char* const names[] = {
        "Comments",       "CompanyName",     "FileDescription",  "FileVersion",  "InternalName",
        "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild", "ProductName",
        "ProductVersion", "SpecialBuild",    "OLESelfRegister"};
    for (UINT k = 0; trans != nullptr && k < tlen / 4; ++k) {
        for (const char* n : names) {
            char key[300];
            std::snprintf(key, sizeof key, "\\StringFileInfo\\%04X%04X\\%s",
                          static_cast<unsigned>(trans[k] & 0xFFFF),
                          static_cast<unsigned>(trans[k] >> 16), n);
            void* value = nullptr;
            UINT vlen = 0;
            if (VerQueryValueA(block.data(), key, &value, &vlen)) {
                std::snprintf(line, sizeof line, "str %04X%04X %s=%s",
                              static_cast<unsigned>(trans[k] & 0xFFFF),
                              static_cast<unsigned>(trans[k] >> 16), n,
                              static_cast<const char*>(value));
                lines.push_back(line);
            }
        }
    }
    return {{path, lines}};
}

TEST(VersionStandIns, AgreeWithWineOnWineDlls) {
    const std::string dir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
    std::vector<std::string> files;
    for (const char* n :
         {"kernel32.dll", "version.dll", "comctl32.dll", "msvcrt.dll", "shell32.dll"}) {
        struct stat st;
        if (stat((dir + n).c_str(), &st) == 0) {
            files.push_back(dir + n);
        }
    }
    struct stat st;
    if (files.empty() || stat(DBPF_WINE64, &st) != 0 || stat(DBPF_VERSION_PROBE, &st) != 0) {
        GTEST_SKIP() << "Wine or its DLLs are not installed";
    }
    files.push_back(fixtures::Path("versioned", "x64"));
    files.push_back(fixtures::Path("long_values", "x86"));
    files.push_back(fixtures::Path("no_version", "x64"));
    std::string cmd = std::string("WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ") +
                      DBPF_WINE64 + " " + DBPF_VERSION_PROBE;
    for (const std::string& f : files) {
        cmd += " 'Z:" + f + "'";
    }
    cmd += " 2>/dev/null";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, got);
    }
    const int status = pclose(p);
    if (status != 0 && out.empty()) {
        GTEST_SKIP() << "Wine does not start here";
    }
    std::istringstream in(out);
    std::string line;
    std::vector<std::vector<std::string>> wine;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back(); // the program's standard output is in text mode
        }
        if (line.rfind("file ", 0) == 0) {
            wine.emplace_back();
        } else if (line.rfind("lang ", 0) == 0) {
            continue; // names differ by design, see the report of the language test
        } else if (!wine.empty()) {
            wine.back().push_back(line);
        }
    }
    ASSERT_EQ(wine.size(), files.size()) << out;
    int compared = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        const auto mine = StandInAnswers(files[i]).begin()->second;
        // Compare text that both sides give as ASCII; other text is in different code pages.
        std::vector<std::string> a, b;
        for (const std::string& s : wine[i]) {
            bool ascii = true;
            for (unsigned char c : s) {
                ascii = ascii && c < 0x80;
            }
            if (ascii) {
                a.push_back(s);
            }
        }
        for (const std::string& s : mine) {
            bool ascii = true;
            for (unsigned char c : s) {
                ascii = ascii && c < 0x80;
            }
            if (ascii) {
                b.push_back(s);
            }
        }
        EXPECT_EQ(a, b);
        compared += static_cast<int>(a.size());
    }
    EXPECT_GT(compared, 10);
}
#endif

} // namespace
