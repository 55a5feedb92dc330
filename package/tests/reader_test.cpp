// The reader on hand-built packages: every field it lists, every kind of entry it expands, and
// the hostile files it must refuse cleanly (no crash, no overread, no huge allocation).
#include "dbpf_package.h"

#include "package_test_util.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace pkgtest;
using dbpf::Compression;
using dbpf::ErrorCode;

namespace {

// Opens a heap copy of exactly the package's size, so that AddressSanitizer sees any read
// past its end. The copy lives as long as the fixture object.
struct Opened {
    std::unique_ptr<std::uint8_t[]> copy;
    dbpf::Result<dbpf::Package> result;
    explicit Opened(const Bytes& file)
        : copy(new std::uint8_t[file.size() + (file.empty() ? 1 : 0)]),
          result(Open(copy.get(), file)) {}
    static dbpf::Result<dbpf::Package> Open(std::uint8_t* p, const Bytes& file) {
        std::copy(file.begin(), file.end(), p);
        return dbpf::Package::OpenBuffer(p, file.size());
    }
};

// A 1.1 package of index 7.0: a stored entry, a compressed one, and the directory record.
struct Sample1 {
    Bytes stored = Str("hello, world");
    Bytes plain = Text(300, 1);
    Bytes packed = Compress(plain);
    Bytes file;
    Sample1() {
        Bytes body = stored;
        body.insert(body.end(), packed.begin(), packed.end());
        Bytes dir; // type, group, instance, uncompressed size of each compressed entry
        Put32(dir, 0x6B943B43);
        Put32(dir, 0x00000002);
        Put32(dir, 0x00000777);
        Put32(dir, static_cast<std::uint32_t>(plain.size()));
        body.insert(body.end(), dir.begin(), dir.end());
        const std::uint32_t a = 96, b = a + 12, d = b + static_cast<std::uint32_t>(packed.size());
        file = Package1(body,
                        {
                            0x11111111, 0x00000001, 0x00000005, a, 12, // stored
                            0x6B943B43, 0x00000002, 0x00000777, b,     // compressed
                            static_cast<std::uint32_t>(packed.size()), 0xE86B1EEF, 0xE86B1EEF,
                            0x286B1F03, d, 16, // directory record
                        },
                        3);
    }
};

} // namespace

TEST(PackageReader, Lists1xIndex70AndExpandsThroughTheDirectoryRecord) {
    Sample1 s;
    ASSERT_FALSE(s.packed.empty());
    Opened o(s.file);
    ASSERT_TRUE(o.result.ok()) << o.result.error().Describe();
    const dbpf::Package& pkg = o.result.value();
    EXPECT_EQ(pkg.GetVersion().major, 1u);
    EXPECT_EQ(pkg.GetVersion().minor, 1u);
    EXPECT_EQ(pkg.GetVersion().indexMajor, 7u);
    EXPECT_EQ(pkg.GetVersion().indexMinor, 1u);
    ASSERT_EQ(pkg.Entries().size(), 3u);
    EXPECT_EQ(pkg.DirectoryIndex(), 2u);

    const dbpf::Entry& a = pkg.Entries()[0];
    EXPECT_EQ(a.key, dbpf::EntryKey(0x11111111, 1, 5));
    EXPECT_EQ(a.offset, 96u);
    EXPECT_EQ(a.size, 12u);
    EXPECT_EQ(a.uncompressed, 12u);
    EXPECT_EQ(a.compression, Compression::kNone);
    EXPECT_FALSE(a.key.hasResource);

    const dbpf::Entry& b = pkg.Entries()[1];
    EXPECT_EQ(b.compression, Compression::kEntry);
    EXPECT_EQ(b.size, s.packed.size());
    EXPECT_EQ(b.uncompressed, s.plain.size());
    EXPECT_TRUE(pkg.Entries()[2].IsDirectory());
    EXPECT_EQ(pkg.Entries()[2].compression, Compression::kNone);

    Bytes out;
    ASSERT_TRUE(pkg.Read(0, out).ok());
    EXPECT_EQ(out, s.stored);
    ASSERT_TRUE(pkg.Read(1, out).ok());
    EXPECT_EQ(out, s.plain);
    auto raw = pkg.Raw(1);
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(Bytes(raw.value().first, raw.value().first + raw.value().second), s.packed);
    EXPECT_TRUE(pkg.Verify().empty());
}

