// bench_codec: Quorrin beside memcpy, zlib, libdeflate, LZ4 and LZ4HC on the same corpus, in
// the same run. Not a test: it prints a table and never fails on a timing.
//
//   bench_codec [SAMPLES_DIR [CODEC...]]
//
// With codec names after the directory only those rows are measured (e.g. "Quorrin LZ4").
//
// Corpus, five kinds: text (license and copyright texts of the system, else the bundled
// samples), machine code (the cmake executable, else the bundled sample), raw 32-bit pixels,
// structured binary records (both generated) and incompressible bytes. Each kind is cut into
// large entries (256 KiB to 4 MiB) and into many small entries (200 B to 16 KiB). Times are the
// CPU time of this thread, so that other load on the machine disturbs them less.
#include "quorrin.h"

#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

Bytes ReadFile(const std::string& path, std::size_t limit) {
    std::ifstream f(path, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() > limit) {
        b.resize(limit);
    }
    return b;
}

constexpr std::size_t kKindSize = 4u << 20;

Bytes TextCorpus(const std::string& samples) {
    Bytes out;
    std::vector<std::string> files;
    std::error_code ec;
    for (const char* dir : {"/usr/share/common-licenses", "/usr/share/doc"}) {
        for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (it->is_regular_file(ec) && !it->is_symlink(ec) &&
                (name == "copyright" || std::string(dir) == "/usr/share/common-licenses")) {
                files.push_back(it->path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        const Bytes b = ReadFile(f, kKindSize);
        out.insert(out.end(), b.begin(), b.end());
        if (out.size() >= kKindSize) {
            break;
        }
    }
    if (out.size() < (1u << 20)) {
        for (const char* f : {"/catalog.txt", "/tuning.xml"}) {
            const Bytes b = ReadFile(samples + f, kKindSize);
            out.insert(out.end(), b.begin(), b.end());
        }
    }
    out.resize(std::min(out.size(), kKindSize));
    return out;
}

Bytes CodeCorpus(const std::string& samples) {
    Bytes b = ReadFile("/usr/bin/cmake", kKindSize);
    return b.size() >= (1u << 20) ? b : ReadFile(samples + "/program.code", kKindSize);
}

Bytes PixelCorpus() {
    // 1024 x 1024 BGRA: gradients, flat shapes and light noise, like a texture.
    std::mt19937 rng(1);
    Bytes px;
    px.reserve(kKindSize);
    for (int y = 0; y < 1024; ++y) {
        for (int x = 0; x < 1024; ++x) {
            int b = x / 4, g = y / 4, r = 128;
            if ((x - 400) * (x - 400) + (y - 500) * (y - 500) < 250 * 250) {
                b = 40, g = 160 + y / 32, r = 220;
            } else if (x > 700 && x < 900 && y > 100 && y < 400) {
                b = 200, g = 60, r = 30;
            }
            const int n = rng() % 5 == 0 ? static_cast<int>(rng() % 5) - 2 : 0;
            for (int c : {b + n, g + n, r + n, 255}) {
                px.push_back(static_cast<std::uint8_t>(std::clamp(c, 0, 255)));
            }
        }
    }
    return px;
}

Bytes RecordCorpus() {
    std::mt19937_64 rng(2);
    const std::uint32_t types[] = {0x0166038C, 0x00B2D882, 0x034AEECB, 0x545AC67A, 0x220557DA};
    Bytes out;
    std::uint32_t offset = 96;
    auto put = [&out](std::uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        }
    };
    for (std::uint32_t k = 0; out.size() < kKindSize; ++k) {
        const std::uint32_t size = 200 + static_cast<std::uint32_t>(rng() % 40000);
        put(types[rng() % 5], 4);
        put(0x80000000u | (rng() % 4), 4);
        put(rng() % 10 < 7 ? rng() : k, 8);
        put(offset, 4);
        put(size, 4);
        put(size + rng() % (size / 2 + 1), 4);
        put(rng() % 10 < 6 ? 0xFFFF : 0, 4);
        offset += size;
    }
    return out;
}

Bytes RandomCorpus() {
    std::mt19937_64 rng(3);
    Bytes out(1u << 20);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng() >> 56);
    }
    return out;
}

struct Entry {
    const std::uint8_t* data;
    std::size_t size;
};

