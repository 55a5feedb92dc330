// The corpus of the codec benchmarks; see bench_corpus.h.
#include "bench_corpus.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iterator>
#include <random>

namespace bench {

constexpr std::size_t kKindSize = 6u << 20; // bytes of each kind

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

Bytes KindData(const std::string& name) {
    return name == "text"      ? TextData()
           : name == "code"    ? CodeData()
           : name == "pixels"  ? PixelData()
           : name == "records" ? RecordData()
                               : RandomData();
}

std::vector<Kind> AllKinds() {
    std::vector<Kind> kinds;
    for (const char* name : kKindNames) {
        kinds.push_back({name, KindData(name)});
    }
    return kinds;
}

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

std::vector<Entry> SmallEntries(const Bytes& data) {
    return Cut(data, {}, 200, 16u << 10, 1u << 20);
}

std::vector<Entry> LargeEntries(const Bytes& data) {
    return Cut(data, {256u << 10, 4u << 20, 512u << 10, 1u << 20, 256u << 10}, 0, 0, data.size());
}

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

} // namespace bench
