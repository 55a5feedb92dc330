// bench_codec: Quorrin beside memcpy, zlib, libdeflate, LZ4 and LZ4HC on the same entries, in
// the same run. Not a test: it prints tables and never fails on a timing.
//
//   bench_codec [--small|--large] [CODEC...]
//   bench_codec --profile KIND small|large compress|expand|partial|lz4|zlib9
//
// With codec names only those codecs are measured besides Quorrin, LZ4 and zlib -9 (which the
// per-kind table needs), e.g. `bench_codec memcpy`. With --profile it runs one Quorrin job once
// on one kind's entries and prints nothing else: a workload for valgrind --tool=callgrind.
//
// Data: the five generated kinds of bench_corpus.h (text, machine code, pixel rows, records,
// incompressible bytes; 6 MiB each), each cut into small entries (200 B to 16 KiB, sizes drawn
// at random) and into large entries (256 KiB to 4 MiB).
//
// Timing: thread CPU time, so that other load on the machine disturbs it less. Every measurement
// is repeated (at least twice and for at least 0.25 s) and the fastest round counts; codecs take
// turns round by round, so that a slow phase of the machine hits all of them alike. Ratios taken
// within one run are what to compare between runs.
#include "bench_corpus.h"
#include "quorrin.h"

#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::Bytes;
using bench::CpuSeconds;
using bench::Entry;

// ---- Codecs --------------------------------------------------------------------------------

struct Expander {
    const char* mode; // "" or e.g. "partial"
    // Expands `comp` into `out` (entry.size bytes); false on failure.
    std::function<bool(const Bytes& comp, const Entry& e, Bytes& out)> run;
};

struct Codec {
    const char* name;
    // Returns the compressed size in `out`, or 0 when the entry is stored as it is.
    std::function<std::size_t(const Entry&, Bytes& out)> compress;
    std::vector<Expander> expanders;
};

std::vector<Codec> Codecs() {
    std::vector<Codec> codecs;
    codecs.push_back({"memcpy",
                      [](const Entry& e, Bytes& out) {
                          std::memcpy(out.data(), e.data, e.size);
                          return e.size;
                      },
                      {{"", [](const Bytes& c, const Entry& e, Bytes& out) {
                            std::memcpy(out.data(), c.data(), e.size);
                            return true;
                        }}}});
    auto quorrinExpand = [](int partial) {
        return [partial](const Bytes& c, const Entry& e, Bytes& out) {
            return DecompressPackage(c.data(), static_cast<int>(c.size()), out.data(),
                                     static_cast<int>(e.size), partial) == 1;
        };
    };
    codecs.push_back({"Quorrin",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          int n = 0;
                          return CompressPackage(e.data, static_cast<unsigned>(e.size), out.data(),
                                                 &n) == 1
                                     ? static_cast<std::size_t>(n)
                                     : 0;
                      },
                      {{"", quorrinExpand(0)}, {"partial", quorrinExpand(1)}}});
    for (int level : {1, 6, 9}) {
        static const char* const names[] = {"", "zlib -1", "", "", "",
                                            "", "zlib -6", "", "", "zlib -9"};
        codecs.push_back(
            {names[level],
             [level](const Entry& e, Bytes& out) -> std::size_t {
                 uLongf n = out.size();
                 return compress2(out.data(), &n, e.data, e.size, level) == Z_OK ? n : 0;
             },
             {{"", [](const Bytes& c, const Entry& e, Bytes& out) {
                   uLongf m = e.size;
                   return uncompress(out.data(), &m, c.data(), c.size()) == Z_OK && m == e.size;
               }}}});
    }
    // libdeflate keeps one compressor and one decompressor, as a caller with many entries does.
    static libdeflate_decompressor* const decompressor = libdeflate_alloc_decompressor();
    for (int level : {6, 12}) {
        static libdeflate_compressor* const compressors[2] = {libdeflate_alloc_compressor(6),
                                                              libdeflate_alloc_compressor(12)};
        libdeflate_compressor* const compressor = compressors[level == 6 ? 0 : 1];
        codecs.push_back({level == 6 ? "libdeflate -6" : "libdeflate -12",
                          [compressor](const Entry& e, Bytes& out) -> std::size_t {
                              return libdeflate_deflate_compress(compressor, e.data, e.size,
                                                                 out.data(), out.size());
                          },
                          {{"", [](const Bytes& c, const Entry& e, Bytes& out) {
                                return libdeflate_deflate_decompress(decompressor, c.data(),
                                                                     c.size(), out.data(), e.size,
                                                                     nullptr) == LIBDEFLATE_SUCCESS;
                            }}}});
    }
    const Expander lz4Expand = {
        "", [](const Bytes& c, const Entry& e, Bytes& out) {
            return LZ4_decompress_safe(reinterpret_cast<const char*>(c.data()),
                                       reinterpret_cast<char*>(out.data()),
                                       static_cast<int>(c.size()),
                                       static_cast<int>(e.size)) == static_cast<int>(e.size);
        }};
    codecs.push_back({"LZ4",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          return static_cast<std::size_t>(LZ4_compress_default(
                              reinterpret_cast<const char*>(e.data),
                              reinterpret_cast<char*>(out.data()), static_cast<int>(e.size),
                              static_cast<int>(out.size())));
                      },
                      {lz4Expand}});
    codecs.push_back({"LZ4HC -9",
                      [](const Entry& e, Bytes& out) -> std::size_t {
                          return static_cast<std::size_t>(LZ4_compress_HC(
                              reinterpret_cast<const char*>(e.data),
                              reinterpret_cast<char*>(out.data()), static_cast<int>(e.size),
                              static_cast<int>(out.size()), 9));
                      },
                      {lz4Expand}});
    return codecs;
}

