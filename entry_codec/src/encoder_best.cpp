// The smaller-output compressor: the same entry format as the exact compressor, a harder search.
//
// The exact compressor's bytes are fixed (greedy matching with a one-step lazy decision). This
// one is free to choose any commands, so it chooses, for each stretch of input, the sequence of
// commands with the fewest bytes it can find. Its entries are read by the same decoder.
//
// Costs. Every command is priced by its exact byte length:
//   short copy   2 bytes  length 3..10,   distance up to 1024
//   medium copy  3 bytes  length 4..67,   distance up to 16384
//   long copy    4 bytes  length 5..1028, distance up to 131072
//   literal run  1 byte + 4k literals (k = 1..28)
//   every copy, and the end command, carries the 0..3 literals just before it at no extra cost.
// So the price of a copy depends only on its length and on which of three distance classes it
// falls in, and the price of literals depends on how they split into runs and carried bytes.
//
// Parsing. A forward dynamic programme over the positions of a block finds the cheapest way to
// reach each position p in each of four states: c = 0..3 literals pending (read but not yet
// written; they ride in the next copy or end command). From (p, c) one literal leads to
// (p + 1, c + 1) for one byte; from (p, 0) a literal run of 4k bytes leads to (p + 4k, 0); from
// the cheapest state at p a copy of length L leads to (p + L, 0). For the copies the programme
// needs, per position, only the longest match in each distance class: every shorter length of a
// match is also a match at the same distance, and the price does not change within a class.
// Blocks end after 32768 positions, at the cheapest state there; its 0..3 pending literals are
// parsed again at the start of the next block, which always starts with nothing pending (so
// that a run of four can always lead on from three pending literals). A block also ends where a
// match of 128 bytes or more begins: the longest match found there is taken as it stands, which
// keeps long repeats cheap to parse and costs almost nothing.
// Within those limits the result is the fewest bytes that any sequence of commands over the
// matches found can take; the tests compare it with a plain search over every match.
//
// What that buys over the exact compressor depends on the data: about 5.5% on large entries of
// text and machine code, 1.5 to 2.5% on small entries and on pixel rows, well under 1% on
// records of mostly random fields, where the exact compressor's choices are already nearly the
// cheapest the commands allow.
//
// Match finding. A binary tree per 3-byte hash, the scheme of LZMA's "bt" finders: every position
// is inserted at the root of its tree, so a node is always newer than the nodes below it, and a
// descent visits candidates from the nearest to the oldest while it re-sorts the tree. A
// candidate q is on the path of position p when no newer position lies between them in sorted
// order, and everything between them shares at least as many leading bytes with p as q does; so
// for each length the descent meets the nearest position with a match that long (without the
// depth cap, exactly). That is what the distance classes need: recording each new longest match
// as the distance grows gives the longest match within 1024, within 16384 and within the window.
// The descent is capped at 256 nodes (fewer cost pixel rows up to half a percent; more slow
// down inputs of many similar stretches). Comparisons stop at the longest copy, 1028 bytes: a
// node that matches that far replaces its twin in the tree, which loses nothing, since no copy
// can tell the two apart.
//
// Window. The tree is a ring of 131072 slots indexed by position, so the farthest candidate is
// 131071 bytes back (one byte short of what the format allows; not worth a larger ring).
//
// Memory, taken in one block from the caller's allocator and released on every path: the tree
// ring (8 bytes per slot, slots for min(size, 131072) positions rounded up to a power of two),
// the hash heads (4 bytes each, 1024 to 65536 of them), and the per-block tables of the programme
// (28 bytes per position of a block of at most 32768 positions). At most 2.125 MiB per call.
#include "codec_internal.h"
#include "match_length.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quorrin {
namespace {

constexpr std::int32_t kRingBits = 17;
constexpr std::int32_t kMaxDistance = (std::int32_t{1} << kRingBits) - 1;
constexpr std::int32_t kMinCopy = 3;
constexpr std::int32_t kMaxCopy = 1028;
constexpr std::int32_t kNice = 128;       // a match this long is taken without parsing
constexpr std::int32_t kDepth = 256;      // tree nodes examined per position
constexpr std::int32_t kBlock = 32768;    // positions per parsing block
constexpr std::int32_t kMaxRunQuads = 28; // a literal run carries 4 to 112 bytes
constexpr std::int32_t kMaxHashBits = 16;
constexpr std::int32_t kMinHashBits = 10;
constexpr std::int32_t kShortLimit = 1024; // distance classes of the copy kinds
constexpr std::int32_t kMediumLimit = 16384;
// The farthest a single step of the programme reaches: a copy shorter than kNice or a run.
constexpr std::int32_t kReach = std::max(kNice - 1, 4 * kMaxRunQuads);
constexpr std::int32_t kNoPrice = INT_MAX / 2;

// The longest match found at one position in each distance class (length 0: none).
struct Matches {
    std::int32_t length[3];
    std::int32_t distance[3];
};

class MatchFinder {
public:
    MatchFinder(const std::uint8_t* x, std::int32_t size, std::int32_t* head, int hashBits,
                std::int32_t* tree, std::int32_t ringMask)
        : x_(x), size_(size), head_(head), hashShift_(32 - hashBits), tree_(tree),
          ringMask_(ringMask) {
        std::fill(head_, head_ + (std::size_t{1} << hashBits), -1);
    }

