// Internal interface of the entry codec, shared by the exported wrappers, the unit tests that
// need more than the exports (allocation failures) and the fuzz targets. Not installed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorrin {

// Entry format constants.
constexpr int kHeaderSize = 9;
constexpr std::uint8_t kSignature0 = 0x10;
constexpr std::uint8_t kSignature1 = 0xFB;
constexpr std::uint32_t kMinInput = 14;
constexpr std::uint32_t kMaxInput = 0xFFFFFF;

enum class DecodeMode { kExact, kPartial };

// The decoder behind DecompressPackage; same arguments and result.
int Decode(const std::uint8_t* source, int sourceLength, std::uint8_t* destination,
           int destinationLength, DecodeMode mode);

// Where the compressor takes its work tables from. The exported function uses malloc/free; tests
// pass an allocator that fails to check the failure path.
struct WorkAllocator {
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);
};

const WorkAllocator& DefaultAllocator();

// The compressor behind CompressPackage; same arguments and result.
int Encode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
           std::int32_t* compressedLength, const WorkAllocator& allocator);

// The smaller-output compressor (not exported): the same contract as Encode, with entries that
// the same decoder reads but whose bytes are not fixed; it searches harder (optimal parsing) and
// takes at most 2.2 MiB of work memory, in one block from `allocator`.
int EncodeBest(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
               std::int32_t* compressedLength, const WorkAllocator& allocator);

} // namespace quorrin
