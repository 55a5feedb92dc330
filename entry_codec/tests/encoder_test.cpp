// CompressPackage: golden outputs (the compressor's bytes are fixed), the shape every entry must
// have, round trips over generated inputs, window edges, argument handling, and identity with
// the plain reference implementation of the same algorithm.
#include "quorrin.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace quorrin_test;

namespace {

Bytes Repeat(std::size_t count, std::uint8_t value) {
    return Bytes(count, value);
}

// Copies `count` bytes of `data` into `target` at `offset`.
void Put(Bytes& target, std::size_t offset, const Bytes& data, std::size_t count) {
    ASSERT_LE(offset + count, target.size());
    std::memcpy(target.data() + offset, data.data(), count);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes ThreeZeroEntry() {
    Bytes e = Hex("9B 04 00 00 10 FB 04 93 E0 CD 00 00 FF 00");
    for (int k = 0; k < 290; ++k) {
        for (std::uint8_t b : Hex("CC 00 00 FF")) {
            e.push_back(b);
        }
    }
    for (std::uint8_t b : Hex("CC 00 00 4E FC")) {
        e.push_back(b);
    }
    return e;
}

struct GoldenCase {
    const char* name;
    Bytes input;
    Bytes expected; // empty: the call must fail with compressedLength 0
};

const GoldenCase kGolden[] = {
    {"14 x A does not fit", Repeat(14, 0x41), {}},
    {"15 x A", Repeat(15, 0x41), Hex("0E 00 00 00 10 FB 00 00 0F 8A 40 00 41 FC")},
    {"100 x A", Repeat(100, 0x41), Hex("0F 00 00 00 10 FB 00 00 64 C1 00 00 5E 41 FC")},
    {"1032 x A", Repeat(1032, 0x41), Hex("11 00 00 00 10 FB 00 04 08 CD 00 00 FF 41 00 00 FC")},
    {"abcab...", Text("abcabcabcabcabcab"), Hex("10 00 00 00 10 FB 00 00 11 8A C0 02 61 62 63 FC")},
    {"digits three times", Text("012345678901234567890123456789"),
     Hex("18 00 00 00 10 FB 00 00 1E E1 30 31 32 33 34 35 36 37 90 80 09 38 39 FC")},
    {"lazy match", Concat({Text("abcQbcdefghZabcdefgh"), Repeat(40, 'Z')}),
     Hex("1D 00 00 00 10 FB 00 00 3C E2 61 62 63 51 62 63 64 65 66 67 68 5A 15 08 61 A3 00 00 "
         "FC")},
    {"nearest of equal matches", Concat({Text("abcdXabcdYabcdZabcd"), Repeat(40, 'W')}),
     Hex("1C 00 00 00 10 FB 00 00 3B E0 61 62 63 64 05 04 58 05 04 59 05 04 5A A3 40 00 57 FC")},
    {"300000 zeros", Repeat(300000, 0), ThreeZeroEntry()},
    {"14 bytes with repeats", Text("abcabcabcabcab"), {}},
    {"100 distinct bytes",
     [] {
         Bytes b;
         for (int i = 0; i < 100; ++i) {
             b.push_back(static_cast<std::uint8_t>(i * 7 + 3));
         }
         return b;
     }(),
     {}},
};

TEST(QuorrinEncoder, GoldenOutputs) {
    for (const GoldenCase& c : kGolden) {
        SCOPED_TRACE(c.name);
        // Exactly the permitted size, then guard bytes that must stay untouched.
        Bytes out(c.input.size() - 1 + 8, 0xFF);
        int size = 1234;
        const int r = CompressPackage(c.input.data(), static_cast<unsigned>(c.input.size()),
                                      out.data(), &size);
        for (std::size_t g = c.input.size() - 1; g < out.size(); ++g) {
            ASSERT_EQ(out[g], 0xFF) << "wrote past sourceLength - 1";
        }
        if (c.expected.empty()) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(size, 0);
            continue;
        }
        ASSERT_EQ(r, 1);
        ASSERT_EQ(size, static_cast<int>(c.expected.size()));
        out.resize(static_cast<std::size_t>(size));
        EXPECT_EQ(ToHex(out), ToHex(c.expected));
    }
}

TEST(QuorrinEncoder, RejectedArgumentsLeaveLengthUntouched) {
    const Bytes input = Repeat(1 << 24, 0x41); // 16777216 bytes
    Bytes out(input.size());
    struct Case {
        const char* name;
        const std::uint8_t* source;
        unsigned length;
        std::uint8_t* destination;
    } cases[] = {
        {"13 bytes", input.data(), 13, out.data()},
        {"16777216 bytes", input.data(), 1u << 24, out.data()},
        {"null destination", input.data(), 100, nullptr},
        {"null source", nullptr, 100, out.data()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int size = 1234;
        EXPECT_EQ(CompressPackage(c.source, c.length, c.destination, &size), 0);
        EXPECT_EQ(size, 1234);
    }
}

TEST(QuorrinEncoder, NullLengthPointerIsNotWritten) {
    const Bytes good = Repeat(100, 0x41);
    const Bytes dense = Generate(Kind::kRandom, 100, 5);
    Bytes out(100);
    EXPECT_EQ(CompressPackage(good.data(), 100, out.data(), nullptr), 1);
    EXPECT_EQ(CompressPackage(dense.data(), 100, out.data(), nullptr), 0);
}

// The rules every entry obeys, checked on each command of `entry` for `input`.
void CheckShape(const Bytes& input, const Bytes& entry) {
    const std::vector<Command> commands = ListCommands(entry);
    ASSERT_FALSE(commands.empty());
    std::size_t produced = 0;
    bool afterRun = false;
    int lastRun = 0;
    for (std::size_t k = 0; k < commands.size(); ++k) {
        const Command& c = commands[k];
        if (c.kind == 'e') {
            ASSERT_EQ(k + 1, commands.size()) << "end command not last";
        }
        if (c.kind == 'r') {
            if (afterRun) {
                ASSERT_EQ(lastRun, 112) << "a run before another run must be full";
            }
            afterRun = true;
            lastRun = c.literals;
        } else {
            afterRun = false;
        }
        produced += static_cast<std::size_t>(c.literals);
        if (c.length == 0) {
            continue;
        }
        ASSERT_LE(static_cast<std::size_t>(c.distance), produced) << "copy before the input";
        // Smallest kind that can carry the copy.
        const bool fitsShort = c.length <= 10 && c.distance <= 1024;
        const bool fitsMedium = c.length >= 4 && c.length <= 67 && c.distance <= 16384;
        ASSERT_EQ(c.kind, fitsShort ? 's' : fitsMedium ? 'm' : 'l') << "at command " << k;
        produced += static_cast<std::size_t>(c.length);
    }
    ASSERT_EQ(commands.back().kind, 'e');
    ASSERT_EQ(produced, input.size());
}

TEST(QuorrinEncoder, RoundTripOfGeneratedInputs) {
    const std::size_t sizes[] = {14, 15, 64, 1000, 4096, 65536, 200000, 1 << 20};
    const Kind kinds[] = {Kind::kText,     Kind::kRuns,    Kind::kRandom,
                          Kind::kPeriodic, Kind::kRecords, Kind::kMixed};
    for (Kind kind : kinds) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE(std::string(KindName(kind)) + " " + std::to_string(size));
            if (size > 200000 && (kind == Kind::kText || kind == Kind::kRecords)) {
                continue; // the slowest kinds to search; their smaller sizes cover them
            }
            const Bytes input = Generate(kind, size, size * 31 + static_cast<int>(kind));
            const Bytes entry = Compress(input);
            if (entry.empty()) {
                // Only inputs that do not shrink may fail.
                EXPECT_TRUE(kind == Kind::kRandom || size < 100);
                continue;
            }
            CheckShape(input, entry);
            Bytes out;
            ASSERT_TRUE(Decompress(entry, out));
            ASSERT_TRUE(out == input);
        }
    }
}

