// The compressor written the plain way: full table fill, byte-by-byte comparisons, one loop as
// the algorithm is usually explained. The library's compressor is tuned for speed; both must
// produce the same bytes for every input, which the differential tests check.
#include "test_util.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorrin_test {

int ReferenceCompress(const std::uint8_t* x, std::uint32_t sourceLength, std::uint8_t* destination,
                      std::int32_t* compressedLength) {
    if (sourceLength < 14 || sourceLength > 0xFFFFFF || destination == nullptr) {
        return 0;
    }
    const std::int32_t size = static_cast<std::int32_t>(sourceLength);
    std::vector<std::int32_t> head(65536, -1);
    std::vector<std::int32_t> chain(131072);
    std::uint32_t h = (static_cast<std::uint32_t>(x[0]) << 6) ^ x[1];
    auto insert = [&](std::int32_t p) {
        h = ((h << 6) ^ x[p + 2]) & 0xFFFF;
        const std::int32_t old = head[h];
        chain[p & 0x1FFFF] = old;
        head[h] = p;
        return old;
    };

    std::uint8_t* out = destination + 9;
    std::uint8_t* const limit = destination + size - 1;
    std::int32_t written = 0;
    auto put = [&](std::uint8_t b) { *out++ = b; };
    auto writer = [&](std::int32_t s, std::int32_t m, std::int32_t length) {
        std::int32_t pending = s - written;
        while (pending >= 4) {
            const std::int32_t k = std::min(pending / 4, 28);
            if (out + 1 + 4 * k > limit) {
                return false;
            }
            put(static_cast<std::uint8_t>(0xDF + k));
            for (std::int32_t j = 0; j < 4 * k; ++j) {
                put(x[written++]);
            }
            pending -= 4 * k;
        }
        const std::int32_t d = s - m - 1;
        std::vector<std::uint8_t> cmd;
        if (length == 0) {
            cmd = {static_cast<std::uint8_t>(0xFC + pending)};
        } else if (d < 1024 && length >= 3 && length <= 10) {
            cmd = {static_cast<std::uint8_t>(((d >> 3) & 0x60) + ((length - 3) << 2) + pending),
                   static_cast<std::uint8_t>(d & 0xFF)};
        } else if (d < 16384 && length >= 4 && length <= 67) {
            cmd = {static_cast<std::uint8_t>(0x80 + (length - 4)),
                   static_cast<std::uint8_t>((pending << 6) + (d >> 8)),
                   static_cast<std::uint8_t>(d & 0xFF)};
        } else {
            cmd = {static_cast<std::uint8_t>(0xC0 + (((length - 5) >> 8) << 2) + ((d >> 16) << 4) +
                                             pending),
                   static_cast<std::uint8_t>((d >> 8) & 0xFF), static_cast<std::uint8_t>(d & 0xFF),
                   static_cast<std::uint8_t>((length - 5) & 0xFF)};
        }
        if (out + cmd.size() + pending > limit) {
            return false;
        }
        for (std::uint8_t b : cmd) {
            put(b);
        }
        for (std::int32_t j = 0; j < pending; ++j) {
            put(x[written++]);
        }
        written += length;
        return true;
    };

    std::int32_t matchPos = 0;
    auto finder = [&](std::int32_t best, std::int32_t i, std::int32_t n, std::int32_t q) {
        if (best >= n) {
            return n;
        }
        const std::int32_t floor = i > 131072 ? i - 131071 : 0;
        const std::int32_t longest = std::min(n, 1028);
        const std::int32_t good = std::min(n, 258);
        std::int32_t budget = best < 32 ? 4096 : 1024;
        for (;;) {
            if (x[q + best] == x[i + best] && x[q + best - 1] == x[i + best - 1] && x[q] == x[i] &&
                x[q + 1] == x[i + 1]) {
                std::int32_t k = 3;
                while (k < longest && x[q + k] == x[i + k]) {
                    ++k;
                }
                if (k > best) {
                    matchPos = q;
                    best = k;
                    if (k >= good || i + k == size) {
                        return k;
                    }
                }
            }
            q = chain[q & 0x1FFFF];
            if (q < floor) {
                break;
            }
            if (--budget == 0) {
                break;
            }
        }
        return best;
    };

    std::int32_t i = 0;
    std::int32_t n = size;
    std::int32_t current = 2;
    bool ok = true;
    while (n != 0) {
        const std::int32_t previous = current;
        const std::int32_t previousMatch = matchPos;
        current = 2;
        if (n >= 3) {
            const std::int32_t candidate = insert(i);
            if (candidate != -1 && previous < 258 && i - candidate <= 131072) {
                current = finder(previous, i, n, candidate);
            }
            if ((current <= 3 && i - matchPos > 1024) || (current <= 4 && i - matchPos > 16384)) {
                current = 2;
            }
        }
        if (previous < 3 || current > previous) {
            ++i;
            --n;
            continue;
        }
        if (!writer(i - 1, previousMatch, previous)) {
            ok = false;
            break;
        }
        for (std::int32_t p = i + 1; p <= i + previous - 2; ++p) {
            if (p + 3 <= size) {
                insert(p);
            }
        }
        i = i - 1 + previous;
        n -= previous - 1;
        current = 2;
    }
    if (ok) {
        ok = writer(size, 0, 0);
    }
    if (!ok) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }
    const std::uint32_t entry = static_cast<std::uint32_t>(out - destination);
    const std::uint8_t header[9] = {static_cast<std::uint8_t>(entry),
                                    static_cast<std::uint8_t>(entry >> 8),
                                    static_cast<std::uint8_t>(entry >> 16),
                                    static_cast<std::uint8_t>(entry >> 24),
                                    0x10,
                                    0xFB,
                                    static_cast<std::uint8_t>(sourceLength >> 16),
                                    static_cast<std::uint8_t>(sourceLength >> 8),
                                    static_cast<std::uint8_t>(sourceLength)};
    std::memcpy(destination, header, 9);
    if (compressedLength != nullptr) {
        *compressedLength = static_cast<std::int32_t>(entry);
    }
    return 1;
}

} // namespace quorrin_test
