// Concurrent calls of GetMD5 give the same digests as calls made one at a time. Run under
// ThreadSanitizer too (label "threads"), which also reports any shared state a call touches.
#include "nimbrel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct Digest {
    unsigned char bytes[NIMBREL_DIGEST_SIZE];
    bool operator==(const Digest& other) const {
        return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
    }
};

Digest Md5(const std::vector<unsigned char>& message) {
    Digest d;
    GetMD5(message.data(), static_cast<int>(message.size()), d.bytes);
    return d;
}

TEST(GetMD5Threads, ConcurrentCallsGiveTheSerialDigests) {
    // Messages of every tail class; thread t starts at message t, so that at any moment
    // different threads work on different lengths as well as on the same buffer.
    std::vector<std::vector<unsigned char>> messages;
    for (std::size_t n : {0, 3, 55, 56, 64, 127, 1000, 65536 + 7}) {
        std::vector<unsigned char> m(n);
        for (std::size_t i = 0; i < n; ++i) {
            m[i] = static_cast<unsigned char>(i * 131 + n);
        }
        messages.push_back(m);
    }
    messages.push_back({'a', 'b', 'c'});

    std::vector<Digest> expected;
    for (const auto& m : messages) {
        expected.push_back(Md5(m));
    }
    // Anchor the serial answers to a known one (RFC 1321: "abc").
    const unsigned char kAbc[] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                  0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    ASSERT_EQ(std::memcmp(expected.back().bytes, kAbc, sizeof kAbc), 0);

    const std::size_t kThreads = 8;
    const int kRounds = 40;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                for (std::size_t k = 0; k < messages.size(); ++k) {
                    const std::size_t i = (t + k) % messages.size();
                    if (!(Md5(messages[i]) == expected[i])) {
                        ++mismatches[t];
                    }
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (std::size_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

} // namespace
