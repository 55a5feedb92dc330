// The writer: round trips through the library's reader and through the independent reader of
// the tests, the layout and version fields of each format, reproducibility across job counts,
// refusals, and output that appears complete or not at all.
#include "dbpf_package.h"

#include "independent_reader.h"
#include "package_test_util.h"

#include <quorrin.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace pkgtest;
using dbpf::Compression;
using dbpf::EntryKey;
using dbpf::EntryMode;
using dbpf::ErrorCode;
using dbpf::Format;

namespace {

struct Input {
    EntryKey key;
    Bytes bytes;
    EntryMode mode;
};

// Entries of every kind: compressible text, records and pixels, incompressible random bytes,
// tiny and empty entries (too short to compress), and one the caller wants stored.
std::vector<Input> Mixed(bool resources, bool wideInstances) {
    std::vector<Input> in;
    auto key = [&](std::uint32_t t, std::uint64_t i) {
        EntryKey k(t, 0x1000 + t, wideInstances ? (i | 0xABCD00000000ull) : i);
        if (resources && t % 2 == 0) {
            k = EntryKey(k.type, k.group, k.instance, 0x5000 + t);
        }
        return k;
    };
    in.push_back({key(1, 1), Text(5000, 1), EntryMode::kCompress});
    in.push_back({key(2, 2), Random(3000, 2), EntryMode::kCompress});
    in.push_back({key(3, 3), Records(8000, 3), EntryMode::kCompress});
    in.push_back({key(4, 4), Str("tiny"), EntryMode::kCompress});
    in.push_back({key(5, 5), Bytes(), EntryMode::kCompress});
    in.push_back({key(6, 6), Pixels(20000, 4), EntryMode::kCompress});
    in.push_back({key(7, 7), Text(2000, 5), EntryMode::kStore});
    in.push_back({key(3, 3), Text(700, 6), EntryMode::kCompress}); // same TGI again
    return in;
}

Bytes Write(Format format, const std::vector<Input>& in, unsigned jobs = 1) {
    dbpf::PackageWriter w(format);
    for (const Input& e : in) {
        dbpf::Error err = w.Add(e.key, e.bytes, e.mode);
        EXPECT_TRUE(err.ok()) << err.Describe();
    }
    Bytes out;
    dbpf::WriteOptions options;
    options.jobs = jobs;
    dbpf::Error err = w.WriteToBuffer(out, options);
    EXPECT_TRUE(err.ok()) << err.Describe();
    return out;
}

// Checks `file` against `in` with both readers; `compressedExpected[i]` says which entries
// must have come out compressed.
void CheckRoundTrip(const Bytes& file, const std::vector<Input>& in, bool v2) {
    // The library's reader.
    auto opened = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(opened.ok()) << opened.error().Describe();
    const dbpf::Package& pkg = opened.value();
    EXPECT_TRUE(pkg.Verify(3).empty());
    std::size_t compressed = 0;
    Bytes out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        SCOPED_TRACE(i);
        const dbpf::Entry& e = pkg.Entries()[i];
        EntryKey want = in[i].key;
        EXPECT_EQ(e.key.type, want.type);
        EXPECT_EQ(e.key.group, want.group);
        EXPECT_EQ(e.key.instance, want.instance);
        if (!v2 && pkg.GetVersion().indexMinor == 2) {
            EXPECT_TRUE(e.key.hasResource);
            EXPECT_EQ(e.key.resource, want.hasResource ? want.resource : 0u);
        }
        ASSERT_TRUE(pkg.Read(i, out).ok());
        EXPECT_EQ(out, in[i].bytes);
        EXPECT_EQ(e.uncompressed, in[i].bytes.size());
        // Compressed exactly where that made the entry smaller and the caller allowed it.
        const bool shrinks = !Compress(in[i].bytes).empty();
        const bool want_compressed = in[i].mode == EntryMode::kCompress && shrinks;
        EXPECT_EQ(e.compression, want_compressed ? Compression::kEntry : Compression::kNone);
        EXPECT_EQ(e.size < e.uncompressed, want_compressed);
        compressed += want_compressed;
    }
    EXPECT_EQ(pkg.Entries().size(), in.size() + (!v2 && compressed > 0 ? 1 : 0));
    EXPECT_EQ(pkg.DirectoryIndex() != dbpf::kNoEntry, !v2 && compressed > 0);
    EXPECT_GT(compressed, 0u);

