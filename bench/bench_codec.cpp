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
// Data: five kinds, each generated here (deterministic, 6 MiB): English-like text over a
// vocabulary of real words, x86-64-like machine code, pixel rows (gradients, shapes, noise),
// fixed-size binary records with varying fields, and incompressible bytes. Nothing in them is
// shaped after the codec. Each kind is cut into small entries (200 B to 16 KiB, sizes drawn at
// random) and into large entries (256 KiB to 4 MiB).
//
// Timing: thread CPU time, so that other load on the machine disturbs it less. Every measurement
// is repeated (at least twice and for at least 0.25 s) and the fastest round counts; codecs take
// turns round by round, so that a slow phase of the machine hits all of them alike. Ratios taken
// within one run are what to compare between runs.
#include "quorrin.h"

#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
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

constexpr std::size_t kKindSize = 6u << 20;

// ---- Data ----------------------------------------------------------------------------------

// Text: sentences over a vocabulary of common English words and longer, rarer words made of
// real stems and endings, drawn with Zipf-like frequencies; capitals, commas, numbers, lines
// wrapped at 72 columns, paragraphs.
Bytes TextData() {
    static const char* const kCommon[] = {
        "the",    "of",     "and",     "to",       "a",         "in",     "is",     "it",
        "that",   "was",    "for",     "on",       "are",       "with",   "as",     "he",
        "be",     "at",     "by",      "this",     "had",       "from",   "or",     "but",
        "not",    "what",   "all",     "were",     "we",        "when",   "your",   "can",
        "said",   "there",  "use",     "an",       "each",      "which",  "she",    "do",
        "how",    "their",  "if",      "will",     "up",        "other",  "about",  "out",
        "many",   "then",   "them",    "these",    "so",        "some",   "her",    "would",
        "make",   "like",   "him",     "into",     "time",      "has",    "look",   "two",
        "more",   "write",  "go",      "see",      "number",    "no",     "way",    "could",
        "people", "my",     "than",    "first",    "water",     "been",   "call",   "who",
        "oil",    "its",    "now",     "find",     "long",      "down",   "day",    "did",
        "get",    "come",   "made",    "may",      "part",      "over",   "new",    "sound",
        "take",   "only",   "little",  "work",     "know",      "place",  "year",   "live",
        "me",     "back",   "give",    "most",     "very",      "after",  "thing",  "our",
        "just",   "name",   "good",    "sentence", "man",       "think",  "say",    "great",
        "where",  "help",   "through", "much",     "before",    "line",   "right",  "too",
        "mean",   "old",    "any",     "same",     "tell",      "boy",    "follow", "came",
        "want",   "show",   "also",    "around",   "form",      "three",  "small",  "set",
        "put",    "end",    "does",    "another",  "well",      "large",  "must",   "big",
        "even",   "such",   "because", "turn",     "here",      "why",    "ask",    "went",
        "men",    "read",   "need",    "land",     "different", "home",   "us",     "move",
        "try",    "kind",   "hand",    "picture",  "again",     "change", "off",    "play",
        "spell",  "air",    "away",    "animal",   "house",     "point",  "page",   "letter",
        "mother", "answer", "found",   "study",    "still",     "learn",  "should", "world"};
    static const char* const kStems[] = {
        "account", "build",   "charge",  "design",  "direct",    "engine",  "figure",  "govern",
        "harbor",  "inform",  "judge",   "govern",  "measure",   "nation",  "observe", "patient",
        "quarter", "record",  "season",  "station", "transport", "value",   "weather", "yield",
        "compute", "develop", "examine", "install", "license",   "package", "process", "require",
        "settle",  "store",   "travel",  "vision",  "wonder",    "argue",   "balance", "consider"};
    static const char* const kEndings[] = {"",    "s",    "ed", "ing", "er",    "ment",
                                           "ion", "able", "ly", "ers", "ments", "ive"};
    std::vector<std::string> vocab(std::begin(kCommon), std::end(kCommon));
    for (const char* stem : kStems) {
        for (const char* ending : kEndings) {
            vocab.push_back(std::string(stem) + ending);
        }
    }
    std::mt19937 rng(1);
    // Zipf-like: rank r with weight 1 / (r + 1).
    std::vector<double> weights(vocab.size());
    for (std::size_t r = 0; r < weights.size(); ++r) {
        weights[r] = 1.0 / static_cast<double>(r + 1);
    }
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    Bytes out;
    out.reserve(kKindSize + 200);
    std::size_t column = 0;
    auto put = [&](const std::string& word, char after) {
        if (column + word.size() + 1 > 72) {
            out.push_back('\n');
            column = 0;
        }
        out.insert(out.end(), word.begin(), word.end());
        column += word.size();
        if (after != 0) {
            out.push_back(static_cast<std::uint8_t>(after));
            ++column;
        }
    };
    while (out.size() < kKindSize) {
        const int sentence = 4 + static_cast<int>(rng() % 18);
        for (int k = 0; k < sentence; ++k) {
            std::string word = rng() % 40 == 0 ? std::to_string(rng() % 2000) : vocab[pick(rng)];
            if (k == 0) {
                word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
            }
            const bool last = k == sentence - 1;
            if (last) {
                put(word + (rng() % 8 == 0 ? "?" : "."), ' ');
            } else {
                put(word, 0);
                put(rng() % 9 == 0 ? "," : "", ' ');
            }
        }
        if (rng() % 6 == 0) {
            out.push_back('\n');
            out.push_back('\n');
            column = 0;
        }
    }
    out.resize(kKindSize);
    return out;
}