TEST(PackageReader, Lists1xIndex71WithResourceIds) {
    const Bytes plain = Records(400, 2);
    const Bytes packed = Compress(plain);
    Bytes body = packed;
    // Directory record of index 7.1: type, group, instance, resource id, uncompressed size.
    for (std::uint32_t w : {0xAAu, 0xBBu, 0xCCu, 0xDDu, static_cast<std::uint32_t>(plain.size())}) {
        Put32(body, w);
    }
    const std::uint32_t d = 96 + static_cast<std::uint32_t>(packed.size());
    const Bytes file = Package1(body,
                                {
                                    0xAA, 0xBB, 0xCC, 0xDD, 96,
                                    static_cast<std::uint32_t>(packed.size()),    // compressed
                                    0xE86B1EEF, 0xE86B1EEF, 0x286B1F03, 0, d, 20, // directory
                                },
                                2, /*index71=*/true);
    Opened o(file);
    ASSERT_TRUE(o.result.ok()) << o.result.error().Describe();
    const dbpf::Package& pkg = o.result.value();
    EXPECT_EQ(pkg.GetVersion().indexMinor, 2u);
    const dbpf::Entry& e = pkg.Entries()[0];
    EXPECT_EQ(e.key, dbpf::EntryKey(0xAA, 0xBB, 0xCC, 0xDD));
    EXPECT_EQ(e.compression, Compression::kEntry);
    Bytes out;
    ASSERT_TRUE(pkg.Read(0, out).ok());
    EXPECT_EQ(out, plain);
    EXPECT_TRUE(pkg.Verify().empty());
}

namespace {

Bytes Zlib(const Bytes& plain) {
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, plain.data(), static_cast<uLong>(plain.size()), 6), Z_OK);
    out.resize(n);
    return out;
}

// The short header of 2.x: flags, FB, the uncompressed size big-endian in 3 or 4 bytes, the
// compressed size when flag 0x01 is set; then the commands of a 9-byte-form entry.
Bytes ShortHeader(const Bytes& entry9, std::uint8_t flags, std::uint32_t plainSize) {
    const std::size_t width = (flags & 0x80) ? 4 : 3;
    Bytes out{flags, 0xFB};
    for (std::size_t k = width; k-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(plainSize >> (8 * k)));
    }
    if (flags & 0x01) {
        const std::uint32_t total = static_cast<std::uint32_t>(entry9.size());
        for (std::size_t k = width; k-- > 0;) {
            out.push_back(static_cast<std::uint8_t>(total >> (8 * k)));
        }
    }
    out.insert(out.end(), entry9.begin() + 9, entry9.end());
    return out;
}

} // namespace

