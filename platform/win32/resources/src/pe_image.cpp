// PE headers and the resource tree.
//
// Layout, as far as the reader needs it (all fields little-endian):
//   DOS header: "MZ" at 0, the file offset of the PE signature at 0x3C.
//   "PE\0\0", then the 20-byte COFF header (machine at +0, section count at +2, optional-header
//   size at +16), then the optional header: magic 0x10B (PE32) or 0x20B (PE32+); the count of
//   data directories at +92 / +108 and the directories (8 bytes each: RVA, size) at +96 / +112;
//   the resource directory is number 2. The section table (40 bytes a section: virtual size at
//   +8, virtual address at +12, raw size at +16, raw file offset at +20) follows the optional
//   header.
//   Resource directory: 16 bytes (named-entry count at +12, id-entry count at +14), then 8-byte
//   entries. An entry's first word is an id (high bit clear) or, with the high bit set, the
//   offset of a name (a 16-bit length, then that many UTF-16 units); its second word is the
//   offset of a subdirectory (high bit set) or of a 16-byte data entry (the data's RVA and
//   size). Offsets are relative to the start of the resource directory; the data's RVA is an
//   address of the loaded image and is mapped back to the file through the section table.
//
// Every offset from the file goes through ByteReader, whose checks compare lengths with what
// remains. Tree offsets are checked against the resource section's bytes in the file, data RVAs
// against the file bytes of the one section that holds them.
#include <platform/pe_image.h>

#include <platform/byte_reader.h>

#include "mapped_file.h"

#include <cstring>
#include <memory>

namespace dbpf {
namespace pe {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kMaxSections = 96;      // the Windows loader's own limit
constexpr std::size_t kMaxWalkSteps = 1u << 20; // entries a listing may examine in all

// The resource section's bytes in the file, as their own view (empty if they do not lie inside
// the file, which Parse has already ruled out).
ByteReader ResourceBytes(const std::uint8_t* data, std::size_t size, std::uint32_t start,
                         std::uint32_t length) {
    ByteReader tree;
    ByteReader(data, size).Slice(start, std::size_t(start) + length, &tree);
    return tree;
}

} // namespace

const char* Describe(Result r) {
    switch (r) {
    case Result::kOk:
        return "ok";
    case Result::kIoError:
        return "cannot read the file";
    case Result::kNotFile:
        return "not a regular file";
    case Result::kTooLarge:
        return "file too large to map into memory";
    case Result::kNotPe:
        return "not a Windows executable or DLL";
    case Result::kBadHeader:
        return "PE header points outside the file";
    case Result::kNoResources:
        return "no resource section";
    case Result::kBadTree:
        return "resource directory points outside the file";
    case Result::kLoop:
        return "resource directory refers back to itself";
    case Result::kNotFound:
        return "resource not found";
    }
    return "unknown error";
}

ResourceKey ResourceKey::Id(std::uint16_t n) {
    ResourceKey k;
    k.is_id = true;
    k.id = n;
    return k;
}

ResourceKey ResourceKey::Name(std::u16string s) {
    ResourceKey k;
    k.is_id = false;
    k.name = std::move(s);
    return k;
}

ResourceKey ResourceKey::FromWin32(const char* key) {
    std::uintptr_t v = reinterpret_cast<std::uintptr_t>(key);
    if ((v >> 16) == 0) {
        return Id(static_cast<std::uint16_t>(v));
    }
    if (key[0] == '#') {
        // "#123" names the id 123, as FindResource reads it.
        std::uint32_t n = 0;
        const char* p = key + 1;
        bool digits = *p != '\0';
        for (; *p != '\0'; ++p) {
            if (*p < '0' || *p > '9' || n > 0xFFFF) {
                digits = false;
                break;
            }
            n = n * 10 + static_cast<std::uint32_t>(*p - '0');
        }
        if (digits && n <= 0xFFFF) {
            return Id(static_cast<std::uint16_t>(n));
        }
    }
    return Name(Utf8ToUtf16(key, std::strlen(key)));
}

bool NamesEqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && UpcaseUnit(a[i]) != UpcaseUnit(b[i])) {
            return false;
        }
    }
    return true;
}