    // Both enter position p (which has three bytes, and every earlier such position is in);
    // Find also reports p's matches.
    void Find(std::int32_t p, Matches& m) { Descend<true>(p, &m); }
    void Skip(std::int32_t p) { Descend<false>(p, nullptr); }

private:
    template <bool kReport> void Descend(std::int32_t p, Matches* m);

    const std::uint8_t* const x_;
    const std::int32_t size_;
    std::int32_t* const head_;
    const int hashShift_;
    std::int32_t* const tree_; // two children per ring slot: [0] sorts below, [1] above
    const std::int32_t ringMask_;
};

template <bool kReport> void MatchFinder::Descend(std::int32_t p, Matches* m) {
    const std::uint8_t* const here = x_ + p;
    const std::int32_t limit = std::min(kMaxCopy, size_ - p);
    const std::uint32_t key =
        (std::uint32_t{here[0]} << 16) | (std::uint32_t{here[1]} << 8) | here[2];
    const std::uint32_t h = (key * 2654435761u) >> hashShift_;
    std::int32_t q = head_[h];
    head_[h] = p;
    if (kReport) {
        *m = Matches{{0, 0, 0}, {0, 0, 0}};
    }
    // p becomes the root; the descent splits the old tree into the nodes that sort below p
    // (hung on `below`) and those that sort above it (hung on `above`). lowLength and
    // highLength are the bytes known to agree with p on either side.
    std::int32_t* below = tree_ + 2 * (p & ringMask_);
    std::int32_t* above = below + 1;
    std::int32_t lowLength = 0;
    std::int32_t highLength = 0;
    std::int32_t longest = kMinCopy - 1;
    for (std::int32_t depth = kDepth;; --depth) {
        if (q < 0 || p - q > kMaxDistance || depth == 0) {
            *below = -1;
            *above = -1;
            return;
        }
        std::int32_t* const pair = tree_ + 2 * (q & ringMask_);
        const std::uint8_t* const there = x_ + q;
        std::int32_t length = std::min(lowLength, highLength);
        if (there[length] == here[length]) {
            length = MatchLength(there, here, length + 1, limit);
            if (kReport && length > longest) {
                // Lengths grow and distances grow along the descent, so each class keeps
                // its last (longest) entry.
                longest = length;
                const std::int32_t distance = p - q;
                if (distance <= kShortLimit) {
                    m->length[0] = length;
                    m->distance[0] = distance;
                }
                if (distance <= kMediumLimit) {
                    m->length[1] = length;
                    m->distance[1] = distance;
                }
                m->length[2] = length;
                m->distance[2] = distance;
            }
            if (length == limit) {
                // q equals p as far as the tree compares: p takes its place and children.
                *below = pair[0];
                *above = pair[1];
                return;
            }
        }
        if (there[length] < here[length]) {
            *below = q;
            below = pair + 1;
            q = *below;
            lowLength = length;
        } else {
            *above = q;
            above = pair;
            q = *above;
            highLength = length;
        }
    }
}

// Writes commands, checking each against the end of the caller's buffer.
class Writer {
public:
    Writer(const std::uint8_t* x, std::uint8_t* destination, std::int32_t size)
        : x_(x), out_(destination + kHeaderSize), limit_(destination + size - 1) {}