TEST(PackageReader, Reads2xEveryKindWithConstantIndexFields) {
    const Bytes stored = Str("stored bytes");
    const Bytes plain = Text(500, 3);
    const Bytes packed = Compress(plain);
    const Bytes s3 = ShortHeader(packed, 0x10, static_cast<std::uint32_t>(plain.size()));
    const Bytes s4 = ShortHeader(packed, 0xD1, static_cast<std::uint32_t>(plain.size()));
    const Bytes z = Zlib(plain);
    std::vector<Bytes> blobs{stored, s3, s4, z};
    Bytes body;
    std::vector<std::uint32_t> offsets;
    for (const Bytes& b : blobs) {
        offsets.push_back(96 + static_cast<std::uint32_t>(body.size()));
        body.insert(body.end(), b.begin(), b.end());
    }
    const std::uint32_t n = static_cast<std::uint32_t>(plain.size());
    auto size = [&](int k) { return static_cast<std::uint32_t>(blobs[k].size()); };
    // Index type 3: type and group are the same for every entry and stored once. Each entry:
    // instance high, instance low, offset, size (bit 31 a flag), uncompressed, compression.
    const Bytes file = Package2(body,
                                {
                                    0x3,        0x2F7D0004, 0x00000000, // index type, type, group
                                    0x00000001, 0x00000010, offsets[0], size(0) | 0x80000000u,
                                    size(0),    0x00010000, // stored
                                    0x00000000, 0x00000020, offsets[1], size(1),
                                    n,          0x0001FFFF, 0xFFFFFFFF, 0x00000030,
                                    offsets[2], size(2),    n,          0x0001FFFF,
                                    0x00000000, 0x00000040, offsets[3], size(3),
                                    n,          0x00015A42, 0x00000000, 0x00000050,
                                    0xFFFFFFFF, 0xFFFFFFFF, 7,
                                    0x0000FFE0, // deleted: no bytes to read
                                    0x00000000, 0x00000060, offsets[0], size(0),
                                    size(0),
                                    0x00001234, // a compression value nobody knows
                                },
                                6);
    Opened o(file);
    ASSERT_TRUE(o.result.ok()) << o.result.error().Describe();
    const dbpf::Package& pkg = o.result.value();
    EXPECT_EQ(pkg.GetVersion().major, 2u);
    EXPECT_EQ(pkg.DirectoryIndex(), dbpf::kNoEntry);
    const auto& e = pkg.Entries();
    ASSERT_EQ(e.size(), 6u);
    const Compression kinds[] = {Compression::kNone, Compression::kEntry,   Compression::kEntry,
                                 Compression::kZlib, Compression::kDeleted, Compression::kUnknown};
    for (std::size_t i = 0; i < e.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(e[i].key.type, 0x2F7D0004u);
        EXPECT_EQ(e[i].key.group, 0u);
        EXPECT_EQ(e[i].compression, kinds[i]);
    }
    EXPECT_EQ(e[0].size, stored.size()); // the flag bit is masked off
    EXPECT_EQ(e[2].key.instance, 0xFFFFFFFF00000030ull);
    EXPECT_EQ(e[3].compressionCode, 0x5A42);
    EXPECT_STREQ(dbpf::CompressionName(e[4].compression), "deleted");

    Bytes out;
    ASSERT_TRUE(pkg.Read(0, out).ok());
    EXPECT_EQ(out, stored);
    for (std::size_t i : {1, 2, 3}) {
        SCOPED_TRACE(i);
        dbpf::Error err = pkg.Read(i, out);
        ASSERT_TRUE(err.ok()) << err.Describe();
        EXPECT_EQ(out, plain);
    }
    EXPECT_EQ(pkg.Read(4, out).code, ErrorCode::kDeletedEntry);
    EXPECT_EQ(pkg.Read(5, out).code, ErrorCode::kUnsupported);
    EXPECT_EQ(pkg.Read(6, out).code, ErrorCode::kIndexOutOfRange);

    // Verify: deleted entries have nothing to check; the unknown kind is the only failure.
    const auto errors = pkg.Verify(2);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].entry, 5u);
    EXPECT_EQ(errors[0].code, ErrorCode::kUnsupported);
}

