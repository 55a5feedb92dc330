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
// repeat the last `distance` bytes periodically, so memcpy/memmove are wrong for it.
//
// Fast path. While a command, its literals and 16 bytes more fit in both buffers, the decoder
// copies in fixed 8- and 16-byte blocks that may run past the end of the command ("wild"
// copies): literals in 16-byte blocks; copies in 16-byte blocks when the distance is at least 16
// or the copy does not overlap its source; shorter distances below 8 by writing a 16-byte pattern
// of the period at steps that are multiples of it; distances 8 to 15 in 8-byte blocks. Every
// block reads only bytes that are already final where it matters, and the bytes written beyond
// the command lie inside the output buffer and are written again, correctly, by the following
// commands before anything reads them. Only the distance test remains per command: the others
// cannot fail while the room lasts. The first command that lacks the room, and every end command,
// is handed unconsumed to the careful loop, which tests everything and copies exactly; the result
// does not depend on where the hand-over happens.
#include "codec_internal.h"

#include <algorithm>
#include <cstring>

namespace quorrin {
namespace {

// Room the fast path keeps beyond a command in both buffers: block reads and writes pass the end
// of their command by at most 16 bytes (a literal run's empty copy writes one 16-byte block).
constexpr std::ptrdiff_t kWildRoom = 16;

inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
    std::memcpy(to, from, 8);
}
inline void Copy16(std::uint8_t* to, const std::uint8_t* from) {
    std::memcpy(to, from, 16);
}
// A 16-byte block whose source and target may overlap (a copy shorter than its distance, which
// is below 16): read whole, then written.
inline void Move16(std::uint8_t* to, const std::uint8_t* from) {
    std::uint8_t block[16];
    std::memcpy(block, from, 16);
    std::memcpy(to, block, 16);
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store64(std::uint8_t* p, std::uint64_t v) {
    std::memcpy(p, &v, 8);
}
// p[0] p[1] p[2] p[3] as one word, p[0] the most significant byte.
inline std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
#else
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
#endif
}

// For distances 1..7: a multiplier that repeats the low `distance` bytes of a word over all
// eight, and the step of 16-byte pattern writes (the largest multiple of the distance <= 16).
constexpr std::uint64_t kRepeat[8] = {0,
                                      0x0101010101010101ull,
                                      0x0001000100010001ull,
                                      0x0001000001000001ull,
                                      0x0000000100000001ull,
                                      0x0000010000000001ull,
                                      0x0001000000000001ull,
                                      0x0100000000000001ull};
constexpr std::uint8_t kPatternStep[8] = {0, 16, 16, 15, 16, 15, 12, 14};
// 8 * (8 mod distance): where in the period the second word starts, in bits.
constexpr std::uint8_t kPhaseBits[8] = {0, 0, 0, 16, 0, 24, 16, 8};
// On other byte orders: the smallest multiple of the distance that is at least 8.
[[maybe_unused]] constexpr std::uint8_t kPeriodSpan[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Fast-path copy of `n` bytes from `distance` bytes back. The caller has checked the distance and
// that `n` + kWildRoom bytes fit before the end of the output.
inline void WildCopyMatch(std::uint8_t* w, std::ptrdiff_t distance, std::ptrdiff_t n) {
    const std::uint8_t* from = w - distance;
    std::uint8_t* const stop = w + n;
    // Blocks taken straight from `from` are exact when the distance is at least 16 (each block
    // reads only bytes written before it) and also when the copy does not overlap its source
    // (distance >= n): then the bytes a block reads at or after w land at or after w + n, in the
    // room beyond the command. One test covers both, so that data mixing near and far copies
    // does not make the branch guess wrong.
    if (distance >= std::min<std::ptrdiff_t>(n, 16)) {
        Move16(w, from);
        if (n > 16) {
            w += 16;
            from += 16;
            do {
                Copy16(w, from);
                w += 16;
                from += 16;
            } while (w < stop);
        }
        return;
    }
    if (distance < 8) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The output repeats the `distance` bytes before w. Build its first 16 bytes in two
        // words (the loaded bytes past the period, in the room after w, are masked off) and
        // write them at steps that are multiples of the distance.
        const unsigned bits = 8 * static_cast<unsigned>(distance);
        const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
        const std::uint64_t period = Load64(from) & mask;
        // The second word starts 8 bytes on, i.e. 8 mod distance bytes into the period.
        const unsigned shift = kPhaseBits[distance];
        const std::uint64_t turned = ((period >> shift) | (period << (bits - shift))) & mask;
        const std::uint64_t low = period * kRepeat[distance];
        const std::uint64_t high = turned * kRepeat[distance];
        const std::ptrdiff_t step = kPatternStep[distance];
        do {
            Store64(w, low);
            Store64(w + 8, high);
            w += step;
        } while (w < stop);
        return;
#else
        for (int i = 0; i < 8; ++i) {
            w[i] = from[i];
        }
        w += 8;
        from = w - kPeriodSpan[distance];
#endif
    }
    while (w < stop) {
        Copy8(w, from);
        w += 8;
        from += 8;
    }
}

// The fields of a command, for the fast path, as functions of its first byte b0 and of the four
// bytes b0 b1 b2 b3 read as one big-endian word `be` (read whatever the command's size; the fast
// path has them in the source):
//   size      bytes of the command itself
//   literals  literals + ((be >> 22) & literalsMask)             (b1 bits 7-6)
//   length    length + (be & lengthMask); 0 for literal runs      (b3)
//   distance  distance + ((be >> distanceShift) & distanceMask)   (b1, or b1 b2); 1 for runs
// The parts that depend on b0 alone come from DecodeCommand; the check below holds the table
// to it for every first byte.
struct CommandFields {
    std::uint8_t size;
    std::uint8_t literals;
    std::uint8_t literalsMask;
    std::uint8_t distanceShift;
    std::uint32_t length;
    std::uint32_t lengthMask;
    std::uint32_t distance;
    std::uint32_t distanceMask;
};

// Length of end commands in the table: more than any output can hold, so that the fast path's
// room test hands them to the careful loop without a test of its own.
constexpr std::uint32_t kEndMark = 1u << 25;
static_assert(kEndMark > kMaxUncompressed + kWildRoom, "end commands must fail the room test");

struct CommandTable {
    CommandFields fields[256];
};

constexpr CommandTable MakeCommandTable() {
    CommandTable t{};
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(b0), 0, 0, 0};
        const Command base = DecodeCommand(bytes);
        CommandFields& c = t.fields[b0];
        c.size = base.size;
        c.literals = base.literals;
        c.length = base.length;
        c.distance = base.distance;
        switch (base.kind) {
        case CommandKind::kShortCopy: // distance bits 7-0 in b1
            c.distanceShift = 16;
            c.distanceMask = 0xFF;
            break;
        case CommandKind::kMediumCopy: // literals in b1 bits 7-6, distance bits 13-0 in b1, b2
            c.literalsMask = 3;
            c.distanceShift = 8;
            c.distanceMask = 0x3FFF;
            break;
        case CommandKind::kLongCopy: // length bits 7-0 in b3, distance bits 15-0 in b1, b2
            c.lengthMask = 0xFF;
            c.distanceShift = 8;
            c.distanceMask = 0xFFFF;
            break;
        case CommandKind::kLiteralRun: // an empty copy from distance 1
            c.distance = 1;
            break;
        case CommandKind::kEnd: // left to the careful loop (it may come first, with no output)
            c.length = kEndMark;
            break;
        }
    }
    return t;
}

