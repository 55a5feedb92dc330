#include "test_util.h"

#include "quorrin.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace quorrin_test {

std::uint64_t Rng::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Bytes Hex(const std::string& text) {
    Bytes out;
    int nibbles = 0;
    unsigned value = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            continue;
        }
        value = value * 16 + static_cast<unsigned>(v);
        if (++nibbles == 2) {
            out.push_back(static_cast<std::uint8_t>(value));
            nibbles = 0;
            value = 0;
        }
    }
    return out;
}

std::string ToHex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += buf;
    }
    return out;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes MakeEntry(const Bytes& commands, std::uint32_t uncompressedSize) {
    const std::uint32_t size = static_cast<std::uint32_t>(commands.size() + 9);
    Bytes entry = {static_cast<std::uint8_t>(size),
                   static_cast<std::uint8_t>(size >> 8),
                   static_cast<std::uint8_t>(size >> 16),
                   static_cast<std::uint8_t>(size >> 24),
                   0x10,
                   0xFB,
                   static_cast<std::uint8_t>(uncompressedSize >> 16),
                   static_cast<std::uint8_t>(uncompressedSize >> 8),
                   static_cast<std::uint8_t>(uncompressedSize)};
    entry.insert(entry.end(), commands.begin(), commands.end());
    return entry;
}

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::kText:
        return "text";
    case Kind::kRuns:
        return "runs";
    case Kind::kRandom:
        return "random";
    case Kind::kPeriodic:
        return "periodic";
    case Kind::kRecords:
        return "records";
    case Kind::kMixed:
        return "mixed";
    }
    return "?";
}

Bytes Generate(Kind kind, std::size_t size, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size);
    switch (kind) {
    case Kind::kText: {
        // Words of a generated vocabulary, the frequent ones far more often, with punctuation.
        std::vector<std::string> words(1500);
        for (std::string& w : words) {
            for (std::uint32_t n = 2 + rng.Below(8); n > 0; --n) {
                w.push_back(static_cast<char>('a' + rng.Below(26)));
            }
        }
        static const char kPunct[] = " ,.\n<>=\"";
        while (out.size() < size) {
            const std::string& w = words[rng.Below(1 + rng.Below(1500))];
            out.insert(out.end(), w.begin(), w.end());
            out.push_back(static_cast<std::uint8_t>(rng.Below(3) ? ' ' : kPunct[rng.Below(8)]));
        }
        break;
    }
    case Kind::kRuns:
        while (out.size() < size) {
            out.insert(out.end(), 1 + rng.Below(rng.Below(8) == 0 ? 3000 : 40), rng.Byte());
        }
        break;
    case Kind::kRandom:
        while (out.size() < size) {
            out.push_back(rng.Byte());
        }
        break;
    case Kind::kPeriodic: {
        const std::size_t period = 1 + rng.Below(300);
        Bytes unit;
        for (std::size_t i = 0; i < period; ++i) {
            unit.push_back(rng.Byte());
        }
        while (out.size() < size) {
            out.push_back(unit[out.size() % period]);
            if (rng.Below(5000) == 0) {
                out.back() ^= 0x5A; // a rare change keeps the matches from being trivial
            }
        }
        break;
    }
    case Kind::kRecords: {
        std::uint32_t id = rng.Below(1000);
        while (out.size() < size) {
            id += 1 + rng.Below(3);
            const std::uint32_t fields[4] = {id, 0x6B8E5400u, rng.Below(64), rng.Below(1 << 20)};
            for (std::uint32_t f : fields) {
                for (int b = 0; b < 4; ++b) {
                    out.push_back(static_cast<std::uint8_t>(f >> (8 * b)));
                }
            }
        }
        break;
    }
    case Kind::kMixed:
        while (out.size() < size) {
            const Kind part = static_cast<Kind>(rng.Below(5));
            const Bytes chunk = Generate(part, 1 + rng.Below(70000), rng.Next());
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        break;
    }
    out.resize(size);
    return out;
}

std::vector<Command> ListCommands(const Bytes& entry) {
    std::vector<Command> out;
    std::size_t p = 9;
    while (p < entry.size()) {
        const unsigned b0 = entry[p];
        Command c{};
        std::size_t bytes = 1;
        if (b0 < 0x80 && p + 1 < entry.size()) {
            const unsigned b1 = entry[p + 1];
            c = {'s', static_cast<int>(b0 & 3), static_cast<int>(((b0 >> 2) & 7) + 3),
                 static_cast<int>(((b0 & 0x60) << 3) + b1 + 1)};
            bytes = 2;
        } else if (b0 < 0xC0 && b0 >= 0x80 && p + 2 < entry.size()) {
            const unsigned b1 = entry[p + 1];
            const unsigned b2 = entry[p + 2];
            c = {'m', static_cast<int>(b1 >> 6), static_cast<int>((b0 & 0x3F) + 4),
                 static_cast<int>(((b1 & 0x3F) << 8) + b2 + 1)};
            bytes = 3;
        } else if (b0 < 0xE0 && b0 >= 0xC0 && p + 3 < entry.size()) {
            const unsigned b1 = entry[p + 1];
            const unsigned b2 = entry[p + 2];
            const unsigned b3 = entry[p + 3];
            c = {'l', static_cast<int>(b0 & 3), static_cast<int>(((b0 & 0x0C) << 6) + b3 + 5),
                 static_cast<int>(((b0 & 0x10) << 12) + (b1 << 8) + b2 + 1)};
            bytes = 4;
        } else if (b0 >= 0xE0 && b0 < 0xFC) {
            c = {'r', static_cast<int>((b0 - 0xDF) * 4), 0, 0};
        } else if (b0 >= 0xFC) {
            c = {'e', static_cast<int>(b0 - 0xFC), 0, 0};
        } else {
            break; // truncated command
        }
        out.push_back(c);
        p += bytes + static_cast<std::size_t>(c.literals);
    }
    return out;
}

Bytes Compress(const Bytes& input) {
    Bytes out(input.size() > 0 ? input.size() - 1 : 0);
    int size = -1;
    if (CompressPackage(input.data(), static_cast<unsigned>(input.size()), out.data(), &size) !=
        1) {
        return {};
    }
    out.resize(static_cast<std::size_t>(size));
    return out;
}

bool Decompress(const Bytes& entry, Bytes& out) {
    if (entry.size() < 9) {
        return false;
    }
    out.assign((static_cast<std::size_t>(entry[6]) << 16) | (entry[7] << 8) | entry[8], 0);
    return DecompressPackage(entry.data(), static_cast<int>(entry.size()), out.data(),
                             static_cast<int>(out.size()), 0) == 1;
}

} // namespace quorrin_test