TEST(PackageReader, KeepsDuplicateTgisInIndexOrder) {
    // Two compressed entries with one TGI; the directory record lists both, in index order, so
    // each gets its own expanded size.
    const Bytes p1 = Text(100, 4), p2 = Text(250, 5);
    const Bytes c1 = Compress(p1), c2 = Compress(p2);
    Bytes body = c1;
    body.insert(body.end(), c2.begin(), c2.end());
    for (std::uint32_t w : {1u, 2u, 3u, 100u, 1u, 2u, 3u, 250u}) {
        Put32(body, w);
    }
    const std::uint32_t o2 = 96 + static_cast<std::uint32_t>(c1.size());
    const std::uint32_t d = o2 + static_cast<std::uint32_t>(c2.size());
    const Bytes file =
        Package1(body,
                 {1, 2, 3, 96, static_cast<std::uint32_t>(c1.size()), 1, 2, 3, o2,
                  static_cast<std::uint32_t>(c2.size()), 0xE86B1EEF, 0xE86B1EEF, 0x286B1F03, d, 32},
                 3);
    Opened o(file);
    ASSERT_TRUE(o.result.ok());
    const dbpf::Package& pkg = o.result.value();
    Bytes out;
    ASSERT_TRUE(pkg.Read(0, out).ok());
    EXPECT_EQ(out, p1);
    ASSERT_TRUE(pkg.Read(1, out).ok());
    EXPECT_EQ(out, p2);
    EXPECT_TRUE(pkg.Verify().empty());
}

// Files that must not open: each fails at Open with the given code.
TEST(PackageReader, RefusesBadHeadersAndIndexes) {
    Sample1 s;
    struct Case {
        const char* name;
        Bytes file;
        ErrorCode code;
    };
    std::vector<Case> cases;
    cases.push_back({"empty file", Bytes(), ErrorCode::kNotDbpf});
    cases.push_back({"95 bytes", Bytes(s.file.begin(), s.file.begin() + 95), ErrorCode::kNotDbpf});
    Bytes f = s.file;
    f[0] = 'X';
    cases.push_back({"magic", f, ErrorCode::kNotDbpf});
    f = s.file;
    Set32(f, 4, 3); // major version 3
    cases.push_back({"major 3", f, ErrorCode::kUnsupportedVersion});
    f = s.file;
    Set32(f, 32, 8); // 1.x index major 8
    cases.push_back({"index 8.1", f, ErrorCode::kUnsupportedVersion});
    f = s.file;
    Set32(f, 40, static_cast<std::uint32_t>(s.file.size())); // index offset at the end
    cases.push_back({"index offset past the end", f, ErrorCode::kBadIndex});
    f = s.file;
    Set32(f, 40, 0xFFFFFFF0u); // index offset far beyond
    cases.push_back({"index offset near 4 GiB", f, ErrorCode::kBadIndex});
    f = s.file;
    Set32(f, 44, 61); // index size one byte past the end
    cases.push_back({"index size past the end", f, ErrorCode::kBadIndex});
    f = s.file;
    Set32(f, 36, 4); // 4 entries of 20 bytes do not fit an index of 60
    cases.push_back({"count too large for the index", f, ErrorCode::kBadIndex});
    // Millions of entries announced in a few bytes: count 50,000,000 with an index size to
    // match, in a file of about 500 bytes. Refused before anything is allocated.
    f = s.file;
    Set32(f, 36, 50000000);
    Set32(f, 44, 1000000000);
    cases.push_back({"millions of entries, index size to match", f, ErrorCode::kBadIndex});
    f = s.file;
    Set32(f, 36, 0xFFFFFFFFu); // count * 20 overflows 32 bits
    cases.push_back({"count overflowing 32 bits", f, ErrorCode::kBadIndex});
    // 2.x: the index type's constants need room too.
    Bytes v2 = Package2(Bytes(), {0x7, 1, 2, 3}, 0);
    Set32(v2, 36, 1); // one entry announced; only the 16-byte preamble is there
    cases.push_back({"2.x count without room", v2, ErrorCode::kBadIndex});
    Bytes v2b = Package2(Bytes(), {}, 0);
    Set32(v2b, 36, 1); // one entry; index of 0 bytes has no index type
    cases.push_back({"2.x index without index type", v2b, ErrorCode::kBadIndex});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o(c.file);
        ASSERT_FALSE(o.result.ok());
        EXPECT_EQ(o.result.error().code, c.code) << o.result.error().Describe();
        EXPECT_EQ(o.result.error().entry, dbpf::kNoEntry);
        EXPECT_FALSE(o.result.error().Describe().empty());
    }
}