// Cuts `kind` into consecutive entries whose sizes cycle through `sizes` (or are drawn at random
// from [lo, hi] when `sizes` is empty).
void Cut(const Bytes& kind, std::vector<Entry>& out, const std::vector<std::size_t>& sizes,
         std::size_t lo, std::size_t hi, std::size_t limit) {
    std::mt19937 rng(4);
    std::size_t p = 0;
    for (std::size_t k = 0; p < kind.size() && p < limit; ++k) {
        std::size_t n = sizes.empty() ? lo + rng() % (hi - lo + 1) : sizes[k % sizes.size()];
        n = std::min(n, kind.size() - p);
        if (n < 200) {
            break;
        }
        out.push_back({kind.data() + p, n});
        p += n;
    }
}

struct Codec {
    const char* name;
    // Returns the compressed size, or 0 when the entry is stored as it is.
    std::function<std::size_t(const Entry&, Bytes&)> compress;
    // Expands `comp` (of `compSize` bytes) into `out` (entry.size bytes); false on failure.
    std::function<bool(const Bytes&, std::size_t, const Entry&, Bytes&)> expand;
};

std::vector<Codec> Codecs() {
    std::vector<Codec> codecs;
    codecs.push_back({"memcpy",
                      [](const Entry& e, Bytes& out) {
                          std::memcpy(out.data(), e.data, e.size);
                          return e.size;
                      },
                      [](const Bytes& c, std::size_t n, const Entry&, Bytes& out) {
                          std::memcpy(out.data(), c.data(), n);
                          return true;
                      }});
    codecs.push_back({"Quorrin",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          int n = 0;
                          return CompressPackage(e.data, static_cast<unsigned>(e.size), out.data(),
                                                 &n) == 1
                                     ? static_cast<std::size_t>(n)
                                     : 0;
                      },
                      [](const Bytes& c, std::size_t n, const Entry& e, Bytes& out) {
                          return DecompressPackage(c.data(), static_cast<int>(n), out.data(),
                                                   static_cast<int>(e.size), 0) == 1;
                      }});
    for (int level : {1, 6, 9}) {
        static const char* const names[] = {"", "zlib -1", "", "", "",
                                            "", "zlib -6", "", "", "zlib -9"};
        codecs.push_back({names[level],
                          [level](const Entry& e, Bytes& out) -> std::size_t {
                              uLongf n = out.size();
                              return compress2(out.data(), &n, e.data, e.size, level) == Z_OK ? n
                                                                                              : 0;
                          },
                          [](const Bytes& c, std::size_t n, const Entry& e, Bytes& out) {
                              uLongf m = e.size;
                              return uncompress(out.data(), &m, c.data(), n) == Z_OK && m == e.size;
                          }});
    }
    for (int level : {6, 12}) {
        codecs.push_back({level == 6 ? "libdeflate -6" : "libdeflate -12",
                          [level](const Entry& e, Bytes& out) -> std::size_t {
                              libdeflate_compressor* c = libdeflate_alloc_compressor(level);
                              const std::size_t n = libdeflate_deflate_compress(
                                  c, e.data, e.size, out.data(), out.size());
                              libdeflate_free_compressor(c);
                              return n;
                          },
                          [](const Bytes& c, std::size_t n, const Entry& e, Bytes& out) {
                              libdeflate_decompressor* d = libdeflate_alloc_decompressor();
                              const bool ok =
                                  libdeflate_deflate_decompress(d, c.data(), n, out.data(), e.size,
                                                                nullptr) == LIBDEFLATE_SUCCESS;
                              libdeflate_free_decompressor(d);
                              return ok;
                          }});
    }
    auto lz4Expand = [](const Bytes& c, std::size_t n, const Entry& e, Bytes& out) {
        return LZ4_decompress_safe(reinterpret_cast<const char*>(c.data()),
                                   reinterpret_cast<char*>(out.data()), static_cast<int>(n),
                                   static_cast<int>(e.size)) == static_cast<int>(e.size);
    };
    codecs.push_back({"LZ4",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          return static_cast<std::size_t>(LZ4_compress_default(
                              reinterpret_cast<const char*>(e.data),
                              reinterpret_cast<char*>(out.data()), static_cast<int>(e.size),
                              static_cast<int>(out.size())));
                      },
                      lz4Expand});
    codecs.push_back({"LZ4HC -9",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          return static_cast<std::size_t>(LZ4_compress_HC(
                              reinterpret_cast<const char*>(e.data),
                              reinterpret_cast<char*>(out.data()), static_cast<int>(e.size),
                              static_cast<int>(out.size()), 9));
                      },
                      lz4Expand});
    return codecs;
}

struct Result {
    double ratio;
    double compressMBs;
    double expandMBs;
    double entriesPerSecond;
    bool ok;
};

