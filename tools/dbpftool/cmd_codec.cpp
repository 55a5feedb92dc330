// dbpftool compress / decompress / info / demo: the package entry codec from the command line.
//
//   compress IN OUT                 IN (14 to 16777215 bytes) into one compressed entry OUT
//   decompress [--partial N] IN OUT the entry IN expanded into OUT (exact mode; with --partial,
//                                   only the first N bytes, from a possibly truncated entry)
//   info IN                         header fields and the commands of the entry IN
//   demo [DIR]                      every file of DIR compressed, expanded and compared
//
// Output files are written only when the whole job succeeded (temporary file, then rename).
#include "commands.h"
#include "file_io.h"

#include "quorrin.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace dbpftool {

namespace {

constexpr std::uint32_t kMinInput = 14;
constexpr std::uint32_t kMaxInput = 0xFFFFFF;
constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kProgressFrom = 4u << 20; // inputs from 4 MiB on get a note on a terminal

using Bytes = std::vector<std::uint8_t>;

struct Header {
    std::uint32_t compressedSize; // as stored (the decoder reads it as a signed value)
    std::uint32_t uncompressedSize;
    bool signatureOk;
};

Header ReadHeader(const Bytes& entry) {
    Header h;
    h.compressedSize =
        static_cast<std::uint32_t>(entry[0]) | (static_cast<std::uint32_t>(entry[1]) << 8) |
        (static_cast<std::uint32_t>(entry[2]) << 16) | (static_cast<std::uint32_t>(entry[3]) << 24);
    h.uncompressedSize = (static_cast<std::uint32_t>(entry[6]) << 16) |
                         (static_cast<std::uint32_t>(entry[7]) << 8) | entry[8];
    h.signatureOk = entry[4] == 0x10 && entry[5] == 0xFB;
    return h;
}

// Why an entry of `fileSize` bytes is refused before any command is decoded, or "" if it is not.
std::string HeaderProblem(const Bytes& entry, bool partial) {
    if (entry.size() < kHeaderSize + 1) {
        return "too short for a compressed entry (" + std::to_string(entry.size()) + " bytes)";
    }
    const Header h = ReadHeader(entry);
    if (!h.signatureOk) {
        char buf[96];
        std::snprintf(buf, sizeof buf,
                      "not a compressed entry (signature %02X %02X, expected 10 FB)", entry[4],
                      entry[5]);
        return buf;
    }
    if (h.compressedSize > 0x7FFFFFFFu) {
        return "header holds a negative compressed size";
    }
    if (partial ? h.compressedSize < entry.size() : h.compressedSize != entry.size()) {
        return "header says " + std::to_string(h.compressedSize) +
               " compressed bytes, the file has " + std::to_string(entry.size());
    }
    return "";
}

bool ReadInput(const std::string& path, Bytes& data, std::uint64_t maxSize) {
    std::string error;
    if (!ReadWholeFile(path, data, error, maxSize)) {
        Fail(path, error);
        return false;
    }
    return true;
}

bool WriteOutput(const std::string& path, const Bytes& data) {
    std::string error;
    if (!WriteFileAtomically(path, data.data(), data.size(), error)) {
        Fail(path, error);
        return false;
    }
    return true;
}

int Usage(const char* text) {
    std::fprintf(stderr, "usage: dbpftool %s\n", text);
    return 2;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int RunCompress(const Args& args) {
    if (args.size() != 2) {
        return Usage("compress IN OUT");
    }
    Bytes input;
    if (!ReadInput(args[0], input, kMaxInput + 1ull)) {
        return 1;
    }
    if (input.size() < kMinInput || input.size() > kMaxInput) {
        return Fail(args[0], "an entry holds 14 to 16777215 bytes, the file has " +
                                 std::to_string(input.size()));
    }
    const bool progress = input.size() >= kProgressFrom && StderrIsTerminal();
    if (progress) {
        std::fprintf(stderr, "compressing %.1f MiB...", input.size() / 1048576.0);
        std::fflush(stderr);
    }
    Bytes entry(input.size() - 1);
    int size = 0;
    const int ok =
        CompressPackage(input.data(), static_cast<unsigned>(input.size()), entry.data(), &size);
    if (progress) {
        std::fprintf(stderr, " done\n");
    }
    if (ok != 1) {
        return Fail(args[0], "does not compress (the entry would not be shorter than the input)");
    }
    entry.resize(static_cast<std::size_t>(size));
    return WriteOutput(args[1], entry) ? 0 : 1;
}

int RunDecompress(const Args& paths, const std::optional<std::string>& count) {
    const bool partial = count.has_value();
    std::uint64_t wanted = 0;
    if (partial) {
        const std::string& n = *count;
        char* end = nullptr;
        wanted = std::strtoull(n.c_str(), &end, 10);
        if (n.empty() || *end != '\0' || n[0] == '-' || wanted > kMaxInput) {
            std::fprintf(stderr, "dbpftool: --partial takes a byte count from 0 to 16777215\n");
            return 2;
        }
    }
    Bytes entry;
    if (!ReadInput(paths[0], entry, 0x7FFFFFFFull)) {
        return 1;
    }
    const std::string problem = HeaderProblem(entry, partial);
    if (!problem.empty()) {
        return Fail(paths[0], problem);
    }
    const Header h = ReadHeader(entry);
    if (partial && wanted > h.uncompressedSize) {
        return Fail(paths[0], "holds only " + std::to_string(h.uncompressedSize) + " bytes, " +
                                  std::to_string(wanted) + " wanted");
    }
    const std::size_t outSize = partial ? static_cast<std::size_t>(wanted) : h.uncompressedSize;
    const bool progress = outSize >= kProgressFrom && StderrIsTerminal();
    if (progress) {
        std::fprintf(stderr, "expanding %.1f MiB...", outSize / 1048576.0);
        std::fflush(stderr);
    }
    Bytes out(outSize);
    const int ok = DecompressPackage(entry.data(), static_cast<int>(entry.size()), out.data(),
                                     static_cast<int>(outSize), partial ? 1 : 0);
    if (progress) {
        std::fprintf(stderr, " done\n");
    }
    if (ok != 1) {
        return Fail(paths[0], partial ? "malformed or truncated before the wanted bytes"
                                      : "malformed command stream");
    }
    return WriteOutput(paths[1], out) ? 0 : 1;
}

int RunInfo(const Args& args) {
    if (args.size() != 1) {
        return Usage("info IN");
    }
    Bytes entry;
    if (!ReadInput(args[0], entry, 0x7FFFFFFFull)) {
        return 1;
    }
    if (entry.size() < kHeaderSize) {
        return Fail(args[0], "too short for a compressed entry (" + std::to_string(entry.size()) +
                                 " bytes)");
    }
    const Header h = ReadHeader(entry);
    std::printf("file size:          %zu\n", entry.size());
    std::printf("compressed size:    %" PRIu32 "%s\n", h.compressedSize,
                h.compressedSize == entry.size() ? "" : " (differs from the file size)");
    std::printf("uncompressed size:  %" PRIu32 "\n", h.uncompressedSize);
    std::printf("signature:          %02X %02X (%s)\n", entry[4], entry[5],
                h.signatureOk ? "ok" : "expected 10 FB");

    // Walk the commands without trusting them: every length is checked against what is left.
    struct Kind {
        const char* name;
        std::uint64_t count = 0;
    } kinds[5] = {{"short copy"}, {"medium copy"}, {"long copy"}, {"literal run"}, {"end"}};
    std::uint64_t literals = 0;
    std::uint64_t copied = 0;
    std::size_t p = kHeaderSize;
    const std::size_t end = entry.size();
    std::string stop;
    while (p < end) {
        const unsigned b0 = entry[p];
        const std::size_t extra = b0 < 0x80 ? 1 : b0 < 0xC0 ? 2 : b0 < 0xE0 ? 3 : 0;
        if (extra > end - p - 1) {
            stop = "truncated command at offset " + std::to_string(p);
            break;
        }
        const std::uint8_t* c = &entry[p];
        std::size_t lit;
        std::size_t len = 0;
        int kind;
        if (b0 < 0x80) {
            kind = 0;
            lit = b0 & 3;
            len = ((b0 >> 2) & 7) + 3;
        } else if (b0 < 0xC0) {
            kind = 1;
            lit = c[1] >> 6;
            len = (b0 & 0x3F) + 4;
        } else if (b0 < 0xE0) {
            kind = 2;
            lit = b0 & 3;
            len = ((b0 & 0x0C) << 6) + c[3] + 5;
        } else if (b0 < 0xFC) {
            kind = 3;
            lit = (b0 - 0xDF) * 4;
        } else {
            kind = 4;
            lit = b0 - 0xFC;
        }
        p += 1 + extra;
        if (lit > end - p) {
            stop = "literals run past the end of the file at offset " + std::to_string(p);
            break;
        }
        p += lit;
        ++kinds[kind].count;
        literals += lit;
        copied += len;
    }
    std::printf("commands:\n");
    for (const Kind& k : kinds) {
        std::printf("  %-12s %" PRIu64 "\n", k.name, k.count);
    }
    std::printf("literal bytes:      %" PRIu64 "\n", literals);
    std::printf("copied bytes:       %" PRIu64 "\n", copied);
    if (!stop.empty()) {
        std::printf("stream:             %s\n", stop.c_str());
    }
    bool decodes = false;
    if (HeaderProblem(entry, false).empty()) {
        Bytes out(h.uncompressedSize);
        decodes = DecompressPackage(entry.data(), static_cast<int>(entry.size()), out.data(),
                                    static_cast<int>(out.size()), 0) == 1;
    }
    std::printf("decodes exactly:    %s\n", decodes ? "yes" : "no");
    return 0;
}

int RunDemo(const Args& args) {
    if (args.size() > 1) {
        return Usage("demo [DIR]");
    }
    const std::string dir = args.empty() ? "samples" : args[0];
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
        if (item.is_regular_file()) {
            files.push_back(item.path());
        }
    }
    if (ec) {
        return Fail(dir, ec.message());
    }
    if (files.empty()) {
        return Fail(dir, "no sample files");
    }
    std::sort(files.begin(), files.end());

    std::printf("%-24s %10s %10s %7s %12s %12s\n", "file", "bytes", "entry", "ratio", "comp MB/s",
                "decomp MB/s");
    std::uint64_t totalIn = 0;
    std::uint64_t totalOut = 0;
    double compressTime = 0;
    double expandTime = 0;
    std::uint64_t expanded = 0;
    int failures = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        Bytes input;
        if (!ReadInput(path.string(), input, kMaxInput + 1ull)) {
            ++failures;
            continue;
        }
        if (input.size() < kMinInput || input.size() > kMaxInput) {
            std::printf("%-24s %10zu  (skipped: an entry holds 14 to 16777215 bytes)\n",
                        name.c_str(), input.size());
            continue;
        }
        // Repeat each step until it has run long enough to time, at least once.
        Bytes entry(input.size() - 1);
        int size = 0;
        int ok = 0;
        int rounds = 0;
        const auto c0 = std::chrono::steady_clock::now();
        auto c1 = c0;
        do {
            ok = CompressPackage(input.data(), static_cast<unsigned>(input.size()), entry.data(),
                                 &size);
            ++rounds;
            c1 = std::chrono::steady_clock::now();
        } while (Seconds(c1 - c0) < 0.05);
        const double cSec = Seconds(c1 - c0) / rounds;
        totalIn += input.size();
        compressTime += cSec;
        if (ok != 1) {
            // Dense data is stored as it is by the caller; that is not an error.
            totalOut += input.size();
            std::printf("%-24s %10zu %10s %7s %12.1f %12s\n", name.c_str(), input.size(), "stored",
                        "1.000", input.size() / cSec / 1e6, "-");
            continue;
        }
        entry.resize(static_cast<std::size_t>(size));
        Bytes out(input.size());
        int back = 0;
        rounds = 0;
        const auto d0 = std::chrono::steady_clock::now();
        auto d1 = d0;
        do {
            back =
                DecompressPackage(entry.data(), size, out.data(), static_cast<int>(out.size()), 0);
            ++rounds;
            d1 = std::chrono::steady_clock::now();
        } while (Seconds(d1 - d0) < 0.05);
        const double dSec = Seconds(d1 - d0) / rounds;
        if (back != 1 || out != input) {
            std::printf("%-24s %10zu %10d  MISMATCH\n", name.c_str(), input.size(), size);
            Fail(path.string(), "the expanded entry differs from the input");
            ++failures;
            continue;
        }
        totalOut += static_cast<std::uint64_t>(size);
        expandTime += dSec;
        expanded += input.size();
        std::printf("%-24s %10zu %10d %7.3f %12.1f %12.1f\n", name.c_str(), input.size(), size,
                    static_cast<double>(size) / input.size(), input.size() / cSec / 1e6,
                    input.size() / dSec / 1e6);
    }
    if (totalIn > 0) {
        std::printf("%-24s %10" PRIu64 " %10" PRIu64 " %7.3f %12.1f %12.1f\n", "total", totalIn,
                    totalOut, static_cast<double>(totalOut) / totalIn,
                    compressTime > 0 ? totalIn / compressTime / 1e6 : 0.0,
                    expandTime > 0 ? expanded / expandTime / 1e6 : 0.0);
    }
    if (failures != 0) {
        std::printf("%d file(s) failed\n", failures);
        return 1;
    }
    std::printf("all entries expanded back to their input\n");
    return 0;
}

} // namespace dbpftool
