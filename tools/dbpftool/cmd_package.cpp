// dbpftool package list / extract / verify / pack / recompress: whole package files, through
// the package library's public interface (and Nimbrel's GetMD5 for verify --md5).
//
//   list PKG [--json]                 one line (or JSON object) per index record
//   extract PKG DIR [--jobs N] [--raw] every entry but the directory record and deleted ones,
//                                     one file each, named by EntryFileName
//   verify PKG [--jobs N] [--md5]     every check of the library; --md5: md5sum-style lines
//                                     with the names extract gives, so that `md5sum -c` can
//                                     check an extracted directory
//   pack DIR OUT [--format 1.1|2.0] [--jobs N] [--store]
//   recompress IN OUT [--jobs N]
//
// Output discipline, as everywhere in the tool: a package is written into a temporary file
// beside OUT and renamed over it only when complete (recompress: also verified); extract
// writes each file the same way, and when it fails or is interrupted it removes every file it
// wrote in this run (and DIR, if it made it). Failures are one line on stderr naming the file,
// and the entry where one is concerned.
#include "commands.h"
#include "file_io.h"

#include <dbpf_package.h>
#include <nimbrel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dbpftool {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

unsigned JobCount(const PackageOptions& options) {
    if (options.jobs != 0) {
        return options.jobs;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : std::min(n, 64u);
}

bool IsWritable(const dbpf::Entry& e) {
    return !e.IsDirectory() && e.compression != dbpf::Compression::kDeleted;
}

// Entries done of total and MB/s on one line of stderr, only when stderr is a terminal and
// --quiet is not given; any thread may report, the line is redrawn at most ten times a second.
class Progress {
public:
    Progress(const PackageOptions& options, const char* verb)
        : enabled_(!options.quiet && StderrIsTerminal()), verb_(verb),
          start_(std::chrono::steady_clock::now()), last_(start_) {}
    ~Progress() { Done(); }

    void Update(std::size_t done, std::size_t total, std::uint64_t bytes) {
        if (!enabled_) {
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last_ < std::chrono::milliseconds(100)) {
            return;
        }
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::fprintf(stderr, "\r%s %zu of %zu entries, %.1f MB/s ", verb_, done, total,
                     seconds > 0 ? bytes / seconds / 1e6 : 0.0);
        std::fflush(stderr);
        shown_ = true;
    }

    // Clears the line, so that what follows starts clean.
    void Done() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shown_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            shown_ = false;
        }
    }

private:
    const bool enabled_;
    const char* verb_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point start_, last_;
    bool shown_ = false;
};

bool OpenPackage(const std::string& path, std::optional<dbpf::Package>& out) {
    auto opened = dbpf::Package::Open(path);
    if (!opened) {
        Fail(path, opened.error().Describe());
        return false;
    }
    out.emplace(std::move(opened.value()));
    return true;
}

std::string Md5Hex(const Bytes& bytes) {
    unsigned char digest[NIMBREL_DIGEST_SIZE];
    GetMD5(bytes.data(), static_cast<int>(bytes.size()), digest);
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : digest) {
        s += kDigits[b >> 4];
        s += kDigits[b & 15];
    }
    return s;
}

// DIR/NAME as the user would write it (a slash, which Windows takes too), so that reports name
// files the way the command line did.
std::string Join(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\') {
        return dir + name;
    }
    return dir + "/" + name;
}

