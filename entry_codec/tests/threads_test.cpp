// Many threads compressing and expanding distinct buffers at once must each get the result a
// lone call gets (run under ThreadSanitizer too).
#include "quorrin.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace quorrin_test;

TEST(QuorrinThreads, ConcurrentCallsOnDistinctBuffers) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 6;
    std::vector<Bytes> inputs;
    std::vector<Bytes> entries;
    for (int t = 0; t < kThreads * kRounds; ++t) {
        inputs.push_back(
            Generate(static_cast<Kind>(t % 6), 2000 + 3000 * static_cast<std::size_t>(t), t));
        entries.push_back(Compress(inputs.back()));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                const std::size_t k = static_cast<std::size_t>(t * kRounds + r);
                const Bytes entry = Compress(inputs[k]);
                Bytes out;
                if (entry != entries[k] ||
                    (!entry.empty() && (!Decompress(entry, out) || out != inputs[k]))) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}