    // The independent reader.
    independent::Package ind;
    std::string why;
    ASSERT_TRUE(independent::Read(file, ind, why)) << why;
    ASSERT_GE(ind.records.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ind.records[i].type, in[i].key.type);
        EXPECT_EQ(ind.records[i].group, in[i].key.group);
        EXPECT_EQ(ind.records[i].instance, in[i].key.instance);
        EXPECT_EQ(ind.records[i].bytes, in[i].bytes);
        EXPECT_EQ(ind.records[i].compressed, pkg.Entries()[i].compression == Compression::kEntry);
    }

    // Layout: header, entries in index order right after each other, [directory], index last.
    std::uint64_t at = 96;
    for (const dbpf::Entry& e : pkg.Entries()) {
        EXPECT_EQ(e.offset, at);
        at += e.size;
    }
    const std::uint32_t indexAt = file[v2 ? 64 : 40] | file[v2 ? 65 : 41] << 8 |
                                  file[v2 ? 66 : 42] << 16 |
                                  static_cast<std::uint32_t>(file[v2 ? 67 : 43]) << 24;
    EXPECT_EQ(indexAt, at);
    // Dates (24, 28) and the hole table (48..59) are zero.
    for (std::size_t k : {24, 28, 48, 52, 56}) {
        EXPECT_EQ(file[k] | file[k + 1] | file[k + 2] | file[k + 3], 0) << k;
    }
}

} // namespace

TEST(PackageWriter, RoundTrips11Index70) {
    const auto in = Mixed(false, false);
    const Bytes file = Write(Format::kDbpf11, in);
    auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(pkg.ok());
    EXPECT_EQ(pkg.value().GetVersion().major, 1u);
    EXPECT_EQ(pkg.value().GetVersion().minor, 1u);
    EXPECT_EQ(pkg.value().GetVersion().indexMajor, 7u);
    EXPECT_EQ(pkg.value().GetVersion().indexMinor, 1u); // index 7.0, as a 1.1 writer puts it
    CheckRoundTrip(file, in, false);
}

TEST(PackageWriter, RoundTrips11Index71WhenAnEntryHasAResourceId) {
    const auto in = Mixed(true, false);
    const Bytes file = Write(Format::kDbpf11, in);
    auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(pkg.ok());
    EXPECT_EQ(pkg.value().GetVersion().indexMinor, 2u);
    const dbpf::Entry& dir = pkg.value().Entries().back();
    EXPECT_TRUE(dir.IsDirectory());
    EXPECT_EQ(dir.size % 20, 0u); // records of 20 bytes with the resource id
    CheckRoundTrip(file, in, false);
}

TEST(PackageWriter, RoundTrips20) {
    const auto in = Mixed(false, true);
    const Bytes file = Write(Format::kDbpf20, in);
    auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(pkg.ok());
    EXPECT_EQ(pkg.value().GetVersion().major, 2u);
    EXPECT_EQ(pkg.value().GetVersion().minor, 0u);
    EXPECT_EQ(pkg.value().GetVersion().indexMinor, 3u);
    for (const dbpf::Entry& e : pkg.value().Entries()) {
        EXPECT_EQ(e.compressionCode, e.compression == Compression::kEntry ? 0xFFFF : 0x0000);
    }
    CheckRoundTrip(file, in, true);
}

TEST(PackageWriter, ElevenWithoutCompressedEntriesHasNoDirectoryRecord) {
    const std::vector<Input> in = {{EntryKey(1, 2, 3), Random(100, 1), EntryMode::kCompress},
                                   {EntryKey(1, 2, 4), Text(100, 1), EntryMode::kStore}};
    const Bytes file = Write(Format::kDbpf11, in);
    auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(pkg.ok());
    EXPECT_EQ(pkg.value().Entries().size(), 2u);
    EXPECT_EQ(pkg.value().DirectoryIndex(), dbpf::kNoEntry);
    EXPECT_EQ(file.size(), 96 + 200 + 2 * 20u);
}

TEST(PackageWriter, EmptyPackages) {
    for (Format f : {Format::kDbpf11, Format::kDbpf20}) {
        const Bytes file = Write(f, {});
        auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
        ASSERT_TRUE(pkg.ok());
        EXPECT_TRUE(pkg.value().Entries().empty());
        independent::Package ind;
        std::string why;
        EXPECT_TRUE(independent::Read(file, ind, why)) << why;
    }
}

