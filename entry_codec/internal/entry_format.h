// The compressed entry format, written down once: header fields, the five command kinds with
// their byte layouts and ranges, and small helpers that read and write them. The decoder, the
// encoders and dbpftool read and write entries only through this header.
//
// An entry is a 9-byte header and a stream of commands:
//
//   offset 0  4 bytes  compressed size, little-endian (the whole entry, header included); the
//                      encoder writes it unsigned, readers take it as a signed 32-bit value
//   offset 4  2 bytes  signature 0x10 0xFB
//   offset 6  3 bytes  uncompressed size, big-endian (0 to 0xFFFFFF)
//   offset 9  ...      commands
//
// Each command is 1 to 4 command bytes, then its literals (copied to the output as they are),
// then, for a copy kind, `length` bytes taken from `distance` bytes back in the output. The first
// byte b0 decides the kind:
//
//   kind         b0      bytes  literals         length                distance
//   short copy   00..7F  2      b0 & 3           ((b0 >> 2) & 7) + 3   ((b0 & 0x60) << 3) + b1 + 1
//   medium copy  80..BF  3      b1 >> 6          (b0 & 0x3F) + 4       ((b1 & 0x3F) << 8) + b2 + 1
//   long copy    C0..DF  4      b0 & 3           ((b0 & 0x0C) << 6)    ((b0 & 0x10) << 12)
//                                                  + b3 + 5              + (b1 << 8) + b2 + 1
//   literal run  E0..FB  1      (b0 - 0xDF) * 4  -                     -
//   end          FC..FF  1      b0 - 0xFC        -                     -
//
// The end command has no stopping power of its own: a decoder steps over it like any command
// without a copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorrin {

// ---- Header ---------------------------------------------------------------------------------

constexpr int kHeaderSize = 9;
constexpr std::uint8_t kSignature0 = 0x10; // byte 4
constexpr std::uint8_t kSignature1 = 0xFB; // byte 5
// The smallest entry a decoder looks at: the header and one command byte.
constexpr int kMinEntrySize = kHeaderSize + 1;
// The largest uncompressed size the 24-bit field holds.
constexpr std::uint32_t kMaxUncompressed = 0xFFFFFF;

// The two sizes of a header. The compressed size is read as a signed 32-bit value, so that
// sizes of 0x80000000 and more come out negative and never match a valid length.
struct EntryHeader {
    std::int32_t compressedSize;
    std::int32_t uncompressedSize; // 0 to kMaxUncompressed
};

// Whether `available` bytes at `entry` start with a header a decoder accepts: at least
// kMinEntrySize bytes and the signature. Fills `header` when they do.
enum class HeaderCheck { kOk, kShortSource, kBadSignature };

inline HeaderCheck ParseHeader(const std::uint8_t* entry, std::ptrdiff_t available,
                               EntryHeader& header) {
    if (available < kMinEntrySize) {
        return HeaderCheck::kShortSource;
    }
    if (entry[4] != kSignature0 || entry[5] != kSignature1) {
        return HeaderCheck::kBadSignature;
    }
    const std::uint32_t raw =
        static_cast<std::uint32_t>(entry[0]) | (static_cast<std::uint32_t>(entry[1]) << 8) |
        (static_cast<std::uint32_t>(entry[2]) << 16) | (static_cast<std::uint32_t>(entry[3]) << 24);
    // Two's complement without implementation-defined conversion.
    header.compressedSize = raw >= 0x80000000u
                                ? static_cast<std::int32_t>(raw - 0x80000000u) - 0x7FFFFFFF - 1
                                : static_cast<std::int32_t>(raw);
    header.uncompressedSize = (entry[6] << 16) | (entry[7] << 8) | entry[8];
    return HeaderCheck::kOk;
}

// Writes the 9 header bytes. `uncompressedSize` is at most kMaxUncompressed.
inline void WriteHeader(std::uint8_t* entry, std::uint32_t compressedSize,
                        std::uint32_t uncompressedSize) {
    entry[0] = static_cast<std::uint8_t>(compressedSize);
    entry[1] = static_cast<std::uint8_t>(compressedSize >> 8);
    entry[2] = static_cast<std::uint8_t>(compressedSize >> 16);
    entry[3] = static_cast<std::uint8_t>(compressedSize >> 24);
    entry[4] = kSignature0;
    entry[5] = kSignature1;
    entry[6] = static_cast<std::uint8_t>(uncompressedSize >> 16);
    entry[7] = static_cast<std::uint8_t>(uncompressedSize >> 8);
    entry[8] = static_cast<std::uint8_t>(uncompressedSize);
}

// ---- Commands -------------------------------------------------------------------------------

enum class CommandKind : std::uint8_t { kShortCopy, kMediumCopy, kLongCopy, kLiteralRun, kEnd };

constexpr std::uint8_t kMediumFirst = 0x80;
constexpr std::uint8_t kLongFirst = 0xC0;
constexpr std::uint8_t kRunFirst = 0xE0;
constexpr std::uint8_t kEndFirst = 0xFC;

// Literals a copy or end command carries; longer stretches travel in literal runs.
constexpr int kMaxCarriedLiterals = 3;
// A literal run carries 4 to 112 literals in steps of 4.
constexpr int kRunStep = 4;
constexpr int kMaxRun = 112;