// Writes a package through `writer` into a temporary file beside `out`; when `check` is given
// it runs on the complete temporary file (closed, under its temporary name) before the rename.
bool WritePackage(const dbpf::PackageWriter& writer, const std::string& out,
                  dbpf::WriteOptions options, Progress& progress,
                  const std::function<bool(const std::string& tmp)>& check = nullptr) {
    OutputFile file;
    std::string error;
    if (!file.Create(out, error)) {
        Fail(out, error);
        return false;
    }
    options.progress = [&progress](std::size_t done, std::size_t total, std::uint64_t bytes) {
        progress.Update(done, total, bytes);
    };
    std::string writeError;
    const dbpf::Error e = writer.WriteTo(
        [&](std::uint64_t offset, const unsigned char* data, std::size_t size) {
            if (Interrupted()) {
                return dbpf::Error{
                    dbpf::ErrorCode::kWriteFailed, dbpf::kNoEntry, {}, "interrupted"};
            }
            if (!file.WriteAt(offset, data, size, writeError)) {
                return dbpf::Error{dbpf::ErrorCode::kWriteFailed, dbpf::kNoEntry, {}, writeError};
            }
            return dbpf::Error{};
        },
        options);
    progress.Done();
    if (!e.ok()) {
        file.Discard();
        DieIfInterrupted();
        Fail(out, e.Describe());
        return false;
    }
    if (!file.Close(error)) {
        Fail(out, error);
        return false;
    }
    if (check && !check(file.TemporaryPath())) {
        file.Discard();
        DieIfInterrupted();
        return false;
    }
    if (!file.Commit(error)) {
        Fail(out, error);
        return false;
    }
    return true;
}

} // namespace

int RunPackageList(const Args& args, const PackageOptions& options) {
    const std::string& path = args.at(0);
    std::optional<dbpf::Package> pkg;
    if (!OpenPackage(path, pkg)) {
        return 1;
    }
    const std::vector<dbpf::Entry>& entries = pkg->Entries();
    std::string out;
    if (options.json) {
        out += entries.empty() ? "[" : "[\n";
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const dbpf::Entry& e = entries[i];
        char line[256];
        if (options.json) {
            std::string resource;
            if (e.key.hasResource) {
                resource = ",\"resource\":" + std::to_string(e.key.resource);
            }
            std::snprintf(line, sizeof line,
                          "{\"type\":%" PRIu32 ",\"group\":%" PRIu32 ",\"instance\":%" PRIu64
                          "%s,\"offset\":%" PRIu32 ",\"size\":%" PRIu32 ",\"uncompressed\":%" PRIu32
                          ",\"compression\":\"%s\"}%s\n",
                          e.key.type, e.key.group, e.key.instance, resource.c_str(), e.offset,
                          e.size, e.uncompressed, dbpf::CompressionName(e.compression),
                          i + 1 < entries.size() ? "," : "");
        } else {
            std::snprintf(
                line, sizeof line, "%-44s %10" PRIu32 " %10" PRIu32 " %10" PRIu32 " %s%s\n",
                dbpf::KeyText(e.key).c_str(), e.offset, e.size, e.uncompressed,
                dbpf::CompressionName(e.compression), e.IsDirectory() ? " (directory record)" : "");
        }
        out += line;
        if (out.size() > (1u << 16)) {
            std::fputs(out.c_str(), stdout);
            out.clear();
        }
    }
    if (options.json) {
        out += "]\n";
    }
    std::fputs(out.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return Fail("standard output", "write error");
    }
    return 0;
}