// ---- Measuring -----------------------------------------------------------------------------

// What one codec did with one set of entries: bytes in and out, and the fastest round's times.
struct Result {
    std::size_t plain = 0;
    std::size_t stored = 0;     // compressed sizes, entries that do not compress counted whole
    double compressSeconds = 0; // fastest round
    std::vector<double> expandSeconds; // per expander, fastest round
    bool ok = true;

    double Ratio() const { return plain != 0 ? static_cast<double>(stored) / plain : 0; }
    double CompressMBs() const { return plain / compressSeconds / 1e6; }
    double ExpandMBs(std::size_t k) const { return plain / expandSeconds[k] / 1e6; }
    void Add(const Result& r) {
        plain += r.plain;
        stored += r.stored;
        compressSeconds += r.compressSeconds;
        expandSeconds.resize(r.expandSeconds.size());
        for (std::size_t k = 0; k < r.expandSeconds.size(); ++k) {
            expandSeconds[k] += r.expandSeconds[k];
        }
        ok = ok && r.ok;
    }
};

// Measures every codec on `entries`, taking turns round by round.
std::vector<Result> MeasureAll(const std::vector<Codec>& codecs,
                               const std::vector<Entry>& entries) {
    std::size_t maxSize = 0;
    std::size_t total = 0;
    for (const Entry& e : entries) {
        maxSize = std::max(maxSize, e.size);
        total += e.size;
    }
    Bytes out(maxSize + maxSize / 8 + 1024);
    std::vector<Result> results(codecs.size());
    std::vector<std::vector<Bytes>> comp(codecs.size(), std::vector<Bytes>(entries.size()));
    // Expansion compares every entry once, outside the timed rounds.
    for (std::size_t c = 0; c < codecs.size(); ++c) {
        Result& r = results[c];
        r.plain = total;
        r.compressSeconds = 1e30;
        r.expandSeconds.assign(codecs[c].expanders.size(), 1e30);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const std::size_t n = codecs[c].compress(entries[k], out);
            comp[c][k].assign(out.begin(), out.begin() + static_cast<long>(n));
            r.stored += n != 0 ? n : entries[k].size;
        }
        for (const Expander& x : codecs[c].expanders) {
            for (std::size_t k = 0; k < entries.size(); ++k) {
                if (comp[c][k].empty()) {
                    continue;
                }
                std::fill(out.begin(), out.begin() + static_cast<long>(entries[k].size), 0);
                r.ok = r.ok && x.run(comp[c][k], entries[k], out) &&
                       std::memcmp(out.data(), entries[k].data, entries[k].size) == 0;
            }
        }
    }
    // Timed rounds: compression, then expansion (an entry that was stored is copied), each codec in
    // turn, until every codec has had at least two rounds and 0.25 s of compression time and of
    // expansion time.
    std::vector<double> compressTotal(codecs.size(), 0);
    std::vector<double> expandTotal(codecs.size(), 0);
    for (int round = 0;; ++round) {
        bool enough = round >= 2;
        for (std::size_t c = 0; c < codecs.size(); ++c) {
            enough = enough && compressTotal[c] >= 0.25 && expandTotal[c] >= 0.25;
        }
        if (enough || round >= 40) {
            break;
        }
        for (std::size_t c = 0; c < codecs.size(); ++c) {
            Result& r = results[c];
            if (round < 2 || compressTotal[c] < 0.25) {
                const double t0 = CpuSeconds();
                for (const Entry& e : entries) {
                    codecs[c].compress(e, out);
                }
                const double t = CpuSeconds() - t0;
                compressTotal[c] += t;
                r.compressSeconds = std::min(r.compressSeconds, t);
            }
            if (round < 2 || expandTotal[c] < 0.25) {
                for (std::size_t x = 0; x < codecs[c].expanders.size(); ++x) {
                    const double t0 = CpuSeconds();
                    for (std::size_t k = 0; k < entries.size(); ++k) {
                        if (!comp[c][k].empty()) {
                            codecs[c].expanders[x].run(comp[c][k], entries[k], out);
                        } else {
                            std::memcpy(out.data(), entries[k].data, entries[k].size);
                        }
                    }
                    const double t = CpuSeconds() - t0;
                    expandTotal[c] += t;
                    r.expandSeconds[x] = std::min(r.expandSeconds[x], t);
                }
            }
        }
    }
    return results;
}