// Machine code: functions of x86-64 instructions with the usual encodings and operand mix:
// prologues and epilogues, register moves, stack-slot loads and stores with small
// displacements, immediates, calls with rel32 targets among a set of functions, short and near
// branches, int3 padding to 16-byte boundaries.
Bytes CodeData() {
    std::mt19937 rng(2);
    Bytes out;
    out.reserve(kKindSize + 64);
    auto put = [&out](std::initializer_list<int> bytes) {
        for (int b : bytes) {
            out.push_back(static_cast<std::uint8_t>(b));
        }
    };
    auto put32 = [&out](std::uint32_t v) {
        for (int k = 0; k < 4; ++k) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        }
    };
    std::vector<std::uint32_t> functions;
    const std::uint32_t constants[] = {0, 1, 2, 4, 8, 0x10, 0x20, 0xFF, 0x100, 0x1000, 0xFFFFFFFF};
    auto reg = [&rng] { return static_cast<int>(rng() % 8); };
    auto slot = [&rng] { return static_cast<int>(0x100 - 8 * (1 + rng() % 12)); };
    while (out.size() < kKindSize) {
        functions.push_back(static_cast<std::uint32_t>(out.size()));
        put({0x55, 0x48, 0x89, 0xE5}); // push rbp; mov rbp, rsp
        if (rng() % 2) {
            put({0x48, 0x83, 0xEC, 8 * (2 + static_cast<int>(rng() % 10))}); // sub rsp, imm8
        }
        const int body = 8 + static_cast<int>(rng() % 60);
        for (int k = 0; k < body; ++k) {
            switch (rng() % 12) {
            case 0:
            case 1: // mov r64, r64
                put({0x48, 0x89, 0xC0 | (reg() << 3) | reg()});
                break;
            case 2:
            case 3: // mov r64, [rbp - disp8]
                put({0x48, 0x8B, 0x45 | (reg() << 3), slot()});
                break;
            case 4: // mov [rbp - disp8], r64
                put({0x48, 0x89, 0x45 | (reg() << 3), slot()});
                break;
            case 5: { // mov r32, imm32
                put({0xB8 + reg()});
                put32(constants[rng() % std::size(constants)]);
                break;
            }
            case 6: { // call rel32 to an earlier function (or forward)
                const std::uint32_t target =
                    functions[functions.size() - 1 -
                              rng() % std::min<std::size_t>(functions.size(), 40)];
                put({0xE8});
                put32(target - static_cast<std::uint32_t>(out.size() + 4));
                break;
            }
            case 7: // cmp r64, imm8; jcc rel8
                put({0x48, 0x83, 0xF8 | reg(), static_cast<int>(rng() % 16)});
                put({0x70 + static_cast<int>(rng() % 16), static_cast<int>(rng() % 0x40)});
                break;
            case 8: // add/sub r64, imm8
                put({0x48, 0x83, (rng() % 2 ? 0xC0 : 0xE8) | reg(), static_cast<int>(rng() % 64)});
                break;
            case 9: // lea r64, [rip + disp32]
                put({0x48, 0x8D, 0x05 | (reg() << 3)});
                put32(static_cast<std::uint32_t>(0x200000 + rng() % 0x10000));
                break;
            case 10: // test r32, r32; jcc rel32
                put({0x85, 0xC0 | (reg() << 3) | reg(), 0x0F, 0x80 + static_cast<int>(rng() % 16)});
                put32(static_cast<std::uint32_t>(rng() % 0x400));
                break;
            default: // xor r32, r32 / mov r32, [r64 + disp8]
                if (rng() % 2) {
                    const int r = reg();
                    put({0x31, 0xC0 | (r << 3) | r});
                } else {
                    put({0x8B, 0x40 | (reg() << 3) | reg(), 4 * static_cast<int>(rng() % 16)});
                }
                break;
            }
        }
        put({0xC9, 0xC3}); // leave; ret
        while (out.size() % 16 != 0) {
            out.push_back(0xCC);
        }
    }
    out.resize(kKindSize);
    return out;
}