int RunPackageExtract(const Args& args, const PackageOptions& options) {
    const std::string& path = args.at(0);
    const std::string& dir = args.at(1);
    std::optional<dbpf::Package> pkg;
    if (!OpenPackage(path, pkg)) {
        return 1;
    }
    const std::vector<dbpf::Entry>& entries = pkg->Entries();

    // What goes where. Two records with one TGI would write one file twice, the later
    // silently replacing the earlier: refused before anything is written.
    std::vector<std::size_t> todo;
    std::vector<std::pair<std::string, std::size_t>> names;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (IsWritable(entries[i])) {
            todo.push_back(i);
            names.emplace_back(dbpf::EntryFileName(entries[i].key), i);
        }
    }
    std::sort(names.begin(), names.end());
    for (std::size_t k = 1; k < names.size(); ++k) {
        if (names[k].first == names[k - 1].first) {
            return Fail(path, "entries " + std::to_string(names[k - 1].second) + " and " +
                                  std::to_string(names[k].second) + " would both be written to " +
                                  names[k].first + " (same type, group and instance)");
        }
    }

    std::error_code ec;
    const bool existed = fs::exists(dir, ec);
    if (!existed && !fs::create_directories(dir, ec)) {
        return Fail(dir, ec ? ec.message() : "cannot make the directory");
    }
    if (!fs::is_directory(dir, ec)) {
        return Fail(dir, "not a directory");
    }

    DeferInterruptions();
    std::mutex lock;
    std::vector<std::string> written;
    std::string failedFile, failedReason;
    Progress progress(options, "extracting");
    std::atomic<std::size_t> done{0};
    std::atomic<std::uint64_t> bytesDone{0};
    const unsigned jobs = JobCount(options);
    std::vector<Bytes> buffers(jobs), scratch(jobs);

    const dbpf::Error e = dbpf::ParallelFor(todo.size(), jobs, [&](std::size_t k, unsigned w) {
        if (Interrupted()) {
            return dbpf::Error{dbpf::ErrorCode::kWriteFailed, dbpf::kNoEntry, {}, "interrupted"};
        }
        const std::size_t i = todo[k];
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        if (options.raw) {
            auto raw = pkg->Raw(i);
            if (!raw) {
                return raw.error();
            }
            data = raw.value().first;
            size = raw.value().second;
        } else {
            dbpf::Error r = pkg->Read(i, buffers[w], &scratch[w]);
            if (!r.ok()) {
                return r;
            }
            data = buffers[w].data();
            size = buffers[w].size();
        }
        const std::string file = Join(dir, dbpf::EntryFileName(entries[i].key));
        std::string error;
        const bool ok = WriteFileAtomically(file, data, size, error);
        {
            std::lock_guard<std::mutex> guard(lock);
            if (ok) {
                written.push_back(file);
            } else if (failedFile.empty()) {
                failedFile = file;
                failedReason = error;
            }
        }
        if (!ok) {
            return dbpf::Error{dbpf::ErrorCode::kWriteFailed, i, entries[i].key, error};
        }
        progress.Update(done.fetch_add(1) + 1, todo.size(), bytesDone.fetch_add(size) + size);
        return dbpf::Error{};
    });
    progress.Done();
    if (e.ok()) {
        DieIfInterrupted(); // a signal after the last entry: the files are complete
        return 0;
    }
    // Take back everything this run wrote.
    for (const std::string& file : written) {
        fs::remove(file, ec);
    }
    if (!existed) {
        fs::remove(dir, ec);
    }
    DieIfInterrupted();
    if (e.code == dbpf::ErrorCode::kWriteFailed && !failedFile.empty()) {
        return Fail(failedFile, failedReason);
    }
    return Fail(path, e.Describe());
}

