// Reading a package: the header, the index (1.x 7.0/7.1 and 2.x), the 1.x directory record, and
// the expansion of single entries.
//
// Bounds: the file is one mapped byte range [data, data + size). Every offset and size taken
// from it is compared with what remains before a byte is read: the index as a whole at Open
// (after the entry count has been checked against the index size, so that a count of millions
// in a small file allocates nothing), each entry's range when it is read. Sizes are added in
// 64 bits, so an offset plus size beyond 32 bits is caught like any other overrun.
//
// Expanded sizes come from the file too. Before a buffer of that size is allocated, the size is
// compared with the most the entry's stored bytes could produce: a command of the codec's
// format yields at most 257 bytes per byte it occupies (a 4-byte copy of 1028 bytes), deflate at
// most 1032 bytes per byte. A claim beyond that is a damaged entry, not a large allocation.
#include "dbpf_package.h"

#include "bytes.h"
#include "file_io.h"

#include <quorrin.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace dbpf {

using detail::LoadU32LE;

namespace {

constexpr std::size_t kHeaderSize = 96;
constexpr std::uint64_t kCodecRatio = 257;
constexpr std::uint64_t kDeflateRatio = 1032;

std::string Num(std::uint64_t v) {
    return std::to_string(v);
}

Error Fail(ErrorCode code, std::string detail) {
    Error e;
    e.code = code;
    e.detail = std::move(detail);
    return e;
}

// Where the bytes of a 1.x compressed entry come from, as a key of the directory record.
struct DirKey {
    std::uint32_t type, group, instance, resource;
    bool operator==(const DirKey& o) const {
        return type == o.type && group == o.group && instance == o.instance &&
               resource == o.resource;
    }
};
struct DirKeyHash {
    std::size_t operator()(const DirKey& k) const {
        std::uint64_t h = k.type;
        h = h * 0x9E3779B97F4A7C15ull ^ k.group;
        h = h * 0x9E3779B97F4A7C15ull ^ k.instance;
        h = h * 0x9E3779B97F4A7C15ull ^ k.resource;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
};

} // namespace

struct Package::Impl {
    std::unique_ptr<detail::MappedFile> file; // null when opened over a caller's buffer
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    Version version;
    bool index71 = false;
    std::vector<Entry> entries;
    std::size_t directory = kNoEntry;
    // Failures of the directory record found at Open: listed entries the index does not hold.
    std::vector<Error> directoryProblems;

    Error Parse();
    Error ParseIndex1(std::uint32_t count, std::uint32_t offset, std::uint32_t size);
    Error ParseIndex2(std::uint32_t count, std::uint32_t offset, std::uint32_t size);
    void ParseDirectory();