// Pixel rows: 32-bit BGRA images of 512 to 1024 pixels per row, each a mix of a gradient
// background, flat shapes and a textured region with sensor-like noise.
Bytes PixelData() {
    std::mt19937 rng(3);
    Bytes out;
    out.reserve(kKindSize);
    while (out.size() < kKindSize) {
        const int width = 512 + static_cast<int>(rng() % 513);
        const int height = 128 + static_cast<int>(rng() % 384);
        const int cx = static_cast<int>(rng() % width);
        const int cy = static_cast<int>(rng() % height);
        const int radius = 40 + static_cast<int>(rng() % 120);
        const int shape[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                              static_cast<int>(rng() % 256)};
        const int textureFrom = static_cast<int>(rng() % width);
        for (int y = 0; y < height && out.size() < kKindSize; ++y) {
            for (int x = 0; x < width; ++x) {
                int c[3] = {x * 255 / width, y * 255 / height, (x + y) * 127 / (width + height)};
                const bool inShape = (x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius;
                const bool textured = x >= textureFrom && x < textureFrom + width / 4;
                for (int k = 0; k < 3; ++k) {
                    if (inShape) {
                        c[k] = shape[k];
                    } else if (textured) {
                        c[k] += static_cast<int>(16 * std::sin((x * (k + 1) + y * 3) * 0.2));
                    }
                    if (!inShape && rng() % 3 == 0) {
                        c[k] += static_cast<int>(rng() % 7) - 3;
                    }
                    out.push_back(static_cast<std::uint8_t>(std::clamp(c[k], 0, 255)));
                }
                out.push_back(0xFF);
            }
        }
    }
    out.resize(kKindSize);
    return out;
}

// Records: fixed 48-byte records as a table of game objects would store them: sequential ids,
// a type from a handful, a 64-bit instance id (often random), positions that wander, flags,
// counters and a zero-padded name from a list.
Bytes RecordData() {
    std::mt19937_64 rng(4);
    static const char* const kNames[] = {"tree_oak",   "tree_pine", "rock_small", "rock_large",
                                         "lamp_post",  "bench",     "fence_wood", "fence_iron",
                                         "car_sedan",  "car_truck", "house_a",    "house_b",
                                         "shop_front", "sign_stop", "mailbox",    "hydrant"};
    const std::uint32_t types[] = {0x0166038C, 0x00B2D882, 0x034AEECB, 0x545AC67A, 0x220557DA};
    Bytes out;
    out.reserve(kKindSize + 48);
    auto put = [&out](std::uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        }
    };
    auto putFloat = [&put](float f) {
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        put(v, 4);
    };
    float x = 0, y = 0, z = 0;
    for (std::uint32_t id = 1000; out.size() < kKindSize; ++id) {
        put(id, 4);
        put(types[rng() % 5], 4);
        put(rng() % 10 < 7 ? rng() : id, 8);
        x += static_cast<float>(rng() % 2000) / 100.0f - 10.0f;
        y += static_cast<float>(rng() % 200) / 100.0f - 1.0f;
        z += static_cast<float>(rng() % 2000) / 100.0f - 10.0f;
        putFloat(x);
        putFloat(y);
        putFloat(z);
        put(rng() % 4 == 0 ? rng() % 0x10000 : 0x0001, 2);
        put(rng() % 100, 2);
        std::uint8_t name[12] = {};
        const char* const chosen = kNames[rng() % std::size(kNames)];
        std::memcpy(name, chosen, std::min(std::strlen(chosen), sizeof name));
        out.insert(out.end(), name, name + sizeof name);
    }
    out.resize(kKindSize);
    return out;
}

