// bench_tokens: throughput of Talmoor's CParser::ParseFile beside a plain getc loop.
//
//   bench_tokens [--quick] [DIR]
//
// Writes a 64 MiB text file (words, CR LF line ends, now and then a registered keyword) into
// DIR (default: the current directory), then scans it with ParseFile holding 1, 8 and 64
// registered tokens, and reads it with a getc loop that only sums the bytes: the anchor of
// byte-at-a-time reading through the C runtime's buffered stream. The runs take turns and each
// figure is the best of its runs (the least disturbed by other work on the machine), in MB/s
// (10^6 bytes of file per second). The file is removed at the end.
#include <talmoor.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

long g_completions = 0;
void Count(CStdioFile*) {
    ++g_completions;
}

volatile unsigned g_sink;

// Keyword i: "<kNN>" with two letters, so that no keyword contains another.
std::string Keyword(int i) {
    std::string k = "<k";
    k += static_cast<char>('a' + i / 26);
    k += static_cast<char>('a' + i % 26);
    k += '>';
    return k;
}

bool WriteTextFile(const std::string& path, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    static const char* const kWords[] = {"package",    "entry", "index",    "the",  "resource",
                                         "of",         "group", "instance", "type", "value",
                                         "compressed", "a",     "and",      "file", "table"};
    std::uint32_t x = 2463534242u;
    auto next = [&x]() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    std::string line;
    std::size_t written = 0;
    while (written < size) {
        line.clear();
        for (int w = 0; w < 10; ++w) {
            std::uint32_t r = next();
            line += r % 16 == 0 ? Keyword(static_cast<int>(r >> 8) % 64)
                                : std::string(kWords[(r >> 8) % 15]);
            line += ' ';
        }
        line += "\r\n";
        std::size_t n = line.size() < size - written ? line.size() : size - written;
        if (std::fwrite(line.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
        written += n;
    }
    return std::fclose(f) == 0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double GetcMBps(const std::string& path, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return 0;
    const auto start = std::chrono::steady_clock::now();
    unsigned sum = 0;
    int c;
    while ((c = std::getc(f)) != EOF)
        sum += static_cast<unsigned>(c);
    const double s = Seconds(start);
    std::fclose(f);
    g_sink = g_sink + sum;
    return static_cast<double>(size) / s / 1e6;
}

double ParseMBps(CParser& parser, const std::string& path, std::size_t size) {
    const auto start = std::chrono::steady_clock::now();
    if (parser.ParseFile(path.c_str()) != 1)
        return 0;
    return static_cast<double>(size) / Seconds(start) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string dir = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            dir = argv[i];
    }
    const std::size_t size = std::size_t{64} << 20;
    const std::string path = dir + "/bench_tokens_input.txt";
    if (!WriteTextFile(path, size)) {
        std::fprintf(stderr, "bench_tokens: cannot write %s\n", path.c_str());
        return 1;
    }

    const int kCounts[] = {1, 8, 64};
    CParser parsers[3];
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < kCounts[p]; ++i)
            parsers[p].Add(i + 1, Keyword(i).c_str(), Count);
    }

    const int rounds = quick ? 1 : 5;
    double best_getc = 0;
    double best[3] = {0, 0, 0};
    long found[3] = {0, 0, 0};
    for (int r = 0; r < rounds; ++r) {
        double g = GetcMBps(path, size);
        best_getc = g > best_getc ? g : best_getc;
        for (int p = 0; p < 3; ++p) {
            g_completions = 0;
            double m = ParseMBps(parsers[p], path, size);
            best[p] = m > best[p] ? m : best[p];
            found[p] = g_completions;
        }
    }
    std::remove(path.c_str());

    std::printf("bench_tokens: 64 MiB text file, best of %d run(s), MB/s\n", rounds);
    std::printf("%-28s %10s %10s %12s\n", "reader", "MB/s", "vs getc", "completions");
    std::printf("%-28s %10.1f %10.2f %12s\n", "getc loop (anchor)", best_getc, 1.0, "-");
    for (int p = 0; p < 3; ++p) {
        char name[64];
        std::snprintf(name, sizeof name, "ParseFile, %d token%s", kCounts[p],
                      kCounts[p] == 1 ? "" : "s");
        std::printf("%-28s %10.1f %10.2f %12ld\n", name, best[p],
                    best_getc > 0 ? best[p] / best_getc : 0.0, found[p]);
    }
    return 0;
}