    Error EntryError(std::size_t i, ErrorCode code, std::string detail) const {
        Error e = Fail(code, std::move(detail));
        e.entry = i;
        if (i < entries.size()) {
            e.key = entries[i].key;
        }
        return e;
    }
    // The stored bytes of entry i, checked against the file.
    Error Stored(std::size_t i, const unsigned char** p, std::size_t* n) const;
    // Checks everything about entry i that can be checked without expanding it, and gives the
    // stored bytes and the header length of a compressed entry.
    Error Plan(std::size_t i, const unsigned char** p, std::size_t* n, std::size_t* header) const;
    Error Expand(std::size_t i, const unsigned char* p, std::size_t n, std::size_t header,
                 unsigned char* out, std::vector<unsigned char>* scratch) const;
};

Error Package::Impl::Parse() {
    if (size < kHeaderSize) {
        return Fail(ErrorCode::kNotDbpf,
                    "file of " + Num(size) + " bytes is shorter than the 96-byte header");
    }
    if (std::memcmp(data, "DBPF", 4) != 0) {
        return Fail(ErrorCode::kNotDbpf, "no DBPF magic");
    }
    version.major = LoadU32LE(data + 4);
    version.minor = LoadU32LE(data + 8);
    version.indexMajor = LoadU32LE(data + 32);
    version.indexMinor = LoadU32LE(data + 60);
    const std::uint32_t count = LoadU32LE(data + 36);
    const std::uint32_t indexSize = LoadU32LE(data + 44);
    if (version.major == 1) {
        if (version.indexMajor != 7 || version.indexMinor > 2) {
            return Fail(ErrorCode::kUnsupportedVersion, "index version " + Num(version.indexMajor) +
                                                            "." + Num(version.indexMinor) +
                                                            " (7.0 or 7.1 expected)");
        }
        index71 = version.indexMinor == 2;
        Error e = ParseIndex1(count, LoadU32LE(data + 40), indexSize);
        if (e.ok()) {
            ParseDirectory();
        }
        return e;
    }
    if (version.major == 2) {
        // 2.x keeps the index offset at 64; some writers put it at 40 as well (or only there).
        std::uint32_t offset = LoadU32LE(data + 64);
        if (offset == 0) {
            offset = LoadU32LE(data + 40);
        }
        return ParseIndex2(count, offset, indexSize);
    }
    return Fail(ErrorCode::kUnsupportedVersion, "version " + Num(version.major) + "." +
                                                    Num(version.minor) + " (1.x or 2.x expected)");
}

namespace {

// The index must lie inside the file and hold `needed` bytes; both checked before any entry
// is allocated.
Error CheckIndexRange(std::size_t fileSize, std::uint32_t offset, std::uint32_t size,
                      std::uint64_t needed, std::uint32_t count) {
    if (offset > fileSize || size > fileSize - offset) {
        return Fail(ErrorCode::kBadIndex, "index at " + Num(offset) + " of " + Num(size) +
                                              " bytes passes the end of the file (" +
                                              Num(fileSize) + " bytes)");
    }
    if (needed > size) {
        return Fail(ErrorCode::kBadIndex, Num(count) + " entries need " + Num(needed) +
                                              " index bytes, the index has " + Num(size));
    }
    return Error{};
}

} // namespace

Error Package::Impl::ParseIndex1(std::uint32_t count, std::uint32_t offset,
                                 std::uint32_t indexSize) {
    if (count == 0) {
        return Error{};
    }
    const std::uint64_t record = index71 ? 24 : 20;
    Error e = CheckIndexRange(size, offset, indexSize, count * record, count);
    if (!e.ok()) {
        return e;
    }
    entries.resize(count);
    const unsigned char* p = data + offset;
    for (std::uint32_t i = 0; i < count; ++i, p += record) {
        Entry& entry = entries[i];
        entry.key.type = LoadU32LE(p);
        entry.key.group = LoadU32LE(p + 4);
        entry.key.instance = LoadU32LE(p + 8);
        const unsigned char* q = p + 12;
        if (index71) {
            entry.key.hasResource = true;
            entry.key.resource = LoadU32LE(q);
            q += 4;
        }
        entry.offset = LoadU32LE(q);
        entry.size = LoadU32LE(q + 4);
        entry.uncompressed = entry.size;
        if (directory == kNoEntry && entry.key.type == kDirectoryType &&
            entry.key.group == kDirectoryGroup && entry.key.instance == kDirectoryInstance) {
            directory = i;
            entry.directory = true;
        }
    }
    return Error{};
}

// Reads the directory record and marks the entries it lists as compressed with its sizes. A
// record that names an entry the index does not hold is kept as a problem for Verify; records
// with the same TGI are matched with the index's entries of that TGI in order, so duplicates
// stay apart.
void Package::Impl::ParseDirectory() {
    if (directory == kNoEntry) {
        return;
    }
    const unsigned char* p;
    std::size_t n;
    if (!Stored(directory, &p, &n).ok()) {
        return; // reported by VerifyEntry of the record itself
    }
    const std::size_t record = index71 ? 20 : 16;
    const std::size_t records = n / record;
    if (records == 0) {
        return;
    }
    std::unordered_map<DirKey, std::vector<std::size_t>, DirKeyHash> byKey;
    byKey.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == directory) {
            continue;
        }
        const EntryKey& k = entries[i].key;
        byKey[DirKey{k.type, k.group, static_cast<std::uint32_t>(k.instance), k.resource}]
            .push_back(i);
    }
    std::unordered_map<DirKey, std::size_t, DirKeyHash> used;
    for (std::size_t r = 0; r < records; ++r, p += record) {
        DirKey k{LoadU32LE(p), LoadU32LE(p + 4), LoadU32LE(p + 8), index71 ? LoadU32LE(p + 12) : 0};
        const std::uint32_t listed = LoadU32LE(p + record - 4);
        auto found = byKey.find(k);
        std::size_t& next = used[k];
        if (found == byKey.end() || next >= found->second.size()) {
            EntryKey named(k.type, k.group, k.instance);
            if (index71) {
                named = EntryKey(k.type, k.group, k.instance, k.resource);
            }
            Error e = EntryError(directory, ErrorCode::kBadDirectory,
                                 "record " + Num(r) + " lists " + KeyText(named) +
                                     ", which the index does not hold");
            directoryProblems.push_back(std::move(e));
            continue;
        }
        Entry& entry = entries[found->second[next++]];
        entry.compression = Compression::kEntry;
        entry.compressionCode = 0xFFFF;
        entry.uncompressed = listed;
    }
}

