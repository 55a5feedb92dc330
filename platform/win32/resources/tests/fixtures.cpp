#include "fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fixtures {

std::string Path(const std::string& name, const std::string& arch) {
    return std::string(DBPF_PE_FIXTURES) + "/" + name + "-" + arch + ".dll";
}

const char* NativeArch() {
    return sizeof(void*) == 8 ? "x64" : "x86";
}

std::vector<std::uint8_t> Read(const std::string& path) {
    std::vector<std::uint8_t> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
    std::fclose(f);
    return out;
}

TempFile::TempFile(const std::vector<std::uint8_t>& bytes, const std::string& suffix) {
    static int counter = 0;
#ifdef _WIN32
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    path_ = std::string(dir) + "dbpf_pe_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter) + suffix;
#else
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/dbpf_pe_" + std::to_string(getpid()) +
            "_" + std::to_string(++counter) + suffix;
#endif
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        throw std::runtime_error("cannot write " + path_);
    }
    std::fclose(f);
}

TempFile::~TempFile() {
    std::remove(path_.c_str());
}

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) |
           (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

struct Layout {
    std::size_t resource_dd;   // file offset of the resource data directory entry (RVA, size)
    std::size_t rsrc;          // file offset of the root resource directory
    std::size_t version_entry; // file offset of the root's RT_VERSION entry
    std::size_t name_dir;      // file offset of RT_VERSION's name directory
    std::size_t lang_dir;      // file offset of the version's language directory
    std::size_t data_entry;    // file offset of the version's data entry
};

// Finds the entry with id `id` in the directory at file offset `dir`.
std::size_t EntryWithId(const std::vector<std::uint8_t>& b, std::size_t dir, std::uint16_t id) {
    const std::size_t named = U16(b, dir + 12);
    const std::size_t ids = U16(b, dir + 14);
    for (std::size_t i = named; i < named + ids; ++i) {
        if (U32(b, dir + 16 + 8 * i) == id) {
            return dir + 16 + 8 * i;
        }
    }
    throw std::runtime_error("fixture lacks the expected resource entry");
}

Layout Locate(const std::vector<std::uint8_t>& b) {
    Layout l{};
    const std::size_t pe = U32(b, 0x3C);
    const std::size_t opt = pe + 24;
    const bool plus = U16(b, opt) == 0x20B;
    l.resource_dd = opt + (plus ? 112 : 96) + 2 * 8;
    const std::uint32_t rva = U32(b, l.resource_dd);
    const std::size_t sections = opt + U16(b, pe + 20);
    for (std::size_t i = 0; i < U16(b, pe + 6); ++i) {
        const std::size_t s = sections + 40 * i;
        const std::uint32_t va = U32(b, s + 12);
        if (rva >= va && rva < va + U32(b, s + 16)) {
            l.rsrc = U32(b, s + 20) + (rva - va);
        }
    }
    l.version_entry = EntryWithId(b, l.rsrc, 16);
    l.name_dir = l.rsrc + (U32(b, l.version_entry + 4) & 0x7FFFFFFF);
    l.lang_dir = l.rsrc + (U32(b, l.name_dir + 16 + 4) & 0x7FFFFFFF);
    l.data_entry = l.rsrc + U32(b, l.lang_dir + 16 + 4);
    return l;
}

} // namespace

const DamageCase kDamages[] = {
    {Damage::kCutInDirectory, "CutInDirectory"},
    {Damage::kDataOutsideFile, "DataOutsideFile"},
    {Damage::kDataSizeTooLarge, "DataSizeTooLarge"},
    {Damage::kTypeDirIsRoot, "TypeDirIsRoot"},
    {Damage::kLanguageDirIsSelf, "LanguageDirIsSelf"},
    {Damage::kEntryCountHuge, "EntryCountHuge"},
    {Damage::kNameOutsideFile, "NameOutsideFile"},
    {Damage::kPeOffsetOutside, "PeOffsetOutside"},
    {Damage::kResourceRvaUnmapped, "ResourceRvaUnmapped"},
};
const std::size_t kDamageCount = sizeof kDamages / sizeof kDamages[0];

std::vector<std::uint8_t> Damaged(std::vector<std::uint8_t> b, Damage damage) {
    const Layout l = Locate(b);
    switch (damage) {
    case Damage::kCutInDirectory:
        b.resize(l.rsrc + 20);
        break;
    case Damage::kDataOutsideFile:
        Put32(b, l.data_entry, 0x7FFFFFF0u);
        break;
    case Damage::kDataSizeTooLarge:
        Put32(b, l.data_entry + 4, 0xFFFFFFF0u);
        break;
    case Damage::kTypeDirIsRoot:
        Put32(b, l.version_entry + 4, 0x80000000u);
        break;
    case Damage::kLanguageDirIsSelf:
        Put32(b, l.lang_dir + 16 + 4,
              0x80000000u | static_cast<std::uint32_t>(l.lang_dir - l.rsrc));
        break;
    case Damage::kEntryCountHuge:
        Put16(b, l.rsrc + 14, 0xFFFF);
        break;
    case Damage::kNameOutsideFile:
        // The root lists the named types (PAYLOAD) first.
        Put32(b, l.rsrc + 16, 0x80000000u | 0x7FFFFF00u);
        break;
    case Damage::kPeOffsetOutside:
        Put32(b, 0x3C, static_cast<std::uint32_t>(b.size()) - 2);
        break;
    case Damage::kResourceRvaUnmapped:
        Put32(b, l.resource_dd, 0x7FFF0000u);
        break;
    }
    return b;
}

} // namespace fixtures