// Files that open but hold a damaged entry: Read of that entry and Verify fail with the code,
// naming the entry; the output vector is left empty (nothing large was allocated).
TEST(PackageReader, NamesTheDamagedEntry) {
    Sample1 s;
    const std::size_t packedAt = 96 + 12;
    struct Case {
        const char* name;
        Bytes file;
        std::size_t entry;
        ErrorCode code;
    };
    std::vector<Case> cases;
    Bytes f = s.file;
    const std::size_t index = f.size() - 60;
    Set32(f, index + 16, 13); // stored entry one byte longer than the file holds up to ...
    Set32(f, index + 12, static_cast<std::uint32_t>(f.size() - 12)); // ... its new offset
    cases.push_back({"entry passes the end", f, 0, ErrorCode::kEntryOutOfRange});
    f = s.file;
    Set32(f, index + 12, 0xFFFFFFF0u); // offset + size beyond 32 bits
    Set32(f, index + 16, 0x20);
    cases.push_back({"offset + size overflows", f, 0, ErrorCode::kEntryOutOfRange});
    f = s.file;
    Set32(f, f.size() - 60 - 4, 301); // the directory record lists 301 bytes, the header 300
    cases.push_back({"directory contradicts header", f, 1, ErrorCode::kSizeMismatch});
    f = s.file;
    f[packedAt + 0] ^= 1; // the header's compressed size no longer matches the stored size
    cases.push_back({"header's compressed size", f, 1, ErrorCode::kSizeMismatch});
    f = s.file;
    f[packedAt + 5] = 0xFC; // signature 10 FB broken
    cases.push_back({"signature", f, 1, ErrorCode::kCorruptEntry});
    f = s.file;
    // A damaged command: the first command of the stream becomes a long copy reaching 65536
    // bytes back, before anything has been produced.
    f[packedAt + 9] = 0xC0;
    f[packedAt + 10] = 0xFF;
    cases.push_back({"damaged command", f, 1, ErrorCode::kCorruptEntry});

    // 2.x: sizes the stored bytes cannot produce, and entries beyond the codec.
    const Bytes plain = Text(200, 6);
    const Bytes packed = Compress(plain);
    auto v2 = [&](const Bytes& stored, std::uint32_t uncompressed, std::uint32_t compression) {
        return Package2(stored,
                        {0, 1, 2, 0, 3, 96, static_cast<std::uint32_t>(stored.size()), uncompressed,
                         compression},
                        1);
    };
    // 16777215 bytes claimed from 4 command bytes (4-byte sizes, flag 0x80).
    cases.push_back({"2.x impossible size",
                     v2(Bytes{0x90, 0xFB, 0, 0xFF, 0xFF, 0xFF, 0xE0, 1, 2, 3}, 0xFFFFFF, 0xFFFF), 0,
                     ErrorCode::kCorruptEntry});
    cases.push_back({"2.x entry over 16777215 bytes",
                     v2(Bytes{0x90, 0xFB, 0x01, 0x00, 0x00, 0x00, 0xFC}, 0x1000000, 0xFFFF), 0,
                     ErrorCode::kUnsupported});
    cases.push_back({"2.x index and short header disagree",
                     v2(ShortHeader(packed, 0x10, 200), 199, 0xFFFF), 0, ErrorCode::kSizeMismatch});
    cases.push_back(
        {"2.x stored sizes disagree", v2(Str("abc"), 4, 0), 0, ErrorCode::kSizeMismatch});
    const Bytes z = Zlib(plain);
    cases.push_back({"zlib expands to fewer", v2(z, 201, 0x5A42), 0, ErrorCode::kCorruptEntry});
    cases.push_back({"zlib expands to more", v2(z, 199, 0x5A42), 0, ErrorCode::kCorruptEntry});
    cases.push_back({"zlib cut short", v2(Bytes(z.begin(), z.end() - 5), 200, 0x5A42), 0,
                     ErrorCode::kCorruptEntry});
    cases.push_back({"zlib claims 4 GiB", v2(z, 0xFFFFFFFFu, 0x5A42), 0, ErrorCode::kCorruptEntry});
    Bytes zbad = z;
    zbad[0] ^= 0xFF;
    cases.push_back({"zlib damaged", v2(zbad, 200, 0x5A42), 0, ErrorCode::kCorruptEntry});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o(c.file);
        ASSERT_TRUE(o.result.ok()) << o.result.error().Describe();
        const dbpf::Package& pkg = o.result.value();
        Bytes out(5, 0xFF);
        const dbpf::Error e = pkg.Read(c.entry, out);
        EXPECT_EQ(e.code, c.code) << e.Describe();
        EXPECT_EQ(e.entry, c.entry);
        EXPECT_EQ(e.key, pkg.Entries()[c.entry].key);
        EXPECT_TRUE(out.empty());
        const auto errors = pkg.Verify();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors[0].code, c.code);
        EXPECT_EQ(errors[0].entry, c.entry);
    }
}

