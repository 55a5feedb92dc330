// Version trees and blocks: lookups on the windres-made resource, conversion of text values,
// and hand-built trees that lie about their sizes.
#include <platform/pe_image.h>
#include <platform/version_block.h>

#include "fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using dbpf::pe::PeFile;
using dbpf::pe::QueryVersionBlockA;
using dbpf::pe::ResourceKey;
using dbpf::pe::ResourceLocation;
using dbpf::pe::Result;

// The block of a test module's version resource, as GetFileVersionInfoA fills it.
std::vector<std::uint8_t> BlockOf(const std::string& name, const std::string& arch) {
    PeFile f;
    ResourceLocation loc;
    if (f.Load(fixtures::Path(name, arch)) != Result::kOk ||
        f.image().Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &loc) != Result::kOk) {
        return {};
    }
    const std::uint8_t* res = f.image().data() + loc.file_offset;
    std::vector<std::uint8_t> block(dbpf::pe::VersionBlockSize(res, loc.size), 0xFF);
    if (block.empty() || !dbpf::pe::FillVersionBlock(res, loc.size, block.data(), block.size())) {
        return {};
    }
    return block;
}

std::string Text(std::vector<std::uint8_t>& block, const char* path, unsigned* len = nullptr) {
    void* v = nullptr;
    unsigned n = 0;
    if (!QueryVersionBlockA(block.data(), path, &v, &n)) {
        return "<absent>";
    }
    if (len != nullptr) {
        *len = n;
    }
    return static_cast<const char*>(v);
}

TEST(VersionBlock, AnswersTheThreeKindsOfPath) {
    for (const char* arch : {"x86", "x64"}) {
        SCOPED_TRACE(arch);
        std::vector<std::uint8_t> block = BlockOf("versioned", arch);
        ASSERT_FALSE(block.empty());
        void* v = nullptr;
        unsigned n = 0;
        ASSERT_TRUE(QueryVersionBlockA(block.data(), "\\", &v, &n));
        ASSERT_EQ(n, 52u);
        const std::uint8_t* fixed = static_cast<const std::uint8_t*>(v);
        EXPECT_EQ(std::memcmp(fixed, "\xBD\x04\xEF\xFE", 4), 0);
        EXPECT_EQ(std::memcmp(fixed + 8, "\x02\x00\x01\x00\x04\x00\x03\x00", 8), 0); // 1.2.3.4

        ASSERT_TRUE(QueryVersionBlockA(block.data(), "\\VarFileInfo\\Translation", &v, &n));
        ASSERT_EQ(n, 8u);
        EXPECT_EQ(std::memcmp(v, "\x09\x04\xE4\x04\x07\x04\xE4\x04", 8), 0);

        struct Case {
            const char* path;
            const char* expected;
        };
        const Case cases[] = {
            {"\\StringFileInfo\\040904E4\\CompanyName", "Example Software Ltd."},
            {"\\StringFileInfo\\040704E4\\CompanyName", "Beispiel GmbH"},
            // Keys compare without regard to case; empty path components are skipped.
            {"\\stringfileinfo\\040904e4\\companyname", "Example Software Ltd."},
            {"StringFileInfo\\\\040904E4\\ProductName\\", "Sample Product"},
            // UTF-16 text comes back as UTF-8.
            {"\\StringFileInfo\\040704E4\\LegalCopyright",
             "\xC2\xA9 M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC"},
            {"\\StringFileInfo\\040704E4\\ProductVersion", "<absent>"},
            {"\\StringFileInfo\\040904E4\\CompanyNam", "<absent>"},
            {"\\StringFileInfo\\040904E4\\CompanyNameX", "<absent>"},
            {"\\StringFileInfo\\0409\\CompanyName", "<absent>"},
            {"\\StringFileInfo\\040904E4\\Comments", ""},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.path);
            EXPECT_EQ(Text(block, c.path), c.expected);
        }
        unsigned len = 99;
        EXPECT_EQ(Text(block, "\\StringFileInfo\\040904E4\\FileVersion", &len), "1.2.3.4");
        EXPECT_EQ(len, 8u); // bytes with the terminator
    }
}

