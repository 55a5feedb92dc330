// bench_best: the smaller-output compressor beside the exact one, per kind of data and entry
// size. Not a test: it prints a table and never fails on a timing.
//
//   bench_best
//
// Data: the corpus of bench_codec (bench_corpus.h): five generated kinds of 6 MiB each (text,
// machine code, pixel rows, records, incompressible bytes), each cut into the same large entries
// (256 KiB to 4 MiB) and small entries (200 B to 16 KiB) that bench_codec measures. Sizes count
// an entry that does not compress at its plain size, as a package stores it. Times are the CPU
// time of this thread.
#include "bench_corpus.h"
#include "codec_internal.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using bench::Bytes;
using bench::CpuSeconds;
using bench::Entry;

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

int main() {
    const std::vector<bench::Kind> kinds = bench::AllKinds();

    std::printf("%-8s %-6s %8s %10s %10s %8s %10s %10s\n", "kind", "set", "entries", "exact",
                "best", "smaller", "exact MB/s", "best MB/s");
    bool failed = false;
    for (const bench::Kind& k : kinds) {
        for (int large = 1; large >= 0; --large) {
            const std::vector<Entry> entries =
                large != 0 ? bench::LargeEntries(k.data) : bench::SmallEntries(k.data);
            const Result exact = Measure(quorrin::Encode, entries);
            const Result best = Measure(quorrin::EncodeBest, entries);
            std::printf("%-8s %-6s %8zu %10zu %10zu %7.2f%% %10.1f %10.1f%s\n", k.name,
                        large != 0 ? "large" : "small", entries.size(), exact.stored, best.stored,
                        100.0 * (1.0 - static_cast<double>(best.stored) / exact.stored),
                        exact.input / exact.seconds / 1e6, best.input / best.seconds / 1e6,
                        exact.ok && best.ok ? "" : "  ROUND TRIP FAILED");
            std::fflush(stdout);
            failed = failed || !exact.ok || !best.ok;
        }
    }
    return failed ? 1 : 0; // a wrong round trip is a fault, not a figure
}