TEST(PackageReader, VerifyFindsDirectoryRecordFaults) {
    Sample1 s;
    const std::size_t dirAt = s.file.size() - 60 - 16;
    Bytes f = s.file;
    Set32(f, dirAt + 8, 0x778); // lists instance 0x778, which the index does not hold
    {
        Opened o(f);
        ASSERT_TRUE(o.result.ok());
        const auto errors = o.result.value().Verify();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, ErrorCode::kBadDirectory);
        EXPECT_EQ(errors[0].entry, 2u);
        EXPECT_NE(errors[0].detail.find("6B943B43-00000002-0000000000000778"), std::string::npos)
            << errors[0].detail;
        // The entry it meant to list is then taken as stored, which its bytes contradict only
        // for a reader that looks: it reads back as its stored bytes.
        Bytes out;
        EXPECT_TRUE(o.result.value().Read(1, out).ok());
        EXPECT_EQ(out, s.packed);
    }
    f = s.file;
    Set32(f, f.size() - 4, 15); // directory record of 15 bytes: not a whole record
    {
        Opened o(f);
        ASSERT_TRUE(o.result.ok());
        const auto errors = o.result.value().Verify();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, ErrorCode::kBadDirectory);
        EXPECT_EQ(errors[0].entry, 2u);
    }
}

TEST(PackageReader, ReadToChecksTheBufferSize) {
    Sample1 s;
    Opened o(s.file);
    ASSERT_TRUE(o.result.ok());
    Bytes buf(s.plain.size() + 1, 0xFF);
    dbpf::Error e = o.result.value().ReadTo(1, buf.data(), buf.size());
    EXPECT_EQ(e.code, ErrorCode::kBufferSize);
    EXPECT_EQ(buf, Bytes(s.plain.size() + 1, 0xFF)); // untouched
    e = o.result.value().ReadTo(1, buf.data(), s.plain.size());
    ASSERT_TRUE(e.ok());
    EXPECT_EQ(Bytes(buf.begin(), buf.end() - 1), s.plain);
}

