// bench_best: the smaller-output compressor beside the exact one, per kind of data and entry
// size. Not a test: it prints a table and never fails on a timing.
//
//   bench_best [SAMPLES_DIR]
//
// Corpus as in bench_codec: text (license and copyright texts of the system, else the bundled
// samples), machine code (the cmake executable, else the bundled sample), raw 32-bit pixels and
// structured binary records (both generated), and incompressible bytes. Each kind is cut into
// large entries (256 KiB to 4 MiB) and into small entries (200 B to 16 KiB). Sizes count an
// entry that does not compress at its plain size, as a package stores it. Times are the CPU time
// of this thread.
#include "codec_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
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

using EncodeFn = int (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::int32_t*,
                         const quorrin::WorkAllocator&);

struct Result {
    std::size_t input = 0;
    std::size_t stored = 0;
    double seconds = 0;
    bool ok = true;
};

Result Measure(EncodeFn encode, const std::vector<Entry>& entries) {
    Result r;
    Bytes out;
    Bytes back;
    for (const Entry& e : entries) {
        out.resize(e.size - 1);
        std::int32_t size = 0;
        const double t0 = CpuSeconds();
        const int ok = encode(e.data, static_cast<std::uint32_t>(e.size), out.data(), &size,
                              quorrin::DefaultAllocator());
        r.seconds += CpuSeconds() - t0;
        r.input += e.size;
        r.stored += ok == 1 ? static_cast<std::size_t>(size) : e.size;
        if (ok == 1) {
            back.resize(e.size);
            r.ok = r.ok &&
                   quorrin::Decode(out.data(), size, back.data(), static_cast<int>(e.size),
                                   quorrin::DecodeMode::kExact) == quorrin::DecodeResult::kOk &&
                   std::memcmp(back.data(), e.data, e.size) == 0;
        }
    }
    return r;
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

    std::printf("%-8s %-6s %8s %10s %10s %8s %10s %10s\n", "kind", "set", "entries", "exact",
                "best", "smaller", "exact MB/s", "best MB/s");
    for (const Kind& k : kinds) {
        for (int large = 1; large >= 0; --large) {
            std::vector<Entry> entries;
            if (large != 0) {
                Cut(k.data, entries, {256u << 10, 1u << 20, 4u << 20, 512u << 10}, 0, 0,
                    k.data.size());
            } else {
                Cut(k.data, entries, {}, 200, 16 << 10, 1u << 20);
            }
            const Result exact = Measure(quorrin::Encode, entries);
            const Result best = Measure(quorrin::EncodeBest, entries);
            std::printf("%-8s %-6s %8zu %10zu %10zu %7.2f%% %10.1f %10.1f%s\n", k.name,
                        large != 0 ? "large" : "small", entries.size(), exact.stored, best.stored,
                        100.0 * (1.0 - static_cast<double>(best.stored) / exact.stored),
                        exact.input / exact.seconds / 1e6, best.input / best.seconds / 1e6,
                        exact.ok && best.ok ? "" : "  ROUND TRIP FAILED");
            std::fflush(stdout);
        }
    }
    return 0;
}