TEST(VersionBlock, ReturnedTextStaysValid) {
    std::vector<std::uint8_t> block = BlockOf("versioned", "x64");
    ASSERT_FALSE(block.empty());
    const char* paths[] = {
        "\\StringFileInfo\\040704E4\\LegalCopyright", "\\StringFileInfo\\040704E4\\ProductName",
        "\\StringFileInfo\\040704E4\\FileVersion", "\\StringFileInfo\\040704E4\\CompanyName"};
    std::vector<const char*> got;
    std::vector<std::string> first;
    for (const char* p : paths) {
        void* v = nullptr;
        ASSERT_TRUE(QueryVersionBlockA(block.data(), p, &v, nullptr));
        got.push_back(static_cast<const char*>(v));
        first.push_back(got.back());
        // Every pointer lies inside the block.
        ASSERT_GE(static_cast<const void*>(got.back()), static_cast<const void*>(block.data()));
        ASSERT_LT(static_cast<const void*>(got.back() + first.back().size()),
                  static_cast<const void*>(block.data() + block.size()));
    }
    // Asking again, in any order, neither moves nor changes earlier answers.
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < got.size(); ++i) {
            void* v = nullptr;
            ASSERT_TRUE(QueryVersionBlockA(block.data(), paths[got.size() - 1 - i], &v, nullptr));
            EXPECT_EQ(v, got[got.size() - 1 - i]);
        }
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(std::string(got[i]), first[i]);
        }
    }
}

TEST(VersionBlock, RefusesBlocksItDidNotMake) {
    std::vector<std::uint8_t> block = BlockOf("versioned", "x86");
    ASSERT_FALSE(block.empty());
    const std::size_t tree = block[0] | (block[1] << 8);
    block[tree] = 'X'; // the signature behind the tree
    void* v = nullptr;
    EXPECT_FALSE(QueryVersionBlockA(block.data(), "\\", &v, nullptr));
    // A block smaller than the size it asks for is not filled.
    std::vector<std::uint8_t> res(block.begin(), block.begin() + static_cast<long>(tree));
    std::vector<std::uint8_t> small(dbpf::pe::VersionBlockSize(res.data(), res.size()) - 1);
    EXPECT_FALSE(dbpf::pe::FillVersionBlock(res.data(), res.size(), small.data(), small.size()));
}