TEST(QuorrinEncoder, LargestInput) {
    const Bytes input = Generate(Kind::kPeriodic, 0xFFFFFF, 99);
    const Bytes entry = Compress(input);
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(ToHex(Bytes(entry.begin() + 4, entry.begin() + 9)), "10 FB FF FF FF");
    Bytes out;
    ASSERT_TRUE(Decompress(entry, out));
    ASSERT_TRUE(out == input);
}

unsigned Hash3(unsigned a, unsigned b, unsigned c) {
    return ((a << 12) ^ (b << 6) ^ c) & 0xFFFF;
}

// 600 bytes whose three-byte hashes differ from each other and from those of the positions where
// the block meets zero bytes (before, after, and after its first three bytes alone), so that the
// only earlier position with the hash of a block position is its twin in the other copy.
Bytes DistinctBlock() {
    for (std::uint64_t seed = 1;; ++seed) {
        Rng rng(seed);
        Bytes b;
        while (b.size() < 600) {
            b.push_back(static_cast<std::uint8_t>(1 + rng.Below(255)));
        }
        const unsigned others[] = {0,
                                   Hash3(0, 0, b[0]),
                                   Hash3(0, b[0], b[1]),
                                   Hash3(b[598], b[599], 0),
                                   Hash3(b[599], 0, 0),
                                   Hash3(b[1], b[2], 0),
                                   Hash3(b[2], 0, 0)};
        std::set<unsigned> used(std::begin(others), std::end(others));
        bool ok = true;
        for (std::size_t k = 0; k + 3 <= b.size() && ok; ++k) {
            ok = used.insert(Hash3(b[k], b[k + 1], b[k + 2])).second;
        }
        if (ok) {
            return b;
        }
    }
}

