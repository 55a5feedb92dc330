#include "package_test_util.h"

#include <quorrin.h>

namespace pkgtest {

namespace {

// Appends the first bytes of `data` until `out` holds `size` bytes.
void AppendUpTo(Bytes& out, const std::uint8_t* data, std::size_t n, std::size_t size) {
    for (std::size_t i = 0; i < n && out.size() < size; ++i) {
        out.push_back(data[i]);
    }
}

} // namespace

std::uint64_t Rng::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Bytes Text(std::size_t size, std::uint64_t seed) {
    static const char* const kWords[] = {"the ",   "package ", "entry ", "of ",   "group ",
                                         "type ",  "index ",   "sim ",   "lot ",  "object ",
                                         "mesh\n", "texture ", "and ",   "with ", "data\n"};
    Rng rng(seed);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        for (const char* c = kWords[rng.Next() % 15]; *c && out.size() < size; ++c) {
            out.push_back(static_cast<std::uint8_t>(*c));
        }
    }
    return out;
}

Bytes Records(std::size_t size, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size);
    for (std::uint32_t id = 0; out.size() < size; ++id) {
        std::uint8_t rec[32] = {0};
        rec[0] = static_cast<std::uint8_t>(id);
        rec[1] = static_cast<std::uint8_t>(id >> 8);
        rec[4] = 0x3F;
        rec[8] = static_cast<std::uint8_t>(rng.Next() % 4);
        rec[16] = static_cast<std::uint8_t>(rng.Next());
        AppendUpTo(out, rec, sizeof rec, size);
    }
    return out;
}

Bytes Pixels(std::size_t size, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size);
    for (std::size_t i = 0; out.size() < size; ++i) {
        const std::uint8_t noise = static_cast<std::uint8_t>(rng.Next() % 3);
        const std::uint8_t px[4] = {static_cast<std::uint8_t>(i / 7 + noise),
                                    static_cast<std::uint8_t>(i / 13), 0x80, 0xFF};
        AppendUpTo(out, px, sizeof px, size);
    }
    return out;
}

Bytes Random(std::size_t size, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng.Next() >> 56);
    }
    return out;
}

Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
}

void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
}

Bytes Compress(const Bytes& plain) {
    if (plain.size() < 14) {
        return Bytes();
    }
    Bytes out(plain.size() - 1);
    int n = 0;
    if (CompressPackage(plain.data(), static_cast<unsigned>(plain.size()), out.data(), &n) != 1) {
        return Bytes();
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Bytes MakeHeader(const Header& h) {
    Bytes b;
    Put32(b, 0x46504244u);                      //  0 magic "DBPF"
    Put32(b, h.major);                          //  4 major version
    Put32(b, h.minor);                          //  8 minor version
    Put32(b, 0);                                // 12 user major
    Put32(b, 0);                                // 16 user minor
    Put32(b, 0);                                // 20 flags
    Put32(b, 0);                                // 24 created
    Put32(b, 0);                                // 28 modified
    Put32(b, h.indexMajor);                     // 32 index major version
    Put32(b, h.count);                          // 36 index entry count
    Put32(b, h.major == 1 ? h.indexOffset : 0); // 40 index offset (1.x)
    Put32(b, h.indexSize);                      // 44 index size in bytes
    Put32(b, 0);                                // 48 hole count
    Put32(b, 0);                                // 52 hole offset
    Put32(b, 0);                                // 56 hole size
    Put32(b, h.indexMinor);                     // 60 index minor version
    Put32(b, h.major == 1 ? 0 : h.indexOffset); // 64 index offset (2.x)
    b.resize(96, 0);                            // 68 reserved
    return b;
}

namespace {

// Header `h` (version fields set by the caller), then the body, then the index words.
Bytes Assemble(Header h, const Bytes& body, const std::vector<std::uint32_t>& indexWords,
               std::uint32_t count) {
    h.count = count;
    h.indexOffset = static_cast<std::uint32_t>(96 + body.size());
    h.indexSize = static_cast<std::uint32_t>(indexWords.size() * 4);
    Bytes b = MakeHeader(h);
    b.insert(b.end(), body.begin(), body.end());
    for (std::uint32_t w : indexWords) {
        Put32(b, w);
    }
    return b;
}

} // namespace

Bytes Package1(const Bytes& body, const std::vector<std::uint32_t>& indexWords, std::uint32_t count,
               bool index71) {
    Header h;
    h.major = 1;
    h.minor = 1;
    h.indexMajor = 7;
    h.indexMinor = index71 ? 2 : 1;
    return Assemble(h, body, indexWords, count);
}

Bytes Package2(const Bytes& body, const std::vector<std::uint32_t>& indexWords,
               std::uint32_t count) {
    Header h;
    h.major = 2;
    h.minor = 0;
    h.indexMajor = 0;
    h.indexMinor = 3;
    return Assemble(h, body, indexWords, count);
}

} // namespace pkgtest
