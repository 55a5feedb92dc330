// A work allocator for the compressors' failure tests: it fails its `failAt`-th request
// (counting from 1) and tracks the blocks it handed out. A test runs on one thread, so plain
// variables are enough here.
#pragma once

#include "codec_internal.h"

#include <cstddef>
#include <cstdlib>

namespace quorrin_test {

struct FailingAllocator {
    static inline int requests = 0;
    static inline int failAt = 0;
    static inline int live = 0;

    // Starts a new count: the `fail`-th request from now on fails (0: none does).
    static void Reset(int fail) {
        requests = 0;
        failAt = fail;
        live = 0;
    }
    static void* Allocate(std::size_t size) {
        if (++requests == failAt) {
            return nullptr;
        }
        ++live;
        return std::malloc(size);
    }
    static void Release(void* block) {
        --live;
        std::free(block);
    }
};

inline const quorrin::WorkAllocator kFailingAllocator = {FailingAllocator::Allocate,
                                                         FailingAllocator::Release};

} // namespace quorrin_test