Error Package::Impl::ParseIndex2(std::uint32_t count, std::uint32_t offset,
                                 std::uint32_t indexSize) {
    if (count == 0) {
        return Error{};
    }
    if (offset > size || indexSize > size - offset) {
        return CheckIndexRange(size, offset, indexSize, 0, count);
    }
    if (indexSize < 4) {
        return Fail(ErrorCode::kBadIndex,
                    "index of " + Num(indexSize) + " bytes has no room for its index type");
    }
    const unsigned char* p = data + offset;
    const std::uint32_t indexType = LoadU32LE(p);
    // Bits 0, 1, 2: type, group, instance-high are the same for every entry and stored once.
    unsigned constants = 0;
    for (unsigned bit = 0; bit < 3; ++bit) {
        constants += (indexType >> bit) & 1;
    }
    const std::uint64_t perEntry = 4 * (8 - constants);
    const std::uint64_t needed = 4 + 4 * constants + count * perEntry;
    Error e = CheckIndexRange(size, offset, indexSize, needed, count);
    if (!e.ok()) {
        return e;
    }
    p += 4;
    std::uint32_t fixed[3] = {0, 0, 0};
    for (unsigned bit = 0; bit < 3; ++bit) {
        if (indexType & (1u << bit)) {
            fixed[bit] = LoadU32LE(p);
            p += 4;
        }
    }
    entries.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t field[8];
        for (unsigned f = 0; f < 8; ++f) {
            if (f < 3 && (indexType & (1u << f))) {
                field[f] = fixed[f];
            } else {
                field[f] = LoadU32LE(p);
                p += 4;
            }
        }
        Entry& entry = entries[i];
        entry.key.type = field[0];
        entry.key.group = field[1];
        entry.key.instance = static_cast<std::uint64_t>(field[2]) << 32 | field[3];
        entry.offset = field[4];
        entry.size = field[5] & 0x7FFFFFFFu; // bit 31 is a flag
        entry.uncompressed = field[6];
        entry.compressionCode = static_cast<std::uint16_t>(field[7] & 0xFFFF);
        switch (entry.compressionCode) {
        case 0x0000:
            entry.compression = Compression::kNone;
            break;
        case 0xFFFF:
            entry.compression = Compression::kEntry;
            break;
        case 0x5A42:
            entry.compression = Compression::kZlib;
            break;
        case 0xFFE0:
            entry.compression = Compression::kDeleted;
            entry.uncompressed = 0;
            break;
        default:
            entry.compression = Compression::kUnknown;
            break;
        }
    }
    return Error{};
}

Error Package::Impl::Stored(std::size_t i, const unsigned char** p, std::size_t* n) const {
    if (i >= entries.size()) {
        Error e = Fail(ErrorCode::kIndexOutOfRange,
                       "position " + Num(i) + " of " + Num(entries.size()) + " entries");
        e.entry = i;
        return e;
    }
    const Entry& entry = entries[i];
    if (entry.compression == Compression::kDeleted) {
        return EntryError(i, ErrorCode::kDeletedEntry, "");
    }
    const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + entry.size;
    if (end > 0xFFFFFFFFull) {
        return EntryError(i, ErrorCode::kEntryOutOfRange,
                          "offset " + Num(entry.offset) + " + size " + Num(entry.size) +
                              " overflows 32 bits");
    }
    if (entry.offset > size || entry.size > size - entry.offset) {
        return EntryError(i, ErrorCode::kEntryOutOfRange,
                          "offset " + Num(entry.offset) + " + size " + Num(entry.size) +
                              " passes the end of the file (" + Num(size) + " bytes)");
    }
    *p = data + entry.offset;
    *n = entry.size;
    return Error{};
}

