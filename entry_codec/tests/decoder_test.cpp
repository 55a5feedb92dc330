// DecompressPackage: hand-built entries, field decoding of every command kind, malformed input,
// and the bounds rules (outputs pre-filled with 0xFF and a guard byte; inputs flush against an
// unreadable page where the platform allows it).
#include "quorrin.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

using namespace quorrin_test;

namespace {

constexpr std::uint8_t kFill = 0xFF;

// Decodes `entry` (first `sourceLength` bytes) into a 0xFF-filled buffer with one guard byte
// after `destinationLength`, and checks that the guard survives.
int DecodeGuarded(const Bytes& entry, int sourceLength, int destinationLength, int partial,
                  Bytes* out = nullptr) {
    Bytes buf(static_cast<std::size_t>(std::max(destinationLength, 0)) + 1, kFill);
    const int r =
        DecompressPackage(entry.data(), sourceLength, buf.data(), destinationLength, partial);
    EXPECT_EQ(buf.back(), kFill) << "wrote past destinationLength";
    buf.pop_back();
    if (out != nullptr) {
        *out = buf;
    }
    return r;
}

struct DecodeCase {
    const char* name;
    Bytes entry;
    int sourceDelta; // sourceLength = entry size + delta
    int destinationLength;
    int partial;
    int expected;
    Bytes output; // checked when the call succeeds
};

// abc, then a short copy of length 10 at distance 3 over its own output.
const Bytes kAbc = MakeEntry(Hex("1F 02 61 62 63 FC"), 13);
const Bytes kAbcOut = Text("abcabcabcabca");

Bytes WithSize(Bytes entry, std::uint32_t compressedSize) {
    entry[0] = static_cast<std::uint8_t>(compressedSize);
    entry[1] = static_cast<std::uint8_t>(compressedSize >> 8);
    entry[2] = static_cast<std::uint8_t>(compressedSize >> 16);
    entry[3] = static_cast<std::uint8_t>(compressedSize >> 24);
    return entry;
}

const DecodeCase kCases[] = {
    // Well-formed entries.
    {"empty exact", MakeEntry(Hex("FC"), 0), 0, 0, 0, 1, {}},
    {"empty partial", MakeEntry(Hex("FC"), 0), 0, 0, 1, 1, {}},
    {"trailing end commands", MakeEntry(Hex("FC FC FC"), 0), 0, 0, 0, 1, {}},
    {"fill at distance 1", MakeEntry(Hex("1D 00 41 FC"), 11), 0, 11, 0, 1, Bytes(11, 0x41)},
    {"overlapping copy repeats", kAbc, 0, 13, 0, 1, kAbcOut},
    {"no end command", MakeEntry(Hex("1F 02 61 62 63"), 13), 0, 13, 0, 1, kAbcOut},
    {"end command first is stepped over", MakeEntry(Hex("FC 1F 02 61 62 63 FC"), 13), 0, 13, 0, 1,
     kAbcOut},
    {"end command with literals mid-stream", MakeEntry(Hex("FE 61 62 1D 02 63 FC"), 13), 0, 13, 0,
     1, kAbcOut},
    {"literal run of 4", MakeEntry(Hex("E0 01 02 03 04 FC"), 4), 0, 4, 0, 1, Hex("01 02 03 04")},
    // Partial mode.
    {"partial prefix", kAbc, 0, 5, 1, 1, Text("abcab")},
    {"partial cut inside literals", kAbc, 0, 2, 1, 1, Text("ab")},
    {"partial nothing wanted", kAbc, 0, 0, 1, 1, {}},
    {"partial header 0x7FFFFFFF", WithSize(kAbc, 0x7FFFFFFF), 0, 13, 1, 1, kAbcOut},
    {"trailing FD partial", MakeEntry(Hex("1F 02 61 62 63 FD 78"), 13), 0, 13, 1, 1, kAbcOut},
    // Rejected.
    {"distance beyond output", MakeEntry(Hex("1F 03 61 62 63 FC"), 13), 0, 13, 0, 0, {}},
    {"distance beyond output partial", MakeEntry(Hex("1F 03 61 62 63 FC"), 13), 0, 5, 1, 0, {}},
    {"copy before any output", MakeEntry(Hex("00 00 FC"), 3), 0, 3, 1, 0, {}},
    {"trailing FD exact", MakeEntry(Hex("1F 02 61 62 63 FD 78"), 13), 0, 13, 0, 0, {}},
    {"trailing byte not FC", MakeEntry(Hex("1F 02 61 62 63 FC 00"), 13), 0, 13, 0, 0, {}},
    {"exact output one short", kAbc, 0, 12, 0, 0, {}},
    {"exact output one long", kAbc, 0, 14, 0, 0, {}},
    {"partial output beyond header", kAbc, 0, 14, 1, 0, {}},
    {"partial source beyond header", kAbc, 1, 13, 1, 0, {}},
    {"exact source shorter than header", kAbc, -1, 13, 0, 0, {}},
    {"partial source ends in command bytes", kAbc, -5, 0, 1, 0, {}},
    {"partial source ends in literals", kAbc, -3, 13, 1, 0, {}},
    {"partial source ends before output", MakeEntry(Hex("E0 01 02 03 04 FC"), 8), -1, 8, 1, 0, {}},
    {"source runs out", MakeEntry(Hex("E0 01 02 03 04"), 8), 0, 8, 0, 0, {}},
    {"commands write past the output", MakeEntry(Hex("E0 01 02 03 04 FC"), 3), 0, 3, 0, 0, {}},
    {"nine bytes", kAbc, -6, 0, 1, 0, {}},
    {"bad signature",
     [] {
         Bytes e = kAbc;
         e[5] = 0xFA;
         return e;
     }(),
     0,
     13,
     0,
     0,
     {}},
    {"bad signature byte 4",
     [] {
         Bytes e = kAbc;
         e[4] = 0x11;
         return e;
     }(),
     0,
     13,
     1,
     0,
     {}},
    {"negative header size partial", WithSize(kAbc, 0xFFFFFFFF), 0, 13, 1, 0, {}},
    {"header size 0x80000000 exact", WithSize(kAbc, 0x80000000), 0, 13, 0, 0, {}},
    {"negative destinationLength partial", kAbc, 0, -1, 1, 0, {}},
    {"negative destinationLength exact", kAbc, 0, -1, 0, 0, {}},
};

// Appends literal runs carrying `count` random bytes (a multiple of 4): runs of 112, then one
// run of what is left. The literals also go to `expected`.
void AppendLiteralRuns(int count, Rng& rng, Bytes& commands, Bytes& expected) {
    for (int left = count; left > 0;) {
        const int run = std::min(left, 112);
        commands.push_back(static_cast<std::uint8_t>(0xDF + run / 4));
        for (int j = 0; j < run; ++j) {
            commands.push_back(rng.Byte());
            expected.push_back(commands.back());
        }
        left -= run;
    }
}

TEST(QuorrinDecoder, HandBuiltEntries) {
    for (const DecodeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const int sourceLength = static_cast<int>(c.entry.size()) + c.sourceDelta;
        Bytes entry = c.entry;
        entry.resize(entry.size() + 1, 0xFC); // a readable byte for the "source beyond" cases
        Bytes out;
        ASSERT_EQ(DecodeGuarded(entry, sourceLength, c.destinationLength, c.partial, &out),
                  c.expected);
        if (c.expected == 1) {
            EXPECT_EQ(ToHex(out), ToHex(c.output));
        }
    }
}

// Each kind of command with fields at their limits: the output must be exactly the prefix,
// the command's literals and the copy taken byte by byte from `distance` back.
struct CommandCase {
    const char* bytes;
    int literals;
    int length;
    int distance;
};

const CommandCase kCommands[] = {
    {"1F 02", 3, 10, 3},         {"6C FF", 0, 6, 1024},
    {"00 00", 0, 3, 1},          {"8A 40 00", 1, 14, 1},
    {"BF FF FF", 3, 67, 16384},  {"80 00 07", 0, 4, 8},
    {"CD 00 00 FF", 1, 1028, 1}, {"DC FF FF FF", 0, 1028, 131072},
    {"C3 00 10 00", 3, 5, 17},   {"E1", 8, 0, 0},
    {"FB", 112, 0, 0},           {"FD", 1, 0, 0},
};

TEST(QuorrinDecoder, CommandFields) {
    Rng rng(7);
    for (const CommandCase& c : kCommands) {
        SCOPED_TRACE(c.bytes);
        // A prefix of random literals at least as long as the distance, in runs of 112 and a
        // last run of the remaining multiple of 4.
        const int prefix = std::max(4, (c.distance + 3) / 4 * 4);
        Bytes commands;
        Bytes expected;
        AppendLiteralRuns(prefix, rng, commands, expected);
        const Bytes cmd = Hex(c.bytes);
        commands.insert(commands.end(), cmd.begin(), cmd.end());
        for (int j = 0; j < c.literals; ++j) {
            commands.push_back(rng.Byte());
            expected.push_back(commands.back());
        }
        for (int j = 0; j < c.length; ++j) {
            expected.push_back(expected[expected.size() - static_cast<std::size_t>(c.distance)]);
        }
        commands.push_back(0xFC);
        const Bytes entry = MakeEntry(commands, static_cast<std::uint32_t>(expected.size()));
        Bytes out;
        ASSERT_EQ(DecodeGuarded(entry, static_cast<int>(entry.size()),
                                static_cast<int>(expected.size()), 0, &out),
                  1);
        EXPECT_TRUE(out == expected);
    }
}

// Every prefix of every entry, decoded in partial mode, is the prefix of the full decode; a
// truncated source never yields more than it holds and never reads past its end.
TEST(QuorrinDecoder, PartialDecodeIsPrefixOfFullDecode) {
    const Bytes inputs[] = {Generate(Kind::kText, 3000, 1), Generate(Kind::kRuns, 2500, 2),
                            Generate(Kind::kPeriodic, 2000, 3), Generate(Kind::kRecords, 1500, 4)};
    for (const Bytes& input : inputs) {
        const Bytes entry = Compress(input);
        ASSERT_FALSE(entry.empty());
        const int size = static_cast<int>(entry.size());
        for (int wanted = 0; wanted <= static_cast<int>(input.size()); ++wanted) {
            Bytes out;
            ASSERT_EQ(DecodeGuarded(entry, size, wanted, 1, &out), 1) << wanted;
            ASSERT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << wanted;
        }
        for (int cut = 9; cut < size; ++cut) {
            Bytes truncated(entry.begin(), entry.begin() + cut); // exactly sized for ASan
            Bytes out;
            const int r = DecodeGuarded(truncated, cut, static_cast<int>(input.size()), 1, &out);
            // Only the final end command may be missing from a source that still decodes whole.
            if (r == 1) {
                EXPECT_GE(cut, size - 4);
                EXPECT_TRUE(out == input);
            }
        }
    }
}

// The one long-distance copy the format allows: 131072 bytes back, which needs 131072 bytes of
// output before it.
TEST(QuorrinDecoder, FarthestDistanceNeedsFullWindow) {
    for (int produced : {131072, 131068}) {
        SCOPED_TRACE(produced);
        Rng rng(11);
        Bytes commands;
        Bytes expected;
        AppendLiteralRuns(produced, rng, commands, expected);
        for (const std::uint8_t b : Hex("DC FF FF FF FC")) {
            commands.push_back(b);
        }
        const std::size_t from = expected.size() - std::min<std::size_t>(expected.size(), 131072);
        for (int j = 0; j < 1028; ++j) {
            expected.push_back(expected[from + static_cast<std::size_t>(j)]);
        }
        const Bytes entry = MakeEntry(commands, static_cast<std::uint32_t>(expected.size()));
        Bytes out;
        const int r = DecodeGuarded(entry, static_cast<int>(entry.size()),
                                    static_cast<int>(expected.size()), 0, &out);
        if (produced == 131072) {
            ASSERT_EQ(r, 1);
            EXPECT_TRUE(out == expected);
        } else {
            EXPECT_EQ(r, 0);
        }
    }
}

TEST(QuorrinDecoder, NullPointersAreRejected) {
    Bytes out(13);
    EXPECT_EQ(DecompressPackage(nullptr, 19, out.data(), 13, 0), 0);
    EXPECT_EQ(DecompressPackage(nullptr, 19, out.data(), 13, 1), 0);
    EXPECT_EQ(DecompressPackage(kAbc.data(), static_cast<int>(kAbc.size()), nullptr, 13, 1), 0);
    // Nothing wanted: no destination is needed.
    EXPECT_EQ(DecompressPackage(kAbc.data(), static_cast<int>(kAbc.size()), nullptr, 0, 1), 1);
}

#ifndef _WIN32
// Input and output placed flush against an inaccessible page: any read past the source or
// write past the destination faults.
class GuardedRegion {
public:
    explicit GuardedRegion(std::size_t size) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        length_ = (size + page - 1) / page * page + page;
        base_ = static_cast<std::uint8_t*>(
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) {
            base_ = nullptr;
            return;
        }
        mprotect(base_ + length_ - page, page, PROT_NONE);
        end_ = base_ + length_ - page;
    }
    ~GuardedRegion() {
        if (base_ != nullptr) {
            munmap(base_, length_);
        }
    }
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;
    // `size` bytes ending right at the guard page.
    std::uint8_t* Tail(std::size_t size) const { return end_ - size; }
    bool ok() const { return base_ != nullptr; }

private:
    std::uint8_t* base_ = nullptr;
    std::uint8_t* end_ = nullptr;
    std::size_t length_ = 0;
};