struct LastCopy {
    int length = 0;
    int distance = 0;
    int maxDistance = 0;
};

LastCopy FindLastCopy(const Bytes& entry) {
    LastCopy r;
    for (const Command& c : ListCommands(entry)) {
        if (c.length != 0) {
            r.length = c.length;
            r.distance = c.distance;
            r.maxDistance = std::max(r.maxDistance, c.distance);
        }
    }
    return r;
}

TEST(QuorrinEncoder, WindowEdges) {
    const Bytes block = DistinctBlock();
    struct Case {
        const char* name;
        std::size_t lead;     // bytes before the first block
        std::size_t distance; // from the first block to the second
        int length;           // expected last copy (0: the block is not matched)
    } cases[] = {
        {"first candidate 131072 back", 0, 131072, 600},
        {"first candidate 131072 back, past the window start", 5, 131072, 600},
        {"131073 back is out of reach", 0, 131073, 0},
        {"131073 back, past the window start", 5, 131073, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input(c.lead + c.distance + block.size(), 0);
        for (std::size_t k = 0; k < c.lead; ++k) {
            input[k] = static_cast<std::uint8_t>(0xA0 + k);
        }
        Put(input, c.lead, block, block.size());
        Put(input, input.size() - block.size(), block, block.size());
        const Bytes entry = Compress(input);
        ASSERT_FALSE(entry.empty());
        const LastCopy last = FindLastCopy(entry);
        if (c.length != 0) {
            EXPECT_EQ(last.length, c.length);
            EXPECT_EQ(last.distance, 131072);
        } else {
            EXPECT_LT(last.maxDistance, 131072) << "the block must not be matched";
        }
        Bytes out;
        ASSERT_TRUE(Decompress(entry, out));
        ASSERT_TRUE(out == input);
    }
}

// Once the position is past 131072, a candidate reached through the chain (not the first one)
// must be at most 131071 back: with a newer position of the same hash in between, the block's
// twin exactly 131072 back is not used for the first byte, only from the second byte on.
TEST(QuorrinEncoder, ChainCandidatesStopAtWindowFloor) {
    const Bytes block = DistinctBlock();
    Bytes input(5 + 131072 + block.size(), 0);
    Put(input, 5, block, block.size());
    Put(input, 70000, block, 3);
    Put(input, input.size() - block.size(), block, block.size());
    for (int k = 0; k < 5; ++k) {
        input[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(0xA0 + k);
    }
    const Bytes entry = Compress(input);
    ASSERT_FALSE(entry.empty());
    const LastCopy last = FindLastCopy(entry);
    EXPECT_EQ(last.length, 599);
    EXPECT_EQ(last.distance, 131072);
}

// Compresses `input` with CompressPackage and with the plain reference: both must return the
// same result (stored in *result) and write the same entry.
void ExpectSameAsReference(const Bytes& input, int* result) {
    Bytes mine(input.size() - 1);
    Bytes theirs(input.size() - 1);
    int mySize = -1;
    int theirSize = -1;
    const int a =
        CompressPackage(input.data(), static_cast<unsigned>(input.size()), mine.data(), &mySize);
    const int b = ReferenceCompress(input.data(), static_cast<std::uint32_t>(input.size()),
                                    theirs.data(), &theirSize);
    ASSERT_EQ(a, b);
    ASSERT_EQ(mySize, theirSize);
    mine.resize(static_cast<std::size_t>(mySize));
    theirs.resize(static_cast<std::size_t>(theirSize));
    ASSERT_TRUE(mine == theirs);
    *result = a;
}

// The tuned compressor and the plain reference must agree byte for byte.
TEST(QuorrinEncoder, SameBytesAsReference) {
    std::vector<Bytes> inputs;
    const std::size_t sizes[] = {14, 40, 333, 5000, 40000, 140000};
    const Kind kinds[] = {Kind::kText,     Kind::kRuns,    Kind::kRandom,
                          Kind::kPeriodic, Kind::kRecords, Kind::kMixed};
    for (Kind kind : kinds) {
        for (std::size_t size : sizes) {
            inputs.push_back(Generate(kind, size, size + 17 * static_cast<int>(kind)));
        }
    }
    // Long runs and a wrap past 131072 with matches on both sides.
    Bytes wrap = Generate(Kind::kText, 300000, 3);
    Put(wrap, 131072, wrap, 2000);
    inputs.push_back(wrap);
    inputs.push_back(Concat({Repeat(131075, 0), Generate(Kind::kText, 700, 1), Repeat(131070, 0),
                             Generate(Kind::kText, 700, 1)}));
    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        int result = -1;
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(input, &result));
    }
}

