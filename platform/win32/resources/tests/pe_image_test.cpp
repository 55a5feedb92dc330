// The PE resource reader on windres-made modules, 32- and 64-bit, and on damaged copies.
#include <platform/pe_image.h>

#include "fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using dbpf::pe::PeFile;
using dbpf::pe::PeImage;
using dbpf::pe::ResourceInfo;
using dbpf::pe::ResourceKey;
using dbpf::pe::ResourceLocation;
using dbpf::pe::Result;

std::string Bytes(const PeImage& img, const ResourceLocation& loc) {
    return std::string(reinterpret_cast<const char*>(img.data() + loc.file_offset), loc.size);
}

class PeImageTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(file_.Load(fixtures::Path("versioned", GetParam())), Result::kOk);
    }
    const PeImage& img() const { return file_.image(); }
    PeFile file_;
};

TEST_P(PeImageTest, KnowsItsFormat) {
    EXPECT_EQ(img().is_pe32_plus(), std::string(GetParam()) == "x64");
    EXPECT_EQ(img().machine(), std::string(GetParam()) == "x64" ? 0x8664 : 0x14C);
    EXPECT_TRUE(img().has_resources());
}

TEST_P(PeImageTest, FindsByIdNameAndLanguage) {
    struct Case {
        ResourceKey type, name;
        std::uint16_t lang;
        bool any;
        const char* expected; // the resource's leading bytes, or null when absent
    };
    const Case cases[] = {
        {ResourceKey::Id(10), ResourceKey::Name(u"GREETING"), 0, true, "Hello"},
        // Names compare ignoring case, in both directions of the table's upper-case storage.
        {ResourceKey::Id(10), ResourceKey::Name(u"greeting"), 0, true, "Hello"},
        {ResourceKey::Name(u"payload"), ResourceKey::Name(u"Config"), 0, true, "payload"},
        {ResourceKey::Id(10), ResourceKey::Id(7), 0x0407, false, "de"},
        {ResourceKey::Id(10), ResourceKey::Id(7), 0x0409, false, "en"},
        // Any language: neutral, process and system defaults are absent, English is taken.
        {ResourceKey::Id(10), ResourceKey::Id(7), 0, true, "en"},
        {ResourceKey::Id(10), ResourceKey::Id(7), 0x040C, false, nullptr},
        {ResourceKey::Id(10), ResourceKey::Name(u"GREETINGS"), 0, true, nullptr},
        {ResourceKey::Id(10), ResourceKey::Name(u"GREETIN"), 0, true, nullptr},
        {ResourceKey::Id(11), ResourceKey::Id(7), 0, true, nullptr},
        // An id never matches a name that spells it.
        {ResourceKey::Id(10), ResourceKey::Name(u"7"), 0, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected != nullptr ? c.expected : "(absent)");
        ResourceLocation loc;
        const Result r = img().Find(c.type, c.name, c.lang, c.any, &loc);
        if (c.expected == nullptr) {
            EXPECT_EQ(r, Result::kNotFound);
            continue;
        }
        ASSERT_EQ(r, Result::kOk);
        EXPECT_EQ(Bytes(img(), loc).substr(0, std::strlen(c.expected)), c.expected);
    }
}

TEST_P(PeImageTest, ListsEveryResource) {
    std::vector<ResourceInfo> all;
    ASSERT_EQ(img().List(&all), Result::kOk);
    ASSERT_EQ(all.size(), 5u); // PAYLOAD/CONFIG, RCDATA/GREETING, RCDATA/7 x2, VERSION/1
    int versions = 0;
    for (const ResourceInfo& info : all) {
        ResourceLocation again;
        ASSERT_EQ(img().ResolveDataEntry(info.where.data_entry_offset, &again), Result::kOk);
        EXPECT_EQ(again.file_offset, info.where.file_offset);
        if (info.type.is_id && info.type.id == 16) {
            ++versions;
            EXPECT_EQ(info.language, 0x0409);
        }
    }
    EXPECT_EQ(versions, 1);
}

TEST_P(PeImageTest, Win32KeysReadIdsAndNames) {
    EXPECT_TRUE(ResourceKey::FromWin32(reinterpret_cast<const char*>(std::uintptr_t(16))).is_id);
    const ResourceKey hash = ResourceKey::FromWin32("#16");
    EXPECT_TRUE(hash.is_id);
    EXPECT_EQ(hash.id, 16);
    EXPECT_FALSE(ResourceKey::FromWin32("#1x").is_id);
    EXPECT_FALSE(ResourceKey::FromWin32("#99999").is_id);
    EXPECT_EQ(ResourceKey::FromWin32("Grüße").name, u"Grüße");
}

// Every prefix of a module is a truncated file; the reader must answer each without reading
// outside it (the sanitizer build checks that; each prefix is a fresh exact-size allocation).
TEST_P(PeImageTest, EveryTruncationIsHandled) {
    const std::vector<std::uint8_t> good = fixtures::Read(fixtures::Path("versioned", GetParam()));
    std::size_t found = 0;
    for (std::size_t n = 0; n <= good.size(); ++n) {
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[n + 1]);
        std::memcpy(copy.get(), good.data(), n);
        PeImage img;
        if (PeImage::Parse(copy.get(), n, &img) != Result::kOk) {
            continue;
        }
        ResourceLocation loc;
        if (img.Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &loc) == Result::kOk) {
            ASSERT_LE(loc.size, n - loc.file_offset);
            ++found;
        }
        std::vector<ResourceInfo> all;
        img.List(&all);
    }
    // Only prefixes that hold the whole version resource find it.
    ResourceLocation full;
    ASSERT_EQ(img().Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &full), Result::kOk);
    EXPECT_GE(found, 1u);
    EXPECT_LE(found, good.size() - (full.file_offset + full.size) + 1);
}