TEST(QuorrinDecoder, ReadsAndWritesStopAtBufferEnds) {
    const Bytes input = Generate(Kind::kMixed, 6000, 21);
    const Bytes entry = Compress(input);
    ASSERT_FALSE(entry.empty());
    GuardedRegion src(entry.size());
    GuardedRegion dst(input.size());
    ASSERT_TRUE(src.ok() && dst.ok());
    const int wanted = static_cast<int>(input.size());
    for (std::size_t cut = 10; cut <= entry.size(); ++cut) {
        for (int partial : {0, 1}) {
            std::uint8_t* s = src.Tail(cut);
            std::memcpy(s, entry.data(), cut);
            if (!partial) { // make the header agree so that exact mode decodes up to the cut
                for (int b = 0; b < 4; ++b) {
                    s[b] = static_cast<std::uint8_t>(cut >> (8 * b));
                }
            }
            const int r = DecompressPackage(s, static_cast<int>(cut), dst.Tail(input.size()),
                                            wanted, partial);
            // Only a missing final end command (without literals) leaves a decodable entry.
            if (cut == entry.size()) {
                EXPECT_EQ(r, 1);
            } else if (r == 1) {
                EXPECT_EQ(cut + 1, entry.size());
                EXPECT_EQ(entry.back(), 0xFC);
            }
        }
    }
    for (std::size_t prefix = 0; prefix <= input.size(); prefix += 7) {
        std::uint8_t* s = src.Tail(entry.size());
        std::memcpy(s, entry.data(), entry.size());
        std::uint8_t* d = dst.Tail(prefix);
        ASSERT_EQ(
            DecompressPackage(s, static_cast<int>(entry.size()), d, static_cast<int>(prefix), 1),
            1);
        ASSERT_EQ(std::memcmp(d, input.data(), prefix), 0);
    }
}
#endif