TEST(PackageWriter, SameBytesWhateverTheJobs) {
    std::vector<Input> in;
    for (std::uint32_t i = 0; i < 60; ++i) {
        Bytes b = i % 3 == 0   ? Text(1000 + 97 * i, i)
                  : i % 3 == 1 ? Random(500, i)
                               : Records(3000, i);
        in.push_back({EntryKey(i % 5, 7, i), b, EntryMode::kCompress});
    }
    for (Format f : {Format::kDbpf11, Format::kDbpf20}) {
        const Bytes one = Write(f, in, 1);
        for (unsigned jobs : {2u, 4u, 9u}) {
            SCOPED_TRACE(jobs);
            EXPECT_EQ(Write(f, in, jobs), one);
        }
    }
}

TEST(PackageWriter, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char* name;
        Format format;
        EntryKey key;
    };
    const Case cases[] = {
        {"resource id into 2.0", Format::kDbpf20, EntryKey(1, 2, 3, 4)},
        {"instance above 32 bits into 1.1", Format::kDbpf11, EntryKey(1, 2, 0x100000000ull)},
        {"the directory record's TGI into 1.1", Format::kDbpf11,
         EntryKey(0xE86B1EEF, 0xE86B1EEF, 0x286B1F03)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dbpf::PackageWriter w(c.format);
        ASSERT_TRUE(w.Add(EntryKey(9, 9, 9), Text(50, 1)).ok());
        const dbpf::Error e = w.Add(c.key, Text(50, 1));
        EXPECT_EQ(e.code, ErrorCode::kInvalidEntry);
        EXPECT_EQ(e.entry, 1u);
        EXPECT_EQ(e.key, c.key);
        EXPECT_EQ(w.Count(), 1u);
    }
    // What one format refuses the other takes.
    dbpf::PackageWriter w11(Format::kDbpf11), w20(Format::kDbpf20);
    EXPECT_TRUE(w11.Add(EntryKey(1, 2, 3, 4), Text(50, 1)).ok());
    EXPECT_TRUE(w20.Add(EntryKey(1, 2, 0x100000000ull), Text(50, 1)).ok());
}

TEST(PackageWriter, StoresEntriesBeyondTheCodec) {
    // 16777216 bytes cannot go into the codec's format: stored whole in both formats.
    Bytes big(16777216, 0);
    for (std::size_t i = 0; i < big.size(); i += 4096) {
        big[i] = static_cast<std::uint8_t>(i >> 12);
    }
    for (Format f : {Format::kDbpf11, Format::kDbpf20}) {
        dbpf::PackageWriter w(f);
        ASSERT_TRUE(w.Add({1, 2, 3}, big).ok());
        Bytes file;
        ASSERT_TRUE(w.WriteToBuffer(file, dbpf::WriteOptions{}).ok());
        auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
        ASSERT_TRUE(pkg.ok());
        EXPECT_EQ(pkg.value().Entries()[0].compression, Compression::kNone);
        Bytes out;
        ASSERT_TRUE(pkg.value().Read(0, out).ok());
        EXPECT_TRUE(out == big);
    }
}

TEST(PackageWriter, TakesRawCompressedEntriesAsTheyAre) {
    const Bytes plain = Text(3000, 11);
    const Bytes packed = Compress(plain);
    for (Format f : {Format::kDbpf11, Format::kDbpf20}) {
        dbpf::PackageWriter w(f);
        ASSERT_TRUE(w.Add({1, 2, 3}, packed, EntryMode::kRaw).ok());
        Bytes file;
        ASSERT_TRUE(w.WriteToBuffer(file, dbpf::WriteOptions{}).ok());
        auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
        ASSERT_TRUE(pkg.ok());
        const dbpf::Entry& e = pkg.value().Entries()[0];
        EXPECT_EQ(e.compression, Compression::kEntry);
        // 1.1 keeps the 9-byte header; 2.0 the 5-byte short one.
        EXPECT_EQ(e.size, packed.size() - (f == Format::kDbpf20 ? 4 : 0));
        Bytes out;
        ASSERT_TRUE(pkg.value().Read(0, out).ok());
        EXPECT_EQ(out, plain);
    }
    // Raw bytes whose header disagrees with their length are refused at Write.
    Bytes bad = packed;
    bad.push_back(0);
    dbpf::PackageWriter w(Format::kDbpf11);
    ASSERT_TRUE(w.Add({1, 2, 3}, bad, EntryMode::kRaw).ok());
    Bytes file;
    const dbpf::Error e = w.WriteToBuffer(file, dbpf::WriteOptions{});
    EXPECT_EQ(e.code, ErrorCode::kInvalidEntry);
    EXPECT_TRUE(file.empty());
}