constexpr CommandTable kCommandTable = MakeCommandTable();
constexpr const CommandFields* kCommandFields = kCommandTable.fields;

// How far on the next command starts (command bytes and literals), indexed by b0 and the top two
// bits of b1, i.e. the top ten bits of `be`. The fast path runs at the speed of the chain of
// dependent steps from one command's position to the next; through this table the chain is two
// loads and an add, without the field arithmetic of the big table (7% faster on text and
// machine code).
struct AdvanceTable {
    std::uint8_t advance[1024];
};

constexpr AdvanceTable MakeAdvanceTable() {
    AdvanceTable t{};
    for (unsigned k = 0; k < 1024; ++k) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(k >> 2),
                                       static_cast<std::uint8_t>((k & 3) << 6), 0, 0};
        const Command c = DecodeCommand(bytes);
        t.advance[k] = static_cast<std::uint8_t>(c.size + c.literals);
    }
    return t;
}

constexpr AdvanceTable kAdvanceTable = MakeAdvanceTable();

// The table agrees with DecodeCommand on every first byte, for following bytes with all bits
// clear, all set, and alternating.
constexpr bool TableAgreesWithFormat() {
    constexpr std::uint8_t kFollowing[4] = {0x00, 0xFF, 0x5A, 0xA5};
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        for (std::uint8_t f : kFollowing) {
            const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(b0), f,
                                           static_cast<std::uint8_t>(~f), f};
            const Command want = DecodeCommand(bytes);
            const CommandFields& c = kCommandTable.fields[b0];
            const std::uint32_t be = (b0 << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
            const std::uint32_t literals = c.literals + ((be >> 22) & c.literalsMask);
            const std::uint32_t length = c.length + (be & c.lengthMask);
            const std::uint32_t distance = c.distance + ((be >> c.distanceShift) & c.distanceMask);
            const bool copy =
                want.kind != CommandKind::kLiteralRun && want.kind != CommandKind::kEnd;
            if (c.size != want.size || literals != want.literals ||
                kAdvanceTable.advance[be >> 22] != want.size + want.literals ||
                (copy && (length != want.length || distance != want.distance)) ||
                (want.kind == CommandKind::kLiteralRun && (length != 0 || distance != 1)) ||
                (want.kind == CommandKind::kEnd && c.length != kEndMark)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(TableAgreesWithFormat(), "the fast decoder's table disagrees with the format");

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

const char* DescribeDecodeResult(DecodeResult result) {
    switch (result) {
    case DecodeResult::kOk:
        return "ok";
    case DecodeResult::kNegativeLength:
        return "negative output length";
    case DecodeResult::kNullBuffer:
        return "no buffer given";
    case DecodeResult::kShortSource:
        return "too short for a compressed entry";
    case DecodeResult::kBadSignature:
        return "not a compressed entry (signature is not 10 FB)";
    case DecodeResult::kSizeMismatch:
        return "header sizes do not match the entry and output lengths";
    case DecodeResult::kCommandPastEnd:
        return "a command is cut off by the end of the entry";
    case DecodeResult::kLiteralsPastEnd:
        return "a command's literals run past the end of the entry";
    case DecodeResult::kOutputOverflow:
        return "the commands produce more bytes than the header says";
    case DecodeResult::kReferenceBeforeStart:
        return "a copy reaches back before the start of the output";
    case DecodeResult::kSourceExhausted:
        return "the entry ends before the output is complete";
    case DecodeResult::kTrailingBytes:
        return "bytes other than end commands follow the complete output";
    }
    return "unknown failure";
}

DecodeResult Decode(const std::uint8_t* source, int sourceLength, std::uint8_t* destination,
                    int destinationLength, DecodeMode mode) {
    if (destinationLength < 0) {
        return DecodeResult::kNegativeLength;
    }
    if (source == nullptr || (destination == nullptr && destinationLength != 0)) {
        return DecodeResult::kNullBuffer;
    }
    EntryHeader header{};
    switch (ParseHeader(source, sourceLength, header)) {
    case HeaderCheck::kOk:
        break;
    case HeaderCheck::kShortSource:
        return DecodeResult::kShortSource;
    case HeaderCheck::kBadSignature:
        return DecodeResult::kBadSignature;
    }
    const bool partial = mode == DecodeMode::kPartial;
    if (partial
            ? header.compressedSize < sourceLength || header.uncompressedSize < destinationLength
            : header.compressedSize != sourceLength ||
                  header.uncompressedSize != destinationLength) {
        return DecodeResult::kSizeMismatch;
    }

    const std::uint8_t* p = source + kHeaderSize;
    const std::uint8_t* const end = source + sourceLength;
    std::uint8_t* w = destination;
    std::uint8_t* const wend = destination + destinationLength;

    // Fast path: runs while the source holds a command and its literals plus kWildRoom bytes and
    // the output holds the command's bytes plus kWildRoom; leaves p at an unconsumed command.
    if (end - p >= 4 + kWildRoom && wend - w >= kWildRoom) {
        // The room tests below compare with what remains before these limits.
        const std::uint8_t* const sourceLimit = end - kWildRoom;
        std::uint8_t* const outputLimit = wend - kWildRoom;
        do {
            // The command kinds are mixed without pattern, so the fields are taken through a
            // table of the first byte rather than through branches on it.
            const std::uint32_t be = LoadBigEndian32(p);
            const CommandFields& c = kCommandFields[be >> 24];
            const std::uint8_t* const q = p + c.size;
            const std::ptrdiff_t literals = c.literals + ((be >> 22) & c.literalsMask);
            const std::ptrdiff_t length = c.length + (be & c.lengthMask);
            const std::ptrdiff_t distance = c.distance + ((be >> c.distanceShift) & c.distanceMask);
            if (literals > sourceLimit - q || literals + length > outputLimit - w) {
                break; // also every end command
            }
            Copy16(w, q);
            if (literals > 16) {
                for (std::ptrdiff_t k = 16; k < literals; k += 16) {
                    Copy16(w + k, q + k);
                }
            }
            p += kAdvanceTable.advance[be >> 22]; // q + literals
            w += literals;
            // Literal runs come with length 0 and distance 1: their "copy" writes only into the
            // room beyond the command, and saves a branch on the command kind.
            if (distance > w - destination) {
                return DecodeResult::kReferenceBeforeStart;
            }
            WildCopyMatch(w, distance, length);
            w += length;
        } while (sourceLimit - p >= 4);
    }

    // The careful loop: every field is checked against what remains.
    for (;;) {
        if (CommandSize(*p) - 1 > end - p - 1) {
            return DecodeResult::kCommandPastEnd;
        }
        const Command c = DecodeCommand(p);
        p += c.size;
        std::ptrdiff_t literals = c.literals;
        std::ptrdiff_t length = c.length;
        if (literals > end - p || literals + length > wend - w) {
            if (!partial) {
                return literals > end - p ? DecodeResult::kLiteralsPastEnd
                                          : DecodeResult::kOutputOverflow;
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
                return DecodeResult::kLiteralsPastEnd;
            }
        }
        if (literals != 0) {
            std::memcpy(w, p, static_cast<std::size_t>(literals));
            p += literals;
            w += literals;
        }
        if (length != 0) {
            if (static_cast<std::ptrdiff_t>(c.distance) > w - destination) {
                return DecodeResult::kReferenceBeforeStart;
            }
            CopyMatch(w, wend, c.distance, length);
            w += length;
        }
        if (p == end || w == wend) {
            break;
        }
    }

    if (w != wend) {
        return DecodeResult::kSourceExhausted;
    }
    if (partial) {
        return DecodeResult::kOk;
    }
    // Once the output is full only end commands without literals may follow.
    while (p != end && *p == EndCommandByte(0)) {
        ++p;
    }
    return p == end ? DecodeResult::kOk : DecodeResult::kTrailingBytes;
}

} // namespace quorrin
