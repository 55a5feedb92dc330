/*
 * dbpf_package.h - DbpfPackage: reading, checking and writing whole DBPF package files.
 *
 * A package is one file holding many entries, each a blob named by a type, a group and an
 * instance id (its TGI; 1.x index 7.1 adds a resource id). This library opens such a file,
 * lists its index, expands single entries and checks the whole file; and it writes new 1.1 and
 * 2.0 packages. It is a client of the suite: compressed entries go through Quorrin's
 * CompressPackage/DecompressPackage, 2.x zlib entries through zlib.
 *
 * Versions read: 1.x (index 7.0 and 7.1) and 2.x. Versions written: 1.1 (index 7.0, or 7.1 when
 * an entry carries a resource id) and 2.0.
 *
 * Failures are values, never exceptions of this library: an Error (ErrorCode plus the entry's
 * position and TGI when one is concerned, plus a short reason in words), or a Result<T> that
 * holds either a T or an Error. The only exceptions that can leave a call are the standard
 * library's own (std::bad_alloc when memory runs out for the index or a caller's vector).
 *
 * Hostile files: every offset and size read from a file is checked against the file before it
 * is used; an entry count is checked against the index size and the file size before anything
 * is allocated for it; an expanded size is checked against what its stored bytes could possibly
 * produce before a buffer of that size is allocated. No file makes a call crash, hang, or
 * allocate much more than the file's own size.
 *
 * Threads: a Package is immutable once opened. Its const members (Entries, Read, ReadTo, Raw,
 * VerifyEntry, ...) may be called from any number of threads at once. A PackageWriter is used by
 * one thread; its Write* calls may themselves run several compression threads (WriteOptions::jobs).
 *
 * C++ interface: the types below (std::string, std::vector, std::function) cross the library
 * boundary, so a client is built with the same compiler and standard library as this library
 * (as for any C++ library). All memory they hold comes from the shared C runtime heap.
 *
 * Typical use:
 *
 *   auto opened = dbpf::Package::Open("build.package");
 *   if (!opened) { std::fprintf(stderr, "%s\n", opened.error().Describe().c_str()); return 1; }
 *   const dbpf::Package& pkg = opened.value();
 *   std::vector<unsigned char> bytes;
 *   for (std::size_t i = 0; i < pkg.Entries().size(); ++i) {
 *       if (pkg.Entries()[i].IsDirectory() ||
 *           pkg.Entries()[i].compression == dbpf::Compression::kDeleted) continue;
 *       dbpf::Error e = pkg.Read(i, bytes);       // the expanded bytes of entry i
 *       if (!e.ok()) ...;
 *   }
 *
 *   dbpf::PackageWriter writer(dbpf::Format::kDbpf11);
 *   dbpf::Error e = writer.Add({0x6B943B43, 0, 0x1234}, std::move(bytes));   // compressed
 *   if (e.ok()) e = writer.Write("out.package", dbpf::WriteOptions{});        // 1 job
 */
#ifndef DBPF_PACKAGE_H
#define DBPF_PACKAGE_H

#if defined(_WIN32)
#if defined(DBPF_PACKAGE_BUILD)
#define DBPF_PACKAGE_API __declspec(dllexport)
#else
#define DBPF_PACKAGE_API __declspec(dllimport)
#endif
#else
#define DBPF_PACKAGE_API __attribute__((visibility("default")))
#endif