    std::uint8_t* cursor() const { return out_; }
    std::int32_t written() const { return written_; }

    // A literal run of `count` (4..112, a multiple of 4) bytes from the written-up-to position.
    bool Run(std::int32_t count) {
        if (1 + count > limit_ - out_) {
            return false;
        }
        *out_++ = static_cast<std::uint8_t>(0xDF + count / 4);
        std::memcpy(out_, x_ + written_, static_cast<std::size_t>(count));
        out_ += count;
        written_ += count;
        return true;
    }

    // A copy at `start` (0..3 literals pending before it ride along), or with length 0 the end
    // command. The smallest kind that holds the copy is used.
    bool Copy(std::int32_t start, std::int32_t length, std::int32_t distance) {
        const std::int32_t pending = start - written_;
        const std::int32_t d = distance - 1;
        std::uint8_t command[4];
        std::int32_t commandSize;
        if (length == 0) {
            command[0] = static_cast<std::uint8_t>(0xFC + pending);
            commandSize = 1;
        } else if (d < kShortLimit && length <= 10) {
            command[0] =
                static_cast<std::uint8_t>(((d >> 3) & 0x60) + ((length - 3) << 2) + pending);
            command[1] = static_cast<std::uint8_t>(d & 0xFF);
            commandSize = 2;
        } else if (d < kMediumLimit && length >= 4 && length <= 67) {
            command[0] = static_cast<std::uint8_t>(0x80 + (length - 4));
            command[1] = static_cast<std::uint8_t>((pending << 6) + (d >> 8));
            command[2] = static_cast<std::uint8_t>(d & 0xFF);
            commandSize = 3;
        } else {
            command[0] = static_cast<std::uint8_t>(0xC0 + (((length - 5) >> 8) << 2) +
                                                   ((d >> 16) << 4) + pending);
            command[1] = static_cast<std::uint8_t>((d >> 8) & 0xFF);
            command[2] = static_cast<std::uint8_t>(d & 0xFF);
            command[3] = static_cast<std::uint8_t>((length - 5) & 0xFF);
            commandSize = 4;
        }
        if (commandSize + pending > limit_ - out_) {
            return false;
        }
        std::memcpy(out_, command, static_cast<std::size_t>(commandSize));
        out_ += commandSize;
        for (std::int32_t j = 0; j < pending; ++j) {
            *out_++ = x_[written_ + j];
        }
        written_ = start + length;
        return true;
    }

private:
    const std::uint8_t* const x_;
    std::uint8_t* out_;
    std::uint8_t* const limit_;
    std::int32_t written_ = 0;
};

// How the cheapest way into (position, 0 pending) arrived there.
struct Step {
    std::int32_t distance; // 0: a literal run
    std::uint16_t length;  // copy length or run length
    std::uint8_t from;     // pending literals of the state the copy left from
    std::uint8_t unused;
};

// One command of the chosen path of a block.
struct Chosen {
    std::int32_t start;
    std::int32_t length;
    std::int32_t distance; // 0: a literal run
};

struct BlockTables {
    std::int32_t* price[4]; // kBlock + 1 each: fewest bytes to reach (t, c pending)
    Step* step;             // kBlock + 1
    Chosen* path;           // kBlock / 3 + 2: every command covers at least three positions
};

class Parser {
public:
    Parser(std::int32_t size, MatchFinder& finder, const BlockTables& t, Writer& writer)
        : size_(size), finder_(finder), t_(t), writer_(writer) {}

    // Parses and writes the whole input, the end command included; false when it does not fit.
    bool Run();

private:
    void Reset(std::int32_t t) {
        for (std::int32_t* price : t_.price) {
            price[t] = kNoPrice;
        }
    }
    void Relax(std::int32_t target, std::int32_t price, const Step& how) {
        if (price < t_.price[0][target]) {
            t_.price[0][target] = price;
            t_.step[target] = how;
        }
    }
    // Writes the cheapest way from the block start to (base + t, c); those c literals stay
    // pending.
    bool Emit(std::int32_t base, std::int32_t t, std::int32_t c);