// Builds an entry around one copy: `head` literals (a multiple of 4), the copy (`literals` more
// literals, then `length` bytes from `distance` back, in the smallest command kind that holds it),
// optionally a 3-byte fill, then `tail` literals. `expected` receives the output, made byte by
// byte.
Bytes CopyEntry(int head, int literals, int length, int distance, bool fill, int tail, Rng& rng,
                Bytes& expected) {
    Bytes commands;
    expected.clear();
    auto literalRuns = [&](int count) { // runs of 4..112; returns the 0..3 left over
        while (count >= 4) {
            const int run = std::min(count / 4, 28) * 4;
            commands.push_back(static_cast<std::uint8_t>(0xDF + run / 4));
            for (int j = 0; j < run; ++j) {
                commands.push_back(rng.Byte());
                expected.push_back(commands.back());
            }
            count -= run;
        }
        return count;
    };
    auto copy = [&](int lit, int len, int dist) {
        const int d = dist - 1;
        if (len <= 10 && dist <= 1024) {
            commands.push_back(
                static_cast<std::uint8_t>(((d >> 3) & 0x60) + ((len - 3) << 2) + lit));
            commands.push_back(static_cast<std::uint8_t>(d));
        } else if (len <= 67 && dist <= 16384) {
            commands.push_back(static_cast<std::uint8_t>(0x80 + len - 4));
            commands.push_back(static_cast<std::uint8_t>((lit << 6) + (d >> 8)));
            commands.push_back(static_cast<std::uint8_t>(d));
        } else {
            commands.push_back(
                static_cast<std::uint8_t>(0xC0 + (((len - 5) >> 8) << 2) + ((d >> 16) << 4) + lit));
            commands.push_back(static_cast<std::uint8_t>(d >> 8));
            commands.push_back(static_cast<std::uint8_t>(d));
            commands.push_back(static_cast<std::uint8_t>(len - 5));
        }
        for (int j = 0; j < lit; ++j) {
            commands.push_back(rng.Byte());
            expected.push_back(commands.back());
        }
        for (int j = 0; j < len; ++j) {
            expected.push_back(expected[expected.size() - static_cast<std::size_t>(dist)]);
        }
    };
    literalRuns(head);
    copy(literals, length, distance);
    if (fill) {
        copy(0, 3, 1);
    }
    const int last = literalRuns(tail);
    commands.push_back(static_cast<std::uint8_t>(0xFC + last));
    for (int j = 0; j < last; ++j) {
        commands.push_back(rng.Byte());
        expected.push_back(commands.back());
    }
    return MakeEntry(commands, static_cast<std::uint32_t>(expected.size()));
}

