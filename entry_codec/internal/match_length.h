// Byte comparison shared by both compressors (encoder.cpp, encoder_best.cpp): how far two
// positions of the input agree. Not part of the format; the decoder does not use it.
#pragma once

#include <cstdint>
#include <cstring>

namespace quorrin {

// Eight bytes at p, in the machine's byte order (p need not be aligned).
inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal leading bytes of a and b, counting on from `k` and never reaching `limit`.
inline std::int32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::int32_t k,
                                std::int32_t limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes at a time; the lowest differing byte is the first one in memory.
    while (limit - k >= 8) {
        const std::uint64_t diff = Load64(a + k) ^ Load64(b + k);
        if (diff != 0) {
            return k + static_cast<std::int32_t>(__builtin_ctzll(diff) >> 3);
        }
        k += 8;
    }
#endif
    while (k < limit && a[k] == b[k]) {
        ++k;
    }
    return k;
}

} // namespace quorrin