Error Package::Impl::Plan(std::size_t i, const unsigned char** pp, std::size_t* pn,
                          std::size_t* header) const {
    Error e = Stored(i, pp, pn);
    if (!e.ok()) {
        return e;
    }
    const Entry& entry = entries[i];
    const unsigned char* p = *pp;
    const std::size_t n = *pn;
    *header = 0;
    switch (entry.compression) {
    case Compression::kNone:
        if (entry.uncompressed != entry.size) {
            return EntryError(i, ErrorCode::kSizeMismatch,
                              "stored entry of " + Num(entry.size) + " bytes is listed with " +
                                  Num(entry.uncompressed) + " uncompressed");
        }
        return Error{};
    case Compression::kDeleted:
        return EntryError(i, ErrorCode::kDeletedEntry, "");
    case Compression::kUnknown: {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", entry.compressionCode);
        return EntryError(i, ErrorCode::kUnsupported, std::string("compression value ") + code);
    }
    case Compression::kZlib:
        if (entry.uncompressed > kDeflateRatio * n + 64) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              "zlib stream of " + Num(n) + " bytes cannot expand to " +
                                  Num(entry.uncompressed));
        }
        return Error{};
    case Compression::kEntry:
        break;
    }
    if (version.major == 1) {
        // The 9-byte header: compressed size (LE), 10 FB, uncompressed size (BE, 24 bits).
        if (n < 9) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              Num(n) + " bytes, shorter than the 9-byte header");
        }
        if (p[4] != 0x10 || p[5] != 0xFB) {
            return EntryError(i, ErrorCode::kCorruptEntry, "no 10 FB signature in its header");
        }
        const std::uint32_t plain =
            static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 8 | p[8];
        if (plain != entry.uncompressed) {
            return EntryError(i, ErrorCode::kSizeMismatch,
                              "the directory record lists " + Num(entry.uncompressed) +
                                  " bytes, the entry's header " + Num(plain));
        }
        const std::uint32_t packed = LoadU32LE(p);
        if (packed != n) {
            return EntryError(i, ErrorCode::kSizeMismatch,
                              "the header gives " + Num(packed) + " compressed bytes, the index " +
                                  Num(n));
        }
        *header = 9;
    } else {
        // The short header: flags (0x10; 0x80 4-byte sizes; 0x01 a compressed size follows),
        // FB, the uncompressed size big-endian in 3 or 4 bytes, [the compressed size].
        if (n < 2 || (p[0] & 0x10) == 0 || p[1] != 0xFB) {
            return EntryError(i, ErrorCode::kCorruptEntry, "no xx FB signature in its header");
        }
        const std::size_t width = (p[0] & 0x80) ? 4 : 3;
        const std::size_t length = 2 + width * ((p[0] & 0x01) ? 2 : 1);
        if (n < length) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              Num(n) + " bytes, shorter than its " + Num(length) + "-byte header");
        }
        std::uint64_t plain = 0;
        for (std::size_t k = 0; k < width; ++k) {
            plain = plain << 8 | p[2 + k];
        }
        if (plain > kMaxCodecSize || entry.uncompressed > kMaxCodecSize) {
            return EntryError(i, ErrorCode::kUnsupported,
                              "compressed entry of " +
                                  Num(std::max<std::uint64_t>(plain, entry.uncompressed)) +
                                  " bytes, more than the codec's 16777215");
        }
        if (plain != entry.uncompressed) {
            return EntryError(i, ErrorCode::kSizeMismatch,
                              "the index lists " + Num(entry.uncompressed) +
                                  " bytes, the entry's header " + Num(plain));
        }
        if (n - length > static_cast<std::size_t>(INT_MAX - 9)) {
            return EntryError(i, ErrorCode::kUnsupported, "compressed entry too large");
        }
        *header = length;
    }
    if (entry.uncompressed > kCodecRatio * (n - *header)) {
        return EntryError(i, ErrorCode::kCorruptEntry,
                          Num(n - *header) + " command bytes cannot expand to " +
                              Num(entry.uncompressed));
    }
    return Error{};
}