// Copies of every distance class (pattern repeats below 8, 8-byte blocks below 16, 16-byte
// blocks above, overlapping or not) and lengths around the block sizes, placed at every
// distance from the end of the output and of the source: far from the ends the decoder takes
// its block-copy path, near them the exact one, and the hand-over happens in between. The
// output must equal the byte-by-byte model in both modes, for every cut near the end, and
// nothing may be read or written past either buffer.
TEST(QuorrinDecoder, CopiesOfEveryDistanceNearTheEnds) {
    Rng rng(31);
    const int lengths[] = {3, 4, 5, 7, 8, 9, 10, 11, 15, 16, 17, 31, 32, 33, 67, 68, 100, 1028};
    const int tails[] = {0, 1, 2, 3, 5, 13, 30, 37, 60};
    for (int distance = 1; distance <= 40; ++distance) {
        for (int length : lengths) {
            for (int tail : tails) {
                const int head = (std::max(distance, 4) + 3) / 4 * 4 + (tail % 2) * 40;
                const int literals = (distance + length) % 4;
                Bytes expected;
                const Bytes entry =
                    CopyEntry(head, literals, length, distance, tail % 3 == 1, tail, rng, expected);
                SCOPED_TRACE(testing::Message() << "distance " << distance << " length " << length
                                                << " tail " << tail);
                const int size = static_cast<int>(expected.size());
                Bytes out;
                ASSERT_EQ(DecodeGuarded(entry, static_cast<int>(entry.size()), size, 0, &out), 1);
                ASSERT_TRUE(out == expected);
                for (int wanted = std::max(0, size - 48); wanted < size; ++wanted) {
                    ASSERT_EQ(DecodeGuarded(entry, static_cast<int>(entry.size()), wanted, 1, &out),
                              1);
                    ASSERT_TRUE(std::equal(out.begin(), out.end(), expected.begin()));
                }
#ifndef _WIN32
                GuardedRegion src(entry.size());
                GuardedRegion dst(expected.size());
                ASSERT_TRUE(src.ok() && dst.ok());
                std::memcpy(src.Tail(entry.size()), entry.data(), entry.size());
                for (int partial : {0, 1}) {
                    std::uint8_t* d = dst.Tail(expected.size());
                    std::memset(d, kFill, expected.size());
                    ASSERT_EQ(DecompressPackage(src.Tail(entry.size()),
                                                static_cast<int>(entry.size()), d, size, partial),
                              1);
                    ASSERT_EQ(std::memcmp(d, expected.data(), expected.size()), 0);
                }
#endif
            }
        }
    }
}

} // namespace
