// The decoder's reason for each failure: one malformed entry per reason, in both modes where the
// reason applies, and the texts that dbpftool prints for them.
#include "codec_internal.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

using namespace quorrin_test;
using quorrin::DecodeMode;
using quorrin::DecodeResult;

namespace {

struct ReasonCase {
    const char* name;
    Bytes entry;
    int sourceDelta; // sourceLength = entry size + delta
    int destinationLength;
    DecodeMode mode;
    DecodeResult expected;
};

Bytes Patched(Bytes entry, std::size_t at, std::uint8_t value) {
    entry[at] = value;
    return entry;
}

// abc, then a short copy of length 10 at distance 3 over its own output: 13 bytes.
const Bytes kAbc = MakeEntry(Hex("1F 02 61 62 63 FC"), 13);
// 160 bytes: literal runs of 112 and 48, so that the fast loop has room to run, then a long copy
// whose distance is given by the last two command bytes before the end.
Bytes LongEntry(const char* copy, std::uint32_t size) {
    Bytes commands;
    for (int run : {112, 48}) {
        commands.push_back(quorrin::LiteralRunByte(run));
        for (int k = 0; k < run; ++k) {
            commands.push_back(static_cast<std::uint8_t>(k * 7));
        }
    }
    const Bytes c = Hex(copy);
    commands.insert(commands.end(), c.begin(), c.end());
    commands.push_back(0xFC);
    return MakeEntry(commands, size);
}

const ReasonCase kReasons[] = {
    {"well formed", kAbc, 0, 13, DecodeMode::kExact, DecodeResult::kOk},
    {"well formed partial", kAbc, 0, 5, DecodeMode::kPartial, DecodeResult::kOk},
    {"negative output length", kAbc, 0, -1, DecodeMode::kPartial, DecodeResult::kNegativeLength},
    {"nine bytes", kAbc, -6, 0, DecodeMode::kPartial, DecodeResult::kShortSource},
    {"negative source length", kAbc, -100, 0, DecodeMode::kExact, DecodeResult::kShortSource},
    {"signature byte 4", Patched(kAbc, 4, 0x11), 0, 13, DecodeMode::kExact,
     DecodeResult::kBadSignature},
    {"signature byte 5", Patched(kAbc, 5, 0xFA), 0, 13, DecodeMode::kPartial,
     DecodeResult::kBadSignature},
    {"exact output one short", kAbc, 0, 12, DecodeMode::kExact, DecodeResult::kSizeMismatch},
    {"partial source beyond header", kAbc, 1, 13, DecodeMode::kPartial,
     DecodeResult::kSizeMismatch},
    {"negative header size", Patched(kAbc, 3, 0x80), 0, 13, DecodeMode::kPartial,
     DecodeResult::kSizeMismatch},
    {"source ends in command bytes", kAbc, -5, 0, DecodeMode::kPartial,
     DecodeResult::kCommandPastEnd},
    {"long copy cut off", MakeEntry(Hex("E0 01 02 03 04 C0 00"), 9), 0, 9, DecodeMode::kExact,
     DecodeResult::kCommandPastEnd},
    {"literals past the end", MakeEntry(Hex("E1 01 02 03 04"), 8), 0, 8, DecodeMode::kExact,
     DecodeResult::kLiteralsPastEnd},
    {"literals past a truncated source", kAbc, -3, 13, DecodeMode::kPartial,
     DecodeResult::kLiteralsPastEnd},
    {"commands write past the output", MakeEntry(Hex("E0 01 02 03 04 FC"), 3), 0, 3,
     DecodeMode::kExact, DecodeResult::kOutputOverflow},
    {"copy before any output", MakeEntry(Hex("00 00 FC"), 3), 0, 3, DecodeMode::kPartial,
     DecodeResult::kReferenceBeforeStart},
    {"distance one beyond output", MakeEntry(Hex("1F 03 61 62 63 FC"), 13), 0, 13,
     DecodeMode::kExact, DecodeResult::kReferenceBeforeStart},
    // Found by the fast loop (the entry is long enough for it): distance 161 after 160 bytes.
    {"distance beyond output, fast loop", LongEntry("C0 00 A0 00", 165), 0, 165, DecodeMode::kExact,
     DecodeResult::kReferenceBeforeStart},
    {"distance equal to output, fast loop", LongEntry("C0 00 9F 00", 165), 0, 165,
     DecodeMode::kExact, DecodeResult::kOk},
    {"source runs out", MakeEntry(Hex("E0 01 02 03 04"), 8), 0, 8, DecodeMode::kExact,
     DecodeResult::kSourceExhausted},
    {"source runs out partial", MakeEntry(Hex("E0 01 02 03 04 FC"), 8), -1, 8, DecodeMode::kPartial,
     DecodeResult::kSourceExhausted},
    {"byte other than FC after the output", MakeEntry(Hex("1F 02 61 62 63 FC 00"), 13), 0, 13,
     DecodeMode::kExact, DecodeResult::kTrailingBytes},
    {"end command with literals after the output", MakeEntry(Hex("1F 02 61 62 63 FD 78"), 13), 0,
     13, DecodeMode::kExact, DecodeResult::kTrailingBytes},
};

TEST(QuorrinDecodeResult, OneReasonPerMalformedEntry) {
    std::set<DecodeResult> seen;
    for (const ReasonCase& c : kReasons) {
        SCOPED_TRACE(c.name);
        Bytes entry = c.entry;
        entry.resize(entry.size() + 1, 0xFC); // a readable byte for the "source beyond" case
        Bytes out(static_cast<std::size_t>(c.destinationLength > 0 ? c.destinationLength : 0) + 1);
        const int sourceLength = static_cast<int>(c.entry.size()) + c.sourceDelta;
        EXPECT_EQ(
            quorrin::Decode(entry.data(), sourceLength, out.data(), c.destinationLength, c.mode),
            c.expected)
            << quorrin::DescribeDecodeResult(quorrin::Decode(entry.data(), sourceLength, out.data(),
                                                             c.destinationLength, c.mode));
        seen.insert(c.expected);
    }
    Bytes out(1);
    EXPECT_EQ(quorrin::Decode(nullptr, 10, out.data(), 1, DecodeMode::kExact),
              DecodeResult::kNullBuffer);
    EXPECT_EQ(quorrin::Decode(kAbc.data(), static_cast<int>(kAbc.size()), nullptr, 13,
                              DecodeMode::kExact),
              DecodeResult::kNullBuffer);
    seen.insert(DecodeResult::kNullBuffer);
    // Every reason is covered by the table.
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(DecodeResult::kTrailingBytes) + 1);
}