Result PeImage::Parse(const std::uint8_t* data, std::size_t size, PeImage* out) {
    PeImage img;
    img.data_ = data;
    img.size_ = size;
    ByteReader r(data, size);

    std::uint16_t mz = 0;
    std::uint32_t pe_off = 0;
    std::uint32_t pe_sig = 0;
    if (!r.ReadU16LE(0, &mz) || mz != 0x5A4D || !r.ReadU32LE(0x3C, &pe_off) ||
        !r.ReadU32LE(pe_off, &pe_sig) || pe_sig != 0x00004550) {
        return Result::kNotPe;
    }
    const std::size_t coff = std::size_t(pe_off) + 4;
    std::uint16_t section_count = 0;
    std::uint16_t opt_size = 0;
    if (!r.ReadU16LE(coff, &img.machine_) || !r.ReadU16LE(coff + 2, &section_count) ||
        !r.ReadU16LE(coff + 16, &opt_size)) {
        return Result::kBadHeader;
    }
    const std::size_t opt = coff + 20;
    std::uint16_t magic = 0;
    if (opt_size < 2 || !r.Has(opt, opt_size) || !r.ReadU16LE(opt, &magic)) {
        return Result::kBadHeader;
    }
    std::size_t dir_count_at;
    if (magic == 0x10B) {
        dir_count_at = 92;
    } else if (magic == 0x20B) {
        dir_count_at = 108;
        img.pe32_plus_ = true;
    } else {
        return Result::kNotPe;
    }

    // The resource directory entry, when the optional header is long enough to hold it.
    std::uint32_t rsrc_rva = 0;
    std::uint32_t rsrc_len = 0;
    std::uint32_t dir_count = 0;
    const std::size_t rsrc_entry_at = dir_count_at + 4 + 2 * 8;
    if (opt_size >= dir_count_at + 4 && r.ReadU32LE(opt + dir_count_at, &dir_count) &&
        dir_count > 2 && opt_size >= rsrc_entry_at + 8) {
        if (!r.ReadU32LE(opt + rsrc_entry_at, &rsrc_rva) ||
            !r.ReadU32LE(opt + rsrc_entry_at + 4, &rsrc_len)) {
            return Result::kBadHeader;
        }
    }

    if (section_count > kMaxSections) {
        return Result::kBadHeader;
    }
    const std::size_t sec_table = opt + opt_size;
    if (!r.Has(sec_table, std::size_t(section_count) * 40)) {
        return Result::kBadHeader;
    }
    img.sections_.reserve(section_count);
    for (std::size_t i = 0; i < section_count; ++i) {
        const std::size_t s = sec_table + i * 40;
        Section sec{};
        r.ReadU32LE(s + 8, &sec.virtual_size);
        r.ReadU32LE(s + 12, &sec.virtual_address);
        r.ReadU32LE(s + 16, &sec.raw_size);
        r.ReadU32LE(s + 20, &sec.raw_offset);
        // Only the part of the raw data that the file really holds can be read.
        if (sec.raw_offset >= size) {
            sec.raw_size = 0;
        } else if (sec.raw_size > size - sec.raw_offset) {
            sec.raw_size = static_cast<std::uint32_t>(size - sec.raw_offset);
        }
        img.sections_.push_back(sec);
    }

    img.rsrc_state_ = Result::kNoResources;
    if (rsrc_rva != 0 && rsrc_len != 0) {
        img.rsrc_state_ = Result::kBadHeader;
        for (const Section& sec : img.sections_) {
            if (rsrc_rva >= sec.virtual_address && rsrc_rva - sec.virtual_address < sec.raw_size) {
                const std::uint32_t delta = rsrc_rva - sec.virtual_address;
                img.rsrc_start_ = sec.raw_offset + delta;
                img.rsrc_size_ = sec.raw_size - delta;
                img.rsrc_state_ = Result::kOk;
                break;
            }
        }
    }
    *out = std::move(img);
    return Result::kOk;
}

bool PeImage::RvaToOffset(std::uint32_t rva, std::uint32_t length, std::uint32_t* offset) const {
    for (const Section& sec : sections_) {
        if (rva < sec.virtual_address) {
            continue;
        }
        const std::uint32_t delta = rva - sec.virtual_address;
        if (delta < sec.raw_size && length <= sec.raw_size - delta) {
            *offset = sec.raw_offset + delta;
            return true;
        }
    }
    return false;
}

Result PeImage::ReadDirectory(std::uint32_t dir_offset, std::uint32_t* first_entry,
                              std::uint32_t* count) const {
    const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
    std::uint16_t named = 0;
    std::uint16_t ids = 0;
    if (!tree.ReadU16LE(std::size_t(dir_offset) + 12, &named) ||
        !tree.ReadU16LE(std::size_t(dir_offset) + 14, &ids)) {
        return Result::kBadTree;
    }
    const std::size_t n = std::size_t(named) + ids;
    if (!tree.Has(std::size_t(dir_offset) + 16, n * 8)) {
        return Result::kBadTree;
    }
    *first_entry = dir_offset + 16;
    *count = static_cast<std::uint32_t>(n);
    return Result::kOk;
}