    const std::int32_t size_;
    MatchFinder& finder_;
    const BlockTables t_;
    Writer& writer_;
};

bool Parser::Emit(std::int32_t base, std::int32_t t, std::int32_t c) {
    // Only (0, 0) has a price at the block start, and every priced state has a priced
    // predecessor, so the walk back ends there.
    std::int32_t count = 0;
    while (t != 0 || c != 0) {
        if (c > 0) { // a pending literal
            --t;
            --c;
            continue;
        }
        const Step& s = t_.step[t];
        t -= s.length;
        t_.path[count++] = {base + t, s.length, s.distance};
        c = s.distance == 0 ? 0 : s.from;
    }
    while (count > 0) {
        const Chosen& e = t_.path[--count];
        // A run starts where everything before it is written; a copy's pending literals are
        // the 0..3 bytes between the written-up-to position and its start.
        if (!(e.distance == 0 ? writer_.Run(e.length)
                              : writer_.Copy(e.start, e.length, e.distance))) {
            return false;
        }
    }
    return true;
}

bool Parser::Run() {
    std::int32_t* const* const price = t_.price;
    std::int32_t pos = 0;
    std::int32_t entered = 0; // positions before this are in the match finder
    while (pos < size_) {
        const std::int32_t base = pos;
        const std::int32_t blockLength = std::min(kBlock, size_ - base);
        // Prices are reset just ahead of the positions being priced: no step reaches further
        // than kReach.
        for (std::int32_t t = 0; t <= std::min(blockLength, kReach); ++t) {
            Reset(t);
        }
        // A block starts with nothing pending, so every position of it can be reached: from
        // (t, 3) a run of four from (t - 3, 0) leads on.
        price[0][0] = 0;
        bool cut = false;
        for (std::int32_t t = 0; t < blockLength; ++t) {
            if (t > 0 && t + kReach <= blockLength) {
                Reset(t + kReach);
            }
            const std::int32_t p = base + t;
            std::int32_t from = 0;
            for (std::int32_t c = 1; c < 4; ++c) {
                if (price[c][t] < price[from][t]) {
                    from = c;
                }
            }
            const std::int32_t cheapest = price[from][t];

            Matches m{{0, 0, 0}, {0, 0, 0}};
            if (size_ - p >= kMinCopy && p == entered) {
                finder_.Find(p, m);
                ++entered;
            }
            if (m.length[2] >= kNice) {
                // Long enough to take as it stands: write the block so far, then the copy
                // extended as far as it goes, and start a new block after it.
                const std::int32_t distance = m.distance[2];
                const std::int32_t length = m.length[2];
                if (!Emit(base, t, from) || !writer_.Copy(p, length, distance)) {
                    return false;
                }
                for (; entered < p + length && size_ - entered >= kMinCopy; ++entered) {
                    finder_.Skip(entered);
                }
                pos = p + length;
                cut = true;
                break;
            }

            // One more pending literal.
            for (std::int32_t c = 0; c < 3; ++c) {
                if (price[c][t] + 1 < price[c + 1][t + 1]) {
                    price[c + 1][t + 1] = price[c][t] + 1;
                }
            }
            // Literal runs, from a state without pending literals.
            if (price[0][t] < kNoPrice) {
                const std::int32_t quads = std::min(kMaxRunQuads, (blockLength - t) / 4);
                for (std::int32_t k = 1; k <= quads; ++k) {
                    Relax(t + 4 * k, price[0][t] + 1 + 4 * k,
                          Step{0, static_cast<std::uint16_t>(4 * k), 0, 0});
                }
            }
            // Copies, from the cheapest state: each length at the cheapest kind that holds it.
            if (m.length[2] >= kMinCopy) {
                const std::int32_t longest = std::min(m.length[2], blockLength - t);
                const std::int32_t shortest = std::min(m.length[0], 10);
                const std::int32_t medium = std::min(m.length[1], 67);
                for (std::int32_t length = kMinCopy; length <= longest; ++length) {
                    std::int32_t cost;
                    std::int32_t distance;
                    if (length <= shortest) {
                        cost = 2;
                        distance = m.distance[0];
                    } else if (length <= medium && length >= 4) {
                        cost = 3;
                        distance = m.distance[1];
                    } else if (length >= 5) {
                        cost = 4;
                        distance = m.distance[2];
                    } else {
                        continue;
                    }
                    Relax(t + length, cheapest + cost,
                          Step{distance, static_cast<std::uint16_t>(length),
                               static_cast<std::uint8_t>(from), 0});
                }
            }
        }
        if (!cut) {
            std::int32_t last = 0;
            for (std::int32_t c = 1; c < 4; ++c) {
                if (price[c][blockLength] < price[last][blockLength]) {
                    last = c;
                }
            }
            if (!Emit(base, blockLength, last)) {
                return false;
            }
            // The last 0..3 literals stay pending: the next block starts with them again (they
            // are in the match finder already, so they get no matches of their own).
            pos = base + blockLength;
            if (pos < size_) {
                pos -= last;
            }
        }
    }
    return writer_.Copy(size_, 0, 0);
}

// The work memory of one call, one block from the caller's allocator.
class WorkBlock {
public:
    WorkBlock(const WorkAllocator& allocator, std::size_t size)
        : allocator_(allocator), block_(allocator.allocate(size)) {}
    ~WorkBlock() {
        if (block_ != nullptr) {
            allocator_.release(block_);
        }
    }
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;

