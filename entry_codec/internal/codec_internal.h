// Internal interface of the entry codec, shared by the exported wrappers, dbpftool, the unit
// tests that need more than the exports (failure reasons, allocation failures) and the fuzz
// targets. Not installed; nothing here is exported from the library.
#pragma once

#include "entry_format.h"

#include <cstddef>
#include <cstdint>

namespace quorrin {

// Sizes of input the compressor accepts.
constexpr std::uint32_t kMinInput = 14;
constexpr std::uint32_t kMaxInput = kMaxUncompressed;

// Whether a compressor can work on these arguments at all (both compressors return 0 otherwise).
inline bool CompressArgumentsUsable(const std::uint8_t* source, std::uint32_t sourceLength,
                                    const std::uint8_t* destination) {
    return sourceLength >= kMinInput && sourceLength <= kMaxInput && source != nullptr &&
           destination != nullptr;
}

enum class DecodeMode { kExact, kPartial };

// Why a decode failed, in the order the decoder tests for them.
enum class DecodeResult {
    kOk,
    kNegativeLength,       // destinationLength below 0
    kNullBuffer,           // null source, or null destination with a length above 0
    kShortSource,          // fewer than 10 source bytes (or a negative sourceLength)
    kBadSignature,         // bytes 4 and 5 are not 10 FB
    kSizeMismatch,         // header sizes disagree with the arguments
    kCommandPastEnd,       // a command's own bytes reach past the end of the source
    kLiteralsPastEnd,      // a command's literals reach past the end of the source
    kOutputOverflow,       // exact mode: a command would write past the output
    kReferenceBeforeStart, // a copy reaches back before the first output byte
    kSourceExhausted,      // the source ends before the output is complete
    kTrailingBytes,        // exact mode: bytes other than 0xFC after the output is complete
};

// A short human text for `result` ("ok" for kOk), for messages such as dbpftool's.
const char* DescribeDecodeResult(DecodeResult result);

// The decoder behind DecompressPackage (which maps kOk to 1 and every other result to 0).
DecodeResult Decode(const std::uint8_t* source, int sourceLength, std::uint8_t* destination,
                    int destinationLength, DecodeMode mode);

// Where the compressor takes its work tables from. The exported function uses malloc/free; tests
// pass allocators that fail or that measure what one call takes.
struct WorkAllocator {
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);
};

const WorkAllocator& DefaultAllocator();

// The most memory one Encode call takes from its allocator at any time: the hash-indexed tables
// (head and count of the 3-byte hash, 65536 entries each; heads of the 4- and 7-byte hashes, up
// to 65536 each) and the position-indexed ones (four chains of up to 131072 entries), all 32-bit.
// quorrin.h states the same figure; a test holds the encoder to it.
constexpr std::size_t kEncodeWorkBound = (4 * 65536 + 4 * 131072) * sizeof(std::int32_t);
static_assert(kEncodeWorkBound == 3u << 20, "quorrin.h states 3 MiB");

// The compressor behind CompressPackage; same arguments and result.
int Encode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
           std::int32_t* compressedLength, const WorkAllocator& allocator);

// The smaller-output compressor (not exported): the same contract as Encode, with entries that
// the same decoder reads but whose bytes are not fixed; it searches harder (optimal parsing) and
// takes at most 2.2 MiB of work memory, in one block from `allocator`.
int EncodeBest(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
               std::int32_t* compressedLength, const WorkAllocator& allocator);

} // namespace quorrin