Result PeImage::ReadKey(std::uint32_t name_field, ResourceKey* key) const {
    if ((name_field & kHighBit) == 0) {
        *key = ResourceKey::Id(static_cast<std::uint16_t>(name_field & 0xFFFF));
        return Result::kOk;
    }
    const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
    const std::size_t at = name_field & ~kHighBit;
    std::uint16_t len = 0;
    std::u16string name;
    if (!tree.ReadU16LE(at, &len) || !tree.ReadUtf16(at + 2, len, &name)) {
        return Result::kBadTree;
    }
    *key = ResourceKey::Name(std::move(name));
    return Result::kOk;
}

Result PeImage::FindEntry(std::uint32_t dir_offset, const ResourceKey& key,
                          std::uint32_t* target) const {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    Result res = ReadDirectory(dir_offset, &first, &count);
    if (res != Result::kOk) {
        return res;
    }
    const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t name_field = 0;
        std::uint32_t value = 0;
        tree.ReadU32LE(std::size_t(first) + i * 8, &name_field);
        tree.ReadU32LE(std::size_t(first) + i * 8 + 4, &value);
        const bool entry_named = (name_field & kHighBit) != 0;
        if (entry_named == key.is_id) {
            continue;
        }
        if (key.is_id) {
            if ((name_field & 0xFFFF) == key.id) {
                *target = value;
                return Result::kOk;
            }
            continue;
        }
        ResourceKey entry_key;
        res = ReadKey(name_field, &entry_key);
        if (res != Result::kOk) {
            return res;
        }
        if (NamesEqualIgnoringCase(entry_key.name, key.name)) {
            *target = value;
            return Result::kOk;
        }
    }
    return Result::kNotFound;
}

Result PeImage::ChildDirectory(std::uint32_t target, std::uint32_t* dir_offset) const {
    if ((target & kHighBit) == 0) {
        return Result::kBadTree; // a data entry where a directory belongs
    }
    *dir_offset = target & ~kHighBit;
    return Result::kOk;
}

Result PeImage::ResolveDataEntry(std::uint32_t data_entry_offset, ResourceLocation* out) const {
    if (rsrc_state_ != Result::kOk) {
        return rsrc_state_;
    }
    // The data entry must lie inside the resource section.
    if (data_entry_offset < rsrc_start_) {
        return Result::kBadTree;
    }
    const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
    const std::size_t at = data_entry_offset - rsrc_start_;
    std::uint32_t rva = 0;
    std::uint32_t len = 0;
    if (!tree.ReadU32LE(at, &rva) || !tree.ReadU32LE(at + 4, &len) || !tree.Has(at, 16)) {
        return Result::kBadTree;
    }
    std::uint32_t file_offset = 0;
    if (!RvaToOffset(rva, len, &file_offset)) {
        return Result::kBadTree;
    }
    out->data_entry_offset = data_entry_offset;
    out->file_offset = file_offset;
    out->size = len;
    return Result::kOk;
}

Result PeImage::Find(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                     bool any_language, ResourceLocation* out) const {
    if (rsrc_state_ != Result::kOk) {
        return rsrc_state_;
    }
    // The tree has exactly three levels below the root, so the walk's depth is fixed; a
    // directory offset that repeats on the path is a cycle and is refused.
    std::uint32_t path[3] = {0, 0, 0};
    std::uint32_t target = 0;
    Result res = FindEntry(path[0], type, &target);
    if (res != Result::kOk) {
        return res;
    }
    if ((res = ChildDirectory(target, &path[1])) != Result::kOk) {
        return res;
    }
    if (path[1] == path[0]) {
        return Result::kLoop;
    }
    if ((res = FindEntry(path[1], name, &target)) != Result::kOk) {
        return res;
    }
    if ((res = ChildDirectory(target, &path[2])) != Result::kOk) {
        return res;
    }
    if (path[2] == path[0] || path[2] == path[1]) {
        return Result::kLoop;
    }

    std::uint16_t found_language = language;
    if (!any_language) {
        res = FindEntry(path[2], ResourceKey::Id(language), &target);
    } else {
        res = Result::kNotFound;
        static const std::uint16_t kPreferred[] = {0x0000, 0x0400, 0x0800, 0x0409};
        for (std::uint16_t lang : kPreferred) {
            res = FindEntry(path[2], ResourceKey::Id(lang), &target);
            if (res != Result::kNotFound) {
                found_language = lang;
                break;
            }
        }
        if (res == Result::kNotFound) {
            std::uint32_t first = 0;
            std::uint32_t count = 0;
            if ((res = ReadDirectory(path[2], &first, &count)) != Result::kOk) {
                return res;
            }
            if (count == 0) {
                return Result::kNotFound;
            }
            const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
            std::uint32_t name_field = 0;
            tree.ReadU32LE(first, &name_field);
            tree.ReadU32LE(std::size_t(first) + 4, &target);
            found_language =
                (name_field & kHighBit) != 0 ? 0 : static_cast<std::uint16_t>(name_field);
        }
    }
    if (res != Result::kOk) {
        return res;
    }
    if ((target & kHighBit) != 0) {
        return (target & ~kHighBit) == path[0] || (target & ~kHighBit) == path[1] ||
                       (target & ~kHighBit) == path[2]
                   ? Result::kLoop
                   : Result::kBadTree;
    }
    if (target > rsrc_size_) {
        return Result::kBadTree;
    }
    res = ResolveDataEntry(rsrc_start_ + target, out);
    if (res == Result::kOk) {
        out->language = found_language;
    }
    return res;
}

