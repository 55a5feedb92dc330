// Helpers shared by the codec tests: deterministic input generators, entry building and a small
// command lister for checking the shape of compressed entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorrin_test {

using Bytes = std::vector<std::uint8_t>;

// SplitMix64: small, fast and the same on every platform.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

private:
    std::uint64_t state_;
};

// "1F 02 61" -> {0x1F, 0x02, 0x61}; spaces are ignored.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);
Bytes Text(const std::string& text);

// A complete entry: header with the given uncompressed size and the right compressed size,
// followed by `commands`.
Bytes MakeEntry(const Bytes& commands, std::uint32_t uncompressedSize);

// Generated inputs of the kinds that package entries hold.
enum class Kind { kText, kRuns, kRandom, kPeriodic, kRecords, kMixed };
const char* KindName(Kind kind);
Bytes Generate(Kind kind, std::size_t size, std::uint64_t seed);

// One decoded command of an entry.
struct Command {
    char kind; // 's'hort, 'm'edium, 'l'ong copy, 'r'un of literals, 'e'nd
    int literals;
    int length;   // 0 for runs and end commands
    int distance; // 0 for runs and end commands
};
// Lists the commands of a well-formed entry (stops at the end of the bytes).
std::vector<Command> ListCommands(const Bytes& entry);

// Compresses with the exported function into a buffer of exactly size - 1 bytes; returns the
// entry, or an empty vector when the function returned 0.
Bytes Compress(const Bytes& input);
// Exact-mode decode of an entry into a buffer of the header's uncompressed size.
bool Decompress(const Bytes& entry, Bytes& out);

// A literal transcription of the compressor's algorithm (no speed work), kept to check that the
// optimised compressor produces identical bytes.
int ReferenceCompress(const std::uint8_t* source, std::uint32_t sourceLength,
                      std::uint8_t* destination, std::int32_t* compressedLength);

} // namespace quorrin_test