// Hand-built trees. Each node: wLength, wValueLength, wType, key, padding to 4, value.
struct Builder {
    std::vector<std::uint8_t> b;
    void W(std::uint16_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void Key(const char* k) {
        for (; *k; ++k) {
            W(static_cast<std::uint8_t>(*k));
        }
        W(0);
        while (b.size() % 4 != 0) {
            b.push_back(0);
        }
    }
};

TEST(VersionTree, NodesThatLieAboutTheirSizes) {
    struct Case {
        const char* what;
        std::uint16_t root_length;  // 0: the real length
        std::uint16_t child_length; // 0: the real length
        std::uint16_t child_value_units;
        bool key_terminated;
        const char* expected; // value of \K, or null when the lookup must fail
    };
    const Case cases[] = {
        {"sound", 0, 0, 3, true, "ab"},
        {"value longer than its node is cut to the node", 0, 0, 200, true, "ab"},
        {"child longer than its parent is cut at the parent's end", 0, 400, 3, true, "ab"},
        {"child shorter than a header", 0, 4, 3, true, nullptr},
        {"root longer than the resource", 2000, 0, 3, true, nullptr},
        {"key without terminator", 0, 0, 3, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Builder t;
        t.W(0); // root length, patched below
        t.W(0);
        t.W(0);
        t.Key("VS_VERSION_INFO");
        const std::size_t child = t.b.size();
        t.W(0); // child length, patched below
        t.W(c.child_value_units);
        t.W(1);
        if (c.key_terminated) {
            t.Key("K");
        } else {
            t.W('K');
            t.W('K');
        }
        t.W('a');
        t.W('b');
        t.W(0);
        t.W(0);
        const std::size_t end = t.b.size();
        const std::uint16_t child_len =
            c.child_length != 0 ? c.child_length : static_cast<std::uint16_t>(end - child);
        const std::uint16_t root_len =
            c.root_length != 0 ? c.root_length : static_cast<std::uint16_t>(end);
        t.b[child] = static_cast<std::uint8_t>(child_len);
        t.b[child + 1] = static_cast<std::uint8_t>(child_len >> 8);
        t.b[0] = static_cast<std::uint8_t>(root_len);
        t.b[1] = static_cast<std::uint8_t>(root_len >> 8);

        const std::size_t size = dbpf::pe::VersionBlockSize(t.b.data(), t.b.size());
        if (c.root_length != 0) {
            EXPECT_EQ(size, 0u);
            continue;
        }
        ASSERT_NE(size, 0u);
        std::vector<std::uint8_t> block(size);
        ASSERT_TRUE(dbpf::pe::FillVersionBlock(t.b.data(), t.b.size(), block.data(), size));
        EXPECT_EQ(Text(block, "\\K"), c.expected != nullptr ? c.expected : "<absent>");
    }
}

// A child whose length runs past its parent keeps its values, cut at the parent's end; the
// lookup never reads past the parent, not even into the parent's next sibling.
TEST(VersionTree, ChildRunningPastItsParentIsCutAtTheParentsEnd) {
    auto set_length = [](std::vector<std::uint8_t>& b, std::size_t at, std::size_t length) {
        b[at] = static_cast<std::uint8_t>(length);
        b[at + 1] = static_cast<std::uint8_t>(length >> 8);
    };
    Builder t;
    t.W(0); // 0: root, length patched below, no value
    t.W(0);
    t.W(0);
    t.Key("VS_VERSION_INFO"); // ends at 40
    const std::size_t parent = t.b.size();
    t.W(0); // 40: parent "P", length patched below, no value
    t.W(0);
    t.W(1);
    t.Key("P");                           // ends at 52
    const std::size_t child = t.b.size(); // 52: child "K", text of 7 units ("abcdef" + 0)
    t.W(28);                              // claims 28 bytes: up to 80
    t.W(7);
    t.W(1);
    t.Key("K"); // value from 64
    t.W('a');
    t.W('b');
    t.W('c');
    t.W('d'); // 72: the parent ends here, in the middle of the child's text
    const std::size_t parent_end = t.b.size();
    const std::size_t sibling = t.b.size(); // 72: the parent's sibling "S" = "zz", 20 bytes
    t.W(20);
    t.W(3);
    t.W(1);
    t.Key("S");
    t.W('z');
    t.W('z');
    t.W(0);
    t.W(0);
    set_length(t.b, parent, parent_end - parent);
    set_length(t.b, 0, t.b.size());
    ASSERT_EQ(child, 52u);
    ASSERT_EQ(sibling, 72u);
    ASSERT_EQ(t.b.size(), 92u);

    const std::size_t size = dbpf::pe::VersionBlockSize(t.b.data(), t.b.size());
    ASSERT_NE(size, 0u);
    std::vector<std::uint8_t> block(size, 0xFF);
    ASSERT_TRUE(dbpf::pe::FillVersionBlock(t.b.data(), t.b.size(), block.data(), size));
    unsigned len = 0;
    // The child is cut to the parent's 20 bytes from 52 to 72: its text keeps "abcd" (read on,
    // it would run into the sibling's header).
    EXPECT_EQ(Text(block, "\\P\\K", &len), "abcd");
    EXPECT_EQ(len, 5u);
    // The walk goes on after the parent as usual.
    EXPECT_EQ(Text(block, "\\S"), "zz");
    // Nothing under the cut child: its declared value already fills it.
    EXPECT_EQ(Text(block, "\\P\\K\\S"), "<absent>");
}

#ifdef _WIN32
// The system's VerQueryValueA and this one agree on the test modules (ASCII values; the system
// converts others to its own code page).
TEST(VersionBlock, AgreesWithTheSystem) {
    for (const char* name : {"versioned", "long_values", "no_translation"}) {
        SCOPED_TRACE(name);
        const std::string path = fixtures::Path(name, "x64");
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_NE(size, 0u);
        std::vector<std::uint8_t> sys(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, sys.data()));
        std::vector<std::uint8_t> mine = BlockOf(name, "x64");
        ASSERT_FALSE(mine.empty());
        for (const char* q : {"\\", "\\VarFileInfo\\Translation"}) {
            void* a = nullptr;
            void* b = nullptr;
            UINT la = 0;
            unsigned lb = 0;
            const bool sys_ok = VerQueryValueA(sys.data(), q, &a, &la) != 0;
            ASSERT_EQ(sys_ok, QueryVersionBlockA(mine.data(), q, &b, &lb));
            if (sys_ok) {
                ASSERT_EQ(la, lb);
                EXPECT_EQ(std::memcmp(a, b, la), 0);
            }
        }
        for (const char* q :
             {"\\StringFileInfo\\040904E4\\CompanyName", "\\StringFileInfo\\040904e4\\productname",
              "\\StringFileInfo\\040904B0\\Comments", "\\StringFileInfo\\040904E4\\Missing"}) {
            SCOPED_TRACE(q);
            void* a = nullptr;
            UINT la = 0;
            const bool sys_ok = VerQueryValueA(sys.data(), q, &a, &la) != 0;
            EXPECT_EQ(Text(mine, q),
                      sys_ok ? std::string(static_cast<const char*>(a)) : "<absent>");
        }
    }
}
#endif

} // namespace