TEST(QuorrinDecodeResult, EachReasonHasItsOwnText) {
    std::set<std::string> texts;
    for (int r = 0; r <= static_cast<int>(DecodeResult::kTrailingBytes); ++r) {
        const char* text = quorrin::DescribeDecodeResult(static_cast<DecodeResult>(r));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 1u);
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(DecodeResult::kTrailingBytes) + 1);
}

// The header helpers read what the encoder's WriteHeader writes, including sizes whose top bit
// is set (read back as negative).
TEST(QuorrinDecodeResult, HeaderRoundTrip) {
    const struct {
        std::uint32_t compressed;
        std::uint32_t uncompressed;
        std::int32_t expectedCompressed;
    } cases[] = {{10, 0, 10},
                 {0x12345678, 0xFFFFFF, 0x12345678},
                 {0x80000000u, 1, INT32_MIN},
                 {0xFFFFFFFFu, 0xABCDEF, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compressed);
        std::uint8_t bytes[10] = {};
        quorrin::WriteHeader(bytes, c.compressed, c.uncompressed);
        quorrin::EntryHeader h{};
        ASSERT_EQ(quorrin::ParseHeader(bytes, 10, h), quorrin::HeaderCheck::kOk);
        EXPECT_EQ(h.compressedSize, c.expectedCompressed);
        EXPECT_EQ(h.uncompressedSize, static_cast<std::int32_t>(c.uncompressed));
        EXPECT_EQ(quorrin::ParseHeader(bytes, 9, h), quorrin::HeaderCheck::kShortSource);
    }
    // Byte order on the wire: compressed size little-endian, uncompressed size big-endian.
    std::uint8_t bytes[9];
    quorrin::WriteHeader(bytes, 0x0A0B0C0D, 0x010203);
    EXPECT_EQ(ToHex(Bytes(bytes, bytes + 9)), ToHex(Hex("0D 0C 0B 0A 10 FB 01 02 03")));
}

// EncodeCopy picks the smallest kind, and DecodeCommand reads back every field, across the
// corners of each kind's ranges.
TEST(QuorrinDecodeResult, CopyCommandsRoundTrip) {
    for (int literals = 0; literals <= 3; ++literals) {
        for (int length : {3, 4, 5, 10, 11, 67, 68, 258, 259, 1028}) {
            for (int distance : {1, 2, 1024, 1025, 16384, 16385, 65536, 65537, 131072}) {
                if (!quorrin::CopyEncodable(length, distance)) {
                    continue;
                }
                std::uint8_t bytes[4] = {};
                const int size = quorrin::EncodeCopy(bytes, literals, length, distance);
                SCOPED_TRACE(ToHex(Bytes(bytes, bytes + size)));
                const quorrin::Command c = quorrin::DecodeCommand(bytes);
                EXPECT_EQ(c.size, size);
                EXPECT_EQ(size, quorrin::CommandSize(bytes[0]));
                EXPECT_EQ(size, quorrin::CopyCommandSize(length, distance));
                EXPECT_EQ(c.literals, literals);
                EXPECT_EQ(c.length, length);
                EXPECT_EQ(static_cast<int>(c.distance), distance);
            }
        }
    }
}

} // namespace