int RunPackageVerify(const Args& args, const PackageOptions& options) {
    const std::string& path = args.at(0);
    std::optional<dbpf::Package> pkg;
    if (!OpenPackage(path, pkg)) {
        return 1;
    }
    const std::vector<dbpf::Entry>& entries = pkg->Entries();
    const unsigned jobs = JobCount(options);
    Progress progress(options, "verifying");
    std::uint64_t totalBytes = 0;
    for (const dbpf::Entry& e : entries) {
        totalBytes += e.uncompressed;
    }

    std::vector<dbpf::Error> errors;
    std::vector<std::string> digests;
    if (!options.md5) {
        errors = pkg->Verify(jobs, [&](std::size_t done, std::size_t total) {
            progress.Update(done, total,
                            total == 0 ? 0
                                       : static_cast<std::uint64_t>(
                                             static_cast<double>(totalBytes) * done / total));
        });
    } else {
        // The same checks, entry by entry, keeping each expanded entry's digest.
        errors = pkg->VerifyDirectory();
        std::vector<dbpf::Error> entryErrors(entries.size());
        digests.resize(entries.size());
        std::vector<Bytes> buffers(jobs), scratch(jobs);
        std::atomic<std::size_t> done{0};
        std::atomic<std::uint64_t> bytesDone{0};
        dbpf::ParallelFor(entries.size(), jobs, [&](std::size_t i, unsigned w) {
            entryErrors[i] = pkg->VerifyEntry(i, buffers[w], &scratch[w]);
            if (entryErrors[i].ok() && IsWritable(entries[i])) {
                digests[i] = Md5Hex(buffers[w]);
            }
            const std::size_t size = buffers[w].size();
            progress.Update(done.fetch_add(1) + 1, entries.size(),
                            bytesDone.fetch_add(size) + size);
            return dbpf::Error{};
        });
        for (dbpf::Error& e : entryErrors) {
            if (!e.ok()) {
                errors.push_back(std::move(e));
            }
        }
        std::stable_sort(errors.begin(), errors.end(),
                         [](const dbpf::Error& a, const dbpf::Error& b) {
                             return a.entry != dbpf::kNoEntry &&
                                    (b.entry == dbpf::kNoEntry || a.entry < b.entry);
                         });
    }
    progress.Done();

    for (std::size_t i = 0; i < digests.size(); ++i) {
        if (!digests[i].empty()) {
            std::printf("%s  %s\n", digests[i].c_str(),
                        dbpf::EntryFileName(entries[i].key).c_str());
        }
    }
    std::fflush(stdout);
    std::size_t badEntries = 0;
    std::size_t lastBad = dbpf::kNoEntry;
    for (const dbpf::Error& e : errors) {
        Fail(path, e.Describe());
        if (e.entry != dbpf::kNoEntry && e.entry != lastBad) {
            ++badEntries;
            lastBad = e.entry;
        }
    }
    const dbpf::Version& v = pkg->GetVersion();
    if (errors.empty()) {
        std::printf("%s: DBPF %u.%u, %zu entries, all sound\n", path.c_str(), v.major, v.minor,
                    entries.size());
    } else {
        std::printf("%s: DBPF %u.%u, %zu entries, %zu problem(s) in %zu entries\n", path.c_str(),
                    v.major, v.minor, entries.size(), errors.size(), badEntries);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return Fail("standard output", "write error");
    }
    return errors.empty() ? 0 : 1;
}

int RunPackagePack(const Args& args, const PackageOptions& options) {
    const std::string& dir = args.at(0);
    const std::string& out = args.at(1);
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        return Fail(dir, ec.message());
    }
    for (const fs::directory_entry& item : it) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());

    const dbpf::Format format =
        options.format == "2.0" ? dbpf::Format::kDbpf20 : dbpf::Format::kDbpf11;
    dbpf::PackageWriter writer(format);
    // Every name and every key is checked here, before OUT is touched.
    for (const std::string& name : names) {
        const std::string file = Join(dir, name);
        dbpf::EntryKey key;
        if (!dbpf::ParseEntryFileName(name, &key)) {
            return Fail(file,
                        "not an entry file (TTTTTTTT-GGGGGGGG-IIIIIIIIIIIIIIII[-RRRRRRRR].bin)");
        }
        if (!fs::is_regular_file(file, ec)) {
            return Fail(file, "not a regular file");
        }
        if (key.hasResource && format == dbpf::Format::kDbpf20) {
            return Fail(file, "a resource id can only be stored in a 1.1 package (--format 1.1)");
        }
        if (key.instance > 0xFFFFFFFFu && format == dbpf::Format::kDbpf11) {
            return Fail(file, "an instance above 32 bits can only be stored in a 2.0 package "
                              "(--format 2.0)");
        }
        const dbpf::Error e = writer.Add(
            key,
            [file](Bytes& bytes) {
                std::string error;
                if (!ReadWholeFile(file, bytes, error, 0xFFFFFFFFu)) {
                    return dbpf::Error{
                        dbpf::ErrorCode::kOpenFailed, dbpf::kNoEntry, {}, file + ": " + error};
                }
                return dbpf::Error{};
            },
            options.store ? dbpf::EntryMode::kStore : dbpf::EntryMode::kCompress);
        if (!e.ok()) {
            return Fail(file, e.Describe());
        }
    }
    DeferInterruptions();
    dbpf::WriteOptions wo;
    wo.jobs = JobCount(options);
    wo.storeAll = options.store;
#ifdef DBPF_TOOL_CODEC
    if (options.best) {
        wo.compressor = CompressBest;
    }
#endif
    Progress progress(options, "packing");
    return WritePackage(writer, out, wo, progress) ? 0 : 1;
}