Error Package::Impl::Expand(std::size_t i, const unsigned char* p, std::size_t n,
                            std::size_t header, unsigned char* out,
                            std::vector<unsigned char>* scratch) const {
    const Entry& entry = entries[i];
    switch (entry.compression) {
    case Compression::kNone:
        if (n > 0) {
            std::memcpy(out, p, n);
        }
        return Error{};
    case Compression::kZlib: {
        // Both sizes fit zlib's 32-bit counters: the stored size has 31 bits, the expanded 32.
        z_stream z;
        std::memset(&z, 0, sizeof z);
        if (inflateInit(&z) != Z_OK) {
            return EntryError(i, ErrorCode::kCorruptEntry, "zlib cannot start");
        }
        unsigned char spare;
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = entry.uncompressed > 0 ? out : &spare;
        z.avail_out = entry.uncompressed;
        int rc = inflate(&z, Z_FINISH);
        uLong produced = z.total_out;
        if (rc != Z_STREAM_END && rc != Z_DATA_ERROR && rc != Z_MEM_ERROR && z.avail_out == 0) {
            // The output is full but the stream has not ended: one spare byte tells whether it
            // holds more data or only its end.
            z.next_out = &spare;
            z.avail_out = 1;
            rc = inflate(&z, Z_FINISH);
            produced = z.total_out;
        }
        const std::string message = z.msg ? z.msg : "";
        inflateEnd(&z);
        if (rc == Z_STREAM_END && produced == entry.uncompressed) {
            return Error{};
        }
        if (produced > entry.uncompressed) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              "zlib stream expands to more than " + Num(entry.uncompressed) +
                                  " bytes");
        }
        if (rc == Z_STREAM_END) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              "zlib stream expands to " + Num(produced) + " bytes, not " +
                                  Num(entry.uncompressed));
        }
        if (rc == Z_BUF_ERROR || rc == Z_OK) {
            return EntryError(i, ErrorCode::kCorruptEntry, "zlib stream is cut short");
        }
        return EntryError(i, ErrorCode::kCorruptEntry,
                          "zlib: " + (message.empty() ? std::string("damaged stream") : message));
    }
    case Compression::kEntry: {
        const unsigned char* source = p;
        std::size_t sourceLength = n;
        std::vector<unsigned char> local;
        if (header != 9) {
            // Rewrite the short header into the 9-byte form, in a copy.
            std::vector<unsigned char>& buf = scratch ? *scratch : local;
            sourceLength = 9 + (n - header);
            buf.resize(sourceLength);
            detail::StoreU32LE(buf.data(), static_cast<std::uint32_t>(sourceLength));
            buf[4] = 0x10;
            buf[5] = 0xFB;
            buf[6] = static_cast<unsigned char>(entry.uncompressed >> 16);
            buf[7] = static_cast<unsigned char>(entry.uncompressed >> 8);
            buf[8] = static_cast<unsigned char>(entry.uncompressed);
            if (n > header) {
                std::memcpy(buf.data() + 9, p + header, n - header);
            }
            source = buf.data();
        }
        if (sourceLength > static_cast<std::size_t>(INT_MAX) ||
            DecompressPackage(source, static_cast<int>(sourceLength), out,
                              static_cast<int>(entry.uncompressed), 0) != 1) {
            return EntryError(i, ErrorCode::kCorruptEntry,
                              "its commands do not expand to exactly " + Num(entry.uncompressed) +
                                  " bytes");
        }
        return Error{};
    }
    case Compression::kDeleted:
    case Compression::kUnknown:
        break;
    }
    return EntryError(i, ErrorCode::kUnsupported, "");
}

