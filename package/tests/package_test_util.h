// Helpers of the package tests: byte building, generated contents and hand-built headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pkgtest {

using Bytes = std::vector<std::uint8_t>;

// SplitMix64: the same sequence on every platform.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();

private:
    std::uint64_t state_;
};

// Contents of the kinds packages hold.
Bytes Text(std::size_t size, std::uint64_t seed);    // words and lines: compresses well
Bytes Records(std::size_t size, std::uint64_t seed); // fixed 32-byte records
Bytes Pixels(std::size_t size, std::uint64_t seed);  // smooth gradients with noise
Bytes Random(std::size_t size, std::uint64_t seed);  // incompressible
Bytes Str(const std::string& s);

void Put32(Bytes& b, std::uint32_t v);
void Set32(Bytes& b, std::size_t at, std::uint32_t v);

// The entry in the codec's 9-byte form (CompressPackage), or empty when it does not shrink.
Bytes Compress(const Bytes& plain);

// Header fields a test sets; the rest stay zero.
struct Header {
    std::uint32_t major = 1, minor = 1;
    std::uint32_t indexMajor = 7, indexMinor = 1;
    std::uint32_t count = 0, indexOffset = 0, indexSize = 0;
};
// The 96-byte header (1.x: index offset at 40; 2.x: at 64, 40 left 0).
Bytes MakeHeader(const Header& h);

// A whole 1.x package from its parts: header, then `body` (entries' bytes, at offset 96), then
// the index records given as 32-bit words; the header's index fields are filled in.
Bytes Package1(const Bytes& body, const std::vector<std::uint32_t>& indexWords, std::uint32_t count,
               bool index71 = false);
// The same for 2.x: the index is `indexWords` (index type and entries), written after `body`.
Bytes Package2(const Bytes& body, const std::vector<std::uint32_t>& indexWords,
               std::uint32_t count);

} // namespace pkgtest