// A package whose index comes right after the header, so that cutting the file cuts entries
// (the writer's layout puts the index last, where any cut hits it).
static Bytes IndexFirst() {
    const Bytes a = Text(150, 7), b = Random(40, 8);
    const Bytes pa = Compress(a);
    const std::uint32_t indexSize = 3 * 20;
    const std::uint32_t oa = 96 + indexSize;
    const std::uint32_t ob = oa + static_cast<std::uint32_t>(pa.size());
    const std::uint32_t od = ob + static_cast<std::uint32_t>(b.size());
    Header h;
    h.count = 3;
    h.indexOffset = 96;
    h.indexSize = indexSize;
    Bytes f = MakeHeader(h);
    for (std::uint32_t w :
         {1u, 1u, 1u, oa, static_cast<std::uint32_t>(pa.size()), 2u, 2u, 2u, ob,
          static_cast<std::uint32_t>(b.size()), 0xE86B1EEFu, 0xE86B1EEFu, 0x286B1F03u, od, 16u}) {
        Put32(f, w);
    }
    f.insert(f.end(), pa.begin(), pa.end());
    f.insert(f.end(), b.begin(), b.end());
    for (std::uint32_t w : {1u, 1u, 1u, 150u}) {
        Put32(f, w);
    }
    return f;
}

TEST(PackageReader, EveryTruncationFailsCleanly) {
    Bytes v11, v20;
    {
        dbpf::PackageWriter w(dbpf::Format::kDbpf11);
        ASSERT_TRUE(w.Add({1, 2, 3}, Text(120, 9)).ok());
        ASSERT_TRUE(w.Add({4, 5, 6}, Random(30, 10)).ok());
        ASSERT_TRUE(w.WriteToBuffer(v11, dbpf::WriteOptions{}).ok());
        dbpf::PackageWriter w2(dbpf::Format::kDbpf20);
        ASSERT_TRUE(w2.Add({1, 2, 0x100000003ull}, Text(120, 9)).ok());
        ASSERT_TRUE(w2.Add({4, 5, 6}, Random(30, 10)).ok());
        ASSERT_TRUE(w2.WriteToBuffer(v20, dbpf::WriteOptions{}).ok());
    }
    for (const Bytes& whole : {v11, v20, IndexFirst()}) {
        {
            Opened o(whole);
            ASSERT_TRUE(o.result.ok());
            ASSERT_TRUE(o.result.value().Verify().empty());
        }
        for (std::size_t len = 0; len < whole.size(); ++len) {
            SCOPED_TRACE(len);
            Opened o(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(len)));
            if (!o.result.ok()) {
                continue;
            }
            // Opened: the cut must show in Verify, and every Read must fail or succeed cleanly.
            const dbpf::Package& pkg = o.result.value();
            EXPECT_FALSE(pkg.Verify().empty());
            Bytes out;
            for (std::size_t i = 0; i < pkg.Entries().size(); ++i) {
                pkg.Read(i, out);
            }
        }
    }
}

TEST(PackageReader, VerifyGivesTheSameFailuresWhateverTheJobs) {
    // Damage every other entry of a larger package.
    dbpf::PackageWriter w(dbpf::Format::kDbpf20);
    for (std::uint32_t i = 0; i < 40; ++i) {
        ASSERT_TRUE(w.Add({i, 0, i}, Text(300 + i, i)).ok());
    }
    Bytes f;
    ASSERT_TRUE(w.WriteToBuffer(f, dbpf::WriteOptions{}).ok());
    Opened clean(f);
    ASSERT_TRUE(clean.result.ok());
    for (std::size_t i = 0; i < 40; i += 2) {
        // The first command (after the 5-byte short header) becomes a long copy reaching
        // back 65281 bytes or more, before anything was produced.
        const std::uint32_t at = clean.result.value().Entries()[i].offset;
        f[at + 5] = 0xC0;
        f[at + 6] = 0xFF;
    }
    Opened o(f);
    ASSERT_TRUE(o.result.ok());
    const auto one = o.result.value().Verify(1);
    EXPECT_EQ(one.size(), 20u);
    for (unsigned jobs : {2u, 4u, 7u}) {
        SCOPED_TRACE(jobs);
        const auto many = o.result.value().Verify(jobs);
        ASSERT_EQ(many.size(), one.size());
        for (std::size_t k = 0; k < one.size(); ++k) {
            EXPECT_EQ(many[k].entry, one[k].entry);
            EXPECT_EQ(many[k].Describe(), one[k].Describe());
        }
    }
}