int RunPackageRecompress(const Args& args, const PackageOptions& options) {
    const std::string& in = args.at(0);
    const std::string& out = args.at(1);
    std::optional<dbpf::Package> pkg;
    if (!OpenPackage(in, pkg)) {
        return 1;
    }
    const std::vector<dbpf::Entry>& entries = pkg->Entries();
    const unsigned jobs = JobCount(options);
    const dbpf::Format format =
        pkg->GetVersion().major == 1 ? dbpf::Format::kDbpf11 : dbpf::Format::kDbpf20;
    dbpf::PackageWriter writer(format);
    // The entries that go into OUT, in order: all but the directory record (written anew when
    // needed) and deleted entries (they hold no bytes).
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const dbpf::Entry& entry = entries[i];
        if (!IsWritable(entry)) {
            continue;
        }
        const dbpf::Package* source = &*pkg;
        const dbpf::Error e = writer.Add(
            entry.key, [source, i](Bytes& bytes) { return source->Read(i, bytes); },
            entry.compression == dbpf::Compression::kNone ? dbpf::EntryMode::kStore
                                                          : dbpf::EntryMode::kCompress);
        if (!e.ok()) {
            return Fail(in, "entry " + std::to_string(i) + " (" + dbpf::KeyText(entry.key) +
                                "): " + dbpf::ErrorCodeText(e.code) + ": " + e.detail);
        }
        kept.push_back(i);
    }

    DeferInterruptions();
    dbpf::WriteOptions wo;
    wo.jobs = jobs;
    Progress progress(options, "recompressing");
    // The new file must list the same keys in the same order, pass every check, and give back
    // every entry's bytes exactly.
    const auto check = [&](const std::string& tmp) {
        std::optional<dbpf::Package> fresh;
        auto opened = dbpf::Package::Open(tmp);
        if (!opened) {
            Fail(out, "the new package does not open: " + opened.error().Describe());
            return false;
        }
        fresh.emplace(std::move(opened.value()));
        const std::vector<dbpf::Error> errors = fresh->Verify(jobs);
        if (!errors.empty()) {
            Fail(out, "the new package fails its check: " + errors.front().Describe());
            return false;
        }
        std::vector<std::size_t> freshKept;
        for (std::size_t i = 0; i < fresh->Entries().size(); ++i) {
            if (IsWritable(fresh->Entries()[i])) {
                freshKept.push_back(i);
            }
        }
        if (freshKept.size() != kept.size()) {
            Fail(out, "the new package holds " + std::to_string(freshKept.size()) +
                          " entries, not " + std::to_string(kept.size()));
            return false;
        }
        std::vector<Bytes> a(jobs), b(jobs), scratch(jobs);
        std::atomic<std::size_t> done{0};
        std::atomic<std::uint64_t> bytesDone{0};
        const dbpf::Error e = dbpf::ParallelFor(kept.size(), jobs, [&](std::size_t k, unsigned w) {
            const std::size_t i = kept[k];
            const std::size_t j = freshKept[k];
            if (fresh->Entries()[j].key != entries[i].key) {
                return dbpf::Error{dbpf::ErrorCode::kSizeMismatch, i, entries[i].key,
                                   "the new package names it " +
                                       dbpf::KeyText(fresh->Entries()[j].key)};
            }
            dbpf::Error r = pkg->Read(i, a[w], &scratch[w]);
            if (r.ok()) {
                r = fresh->Read(j, b[w], &scratch[w]);
            }
            if (r.ok() && a[w] != b[w]) {
                r = dbpf::Error{dbpf::ErrorCode::kCorruptEntry, i, entries[i].key,
                                "the new package gives different bytes"};
            }
            const std::size_t size = a[w].size();
            progress.Update(done.fetch_add(1) + 1, kept.size(), bytesDone.fetch_add(size) + size);
            return r;
        });
        progress.Done();
        if (!e.ok()) {
            Fail(out, "verification failed: " + e.Describe());
            return false;
        }
        return true;
    };
    return WritePackage(writer, out, wo, progress, check) ? 0 : 1;
}

} // namespace dbpftool