namespace {

// Hooks: one that never compresses, one that writes a plausible header over wrong commands.
int NeverSmaller(const unsigned char*, unsigned int, unsigned char*, int* length) {
    *length = 0;
    return 0;
}
int Broken(const unsigned char* source, unsigned int n, unsigned char* dst, int* length) {
    if (CompressPackage(source, n, dst, length) != 1) {
        return 0;
    }
    dst[9] ^= 0x01; // the first command changes
    return 1;
}

} // namespace

TEST(PackageWriter, UsesTheCompressorHookAndChecksIt) {
    const std::vector<Input> in = {{EntryKey(1, 2, 3), Text(4000, 1), EntryMode::kCompress}};
    dbpf::PackageWriter w(Format::kDbpf20);
    ASSERT_TRUE(w.Add(in[0].key, in[0].bytes).ok());
    dbpf::WriteOptions options;
    options.compressor = &NeverSmaller;
    Bytes file;
    ASSERT_TRUE(w.WriteToBuffer(file, options).ok());
    auto pkg = dbpf::Package::OpenBuffer(file.data(), file.size());
    ASSERT_TRUE(pkg.ok());
    EXPECT_EQ(pkg.value().Entries()[0].compression, Compression::kNone);

    options.compressor = &Broken;
    file.clear();
    const dbpf::Error e = w.WriteToBuffer(file, options);
    EXPECT_EQ(e.code, ErrorCode::kCompressFailed);
    EXPECT_EQ(e.entry, 0u);

    options.compressor = &CompressPackage; // the default, named
    file.clear();
    ASSERT_TRUE(w.WriteToBuffer(file, options).ok());
    EXPECT_EQ(file, Write(Format::kDbpf20, in));
}

namespace {

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(PackageWriter, WritesFilesWholeOrNotAtAll) {
    const auto dir = std::filesystem::temp_directory_path() / "dbpf_writer_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "out.package").string();
    {
        std::ofstream old(path, std::ios::binary);
        old << "old content";
    }
    // Entries from loaders; the third fails after the first two were written.
    dbpf::PackageWriter w(Format::kDbpf11);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(w.Add({i, 0, i}, [i](std::vector<unsigned char>& bytes) {
                         dbpf::Error e;
                         if (i == 2) {
                             e.code = ErrorCode::kOpenFailed;
                             e.detail = "gone";
                             return e;
                         }
                         bytes = Text(10000, i);
                         return e;
                     }).ok());
    }
    std::vector<std::string> announced;
    dbpf::WriteOptions options;
    options.jobs = 2;
    options.temporaryFile = [&](const std::string& p) { announced.push_back(p); };
    dbpf::Error e = w.Write(path, options);
    EXPECT_EQ(e.code, ErrorCode::kSourceFailed);
    EXPECT_EQ(e.entry, 2u);
    EXPECT_NE(e.detail.find("gone"), std::string::npos);
    EXPECT_EQ(ReadFile(path), Str("old content"));
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"out.package"});
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_NE(announced[0].find(dir.string()), std::string::npos);
    EXPECT_EQ(announced[1], "");

    // A writer that succeeds replaces the file, with the same bytes as in memory.
    dbpf::PackageWriter good(Format::kDbpf20);
    for (std::uint32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(good.Add({i, 0, i}, Text(20000, i)).ok());
    }
    ASSERT_TRUE(good.Write(path, options).ok());
    Bytes memory;
    ASSERT_TRUE(good.WriteToBuffer(memory, dbpf::WriteOptions{}).ok());
    EXPECT_EQ(ReadFile(path), memory);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"out.package"});

    // A directory that does not exist: a clear failure, nothing created.
    e = good.Write((dir / "missing" / "x.package").string(), options);
    EXPECT_EQ(e.code, ErrorCode::kWriteFailed);
    std::filesystem::remove_all(dir);
}