TEST(PackageReader, OpensFilesThroughAMapping) {
    Sample1 s;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string path = (dir / "dbpf_reader_test.package").string();
    const std::string empty = (dir / "dbpf_reader_test_empty.package").string();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(s.file.data()),
                  static_cast<std::streamsize>(s.file.size()));
        std::ofstream e(empty, std::ios::binary);
    }
    {
        auto opened = dbpf::Package::Open(path);
        ASSERT_TRUE(opened.ok()) << opened.error().Describe();
        const dbpf::Package pkg = std::move(opened.value());
        EXPECT_EQ(pkg.FileSize(), s.file.size());
        Bytes out;
        ASSERT_TRUE(pkg.Read(1, out).ok());
        EXPECT_EQ(out, s.plain);
    }
    auto missing = dbpf::Package::Open((dir / "dbpf_no_such_file.package").string());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::kOpenFailed);
    auto none = dbpf::Package::Open(empty);
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().code, ErrorCode::kNotDbpf);
    std::remove(path.c_str());
    std::remove(empty.c_str());
}

TEST(EntryNames, RoundTripAndRefuseOtherNames) {
    const dbpf::EntryKey keys[] = {{0x6B943B43, 0, 0x1234},
                                   {0xFFFFFFFF, 0xABCDEF01, 0xFEDCBA9876543210ull},
                                   {1, 2, 3, 0xDEADBEEF}};
    const char* names[] = {"6B943B43-00000000-0000000000001234.bin",
                           "FFFFFFFF-ABCDEF01-FEDCBA9876543210.bin",
                           "00000001-00000002-0000000000000003-DEADBEEF.bin"};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(names[k]);
        EXPECT_EQ(dbpf::EntryFileName(keys[k]), names[k]);
        dbpf::EntryKey back;
        ASSERT_TRUE(dbpf::ParseEntryFileName(names[k], &back));
        EXPECT_EQ(back, keys[k]);
    }
    dbpf::EntryKey lower;
    ASSERT_TRUE(dbpf::ParseEntryFileName("6b943b43-00000000-000000000000abcd.bin", &lower));
    EXPECT_EQ(lower.instance, 0xABCDu);
    for (const char* bad :
         {"6B943B43-00000000-0000000000001234.txt", "6B943B43-00000000-000000000001234.bin",
          "6B943B43_00000000-0000000000001234.bin", "6B943B4G-00000000-0000000000001234.bin",
          "6B943B43-00000000-0000000000001234-0000000.bin", ""}) {
        SCOPED_TRACE(bad);
        dbpf::EntryKey untouched(9, 9, 9);
        EXPECT_FALSE(dbpf::ParseEntryFileName(bad, &untouched));
        EXPECT_EQ(untouched, dbpf::EntryKey(9, 9, 9));
    }
}

TEST(ParallelFor, VisitsEveryPositionOnceAndReturnsTheFirstFailure) {
    for (unsigned jobs : {1u, 3u}) {
        SCOPED_TRACE(jobs);
        std::vector<std::atomic<int>> seen(1000);
        dbpf::Error e = dbpf::ParallelFor(1000, jobs, [&](std::size_t i, unsigned worker) {
            EXPECT_LT(worker, jobs);
            seen[i]++;
            return dbpf::Error{};
        });
        EXPECT_TRUE(e.ok());
        for (auto& s : seen) {
            EXPECT_EQ(s.load(), 1);
        }
        e = dbpf::ParallelFor(1000, jobs, [&](std::size_t i, unsigned) {
            dbpf::Error r;
            if (i == 500 || i == 900) {
                r.code = ErrorCode::kCorruptEntry;
                r.entry = i;
            }
            return r;
        });
        EXPECT_EQ(e.code, ErrorCode::kCorruptEntry);
        EXPECT_EQ(e.entry, 500u);
    }
}
