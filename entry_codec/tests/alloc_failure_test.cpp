// The compressor's work tables: when one cannot be allocated the compressor fails cleanly
// (result 0, length 0, every table it did get released), and what it takes stays within the
// bound that quorrin.h states.
#include "codec_internal.h"
#include "failing_allocator.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <vector>

namespace {

using quorrin_test::FailingAllocator;

TEST(QuorrinAllocation, FailsCleanlyAndReleasesEverything) {
    std::vector<std::uint8_t> input(5000, 0x41);
    std::vector<std::uint8_t> out(input.size() - 1, 0xEE);
    for (int failAt : {1, 2}) {
        SCOPED_TRACE(failAt);
        FailingAllocator::Reset(failAt);
        std::int32_t size = 1234;
        EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()),
                                  out.data(), &size, quorrin_test::kFailingAllocator),
                  0);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(FailingAllocator::live, 0) << "a table was not released";
        EXPECT_EQ(FailingAllocator::requests, 2) << "both tables are requested";
        FailingAllocator::requests = 0;
        EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()),
                                  out.data(), nullptr, quorrin_test::kFailingAllocator),
                  0);
    }
    // And with every request granted, the same allocator gives a normal result and frees all.
    FailingAllocator::Reset(0);
    std::int32_t size = 0;
    EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()), out.data(),
                              &size, quorrin_test::kFailingAllocator),
              1);
    EXPECT_GT(size, 0);
    EXPECT_EQ(FailingAllocator::live, 0);
}

// The most the allocator has handed out at once during one Encode call.
std::size_t g_liveBytes = 0;
std::size_t g_peakBytes = 0;

struct BlockHeader {
    std::size_t size;
    std::max_align_t align;
};

void* MeasuringAllocate(std::size_t size) {
    auto* block = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (block == nullptr) {
        return nullptr;
    }
    block->size = size;
    g_liveBytes += size;
    g_peakBytes = std::max(g_peakBytes, g_liveBytes);
    return block + 1;
}

void MeasuringRelease(void* p) {
    BlockHeader* block = static_cast<BlockHeader*>(p) - 1;
    g_liveBytes -= block->size;
    std::free(block);
}

const quorrin::WorkAllocator kMeasuring = {MeasuringAllocate, MeasuringRelease};

// The header states the most memory a call takes; hold the encoder to it on the inputs that take
// the most: the largest input, inputs just past the window (where the per-position tables stop
// growing), data that compresses and data that does not.
TEST(QuorrinAllocation, WorkTablesStayWithinTheStatedBound) {
    const struct {
        const char* name;
        quorrin_test::Kind kind;
        std::size_t size;
    } cases[] = {
        {"smallest", quorrin_test::Kind::kText, quorrin::kMinInput},
        {"window less one", quorrin_test::Kind::kRandom, 131071},
        {"window", quorrin_test::Kind::kRandom, 131072},
        {"window plus one, text", quorrin_test::Kind::kText, 131073},
        {"1 MiB of records", quorrin_test::Kind::kRecords, 1u << 20},
        {"largest input", quorrin_test::Kind::kRuns, quorrin::kMaxInput},
    };
    std::size_t largest = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const quorrin_test::Bytes input = quorrin_test::Generate(c.kind, c.size, 11);
        std::vector<std::uint8_t> out(input.size() - 1);
        g_liveBytes = 0;
        g_peakBytes = 0;
        std::int32_t size = 0;
        quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()), out.data(), &size,
                        kMeasuring);
        EXPECT_EQ(g_liveBytes, 0u) << "a table was not released";
        EXPECT_LE(g_peakBytes, quorrin::kEncodeWorkBound);
        largest = std::max(largest, g_peakBytes);
    }
    RecordProperty("peak_bytes", static_cast<int>(largest));
}

} // namespace