    unsigned char* get() const { return static_cast<unsigned char*>(block_); }

private:
    const WorkAllocator& allocator_;
    void* block_;
};

int CeilLog2(std::uint32_t n) {
    int bits = 0;
    while ((std::uint32_t{1} << bits) < n) {
        ++bits;
    }
    return bits;
}

} // namespace

int EncodeBest(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
               std::int32_t* compressedLength, const WorkAllocator& allocator) {
    if (!CompressArgumentsUsable(source, sourceLength, destination)) {
        return 0;
    }
    const std::int32_t size = static_cast<std::int32_t>(sourceLength);
    const int ringBits = std::min(static_cast<int>(kRingBits), CeilLog2(sourceLength));
    const int hashBits = std::max(static_cast<int>(kMinHashBits),
                                  std::min(static_cast<int>(kMaxHashBits), CeilLog2(sourceLength)));
    const std::size_t blockEntries = static_cast<std::size_t>(std::min(size, kBlock)) + 1;
    const std::size_t pathEntries = static_cast<std::size_t>(std::min(size, kBlock)) / 3 + 2;
    const std::size_t treeBytes = (std::size_t{2} << ringBits) * sizeof(std::int32_t);
    const std::size_t headBytes = (std::size_t{1} << hashBits) * sizeof(std::int32_t);
    const std::size_t priceBytes = 4 * blockEntries * sizeof(std::int32_t);
    const std::size_t stepBytes = blockEntries * sizeof(Step);
    const std::size_t pathBytes = pathEntries * sizeof(Chosen);
    WorkBlock work(allocator, treeBytes + headBytes + priceBytes + stepBytes + pathBytes);
    if (work.get() == nullptr) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }
    unsigned char* carve = work.get();
    auto take = [&carve](std::size_t bytes) {
        unsigned char* at = carve;
        carve += bytes;
        return at;
    };
    std::int32_t* const tree = reinterpret_cast<std::int32_t*>(take(treeBytes));
    std::int32_t* const head = reinterpret_cast<std::int32_t*>(take(headBytes));
    BlockTables t;
    for (std::int32_t*& price : t.price) {
        price = reinterpret_cast<std::int32_t*>(take(priceBytes / 4));
    }
    t.step = reinterpret_cast<Step*>(take(stepBytes));
    t.path = reinterpret_cast<Chosen*>(take(pathBytes));

    MatchFinder finder(source, size, head, hashBits, tree, (std::int32_t{1} << ringBits) - 1);
    Writer writer(source, destination, size);
    Parser parser(size, finder, t, writer);
    if (!parser.Run()) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }

    const std::uint32_t entrySize = static_cast<std::uint32_t>(writer.cursor() - destination);
    destination[0] = static_cast<std::uint8_t>(entrySize);
    destination[1] = static_cast<std::uint8_t>(entrySize >> 8);
    destination[2] = static_cast<std::uint8_t>(entrySize >> 16);
    destination[3] = static_cast<std::uint8_t>(entrySize >> 24);
    destination[4] = kSignature0;
    destination[5] = kSignature1;
    destination[6] = static_cast<std::uint8_t>(sourceLength >> 16);
    destination[7] = static_cast<std::uint8_t>(sourceLength >> 8);
    destination[8] = static_cast<std::uint8_t>(sourceLength);
    if (compressedLength != nullptr) {
        *compressedLength = static_cast<std::int32_t>(entrySize);
    }
    return 1;
}

} // namespace quorrin
