// bench_package: whole-package work with DbpfPackage on generated packages.
//
//   bench_package [--quick] [DIR]
//
// Two packages are generated into DIR (default: the system's temporary directory) and removed at
// the end:
//   mixed  a few thousand entries of the kinds packages hold (text, fixed records, pixels and
//          incompressible bytes), 64 B to 256 KiB each, written as 1.1 (compressed where that
//          helps, with the directory record)
//   small  100,000 entries of 20 to 400 bytes, 1.1 with the directory record (the costlier
//          listing: the record is matched against the whole index)
// Timed, each the best of several runs in wall-clock time (the parallel figures need it):
//   list     open the file (map it, read the header, index and directory record) and list it
//   extract  expand every entry into a per-thread buffer (ParallelFor, as a command would)
//   verify   Package::Verify
//   pack     PackageWriter::Write of the mixed entries to a file
// with 1 and 2 jobs, and the ratio. The baseline is a plain copy of the whole mapped file.
// Memory: the peak of the heap in use during the step above what it held before (operator new
// and delete are replaced to count it, the library's allocations included). The mapped file is
// not heap. Not counted: the codec's own work tables during pack (768 KiB per compression
// thread, taken with malloc inside CompressPackage) and zlib's state (none in these packages).
#include "dbpf_package.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <new>

// Heap in use, counted by the replaced operator new and delete below (the library's own
// allocations included: its calls resolve to these). Peak() is the most above the level at the
// last Reset().
std::atomic<std::int64_t> g_heap{0};
std::atomic<std::int64_t> g_peak{0};

std::int64_t g_heap_add(std::int64_t n) {
    const std::int64_t now = g_heap.fetch_add(n) + n;
    std::int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return now;
}

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    const std::int64_t now = g_heap_add(static_cast<std::int64_t>(malloc_usable_size(p)));
    (void)now;
    return p;
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    if (p) {
        g_heap_add(-static_cast<std::int64_t>(malloc_usable_size(p)));
        std::free(p);
    }
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::uint64_t g_state = 0x243F6A8885A308D3ull;
std::uint64_t Next() {
    std::uint64_t z = (g_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Bytes Generate(int kind, std::size_t size) {
    static const char* const kWords[] = {"the ",   "package ", "entry ", "of ",   "group ",
                                         "type ",  "index ",   "sim ",   "lot ",  "object ",
                                         "mesh\n", "texture ", "and ",   "with ", "data\n"};
    Bytes out;
    out.reserve(size);
    switch (kind) {
    case 0: // text
        while (out.size() < size) {
            for (const char* c = kWords[Next() % 15]; *c && out.size() < size; ++c) {
                out.push_back(static_cast<unsigned char>(*c));
            }
        }
        break;
    case 1: // records
        for (std::uint32_t id = 0; out.size() < size; ++id) {
            unsigned char rec[32] = {static_cast<unsigned char>(id),
                                     static_cast<unsigned char>(id >> 8), 0, 0, 0x3F};
            rec[8] = static_cast<unsigned char>(Next() % 4);
            rec[16] = static_cast<unsigned char>(Next());
            for (unsigned char b : rec) {
                if (out.size() < size) {
                    out.push_back(b);
                }
            }
        }
        break;
    case 2: // pixels
        for (std::size_t i = 0; out.size() < size; ++i) {
            const unsigned char px[4] = {static_cast<unsigned char>(i / 7 + Next() % 3),
                                         static_cast<unsigned char>(i / 13), 0x80, 0xFF};
            for (unsigned char b : px) {
                if (out.size() < size) {
                    out.push_back(b);
                }
            }
        }
        break;
    default: // incompressible
        while (out.size() < size) {
            out.push_back(static_cast<unsigned char>(Next() >> 56));
        }
        break;
    }
    return out;
}

std::int64_t g_base = 0;

void Reset() {
    g_base = g_heap.load();
    g_peak = g_base;
}
double PeakMB() {
    return static_cast<double>(g_peak.load() - g_base) / 1e6;
}

// Peak resident memory of the process (VmHWM), in MB: heap plus the mapped file's pages read.
double PeakRssMB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) {
        return 0;
    }
    char line[256];
    double kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kb = std::strtod(line + 6, nullptr);
            break;
        }
    }
    std::fclose(f);
    return kb / 1e3;
}

template <typename Fn> double Best(int runs, Fn fn) {
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        fn();
        best = std::min(best, Seconds(start));
    }
    return best;
}