// Ranges of the copy kinds. Every copy length fits the long kind; the smaller kinds are for
// short, near copies.
constexpr int kShortMinLength = 3;
constexpr int kShortMaxLength = 10;
constexpr int kShortMaxDistance = 1024;
constexpr int kMediumMinLength = 4;
constexpr int kMediumMaxLength = 67;
constexpr int kMediumMaxDistance = 16384;
constexpr int kLongMinLength = 5;
constexpr int kMaxLength = 1028;
constexpr int kMaxDistance = 131072;

constexpr CommandKind KindOf(std::uint8_t b0) {
    return b0 < kMediumFirst ? CommandKind::kShortCopy
           : b0 < kLongFirst ? CommandKind::kMediumCopy
           : b0 < kRunFirst  ? CommandKind::kLongCopy
           : b0 < kEndFirst  ? CommandKind::kLiteralRun
                             : CommandKind::kEnd;
}

// Number of command bytes (1 to 4) of the command that starts with b0.
constexpr int CommandSize(std::uint8_t b0) {
    return b0 < kMediumFirst ? 2 : b0 < kLongFirst ? 3 : b0 < kRunFirst ? 4 : 1;
}

// One command's fields; length and distance are 0 for literal runs and end commands.
struct Command {
    CommandKind kind;
    std::uint8_t size; // command bytes
    std::uint8_t literals;
    std::uint16_t length;
    std::uint32_t distance;
};

// Decodes the command at `c`; CommandSize(c[0]) bytes must be readable there (no more are read).
constexpr Command DecodeCommand(const std::uint8_t* c) {
    const unsigned b0 = c[0];
    switch (KindOf(c[0])) {
    case CommandKind::kShortCopy:
        return {CommandKind::kShortCopy, 2, static_cast<std::uint8_t>(b0 & 3),
                static_cast<std::uint16_t>(((b0 >> 2) & 7) + 3),
                static_cast<std::uint32_t>(((b0 & 0x60) << 3) + c[1] + 1)};
    case CommandKind::kMediumCopy:
        return {CommandKind::kMediumCopy, 3, static_cast<std::uint8_t>(c[1] >> 6),
                static_cast<std::uint16_t>((b0 & 0x3F) + 4),
                static_cast<std::uint32_t>(((c[1] & 0x3F) << 8) + c[2] + 1)};
    case CommandKind::kLongCopy:
        return {CommandKind::kLongCopy, 4, static_cast<std::uint8_t>(b0 & 3),
                static_cast<std::uint16_t>(((b0 & 0x0C) << 6) + c[3] + 5),
                static_cast<std::uint32_t>(((b0 & 0x10) << 12) + (c[1] << 8) + c[2] + 1)};
    case CommandKind::kLiteralRun:
        return {CommandKind::kLiteralRun, 1, static_cast<std::uint8_t>((b0 - 0xDF) * 4), 0, 0};
    case CommandKind::kEnd:
        break;
    }
    return {CommandKind::kEnd, 1, static_cast<std::uint8_t>(b0 - kEndFirst), 0, 0};
}

// Writes the smallest copy command that holds `literals` (0 to 3) carried literals and a copy of
// `length` (3 to 1028) bytes from `distance` (1 to 131072) back; returns its size (2 to 4). A
// length of 3 needs a distance of at most 1024 and a length of 4 one of at most 16384: no kind
// holds the others, and callers never ask for them.
inline int EncodeCopy(std::uint8_t* out, int literals, int length, int distance) {
    const int d = distance - 1; // stored: distance minus 1
    if (d < kShortMaxDistance && length <= kShortMaxLength) {
        out[0] = static_cast<std::uint8_t>(((d >> 3) & 0x60) + ((length - 3) << 2) + literals);
        out[1] = static_cast<std::uint8_t>(d & 0xFF);
        return 2;
    }
    if (d < kMediumMaxDistance && length <= kMediumMaxLength) {
        out[0] = static_cast<std::uint8_t>(kMediumFirst + (length - 4));
        out[1] = static_cast<std::uint8_t>((literals << 6) + (d >> 8));
        out[2] = static_cast<std::uint8_t>(d & 0xFF);
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(kLongFirst + (((length - 5) >> 8) << 2) + ((d >> 16) << 4) +
                                       literals);
    out[1] = static_cast<std::uint8_t>((d >> 8) & 0xFF);
    out[2] = static_cast<std::uint8_t>(d & 0xFF);
    out[3] = static_cast<std::uint8_t>((length - 5) & 0xFF);
    return 4;
}

// Size of the command EncodeCopy writes for a copy of `length` from `distance` back.
constexpr int CopyCommandSize(int length, int distance) {
    return distance <= kShortMaxDistance && length <= kShortMaxLength     ? 2
           : distance <= kMediumMaxDistance && length <= kMediumMaxLength ? 3
                                                                          : 4;
}

// Whether some command can hold a copy of `length` bytes from `distance` back.
constexpr bool CopyEncodable(int length, int distance) {
    return length >= kShortMinLength && length <= kMaxLength && distance >= 1 &&
           distance <= kMaxDistance && (length > 3 || distance <= kShortMaxDistance) &&
           (length > 4 || distance <= kMediumMaxDistance);
}

// First byte of a literal run of `count` literals (4 to 112, a multiple of 4).
constexpr std::uint8_t LiteralRunByte(int count) {
    return static_cast<std::uint8_t>(0xDF + count / kRunStep);
}

// The end command carrying `literals` (0 to 3) literals.
constexpr std::uint8_t EndCommandByte(int literals) {
    return static_cast<std::uint8_t>(kEndFirst + literals);
}

} // namespace quorrin