Result PeImage::List(std::vector<ResourceInfo>* out, std::size_t limit) const {
    out->clear();
    if (rsrc_state_ != Result::kOk) {
        return rsrc_state_;
    }
    std::size_t steps = 0;
    const ByteReader tree = ResourceBytes(data_, size_, rsrc_start_, rsrc_size_);
    // Iterates the three levels; `path` holds the directories above, for the cycle check.
    struct Level {
        std::uint32_t first;
        std::uint32_t count;
    };
    ResourceKey keys[3];
    std::uint32_t dirs[3] = {0, 0, 0};
    Level levels[3] = {};
    Result res = ReadDirectory(0, &levels[0].first, &levels[0].count);
    if (res != Result::kOk) {
        return res;
    }
    std::uint32_t index[3] = {0, 0, 0};
    int depth = 0;
    while (depth >= 0) {
        if (index[depth] >= levels[depth].count) {
            --depth;
            if (depth >= 0) {
                ++index[depth];
            }
            continue;
        }
        if (++steps > kMaxWalkSteps) {
            return Result::kBadTree;
        }
        const std::size_t e = std::size_t(levels[depth].first) + std::size_t(index[depth]) * 8;
        std::uint32_t name_field = 0;
        std::uint32_t value = 0;
        tree.ReadU32LE(e, &name_field);
        tree.ReadU32LE(e + 4, &value);
        if ((res = ReadKey(name_field, &keys[depth])) != Result::kOk) {
            return res;
        }
        if (depth < 2) {
            std::uint32_t child = 0;
            if ((res = ChildDirectory(value, &child)) != Result::kOk) {
                return res;
            }
            for (int d = 0; d <= depth; ++d) {
                if (dirs[d] == child) {
                    return Result::kLoop;
                }
            }
            dirs[depth + 1] = child;
            index[depth + 1] = 0;
            if ((res = ReadDirectory(child, &levels[depth + 1].first, &levels[depth + 1].count)) !=
                Result::kOk) {
                return res;
            }
            ++depth;
            continue;
        }
        if ((value & kHighBit) != 0) {
            const std::uint32_t child = value & ~kHighBit;
            return child == dirs[0] || child == dirs[1] || child == dirs[2] ? Result::kLoop
                                                                            : Result::kBadTree;
        }
        ResourceInfo info;
        info.type = keys[0];
        info.name = keys[1];
        info.language = keys[2].is_id ? keys[2].id : 0;
        if (value > rsrc_size_ ||
            (res = ResolveDataEntry(rsrc_start_ + value, &info.where)) != Result::kOk) {
            return res == Result::kOk ? Result::kBadTree : res;
        }
        info.where.language = info.language;
        if (out->size() >= limit) {
            return Result::kOk;
        }
        out->push_back(std::move(info));
        ++index[depth];
    }
    return Result::kOk;
}

PeFile::PeFile() = default;
PeFile::~PeFile() = default;

Result PeFile::LoadBytes(std::vector<std::uint8_t> bytes) {
    mapping_.reset();
    bytes_ = std::move(bytes);
    return PeImage::Parse(bytes_.data(), bytes_.size(), &image_);
}

Result PeFile::Load(const std::string& path) {
    image_ = PeImage();
    bytes_.clear();
    mapping_.reset();
    const Result res = MappedFile::Open(path, &mapping_);
    if (res != Result::kOk)
        return res;
    return PeImage::Parse(mapping_->data(), mapping_->size(), &image_);
}

} // namespace pe
} // namespace dbpf