// Inputs that make the match search skip most of its candidates: thousands of records sharing
// a 12-byte prefix (the search budget runs out while skipping), short periodic bursts (the
// longest match grows while near candidates remain), and a repeated block on both sides of
// the window edge. The tuned search must still pick exactly the reference's matches.
TEST(QuorrinEncoder, SameBytesAsReferenceWhereSearchesSkip) {
    std::vector<Bytes> inputs;
    Rng rng(77);
    for (int tailBytes : {2, 4, 9}) {
        Bytes records;
        for (int k = 0; k < 6000; ++k) {
            for (const std::uint8_t b : Hex("FF FF 00 00 8C 03 66 01 02 00 00 80")) {
                records.push_back(b);
            }
            for (int j = 0; j < tailBytes; ++j) {
                records.push_back(static_cast<std::uint8_t>(rng.Below(tailBytes == 2 ? 3 : 256)));
            }
        }
        inputs.push_back(records);
    }
    Bytes bursts;
    while (bursts.size() < 120000) {
        const Bytes text = Generate(Kind::kText, 20 + rng.Below(200), rng.Next());
        bursts.insert(bursts.end(), text.begin(), text.end());
        const std::size_t period = 1 + rng.Below(9);
        const std::size_t length = 5 + rng.Below(40);
        const std::size_t from = bursts.size() - period;
        for (std::size_t j = 0; j < length; ++j) {
            bursts.push_back(bursts[from + j]);
        }
    }
    inputs.push_back(bursts);
    for (std::size_t shift : {0, 1, 2, 5}) {
        Bytes edge = Generate(Kind::kRecords, 140000, shift + 1);
        const Bytes block = Generate(Kind::kText, 3000, 9);
        Put(edge, 1000, block, block.size());
        Put(edge, 1000 + 131072 - 7 + shift, block, block.size());
        Put(edge, 1000 + 131072 + 3000 + shift, block, 40);
        inputs.push_back(edge);
    }
    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        int result = -1;
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(input, &result));
        ASSERT_EQ(result, 1);
    }
}

// The 3-byte hash keeps only the low four bits of the first byte, so triples whose first bytes
// differ above them share a chain. Thousands of such look-alikes between a triple and its
// repeat fill the walk's budget before it reaches the real match (taken at 4090 look-alikes,
// out of reach at 4100); other look-alikes sit right before the repeat, and near the far edge
// of the window.
TEST(QuorrinEncoder, SameBytesAsReferenceWhereHashesCollide) {
    std::vector<Bytes> inputs;
    Rng rng(91);
    const Bytes real = Hex("41 42 43 7A 79");
    for (int lookAlikes : {1000, 4090, 4100, 6000}) {
        for (bool varied : {false, true}) {
            Bytes input = real;
            for (int k = 0; k < lookAlikes; ++k) {
                const int high = varied ? k % 15 + 1 : 1; // never 0: that would be the real triple
                input.push_back(static_cast<std::uint8_t>(real[0] ^ (high << 4)));
                input.push_back(real[1]);
                input.push_back(real[2]);
                for (int j = 0; j < 4; ++j) {
                    input.push_back(static_cast<std::uint8_t>(0x80 + rng.Below(64)));
                }
            }
            input.insert(input.end(), real.begin(), real.end());
            input.insert(input.end(), real.begin(), real.end());
            inputs.push_back(input);
        }
    }
    Bytes far = Generate(Kind::kRandom, 140000, 5);
    Put(far, 0, real, real.size());
    for (std::size_t at = 131060; at < 131080; at += 7) {
        far[at] = real[0] ^ 0x30;
        far[at + 1] = real[1];
        far[at + 2] = real[2];
    }
    Put(far, 131072, real, real.size());
    inputs.push_back(far);
    for (const Bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        int result = -1;
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsReference(input, &result));
    }
}

TEST(QuorrinEncoder, SampleExports) {
    EXPECT_EQ(fnQuorrin(), 42);
    EXPECT_EQ(nQuorrin, 0);
    CQuorrin a;
    CQuorrin b;
    EXPECT_EQ(&(a = b), &a);
}

} // namespace