Result Measure(const Codec& codec, const std::vector<Entry>& entries) {
    std::size_t total = 0;
    std::size_t stored = 0;
    std::size_t maxSize = 0;
    for (const Entry& e : entries) {
        total += e.size;
        maxSize = std::max(maxSize, e.size);
    }
    Bytes out(maxSize + maxSize / 8 + 1024);
    std::vector<Bytes> comp(entries.size());
    std::vector<std::size_t> sizes(entries.size());
    double t0 = CpuSeconds();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        sizes[k] = codec.compress(entries[k], out);
        comp[k].assign(out.begin(), out.begin() + static_cast<long>(sizes[k]));
    }
    const double compressTime = CpuSeconds() - t0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        stored += sizes[k] != 0 ? sizes[k] : entries[k].size;
    }
    // Expand repeatedly until the time is long enough to read.
    bool ok = true;
    std::size_t expanded = 0;
    int rounds = 0;
    t0 = CpuSeconds();
    double expandTime = 0;
    do {
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (sizes[k] == 0) {
                continue; // stored entries need no expansion
            }
            ok = codec.expand(comp[k], sizes[k], entries[k], out) && ok;
            expanded += entries[k].size;
        }
        ++rounds;
        expandTime = CpuSeconds() - t0;
    } while (expandTime < 0.3 && rounds < 50);
    for (std::size_t k = 0; k < entries.size() && ok; ++k) {
        if (sizes[k] != 0) {
            codec.expand(comp[k], sizes[k], entries[k], out);
            ok = std::memcmp(out.data(), entries[k].data, entries[k].size) == 0;
        }
    }
    return {static_cast<double>(stored) / total, total / compressTime / 1e6,
            expanded / expandTime / 1e6, entries.size() / compressTime, ok};
}

} // namespace

int main(int argc, char** argv) {
    const std::string samples = argc > 1 ? argv[1] : "samples";
    struct Kind {
        const char* name;
        Bytes data;
    };
    std::vector<Kind> kinds;
    kinds.push_back({"text", TextCorpus(samples)});
    kinds.push_back({"code", CodeCorpus(samples)});
    kinds.push_back({"pixels", PixelCorpus()});
    kinds.push_back({"records", RecordCorpus()});
    kinds.push_back({"random", RandomCorpus()});

    std::vector<Entry> large;
    std::vector<Entry> small;
    std::vector<Entry> oneK;
    std::vector<Entry> sixtyFourK;
    for (const Kind& k : kinds) {
        std::printf("corpus %-8s %8zu bytes\n", k.name, k.data.size());
        Cut(k.data, large, {256u << 10, 1u << 20, 4u << 20, 512u << 10}, 0, 0, k.data.size());
        Cut(k.data, small, {}, 200, 16 << 10, 1u << 20);
        if (std::strcmp(k.name, "random") != 0) {
            Cut(k.data, oneK, {1024}, 0, 0, 512u << 10);
            Cut(k.data, sixtyFourK, {64u << 10}, 0, 0, 512u << 10);
        }
    }
    std::printf("large set: %zu entries, small set: %zu entries\n\n", large.size(), small.size());

    std::printf("%-15s | %-30s | %-42s\n", "", "large entries (256 KiB - 4 MiB)",
                "small entries (200 B - 16 KiB)");
    std::printf("%-15s | %6s %11s %11s | %6s %11s %11s %11s\n", "codec", "ratio", "comp MB/s",
                "decomp MB/s", "ratio", "comp MB/s", "decomp MB/s", "entries/s");
    for (const Codec& c : Codecs()) {
        if (argc > 2 && std::find_if(argv + 2, argv + argc, [&c](const char* name) {
                            return std::strcmp(name, c.name) == 0;
                        }) == argv + argc) {
            continue;
        }
        const Result l = Measure(c, large);
        const Result s = Measure(c, small);
        std::printf("%-15s | %6.3f %11.1f %11.1f | %6.3f %11.1f %11.1f %11.0f%s\n", c.name, l.ratio,
                    l.compressMBs, l.expandMBs, s.ratio, s.compressMBs, s.expandMBs,
                    s.entriesPerSecond, l.ok && s.ok ? "" : "  ROUND TRIP FAILED");
    }
    const Codec quorrin = Codecs()[1];
    const Result r1 = Measure(quorrin, oneK);
    const Result r64 = Measure(quorrin, sixtyFourK);
    std::printf("\nQuorrin compress, 1 KiB entries: %.1f MB/s, 64 KiB entries: %.1f MB/s, ratio "
                "%.2f\n",
                r1.compressMBs, r64.compressMBs, r1.compressMBs / r64.compressMBs);
    return 0;
}
