// The entry decoder.
//
// Bounds reasoning. The decoder keeps three pointer pairs: the source read position `p` and its
// end, the output write position `w` and its end, and the output start (for the distance test).
// Every length taken from the stream is compared with what remains (`n > end - p`), never by
// forming `p + n` first: on a 32-bit target a pointer sum can wrap and pass a test it should
// fail. All lengths are small (at most 112 literals and 1028 copied bytes per command), so the
// comparisons themselves cannot overflow.
//
// Exact and partial decoding share one loop; the mode only changes what happens when a command
// does not fit (fail, or cut it to the room that is left) and what the end of the stream must
// look like. A partial decode of N bytes therefore always equals the first N bytes of the full
// decode.
//
// Copies. A back-reference may overlap its own output (distance below length); it must then
// repeat the last `distance` bytes periodically, so memcpy/memmove are wrong for it. Distance 1
// is a fill. Distances of 8 or more are copied in 8- or 16-byte blocks whose source lies wholly
// in bytes already final. Such block copies may write up to 15 bytes past the end of the
// command, so they are used only when that slack lies inside the output buffer; the bytes they
// write early are overwritten by the following commands before anything reads them. Shorter
// distances, and the last bytes before the end of the output, go byte by byte.
#include "codec_internal.h"

#include <cstring>

namespace quorrin {
namespace {

// Copies `n` bytes from `distance` bytes back to `w`, repeating the pattern where they overlap.
// The caller has checked that `distance` is at least 1 and at most the bytes produced, and that
// `n` bytes fit before `wend`.
inline void CopyMatch(std::uint8_t* w, std::uint8_t* wend, std::ptrdiff_t distance,
                      std::ptrdiff_t n) {
    const std::uint8_t* from = w - distance;
    if (distance == 1) {
        std::memset(w, *from, static_cast<std::size_t>(n));
        return;
    }
    if (distance >= 16 && wend - w >= n + 16) {
        std::uint8_t* const stop = w + n;
        do {
            std::memcpy(w, from, 16);
            w += 16;
            from += 16;
        } while (w < stop);
        return;
    }
    if (distance >= 8 && wend - w >= n + 8) {
        std::uint8_t* const stop = w + n;
        do {
            std::memcpy(w, from, 8);
            w += 8;
            from += 8;
        } while (w < stop);
        return;
    }
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        w[i] = from[i];
    }
}

} // namespace

int Decode(const std::uint8_t* source, int sourceLength, std::uint8_t* destination,
           int destinationLength, DecodeMode mode) {
    if (sourceLength < 10 || destinationLength < 0 || source == nullptr ||
        (destination == nullptr && destinationLength != 0)) {
        return 0;
    }
    if (source[4] != kSignature0 || source[5] != kSignature1) {
        return 0;
    }
    // Uncompressed size big-endian in bytes 6..8, compressed size little-endian in bytes 0..3
    // (read as a signed value, so a size of 0x80000000 or more never matches a valid length).
    const int uncompressedSize = (source[6] << 16) | (source[7] << 8) | source[8];
    const std::uint32_t rawSize = static_cast<std::uint32_t>(source[0]) |
                                  (static_cast<std::uint32_t>(source[1]) << 8) |
                                  (static_cast<std::uint32_t>(source[2]) << 16) |
                                  (static_cast<std::uint32_t>(source[3]) << 24);
    const std::int64_t compressedSize =
        rawSize >= 0x80000000u ? static_cast<std::int64_t>(rawSize) - 0x100000000LL : rawSize;
    const bool partial = mode == DecodeMode::kPartial;
    if (partial) {
        if (compressedSize < sourceLength || uncompressedSize < destinationLength) {
            return 0;
        }
    } else if (compressedSize != sourceLength || uncompressedSize != destinationLength) {
        return 0;
    }

    const std::uint8_t* p = source + kHeaderSize;
    const std::uint8_t* const end = source + sourceLength;
    std::uint8_t* w = destination;
    std::uint8_t* const wend = destination + destinationLength;

    for (;;) {
        const unsigned b0 = *p++;
        std::ptrdiff_t literals;
        std::ptrdiff_t length = 0;
        std::ptrdiff_t distance = 0;
        if (b0 < 0x80) { // short copy: 2 command bytes
            if (end - p < 1) {
                return 0;
            }
            const unsigned b1 = p[0];
            p += 1;
            literals = b0 & 3;
            length = ((b0 >> 2) & 7) + 3;
            distance = ((b0 & 0x60) << 3) + b1 + 1;
        } else if (b0 < 0xC0) { // medium copy: 3 command bytes
            if (end - p < 2) {
                return 0;
            }
            const unsigned b1 = p[0];
            const unsigned b2 = p[1];
            p += 2;
            literals = b1 >> 6;
            length = (b0 & 0x3F) + 4;
            distance = ((b1 & 0x3F) << 8) + b2 + 1;
        } else if (b0 < 0xE0) { // long copy: 4 command bytes
            if (end - p < 3) {
                return 0;
            }
            const unsigned b1 = p[0];
            const unsigned b2 = p[1];
            const unsigned b3 = p[2];
            p += 3;
            literals = b0 & 3;
            length = ((b0 & 0x0C) << 6) + b3 + 5;
            distance = ((b0 & 0x10) << 12) + (b1 << 8) + b2 + 1;
        } else if (b0 < 0xFC) { // literal run: 4 to 112 literals
            literals = static_cast<std::ptrdiff_t>(b0 - 0xDF) * 4;
        } else { // end command: 0 to 3 literals, no stopping power of its own
            literals = b0 - 0xFC;
        }

        if (literals > end - p || literals + length > wend - w) {
            if (!partial) {
                return 0;
            }
            // Cut the command to the room left in the output: literals first, then the copy.
            const std::ptrdiff_t room = wend - w;
            if (literals > room) {
                literals = room;
            }
            if (length > room - literals) {
                length = room - literals;
            }
            if (literals > end - p) {
                return 0;
            }
        }
        if (literals != 0) {
            std::memcpy(w, p, static_cast<std::size_t>(literals));
            p += literals;
            w += literals;
        }
        if (length != 0) {
            if (distance > w - destination) {
                return 0;
            }
            CopyMatch(w, wend, distance, length);
            w += length;
        }
        if (p == end || w == wend) {
            break;
        }
    }

    if (partial) {
        return w == wend ? 1 : 0;
    }
    // Once the output is full only end commands without literals may follow.
    while (p != end && *p == 0xFC) {
        ++p;
    }
    return p == end && w == wend ? 1 : 0;
}

} // namespace quorrin
