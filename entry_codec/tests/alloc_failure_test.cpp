// When a work table cannot be allocated the compressor fails cleanly: result 0, length 0, and
// every table it did get is released.
#include "codec_internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// The allocator of these tests fails its `failAt`-th request (counting from 1) and tracks the
// blocks it handed out. A test runs on one thread, so plain statics are enough here.
int g_requests = 0;
int g_failAt = 0;
int g_live = 0;

void* CountingAllocate(std::size_t size) {
    if (++g_requests == g_failAt) {
        return nullptr;
    }
    ++g_live;
    return std::malloc(size);
}

void CountingRelease(void* block) {
    --g_live;
    std::free(block);
}

const quorrin::WorkAllocator kCounting = {CountingAllocate, CountingRelease};

TEST(QuorrinAllocation, FailsCleanlyAndReleasesEverything) {
    std::vector<std::uint8_t> input(5000, 0x41);
    std::vector<std::uint8_t> out(input.size() - 1, 0xEE);
    for (int failAt : {1, 2}) {
        SCOPED_TRACE(failAt);
        g_requests = 0;
        g_failAt = failAt;
        g_live = 0;
        std::int32_t size = 1234;
        EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()),
                                  out.data(), &size, kCounting),
                  0);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(g_live, 0) << "a table was not released";
        EXPECT_EQ(g_requests, 2) << "both tables are requested";
        g_requests = 0;
        EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()),
                                  out.data(), nullptr, kCounting),
                  0);
    }
    // And with every request granted, the same allocator gives a normal result and frees all.
    g_requests = 0;
    g_failAt = 0;
    g_live = 0;
    std::int32_t size = 0;
    EXPECT_EQ(quorrin::Encode(input.data(), static_cast<std::uint32_t>(input.size()), out.data(),
                              &size, kCounting),
              1);
    EXPECT_GT(size, 0);
    EXPECT_EQ(g_live, 0);
}

} // namespace