Package::Package(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Package::Package(Package&& other) noexcept = default;
Package& Package::operator=(Package&& other) noexcept = default;
Package::~Package() = default;

Result<Package> Package::Open(const std::string& path) {
    std::unique_ptr<Impl> impl(new Impl);
    impl->file.reset(new detail::MappedFile);
    std::string reason;
    if (!impl->file->Open(path, reason)) {
        return Fail(ErrorCode::kOpenFailed, reason);
    }
    impl->data = impl->file->data();
    impl->size = impl->file->size();
    Error e = impl->Parse();
    if (!e.ok()) {
        return e;
    }
    return Package(std::move(impl));
}

Result<Package> Package::OpenBuffer(const unsigned char* data, std::size_t size) {
    std::unique_ptr<Impl> impl(new Impl);
    impl->data = data;
    impl->size = data == nullptr ? 0 : size;
    Error e = impl->Parse();
    if (!e.ok()) {
        return e;
    }
    return Package(std::move(impl));
}

const Version& Package::GetVersion() const {
    return impl_->version;
}
std::uint64_t Package::FileSize() const {
    return impl_->size;
}
const unsigned char* Package::Data() const {
    return impl_->data;
}
const std::vector<Entry>& Package::Entries() const {
    return impl_->entries;
}
std::size_t Package::DirectoryIndex() const {
    return impl_->directory;
}

Result<std::pair<const unsigned char*, std::size_t>> Package::Raw(std::size_t i) const {
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    Error e = impl_->Stored(i, &p, &n);
    if (!e.ok()) {
        return e;
    }
    return std::make_pair(p, n);
}

Error Package::Read(std::size_t i, std::vector<unsigned char>& out,
                    std::vector<unsigned char>* scratch) const {
    out.clear();
    const unsigned char* p;
    std::size_t n, header;
    Error e = impl_->Plan(i, &p, &n, &header);
    if (!e.ok()) {
        return e;
    }
    out.resize(impl_->entries[i].uncompressed);
    e = impl_->Expand(i, p, n, header, out.data(), scratch);
    if (!e.ok()) {
        out.clear();
    }
    return e;
}

Error Package::ReadTo(std::size_t i, unsigned char* buffer, std::size_t size,
                      std::vector<unsigned char>* scratch) const {
    const unsigned char* p;
    std::size_t n, header;
    Error e = impl_->Plan(i, &p, &n, &header);
    if (!e.ok()) {
        return e;
    }
    if (size != impl_->entries[i].uncompressed) {
        return impl_->EntryError(i, ErrorCode::kBufferSize,
                                 "buffer of " + Num(size) + " bytes for " +
                                     Num(impl_->entries[i].uncompressed));
    }
    return impl_->Expand(i, p, n, header, buffer, scratch);
}

Error Package::VerifyEntry(std::size_t i, std::vector<unsigned char>& out,
                           std::vector<unsigned char>* scratch) const {
    out.clear();
    if (i < impl_->entries.size()) {
        const Entry& entry = impl_->entries[i];
        if (entry.compression == Compression::kDeleted) {
            return Error{};
        }
        if (entry.directory) {
            const unsigned char* p;
            std::size_t n;
            Error e = impl_->Stored(i, &p, &n);
            if (!e.ok()) {
                return e;
            }
            const std::size_t record = impl_->index71 ? 20 : 16;
            if (n % record != 0) {
                return impl_->EntryError(i, ErrorCode::kBadDirectory,
                                         Num(n) + " bytes are not a whole number of " +
                                             Num(record) + "-byte records");
            }
            return Error{};
        }
    }
    return Read(i, out, scratch);
}

std::vector<Error> Package::VerifyDirectory() const {
    return impl_->directoryProblems;
}

std::vector<Error>
Package::Verify(unsigned jobs,
                const std::function<void(std::size_t, std::size_t)>& progress) const {
    std::vector<Error> errors = VerifyDirectory();
    const std::size_t count = impl_->entries.size();
    if (jobs == 0) {
        jobs = 1;
    }
    if (jobs > count && count > 0) {
        jobs = static_cast<unsigned>(count);
    }
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex lock;
    std::vector<Error> found;
    auto work = [&](bool reporter) {
        std::vector<unsigned char> out, scratch;
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count) {
                return;
            }
            Error e = VerifyEntry(i, out, &scratch);
            if (!e.ok()) {
                std::lock_guard<std::mutex> guard(lock);
                found.push_back(std::move(e));
            }
            const std::size_t d = done.fetch_add(1) + 1;
            if (reporter && progress && (d & 255) == 0) {
                progress(d, count);
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < jobs; ++w) {
        threads.emplace_back(work, false);
    }
    work(true);
    for (std::thread& t : threads) {
        t.join();
    }
    if (progress) {
        progress(count, count);
    }
    std::sort(found.begin(), found.end(),
              [](const Error& a, const Error& b) { return a.entry < b.entry; });
    // Directory problems (named by the directory record's position) go before the entries'
    // failures; the order does not depend on the number of threads.
    errors.insert(errors.end(), std::make_move_iterator(found.begin()),
                  std::make_move_iterator(found.end()));
    return errors;
}

} // namespace dbpf