// The implementation classes behind the exported ones stay inside the library: on ELF a nested
// class shares its enclosing class's visibility unless its definition says otherwise.
#if defined(_WIN32)
#define DBPF_PACKAGE_INTERNAL
#else
#define DBPF_PACKAGE_INTERNAL __attribute__((visibility("hidden")))
#endif

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace dbpf {

/* ------------------------------------------------------------------------------------------ */
/* Names and kinds                                                                             */
/* ------------------------------------------------------------------------------------------ */

/* Type, group and instance of an entry, plus the resource id that 1.x index 7.1 stores (a
 * second instance word). In 2.x the instance is (high << 32) | low; in 1.x it fits 32 bits. */
struct EntryKey {
    std::uint32_t type = 0;
    std::uint32_t group = 0;
    std::uint64_t instance = 0;
    bool hasResource = false;   /* true only for entries of a 1.x index 7.1 */
    std::uint32_t resource = 0; /* meaningful when hasResource */

    EntryKey() = default;
    EntryKey(std::uint32_t t, std::uint32_t g, std::uint64_t i) : type(t), group(g), instance(i) {}
    EntryKey(std::uint32_t t, std::uint32_t g, std::uint64_t i, std::uint32_t r)
        : type(t), group(g), instance(i), hasResource(true), resource(r) {}
};

DBPF_PACKAGE_API bool operator==(const EntryKey& a, const EntryKey& b);
inline bool operator!=(const EntryKey& a, const EntryKey& b) {
    return !(a == b);
}

/* The TGI of the 1.x directory record (the list of compressed entries). */
constexpr std::uint32_t kDirectoryType = 0xE86B1EEF;
constexpr std::uint32_t kDirectoryGroup = 0xE86B1EEF;
constexpr std::uint64_t kDirectoryInstance = 0x286B1F03;

/* Entries larger than this cannot be held in the codec's compressed format. */
constexpr std::uint32_t kMaxCodecSize = 16777215;

/* How an entry is stored. */
enum class Compression : std::uint8_t {
    kNone,    /* the bytes as they are (also the 1.x directory record itself) */
    kEntry,   /* the codec's format: 9-byte header in 1.x (listed in the directory record),
                 short header in 2.x (compression value 0xFFFF) */
    kZlib,    /* 2.x only: a zlib stream (0x5A42) */
    kDeleted, /* 2.x only: a deleted entry (0xFFE0); there are no bytes to read */
    kUnknown  /* 2.x only: a compression value this library does not know (see compressionCode);
                 listed, but Read fails with kUnsupported */
};

/* "none", "entry", "zlib", "deleted", "unknown" */
DBPF_PACKAGE_API const char* CompressionName(Compression c);

/* One index record, as listed. */
struct Entry {
    EntryKey key;
    std::uint32_t offset = 0;       /* where its stored bytes begin in the file */
    std::uint32_t size = 0;         /* stored bytes (2.x: bit 31 of the field masked off) */
    std::uint32_t uncompressed = 0; /* bytes after expanding: size for kNone; the directory
                                       record's listed size for 1.x kEntry; the index's field in
                                       2.x; 0 for kDeleted */
    Compression compression = Compression::kNone;
    std::uint16_t compressionCode = 0; /* 2.x: the raw compression value; 1.x: 0 or 0xFFFF */
    bool directory = false; /* set by the reader on the 1.x directory record (the first index
                               record with its TGI); never in 2.x */

    /* True for the 1.x directory record (the same as `directory`). */
    DBPF_PACKAGE_API bool IsDirectory() const;
};

/* Version fields of the header. */
struct Version {
    std::uint32_t major = 0;      /* 1 or 2 */
    std::uint32_t minor = 0;      /* 0 or 1 */
    std::uint32_t indexMajor = 0; /* 7 in 1.x, 0 in 2.x */
    std::uint32_t indexMinor = 0; /* 1.x: 2 means index 7.1 (resource ids), 0 or 1 index 7.0;
                                     2.x: usually 3 */
};

/* ------------------------------------------------------------------------------------------ */
/* Errors                                                                                      */
/* ------------------------------------------------------------------------------------------ */

enum class ErrorCode {
    kOk = 0,
    /* files */
    kOpenFailed,  /* the file cannot be opened or mapped (detail: the system's reason) */
    kWriteFailed, /* the output (or its temporary file) cannot be written or renamed */
    /* header and index */
    kNotDbpf,            /* too short for a header, or no "DBPF" magic */
    kUnsupportedVersion, /* major version not 1 or 2, or a 1.x index major version other than 7 */
    kBadIndex, /* index outside the file, or its entry count does not fit its size (the count
                  is checked before anything is allocated) */
    /* entries */
    kEntryOutOfRange, /* an entry's offset + size passes the end of the file (or 32 bits) */
    kDeletedEntry,    /* Read of a 2.x deleted entry */
    kBadDirectory,    /* 1.x directory record: not a whole number of records, or listing an entry
                         that the index does not hold */
    kSizeMismatch,    /* a stated size contradicts another: the directory record or 2.x index
                         against the compressed entry's header, a stored entry's two sizes, the
                         header's compressed size against the stored size */
    kCorruptEntry,    /* a compressed entry does not expand: bad header, damaged command, zlib
                         error, or its bytes do not produce exactly the stated size */
    kUnsupported,     /* 2.x compressed entry of more than 16777215 bytes, or an unknown 2.x
                         compression value: not supported, never cut */
    kIndexOutOfRange, /* an entry position past the end of the index (a caller's mistake) */
    kBufferSize,      /* ReadTo: the caller's buffer is not the entry's expanded size */
    /* writing */
    kInvalidEntry,  /* refused by the writer: a resource id going into 2.0, an instance above 32
                       bits going into 1.1, the directory record's TGI added to a 1.1 package,
                       an entry too large for the format, raw bytes that are not a compressed
                       entry */
    kSourceFailed,  /* a writer's entry loader reported a failure (its Error is passed on) */
    kCompressFailed /* the compressor hook produced an entry that does not expand back */
};

/* A short English phrase for the code ("entry lies outside the file"). */
DBPF_PACKAGE_API const char* ErrorCodeText(ErrorCode code);

constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

/* A failure, or success when code is kOk. `entry` is the position in the index of the entry
 * concerned (kNoEntry when the failure is about the file as a whole); `key` is that entry's TGI
 * (for a writer: the TGI it was added with; `entry` is then its position in the writer).
 * `detail` is a short reason in words, without the entry's name. */
struct Error {
    ErrorCode code = ErrorCode::kOk;
    std::size_t entry = kNoEntry;
    EntryKey key;
    std::string detail;

    bool ok() const { return code == ErrorCode::kOk; }

    /* One line for a user: "entry 12 (6B943B43-00000000-0000000000001234): compressed entry is
     * damaged: copy reaches before the start", or "index outside the file: ...". */
    DBPF_PACKAGE_API std::string Describe() const;
};

/* Either a T or an Error. */
template <class T> class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    /* Only when ok(). */
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    /* Only when !ok(). */
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

/* ------------------------------------------------------------------------------------------ */
/* Names of extracted entries                                                                  */
/* ------------------------------------------------------------------------------------------ */

/* "TTTTTTTT-GGGGGGGG-IIIIIIIIIIIIIIII.bin", or "...-RRRRRRRR.bin" with a resource id:
 * upper-case hex of type, group, 64-bit instance and resource id. */
DBPF_PACKAGE_API std::string EntryFileName(const EntryKey& key);

/* The reverse of EntryFileName for a bare file name (no directory). Accepts upper- or
 * lower-case hex digits; anything else (other lengths, other suffix) returns false and leaves
 * *key untouched. */
DBPF_PACKAGE_API bool ParseEntryFileName(const std::string& name, EntryKey* key);

/* "6B943B43-00000000-0000000000001234" (with "-RRRRRRRR" when it has a resource id). */
DBPF_PACKAGE_API std::string KeyText(const EntryKey& key);

/* ------------------------------------------------------------------------------------------ */
/* Reading                                                                                     */
/* ------------------------------------------------------------------------------------------ */

class DBPF_PACKAGE_API Package {
public:
    /* Opens the file at `path` (a narrow path; on Windows in the ANSI code page) and maps it
     * read-only into memory (mmap on POSIX, a file mapping on Windows): it is not read whole,
     * and pages are read as entries are touched. The mapping lives as long as the Package.
     *
     * Open checks the header (magic, versions), that the index lies inside the file, and that
     * the entry count fits the index size; then it reads the index and, in 1.x, the directory
     * record (to know which entries are compressed and their expanded sizes).
     * Entries whose bytes lie outside the file, and a directory record that disagrees with the
     * index, do not make Open fail: they are reported by Read and Verify, naming the entry, so
     * that the rest of a damaged package can still be listed and read.
     *
     * Failures: kOpenFailed, kNotDbpf, kUnsupportedVersion, kBadIndex. A file cut at any
     * length gives one of these, or opens with its cut entries failing as kEntryOutOfRange.
     * As with any mapping, the file must not be cut short by another program while it is open
     * (the operating system faults on a mapped page that no longer exists); replacing it by
     * renaming a new file over it, as PackageWriter::Write does, is safe. */
    static Result<Package> Open(const std::string& path);

    /* As Open, over `size` bytes at `data` that the caller keeps alive and unchanged for the
     * life of the Package (nothing is copied). */
    static Result<Package> OpenBuffer(const unsigned char* data, std::size_t size);

    Package(Package&& other) noexcept;
    Package& operator=(Package&& other) noexcept;
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    ~Package(); /* unmaps and closes the file */

    const Version& GetVersion() const;
    std::uint64_t FileSize() const;
    /* The whole mapped file. */
    const unsigned char* Data() const;

    /* Every index record, in index order (duplicates of a TGI are kept, each in its place).
     * In 1.x the directory record is one of them (Entry::IsDirectory). */
    const std::vector<Entry>& Entries() const;

    /* Position of the 1.x directory record in Entries(), or kNoEntry. */
    std::size_t DirectoryIndex() const;

    /* The stored bytes of entry i, inside the mapping (valid while the Package lives).
     * Failures: kIndexOutOfRange, kDeletedEntry, kEntryOutOfRange. */
    Result<std::pair<const unsigned char*, std::size_t>> Raw(std::size_t i) const;

    /* The expanded bytes of entry i: `out` is resized to Entries()[i].uncompressed and filled.
     * kNone: the stored bytes; kEntry: expanded with DecompressPackage in exact mode (a 2.x
     * short header is turned into the 9-byte form first, in a copy; the mapping is never
     * written); kZlib: inflated, exactly to the stated size.
     * Failures: kIndexOutOfRange, kDeletedEntry, kEntryOutOfRange, kSizeMismatch,
     * kCorruptEntry, kUnsupported. After a failure `out` is empty. An expanded size that the
     * stored bytes could not produce is refused (kCorruptEntry) before `out` is allocated.
     * Memory: at most the expanded size in `out`, plus, for 2.x kEntry, a copy of the stored
     * bytes (kept in `scratch` when one is given, so that a loop reuses it). */
    Error Read(std::size_t i, std::vector<unsigned char>& out,
               std::vector<unsigned char>* scratch = nullptr) const;

    /* As Read, into a caller's buffer of exactly Entries()[i].uncompressed bytes (else
     * kBufferSize, nothing written). After another failure the buffer's content is undefined. */
    Error ReadTo(std::size_t i, unsigned char* buffer, std::size_t size,
                 std::vector<unsigned char>* scratch = nullptr) const;

    /* Checks of one entry: its bytes lie inside the file; a compressed entry expands exactly to
     * its stated size; a 1.x directory record listing it agrees with its header. The expanded
     * bytes are left in `out` (empty for deleted entries and the directory record) so that a
     * caller can digest them without expanding twice. Same failures as Read, and kBadDirectory
     * for the directory record itself (not a whole number of records). */
    Error VerifyEntry(std::size_t i, std::vector<unsigned char>& out,
                      std::vector<unsigned char>* scratch = nullptr) const;

    /* Checks of the file as a whole that belong to no single entry's bytes: every record of the
     * 1.x directory record names an entry of the index (kBadDirectory naming the record's TGI,
     * `entry` = the directory record's position). Empty when all hold. */
    std::vector<Error> VerifyDirectory() const;

    /* Every check: VerifyDirectory, then VerifyEntry for every entry, run on `jobs` threads (1
     * or more; 0 counts as 1). Returns every failure, sorted by entry position; empty when the
     * package is sound. The result does not depend on `jobs`. Memory: one expanded entry per
     * thread. `progress`, when set, is called from the calling thread with (entries checked,
     * total) now and then, and once at the end. */
    std::vector<Error>
    Verify(unsigned jobs = 1,
           const std::function<void(std::size_t, std::size_t)>& progress = nullptr) const;

private:
    struct Impl;
    explicit Package(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

/* Runs fn(i, worker) for every i in [0, count) on `jobs` threads (0 counts as 1; worker is
 * 0..jobs-1, so that fn can keep one buffer per worker). Positions are handed out in increasing
 * order. After the first failure (fn returning an Error that is not ok) no new position is
 * started. Returns the failure with the smallest position among those that ran, or an ok Error.
 * With jobs 1 everything runs on the calling thread. Meant for commands such as extract and
 * verify --md5 over a const Package. */
DBPF_PACKAGE_API Error ParallelFor(std::size_t count, unsigned jobs,
                                   const std::function<Error(std::size_t i, unsigned worker)>& fn);

/* ------------------------------------------------------------------------------------------ */
/* Writing                                                                                     */
/* ------------------------------------------------------------------------------------------ */

/* Package versions this library writes. */
enum class Format {
    kDbpf11, /* 1.1: index 7.0, or 7.1 when any entry has a resource id; the directory record
                when any entry ends up compressed */
    kDbpf20  /* 2.0: the 2.x index, per-entry compression 0xFFFF (short header) or 0x0000 */
};

/* What the writer does with an entry's bytes. */
enum class EntryMode {
    kCompress, /* compress where that makes the entry smaller, else store (the default) */
    kStore,    /* store as is */
    kRaw       /* the bytes already are a compressed entry in the codec's 9-byte form (as
                  CompressPackage writes it): stored as a compressed entry without compressing
                  again (2.0: under the short header). Refused (kInvalidEntry) if its header does
                  not agree with its length. */
};

/* A compressor with the signature of Quorrin's CompressPackage: compresses `sourceLength` bytes
 * into `destination` (room for sourceLength - 1 bytes), stores the entry's size, returns 1; or
 * returns 0 when the entry would not be smaller. It must be safe to call from several threads
 * at once, and deterministic if the output is to be reproducible. */
using Compressor = int (*)(const unsigned char* source, unsigned int sourceLength,
                           unsigned char* destination, int* compressedLength);

struct WriteOptions {
    /* Compression threads: 1 or more (0 counts as 1). The output is the same whatever jobs. */
    unsigned jobs = 1;
    /* Null: Quorrin's CompressPackage. The entry another compressor produces is checked to
     * expand back to the input with DecompressPackage (else kCompressFailed); every
     * compressor's entry must carry a header that agrees with its length and the input's. */
    Compressor compressor = nullptr;
    /* Treat every kCompress entry as kStore. */
    bool storeAll = false;
    /* Called from the calling thread after each entry is written: (entries written, total,
     * bytes of input consumed so far). */
    std::function<void(std::size_t, std::size_t, std::uint64_t)> progress;
    /* Write(path) only: called with the temporary file's path when it is created, and with an
     * empty string once it is gone (renamed into place or removed), so that a client can remove
     * it if the process is interrupted in between. */
    std::function<void(const std::string&)> temporaryFile;
};

class DBPF_PACKAGE_API PackageWriter {
public:
    /* Loads an entry's plain (or, for kRaw, compressed) bytes when the writer needs them, so
     * that a large package is never held in memory whole. Called from a compression thread;
     * must be safe to call alongside other loaders. Returns an ok Error or the reason. */
    using Loader = std::function<Error(std::vector<unsigned char>& bytes)>;

    explicit PackageWriter(Format format);
    ~PackageWriter();
    PackageWriter(PackageWriter&&) noexcept;
    PackageWriter& operator=(PackageWriter&&) noexcept;

    Format GetFormat() const;

    /* Adds an entry at the end of the index (the writer keeps the order of Add; duplicates are
     * kept). Checked at once, before anything is written: a resource id going into 2.0, an
     * instance above 32 bits going into 1.1, the directory record's TGI in 1.1, more than
     * 4294967295 bytes, or more entries than a 32-bit index count holds
     * give kInvalidEntry and the entry is not added. A kRaw entry's header is checked when it
     * is loaded (during Write). */
    Error Add(const EntryKey& key, std::vector<unsigned char> bytes,
              EntryMode mode = EntryMode::kCompress);
    Error Add(const EntryKey& key, Loader loader, EntryMode mode = EntryMode::kCompress);

    std::size_t Count() const;

    /* Writes the package to `path`: header, then the entries' bytes in the order added, then
     * (1.1 with compressed entries) the directory record, then the index; dates 0, no holes, so
     * the same entries give the same bytes. The bytes go to a temporary file in the same
     * directory, renamed over `path` only when everything succeeded; on any failure `path` is
     * left as it was and the temporary file is removed.
     * Entries are loaded and compressed on `options.jobs` threads, at most about 8 x jobs of
     * them in memory at a time, and written in order.
     * Failures: those of a loader (kSourceFailed, with the loader's detail), kInvalidEntry (a
     * kRaw entry that is not a compressed entry), kCompressFailed, kWriteFailed; all name the
     * entry (its position in the writer and its TGI) where one is concerned. */
    Error Write(const std::string& path, const WriteOptions& options) const;

    /* As Write, appending the package to `out` instead of a file. */
    Error WriteToBuffer(std::vector<unsigned char>& out, const WriteOptions& options) const;

    /* As Write, handing the package's bytes to `sink(offset, data, size)`: first everything
     * from offset 96 on, in increasing offsets, and last the 96-byte header at offset 0 (its
     * index fields are known only at the end). A failure the sink returns stops the write and
     * is returned. */
    Error
    WriteTo(const std::function<Error(std::uint64_t, const unsigned char*, std::size_t)>& sink,
            const WriteOptions& options) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace dbpf

#endif /* DBPF_PACKAGE_H */