Bytes RandomData() {
    std::mt19937_64 rng(5);
    Bytes out(kKindSize);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng() >> 56);
    }
    return out;
}

struct Entry {
    const std::uint8_t* data;
    std::size_t size;
};

// Cuts `data` into consecutive entries whose sizes cycle through `sizes` (or are drawn at random
// from [lo, hi] when `sizes` is empty), up to `limit` bytes.
std::vector<Entry> Cut(const Bytes& data, const std::vector<std::size_t>& sizes, std::size_t lo,
                       std::size_t hi, std::size_t limit) {
    std::vector<Entry> out;
    std::mt19937 rng(6);
    std::size_t p = 0;
    for (std::size_t k = 0; p < data.size() && p < limit; ++k) {
        std::size_t n = sizes.empty() ? lo + rng() % (hi - lo + 1) : sizes[k % sizes.size()];
        n = std::min(n, data.size() - p);
        if (n < 200) {
            break;
        }
        out.push_back({data.data() + p, n});
        p += n;
    }
    return out;
}

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

Bytes KindData(const std::string& name) {
    return name == "text"      ? TextData()
           : name == "code"    ? CodeData()
           : name == "pixels"  ? PixelData()
           : name == "records" ? RecordData()
                               : RandomData();
}

std::vector<Entry> SmallEntries(const Bytes& data) {
    return Cut(data, {}, 200, 16u << 10, 1u << 20);
}

std::vector<Entry> LargeEntries(const Bytes& data) {
    return Cut(data, {256u << 10, 4u << 20, 512u << 10, 1u << 20, 256u << 10}, 0, 0, data.size());
}

// One Quorrin job, once, for a profiler.
int Profile(const std::string& kind, const std::string& size, const std::string& job) {
    const Bytes data = KindData(kind);
    const std::vector<Entry> entries = size == "small" ? SmallEntries(data) : LargeEntries(data);
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

    struct Kind {
        const char* name;
        Bytes data;
    };
    std::vector<Kind> kinds;
    kinds.push_back({"text", TextData()});
    kinds.push_back({"code", CodeData()});
    kinds.push_back({"pixels", PixelData()});
    kinds.push_back({"records", RecordData()});
    kinds.push_back({"random", RandomData()});

    const char* const sizeNames[2] = {"small", "large"};
    // results[size][kind][codec]
    std::vector<std::vector<std::vector<Result>>> results(2);
    for (const Kind& k : kinds) {
        std::fprintf(stderr, "measuring %s...\n", k.name);
        const std::vector<Entry> small = Cut(k.data, {}, 200, 16u << 10, 1u << 20);
        const std::vector<Entry> large = Cut(
            k.data, {256u << 10, 4u << 20, 512u << 10, 1u << 20, 256u << 10}, 0, 0, k.data.size());
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