void Die(const dbpf::Error& e) {
    std::fprintf(stderr, "bench_package: %s\n", e.Describe().c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::filesystem::path dir = std::filesystem::temp_directory_path();
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--quick") == 0) {
            quick = true;
        } else {
            dir = argv[a];
        }
    }
    const int runs = quick ? 2 : 5;

    const std::string mixedPath = (dir / "bench_package_mixed.package").string();
    const std::string smallPath = (dir / "bench_package_small.package").string();

    // The mixed entries, held in memory for pack.
    const std::size_t mixedCount = quick ? 600 : 2000;
    std::vector<Bytes> mixed;
    std::uint64_t plainBytes = 0;
    std::size_t largest = 0;
    for (std::size_t i = 0; i < mixedCount; ++i) {
        // Sizes log-uniform from 64 B to 256 KiB.
        const double e = static_cast<double>(Next() % 1000) / 1000.0;
        const std::size_t size = static_cast<std::size_t>(64.0 * std::pow(4096.0, e));
        mixed.push_back(Generate(static_cast<int>(i % 4), size));
        plainBytes += size;
        largest = std::max(largest, size);
    }
    auto makeWriter = [&](dbpf::Format format) {
        dbpf::PackageWriter w(format);
        for (std::size_t i = 0; i < mixed.size(); ++i) {
            // Loaders hand out copies, as a command reading files would.
            dbpf::Error e = w.Add({static_cast<std::uint32_t>(i % 7), 0, i}, [&, i](Bytes& out) {
                out = mixed[i];
                return dbpf::Error{};
            });
            if (!e.ok()) {
                Die(e);
            }
        }
        return w;
    };

    std::printf("bench_package: %zu mixed entries, %.1f MB plain, largest %zu bytes\n\n",
                mixedCount, static_cast<double>(plainBytes) / 1e6, largest);
    std::printf("%-34s %10s %10s %8s %14s\n", "step", "1 job s", "2 jobs s", "speedup",
                "peak heap MB");

    // pack
    double pack[2];
    double packMem[2];
    for (unsigned jobs : {1u, 2u}) {
        dbpf::PackageWriter w = makeWriter(dbpf::Format::kDbpf11);
        dbpf::WriteOptions options;
        options.jobs = jobs;
        Reset();
        pack[jobs - 1] = Best(1, [&] {
            dbpf::Error e = w.Write(mixedPath, options);
            if (!e.ok()) {
                Die(e);
            }
        });
        packMem[jobs - 1] = PeakMB();
    }
    std::printf("%-34s %10.3f %10.3f %7.2fx %7.1f / %4.1f\n", "pack (1.1, compress)", pack[0],
                pack[1], pack[0] / pack[1], packMem[0], packMem[1]);
    // The entries are no longer needed: release them before measuring the reader's memory.
    std::vector<Bytes>().swap(mixed);

    auto opened = dbpf::Package::Open(mixedPath);
    if (!opened.ok()) {
        Die(opened.error());
    }
    const dbpf::Package& pkg = opened.value();
    const std::size_t n = pkg.Entries().size();
    std::printf("%-34s %10.1f MB in %zu entries\n", "  the package", pkg.FileSize() / 1e6, n);

    // baseline: copy the whole mapping once
    {
        Bytes copy(pkg.FileSize());
        const double t = Best(runs, [&] { std::memcpy(copy.data(), pkg.Data(), copy.size()); });
        std::printf("%-34s %10.3f %10s %8s\n", "baseline: memcpy of the whole file", t, "-", "-");
    }

    // extract: every entry expanded into one buffer per worker
    double extract[2];
    double extractMem[2];
    for (unsigned jobs : {1u, 2u}) {
        std::vector<Bytes> buffers(jobs), scratch(jobs);
        Reset();
        extract[jobs - 1] = Best(runs, [&] {
            dbpf::Error e = dbpf::ParallelFor(n, jobs, [&](std::size_t i, unsigned w) {
                if (pkg.Entries()[i].IsDirectory()) {
                    return dbpf::Error{};
                }
                return pkg.Read(i, buffers[w], &scratch[w]);
            });
            if (!e.ok()) {
                Die(e);
            }
        });
        extractMem[jobs - 1] = PeakMB();
    }
    std::printf("%-34s %10.3f %10.3f %7.2fx %7.1f / %4.1f\n", "extract (expand every entry)",
                extract[0], extract[1], extract[0] / extract[1], extractMem[0], extractMem[1]);

    double verify[2];
    double verifyMem[2];
    for (unsigned jobs : {1u, 2u}) {
        Reset();
        verify[jobs - 1] = Best(runs, [&] {
            if (!pkg.Verify(jobs).empty()) {
                std::fprintf(stderr, "bench_package: verify failed\n");
                std::exit(1);
            }
        });
        verifyMem[jobs - 1] = PeakMB();
    }
    std::printf("%-34s %10.3f %10.3f %7.2fx %7.1f / %4.1f\n", "verify", verify[0], verify[1],
                verify[0] / verify[1], verifyMem[0], verifyMem[1]);
    std::printf("%-34s %10.1f %10.1f\n", "  bound: jobs x largest entry, MB", largest / 1e6,
                2 * largest / 1e6);

    // 100,000 small entries: list.
    {
        dbpf::PackageWriter w(dbpf::Format::kDbpf11);
        for (std::uint32_t i = 0; i < 100000; ++i) {
            Bytes b = Generate(static_cast<int>(i % 4), 20 + Next() % 380);
            dbpf::Error e = w.Add({0x6B943B43, i % 16, i}, std::move(b));
            if (!e.ok()) {
                Die(e);
            }
        }
        dbpf::WriteOptions options;
        options.jobs = 2;
        const auto start = Clock::now();
        dbpf::Error e = w.Write(smallPath, options);
        if (!e.ok()) {
            Die(e);
        }
        const double packed = Seconds(start);
        std::size_t listed = 0, compressed = 0;
        const double list = Best(runs, [&] {
            auto p = dbpf::Package::Open(smallPath);
            if (!p.ok()) {
                Die(p.error());
            }
            listed = 0;
            compressed = 0;
            for (const dbpf::Entry& entry : p.value().Entries()) {
                ++listed;
                compressed += entry.compression == dbpf::Compression::kEntry;
            }
        });
        std::printf("\n100,000 small entries (%zu records, %zu compressed): pack with 2 jobs "
                    "%.3f s\n",
                    listed, compressed, packed);
        std::printf("%-34s %10.4f s\n", "list (open + walk the entries)", list);
    }
    std::printf("\npeak resident memory of the process (VmHWM): %.1f MB (the mixed entries held "
                "for pack, and the pages of the mapped files read)\n",
                PeakRssMB());
    std::remove(mixedPath.c_str());
    std::remove(smallPath.c_str());
    return 0;
}
