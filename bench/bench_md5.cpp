// bench_md5: throughput of Nimbrel's GetMD5 beside OpenSSL's MD5 on the same buffers.
//
//   bench_md5 [--quick]
//
// For each buffer size both functions hash the same bytes over and over, taking turns in short
// timed runs measured in the thread's CPU time; each figure is the best run (the least disturbed by
// other work on the machine), in MB/s (10^6 bytes per second). OpenSSL's one-call MD5() is the
// baseline: like GetMD5 it sets up, pads, finishes and wipes its context on every call, so small
// buffers compare per-call cost too.
#include "nimbrel.h"

#include <openssl/md5.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

volatile unsigned char g_sink;

// CPU time of this thread in seconds: time spent waiting for a core while other work runs on the
// machine does not count, which keeps the figures usable on a busy machine.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Throughput of one timed run of `calls` calls, in MB/s.
template <typename Fn>
double RunMBps(Fn hash, const unsigned char* data, std::size_t size, std::size_t calls) {
    unsigned char digest[16];
    const double start = ThreadSeconds();
    for (std::size_t i = 0; i < calls; ++i) {
        hash(data, size, digest);
    }
    const double seconds = ThreadSeconds() - start;
    g_sink = static_cast<unsigned char>(g_sink + digest[0]);
    return static_cast<double>(calls) * static_cast<double>(size) / seconds / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    // Each timed run hashes about 8 MiB; the two functions take turns run by run, so that load
    // from elsewhere on the machine hits both alike, and each keeps its best run.
    const std::size_t run_bytes = std::size_t{8} << 20;
    const int rounds = quick ? 10 : 40;

    const std::size_t kSizes[] = {64, 1024, 64 * 1024, 16 * 1024 * 1024};
    std::vector<unsigned char> buffer(kSizes[3]);
    std::uint32_t x = 2463534242u;
    for (auto& b : buffer) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }

    // Both must agree before their speeds mean anything.
    for (std::size_t size : kSizes) {
        unsigned char ours[16];
        unsigned char theirs[16];
        GetMD5(buffer.data(), static_cast<int>(size), ours);
        MD5(buffer.data(), size, theirs);
        if (std::memcmp(ours, theirs, 16) != 0) {
            std::fprintf(stderr, "bench_md5: digests differ at %zu bytes\n", size);
            return 1;
        }
    }

    auto nimbrel = [](const unsigned char* p, std::size_t n, unsigned char* d) {
        GetMD5(p, static_cast<int>(n), d);
    };
    auto openssl = [](const unsigned char* p, std::size_t n, unsigned char* d) { MD5(p, n, d); };

    std::printf("%-10s %14s %14s %8s\n", "size", "GetMD5 MB/s", "OpenSSL MB/s", "ratio");
    for (std::size_t size : kSizes) {
        const std::size_t calls = run_bytes / size < 1 ? 1 : run_bytes / size;
        double ours = 0.0;
        double theirs = 0.0;
        for (int round = 0; round < rounds; ++round) {
            const double o = RunMBps(nimbrel, buffer.data(), size, calls);
            const double t = RunMBps(openssl, buffer.data(), size, calls);
            ours = o > ours ? o : ours;
            theirs = t > theirs ? t : theirs;
        }
        char label[32];
        if (size >= (std::size_t{1} << 20)) {
            std::snprintf(label, sizeof label, "%zu MiB", size >> 20);
        } else if (size >= 1024) {
            std::snprintf(label, sizeof label, "%zu KiB", size >> 10);
        } else {
            std::snprintf(label, sizeof label, "%zu B", size);
        }
        std::printf("%-10s %14.1f %14.1f %8.3f\n", label, ours, theirs, ours / theirs);
    }
    return 0;
}