struct DamageExpectation {
    fixtures::Damage damage;
    Result parse;
    Result find_version;
    Result list;
};

TEST_P(PeImageTest, DamagedCopiesFailCleanly) {
    using fixtures::Damage;
    const DamageExpectation cases[] = {
        {Damage::kCutInDirectory, Result::kOk, Result::kBadTree, Result::kBadTree},
        {Damage::kDataOutsideFile, Result::kOk, Result::kBadTree, Result::kBadTree},
        {Damage::kDataSizeTooLarge, Result::kOk, Result::kBadTree, Result::kBadTree},
        {Damage::kTypeDirIsRoot, Result::kOk, Result::kLoop, Result::kLoop},
        {Damage::kLanguageDirIsSelf, Result::kOk, Result::kLoop, Result::kLoop},
        {Damage::kEntryCountHuge, Result::kOk, Result::kBadTree, Result::kBadTree},
        // Lookups by id never read names, so only the listing meets the bad name.
        {Damage::kNameOutsideFile, Result::kOk, Result::kOk, Result::kBadTree},
        {Damage::kPeOffsetOutside, Result::kNotPe, Result::kOk, Result::kOk},
        {Damage::kResourceRvaUnmapped, Result::kOk, Result::kBadHeader, Result::kBadHeader},
    };
    ASSERT_EQ(sizeof cases / sizeof cases[0], fixtures::kDamageCount);
    const std::vector<std::uint8_t> good = fixtures::Read(fixtures::Path("versioned", GetParam()));
    for (std::size_t i = 0; i < fixtures::kDamageCount; ++i) {
        SCOPED_TRACE(fixtures::kDamages[i].name);
        ASSERT_EQ(fixtures::kDamages[i].damage, cases[i].damage);
        PeFile damaged;
        ASSERT_EQ(damaged.LoadBytes(fixtures::Damaged(good, cases[i].damage)), cases[i].parse);
        if (cases[i].parse != Result::kOk) {
            continue;
        }
        ResourceLocation loc;
        EXPECT_EQ(damaged.image().Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &loc),
                  cases[i].find_version);
        std::vector<ResourceInfo> all;
        EXPECT_EQ(damaged.image().List(&all), cases[i].list);
    }
}

#ifdef _WIN32
// On Windows the reader must agree with the system's own resource functions.
TEST_P(PeImageTest, AgreesWithTheSystem) {
    HMODULE m = LoadLibraryExA(fixtures::Path("versioned", GetParam()).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    struct Case {
        const char* type;
        const char* name;
        ResourceKey rtype, rname;
    };
    const Case cases[] = {
        {MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), ResourceKey::Id(16), ResourceKey::Id(1)},
        {MAKEINTRESOURCEA(10), "greeting", ResourceKey::Id(10), ResourceKey::Name(u"greeting")},
        {"Payload", "CONFIG", ResourceKey::Name(u"Payload"), ResourceKey::Name(u"CONFIG")},
        {MAKEINTRESOURCEA(10), "absent", ResourceKey::Id(10), ResourceKey::Name(u"absent")},
    };
    for (const Case& c : cases) {
        HRSRC h = FindResourceA(m, c.name, c.type);
        ResourceLocation loc;
        const Result r = img().Find(c.rtype, c.rname, 0, true, &loc);
        ASSERT_EQ(h != nullptr, r == Result::kOk);
        if (h == nullptr) {
            continue;
        }
        ASSERT_EQ(SizeofResource(m, h), loc.size);
        const void* sys = LockResource(LoadResource(m, h));
        EXPECT_EQ(std::memcmp(sys, img().data() + loc.file_offset, loc.size), 0);
    }
    FreeLibrary(m);
}
#endif

INSTANTIATE_TEST_SUITE_P(Arch, PeImageTest, ::testing::Values("x86", "x64"));

TEST(PeImage, RejectsWhatIsNotPe) {
    const std::vector<std::vector<std::uint8_t>> inputs = {
        {},
        {'M', 'Z'},
        std::vector<std::uint8_t>(64, 0),
        // MZ with the PE offset pointing at itself: "MZ" is not "PE\0\0".
        [] {
            std::vector<std::uint8_t> b(128, 0);
            b[0] = 'M';
            b[1] = 'Z';
            return b;
        }(),
    };
    for (const auto& in : inputs) {
        PeImage img;
        EXPECT_EQ(PeImage::Parse(in.data(), in.size(), &img), Result::kNotPe);
    }
    PeFile missing;
    EXPECT_EQ(missing.Load(fixtures::Path("does_not_exist", "x64")), Result::kIoError);
}

TEST(PeImage, NoResourcesIsNotAnError) {
    // A minimal PE32 header: MZ, PE at 0x40, no sections, an optional header without data
    // directories.
    std::vector<std::uint8_t> b(0x40 + 24 + 96, 0);
    b[0] = 'M';
    b[1] = 'Z';
    b[0x3C] = 0x40;
    b[0x40] = 'P';
    b[0x41] = 'E';
    b[0x40 + 4] = 0x4C; // machine i386
    b[0x40 + 5] = 0x01;
    b[0x40 + 20] = 96;   // optional header size: up to the data-directory count
    b[0x40 + 24] = 0x0B; // PE32 magic
    b[0x40 + 25] = 0x01;
    PeImage img;
    ASSERT_EQ(PeImage::Parse(b.data(), b.size(), &img), Result::kOk);
    EXPECT_FALSE(img.has_resources());
    ResourceLocation loc;
    EXPECT_EQ(img.Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &loc),
              Result::kNoResources);
}

} // namespace