std::size_t IndexOf(const std::vector<Codec>& codecs, const char* name) {
    for (std::size_t k = 0; k < codecs.size(); ++k) {
        if (std::strcmp(codecs[k].name, name) == 0) {
            return k;
        }
    }
    return codecs.size();
}

} // namespace

// One Quorrin job, once, for a profiler.
int Profile(const std::string& kind, const std::string& size, const std::string& job) {
    const Bytes data = bench::KindData(kind);
    const std::vector<Entry> entries =
        size == "small" ? bench::SmallEntries(data) : bench::LargeEntries(data);
    const std::size_t jobs = job == "compress" ? 1 : 0;
    std::size_t produced = 0;
    for (const Entry& e : entries) {
        Bytes comp(e.size);
        int n = 0;
        if (job == "zlib9") { // zlib -9 compression of the same entries
            uLongf packed = compressBound(e.size);
            comp.resize(packed);
            if (compress2(comp.data(), &packed, e.data, e.size, 9) != Z_OK) {
                return 1;
            }
            produced += packed;
            continue;
        }
        if (job == "lz4") { // LZ4 compress and LZ4_decompress_safe of the same entries
            comp.resize(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(e.size))));
            n = LZ4_compress_default(reinterpret_cast<const char*>(e.data),
                                     reinterpret_cast<char*>(comp.data()), static_cast<int>(e.size),
                                     static_cast<int>(comp.size()));
            Bytes out(e.size);
            if (LZ4_decompress_safe(reinterpret_cast<const char*>(comp.data()),
                                    reinterpret_cast<char*>(out.data()), n,
                                    static_cast<int>(e.size)) != static_cast<int>(e.size)) {
                return 1;
            }
            produced += static_cast<std::size_t>(n);
            continue;
        }
        if (CompressPackage(e.data, static_cast<unsigned>(e.size), comp.data(), &n) != 1) {
            continue;
        }
        produced += static_cast<std::size_t>(n);
        if (jobs == 0) {
            Bytes out(e.size);
            if (DecompressPackage(comp.data(), n, out.data(), static_cast<int>(e.size),
                                  job == "partial" ? 1 : 0) != 1) {
                return 1;
            }
        }
    }
    return produced != 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--profile") == 0) {
        return Profile(argv[2], argv[3], argv[4]);
    }
    // --small or --large: only that size of entries.
    bool sizeWanted[2] = {true, true};
    if (argc > 1 &&
        (std::strcmp(argv[1], "--small") == 0 || std::strcmp(argv[1], "--large") == 0)) {
        sizeWanted[argv[1][2] == 's' ? 1 : 0] = false;
        --argc;
        ++argv;
    }
    std::vector<Codec> codecs;
    for (Codec& c : Codecs()) {
        const bool needed = std::strcmp(c.name, "Quorrin") == 0 ||
                            std::strcmp(c.name, "LZ4") == 0 || std::strcmp(c.name, "zlib -9") == 0;
        if (argc > 1 && !needed && std::find_if(argv + 1, argv + argc, [&c](const char* name) {
                                       return std::strcmp(name, c.name) == 0;
                                   }) == argv + argc) {
            continue;
        }
        codecs.push_back(std::move(c));
    }
    const std::size_t quorrin = IndexOf(codecs, "Quorrin");
    const std::size_t lz4 = IndexOf(codecs, "LZ4");
    const std::size_t zlib9 = IndexOf(codecs, "zlib -9");

    const std::vector<bench::Kind> kinds = bench::AllKinds();

    const char* const sizeNames[2] = {"small", "large"};
    // results[size][kind][codec]
    std::vector<std::vector<std::vector<Result>>> results(2);
    for (const bench::Kind& k : kinds) {
        std::fprintf(stderr, "measuring %s...\n", k.name);
        const std::vector<Entry> small = bench::SmallEntries(k.data);
        const std::vector<Entry> large = bench::LargeEntries(k.data);
        results[0].push_back(sizeWanted[0] ? MeasureAll(codecs, small) : std::vector<Result>{});
        results[1].push_back(sizeWanted[1] ? MeasureAll(codecs, large) : std::vector<Result>{});
    }

    std::printf(
        "Data: five generated kinds of 6 MiB each; small entries are 200 B - 16 KiB cut from "
        "the first MiB,\nlarge entries 256 KiB - 4 MiB cut from all of it. MB/s of plain "
        "bytes, thread CPU time, fastest round;\nentries a codec does not shrink are stored "
        "and count as copied.\n\n");
    std::printf("Quorrin against its baselines (x = Quorrin / baseline):\n\n");
    std::printf("%-8s %-5s | %8s %8s %8s %6s %6s | %8s %8s %6s | %7s %7s %7s\n", "kind", "size",
                "exact", "partial", "LZ4", "x", "x part", "compress", "zlib -9", "x", "ratio Q",
                "zlib -9", "LZ4");
    std::printf("%-8s %-5s | %8s %8s %8s %6s %6s | %8s %8s %6s | %7s %7s %7s\n", "", "", "expand",
                "expand", "safe", "", "", "exact", "", "", "", "", "");
    bool ok = true;
    for (int s = 0; s < 2; ++s) {
        if (!sizeWanted[s]) {
            continue;
        }
        Result all[3];
        for (std::size_t k = 0; k <= kinds.size(); ++k) {
            const bool total = k == kinds.size();
            const Result& q = total ? all[0] : results[s][k][quorrin];
            const Result& l = total ? all[1] : results[s][k][lz4];
            const Result& z = total ? all[2] : results[s][k][zlib9];
            std::printf("%-8s %-5s | %8.0f %8.0f %8.0f %6.2f %6.2f | %8.1f %8.1f %6.2f | %7.3f "
                        "%7.3f %7.3f\n",
                        total ? "all" : kinds[k].name, sizeNames[s], q.ExpandMBs(0), q.ExpandMBs(1),
                        l.ExpandMBs(0), q.ExpandMBs(0) / l.ExpandMBs(0),
                        q.ExpandMBs(1) / l.ExpandMBs(0), q.CompressMBs(), z.CompressMBs(),
                        q.CompressMBs() / z.CompressMBs(), q.Ratio(), z.Ratio(), l.Ratio());
            if (!total) {
                all[0].Add(q);
                all[1].Add(l);
                all[2].Add(z);
            }
        }
        std::printf("\n");
    }

    // Every codec on all kinds together (the plot of scripts/bench reads these rows).
    std::printf("All kinds together:\n\n");
    std::printf("%-15s | %-30s | %-30s\n", "", "large entries (256 KiB - 4 MiB)",
                "small entries (200 B - 16 KiB)");
    std::printf("%-15s | %6s %11s %11s | %6s %11s %11s\n", "codec", "ratio", "comp MB/s",
                "decomp MB/s", "ratio", "comp MB/s", "decomp MB/s");
    for (std::size_t c = 0; c < codecs.size(); ++c) {
        Result total[2];
        for (int s = 0; s < 2; ++s) {
            for (std::size_t k = 0; k < kinds.size() && sizeWanted[s]; ++k) {
                total[s].Add(results[s][k][c]);
            }
            ok = ok && total[s].ok;
        }
        std::printf("%-15s", codecs[c].name);
        for (int s : {1, 0}) {
            if (sizeWanted[s]) {
                std::printf(" | %6.3f %11.1f %11.1f", total[s].Ratio(), total[s].CompressMBs(),
                            total[s].ExpandMBs(0));
            } else {
                std::printf(" | %6s %11s %11s", "-", "-", "-");
            }
        }
        std::printf("%s\n", total[0].ok && total[1].ok ? "" : "  ROUND TRIP FAILED");
    }
    return ok ? 0 : 1;
}
