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

#include "codec_internal.h"
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

using quorrin::kMaxInput;
using quorrin::kMinInput;
constexpr std::size_t kProgressFrom = 4u << 20; // inputs from 4 MiB on get a note on a terminal

using Bytes = std::vector<std::uint8_t>;

// The header of `entry`, or the reason why it is not one.
bool ReadHeader(const Bytes& entry, quorrin::EntryHeader& header, std::string& problem) {
    switch (quorrin::ParseHeader(entry.data(), static_cast<std::ptrdiff_t>(entry.size()), header)) {
    case quorrin::HeaderCheck::kOk:
        return true;
    case quorrin::HeaderCheck::kShortSource:
        problem = quorrin::DescribeDecodeResult(quorrin::DecodeResult::kShortSource) +
                  std::string(" (") + std::to_string(entry.size()) + " bytes)";
        return false;
    case quorrin::HeaderCheck::kBadSignature: {
        char buf[96];
        std::snprintf(buf, sizeof buf, " (%02X %02X)", entry[4], entry[5]);
        problem =
            quorrin::DescribeDecodeResult(quorrin::DecodeResult::kBadSignature) + std::string(buf);
        return false;
    }
    }
    return false;
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

int CompressBest(const unsigned char* source, unsigned int sourceLength, unsigned char* destination,
                 int* compressedLength) {
    if (source == nullptr || destination == nullptr || sourceLength < kMinInput ||
        sourceLength > kMaxInput) {
        return 0;
    }
    std::int32_t size = 0;
    const int ok =
        quorrin::EncodeBest(source, sourceLength, destination, &size, quorrin::DefaultAllocator());
    if (compressedLength != nullptr) {
        *compressedLength = ok == 1 ? size : 0;
    }
    return ok;
}

int RunCompress(const Args& args, bool best) {
    if (args.size() != 2) {
        return Usage("compress [--best] IN OUT");
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
    const int ok = (best ? CompressBest : CompressPackage)(
        input.data(), static_cast<unsigned>(input.size()), entry.data(), &size);
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
    quorrin::EntryHeader h{};
    std::string problem;
    if (entry.size() > 0x7FFFFFFFu || !ReadHeader(entry, h, problem)) {
        return Fail(paths[0], problem.empty() ? "too large for a compressed entry" : problem);
    }
    const std::size_t outSize =
        partial ? static_cast<std::size_t>(wanted) : static_cast<std::size_t>(h.uncompressedSize);
    const bool progress = outSize >= kProgressFrom && StderrIsTerminal();
    if (progress) {
        std::fprintf(stderr, "expanding %.1f MiB...", outSize / 1048576.0);
        std::fflush(stderr);
    }
    Bytes out(outSize);
    const quorrin::DecodeResult result = quorrin::Decode(
        entry.data(), static_cast<int>(entry.size()), out.data(), static_cast<int>(outSize),
        partial ? quorrin::DecodeMode::kPartial : quorrin::DecodeMode::kExact);
    if (progress) {
        std::fprintf(stderr, " done\n");
    }
    if (result != quorrin::DecodeResult::kOk) {
        return Fail(paths[0], quorrin::DescribeDecodeResult(result));
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
    quorrin::EntryHeader h{};
    std::string problem;
    if (entry.size() > 0x7FFFFFFFu) {
        return Fail(args[0], "too large for a compressed entry");
    }
    if (!ReadHeader(entry, h, problem) && entry.size() < quorrin::kMinEntrySize) {
        return Fail(args[0], problem);
    }
    std::printf("file size:          %zu\n", entry.size());
    if (!problem.empty()) {
        std::printf("header:             %s\n", problem.c_str());
        std::printf("decodes exactly:    no\n");
        return 0;
    }
    std::printf("compressed size:    %" PRId32 "%s\n", h.compressedSize,
                static_cast<std::uint64_t>(h.compressedSize) == entry.size()
                    ? ""
                    : " (differs from the file size)");
    std::printf("uncompressed size:  %" PRId32 "\n", h.uncompressedSize);

    // Walk the commands without trusting them: every length is checked against what is left.
    struct Kind {
        const char* name;
        std::uint64_t count = 0;
    } kinds[5] = {{"short copy"}, {"medium copy"}, {"long copy"}, {"literal run"}, {"end"}};
    std::uint64_t literals = 0;
    std::uint64_t copied = 0;
    std::size_t p = quorrin::kHeaderSize;
    const std::size_t end = entry.size();
    std::string stop;
    while (p < end) {
        if (static_cast<std::size_t>(quorrin::CommandSize(entry[p])) > end - p) {
            stop = "truncated command at offset " + std::to_string(p);
            break;
        }
        const quorrin::Command c = quorrin::DecodeCommand(&entry[p]);
        p += c.size;
        if (c.literals > end - p) {
            stop = "literals run past the end of the file at offset " + std::to_string(p);
            break;
        }
        p += c.literals;
        ++kinds[static_cast<int>(c.kind)].count;
        literals += c.literals;
        copied += c.length;
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
    // The exact decode needs an output of the header's size; a header that disagrees with the
    // file is reported without allocating what it claims.
    quorrin::DecodeResult result = quorrin::DecodeResult::kSizeMismatch;
    if (static_cast<std::uint64_t>(h.compressedSize) == entry.size()) {
        Bytes out(static_cast<std::size_t>(h.uncompressedSize));
        result = quorrin::Decode(entry.data(), static_cast<int>(entry.size()), out.data(),
                                 static_cast<int>(out.size()), quorrin::DecodeMode::kExact);
    }
    if (result == quorrin::DecodeResult::kOk) {
        std::printf("decodes exactly:    yes\n");
    } else {
        std::printf("decodes exactly:    no (%s)\n", quorrin::DescribeDecodeResult(result));
    }
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
