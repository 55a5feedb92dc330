// The entry compressor.
//
// Its output is fixed byte for byte: stored entries are compared and exchanged, so every choice
// below (hash, window edges, search budgets, tie-breaks, refusal of short far matches, command
// kinds, literal grouping) must stay exactly as it is. Speed work may only change how the same
// decisions are reached.
//
// Search. Every position p with three bytes left is entered into hash chains keyed by a 16-bit
// hash of x[p..p+2]: `head[h]` holds the newest position with hash h (or -1), `chain[p mod
// 131072]` the position that was newest before p. Positions are inserted in increasing order,
// also those inside written matches, so a chain walk visits earlier positions with the same hash
// from the nearest to the oldest. Equal hashes and equal first two bytes imply an equal third
// byte, which is why a candidate that passes the quick test is compared from its fourth byte.
//
// A walk examines at most 4096 candidates (1024 when the match to beat is already 32 bytes),
// stops at the first match of 258 bytes or one that reaches the end of the input, and never
// returns more than 1028 bytes. The first candidate may be up to 131072 bytes back; candidates
// reached through the chain must lie at most 131071 bytes back once the position passes 131072.
// Only a strictly longer match replaces the one held, so among equal matches the nearest wins.
//
// Lazy matching: the match found at position i is written only if the search at i + 1 does not
// find a strictly longer one. A length-3 match more than 1024 bytes back and a length-4 match
// more than 16384 bytes back have no command that can carry them; they are refused.
//
// Output. Literals travel in runs of 4 to 112 (multiples of 4); the last 0 to 3 ride in the next
// copy or in the single end command. A match takes the smallest command kind that can hold it.
// Nothing is ever written at or beyond destination + sourceLength - 1: an entry that would not
// come out at least one byte shorter than its input is a failure.
//
// Faster walks with the same result. What a walk returns depends only on which candidates among
// the first `budget` of the chain (and inside the window) match longest, and on their order. Once
// a match of `best` bytes is held, only candidates that share at least best + 1 leading bytes with
// position i can replace it. So besides the 3-byte chains the compressor keeps two more chains of
// the same positions, keyed by hashes of 4 and of 7 leading bytes, and with best >= 3 it walks
// only candidates that share the last 4 (best >= 6: 7) of those best + 1 bytes, found on the wider
// chain of the position where those bytes start (see FindMatch). The budget still counts places
// in the 3-byte chain: every position also records how many positions with its 3-byte hash came
// before it, so the place of a candidate q in the walk from i is count(i) - count(q) - 1.
// Candidates are visited in the same order (newest first) and replaced only by strictly longer
// ones, so the result is the same.
//
// Work tables. The 3-byte head table has 65536 entries whatever the input size; filling it with
// -1 costs more than compressing a small entry, so for small inputs only the entries of the
// hashes that occur in the input are reset. The per-position tables need one entry per position
// up to 131072; the 4- and 7-byte head tables are sized by the input (up to 65536 entries each).
#include "codec_internal.h"
#include "match_length.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorrin {
namespace {

constexpr std::int32_t kWindow = kMaxDistance;   // farthest first candidate
constexpr std::int32_t kChainMask = kWindow - 1; // chain table index: position mod 131072
constexpr std::int32_t kHashSize = 65536;
constexpr std::int32_t kMaxMatch = kMaxLength;
constexpr std::int32_t kGoodEnough = 258;
constexpr std::int32_t kBigBudget = 4096;
constexpr std::int32_t kSmallBudget = 1024;
constexpr std::int32_t kBudgetSwitch = 32; // pending matches this long get the small budget
// Below this input size only the head entries that the input uses are reset.
constexpr std::uint32_t kSparseResetLimit = 32768;
// Width of the long chain (see FindMatch): walks use the 4-byte chain once best >= 3 and the long
// chain once best + 1 >= kLongWidth. Seven rather than eight: matches of 6 bytes are common in
// text and machine code, and their walks on the 4-byte chain pass many candidates that differ in
// the first bytes (large entries: text 15% and machine code 10% faster, records 9% slower; 6
// would help machine code more but slows low-entropy data, where 6-byte chains grow long).
constexpr int kLongWidth = 7;
static_assert(4 < kLongWidth && kLongWidth <= 8, "the long chain is wider than 4 bytes");
constexpr std::int32_t kLevel4From = 3;
constexpr std::int32_t kLevelLongFrom = kLongWidth - 1;

void* MallocBlock(std::size_t size) {
    return std::malloc(size);
}
void FreeBlock(void* block) {
    std::free(block);
}
const WorkAllocator kDefaultAllocator = {MallocBlock, FreeBlock};

// Owns the two work blocks of one call (hash-indexed and position-indexed tables); releases them
// on every path.
class WorkTables {
public:
    WorkTables(const WorkAllocator& allocator, std::size_t hashEntries, std::size_t positionEntries)
        : allocator_(allocator) {
        hashed_ =
            static_cast<std::int32_t*>(allocator.allocate(hashEntries * sizeof(std::int32_t)));
        positions_ =
            static_cast<std::int32_t*>(allocator.allocate(positionEntries * sizeof(std::int32_t)));
    }
    ~WorkTables() {
        if (positions_ != nullptr) {
            allocator_.release(positions_);
        }
        if (hashed_ != nullptr) {
            allocator_.release(hashed_);
        }
    }
    WorkTables(const WorkTables&) = delete;
    WorkTables& operator=(const WorkTables&) = delete;

    bool ok() const { return hashed_ != nullptr && positions_ != nullptr; }
    std::int32_t* hashed() const { return hashed_; }
    std::int32_t* positions() const { return positions_; }

private:
    const WorkAllocator& allocator_;
    std::int32_t* hashed_ = nullptr;
    std::int32_t* positions_ = nullptr;
};

// The tables of one call, carved out of the two blocks. On large inputs they outgrow the
// processor's nearest caches, and a miss costs more than the work done per position: so the
// head and the count of a 3-byte hash sit side by side (one line serves both), and each chain is
// a table of its own, so that a walk along it touches nothing else.
struct Tables {
    std::int32_t* hash3; // 65536 pairs: newest position per 3-byte hash (or -1), positions so far
    std::int32_t* head4; // 1 << longBits: newest position per 4-byte hash
    std::int32_t* headLong;  // 1 << longBits: newest position per 7-byte hash
    std::int32_t* chain3;    // per position: previous position with the same 3-byte hash
    std::int32_t* place3;    // per position: positions entered with its hash, itself included
    std::int32_t* chain4;    // per position: previous position with the same 4-byte hash
    std::int32_t* chainLong; // per position: previous position with the same 7-byte hash
    unsigned longBits;
};

// Large inputs: how far ahead of the position being entered its hash entries are fetched into
// the cache, and how far ahead the first candidate of its walk (bytes and chain entry).
// Smaller inputs have tables that stay in the cache; fetching ahead would only cost time there.
constexpr std::int32_t kPrefetchAhead = 16;
constexpr std::int32_t kCandidateAhead = 8;
constexpr std::int32_t kPrefetchFrom = 65536;

// Hash of the `width` (4 to 8) bytes at p into `bits` bits; eight bytes must be readable at p.
inline std::uint32_t LongHash(const std::uint8_t* p, int width, unsigned bits) {
    std::uint64_t v = Load64(p);
    if (width < 8) {
        v &= ~std::uint64_t{0} >> (64 - 8 * width);
    }
    return static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

class Encoder {
public:
    Encoder(const std::uint8_t* x, std::int32_t size, std::uint8_t* destination, const Tables& t)
        : x_(x), size_(size), t_(t), out_(destination + kHeaderSize),
          limit_(destination + size - 1) {}

    // Runs the whole search and writes every command; false when the entry does not fit.
    bool Run();
    std::uint8_t* cursor() const { return out_; }

private:
    // Advances the running hash to position p and enters p; returns the previous newest
    // position with the same hash (or -1).
    std::int32_t Insert(std::int32_t p) {
        // Positions are entered in increasing order: ask for the hash entries of a later one
        // now, so that they are in the cache when it is entered.
        if (prefetch_ && p + kPrefetchAhead + 8 <= size_) {
            const std::uint8_t* const ahead = x_ + p + kPrefetchAhead;
            const std::uint32_t h3 = ((ahead[0] << 12) ^ (ahead[1] << 6) ^ ahead[2]) & 0xFFFF;
            __builtin_prefetch(t_.hash3 + 2 * h3, 1);
            __builtin_prefetch(t_.head4 + LongHash(ahead, 4, t_.longBits), 1);
            __builtin_prefetch(t_.headLong + LongHash(ahead, kLongWidth, t_.longBits), 1);
            // The entry of the position kCandidateAhead on was asked for a while ago; the
            // candidate it names now is most likely the one that position's walk starts with.
            const std::uint8_t* const next = x_ + p + kCandidateAhead;
            const std::uint32_t n3 = ((next[0] << 12) ^ (next[1] << 6) ^ next[2]) & 0xFFFF;
            const std::int32_t candidate = t_.hash3[2 * n3];
            if (candidate >= 0) {
                __builtin_prefetch(x_ + candidate);
                __builtin_prefetch(t_.chain3 + (candidate & kChainMask));
            }
        }
        hash_ = ((hash_ << 6) ^ x_[p + 2]) & 0xFFFF;
        const std::int32_t slot = p & kChainMask;
        std::int32_t* const entry = t_.hash3 + 2 * hash_;
        const std::int32_t candidate = entry[0];
        t_.chain3[slot] = candidate;
        entry[0] = p;
        t_.place3[slot] = ++entry[1];
        // The wider chains only need positions with that many bytes; 8-byte loads need 8 bytes.
        if (p + 8 <= size_) {
            EnterWide(p, x_ + p);
        } else if (p + 4 <= size_) {
            std::uint8_t tail[8] = {};
            std::memcpy(tail, x_ + p, static_cast<std::size_t>(size_ - p));
            EnterWide(p, tail);
        }
        return candidate;
    }

    // Enters p into the 4-byte chain and, when it has kLongWidth bytes, the long chain; `bytes`
    // holds its bytes (8 readable).
    void EnterWide(std::int32_t p, const std::uint8_t* bytes) {
        const std::int32_t slot = p & kChainMask;
        const std::uint32_t h4 = LongHash(bytes, 4, t_.longBits);
        t_.chain4[slot] = t_.head4[h4];
        t_.head4[h4] = p;
        if (p + kLongWidth <= size_) {
            const std::uint32_t hLong = LongHash(bytes, kLongWidth, t_.longBits);
            t_.chainLong[slot] = t_.headLong[hLong];
            t_.headLong[hLong] = p;
        }
    }

    // Newest entered position whose `width` (4 or kLongWidth) leading bytes hash like those at p
    // (or -1); p has at least `width` bytes left.
    std::int32_t HeadOf(std::int32_t p, int width) const {
        const std::int32_t* const head = width == 4 ? t_.head4 : t_.headLong;
        if (p + 8 <= size_) {
            return head[LongHash(x_ + p, width, t_.longBits)];
        }
        std::uint8_t tail[8] = {};
        std::memcpy(tail, x_ + p, static_cast<std::size_t>(size_ - p));
        return head[LongHash(tail, width, t_.longBits)];
    }

    std::int32_t FindMatch(std::int32_t best, std::int32_t i, std::int32_t n,
                           std::int32_t candidate);
    bool WriteCommand(std::int32_t start, std::int32_t matchPos, std::int32_t length);

    const std::uint8_t* const x_;
    const std::int32_t size_;
    const Tables t_;
    const bool prefetch_ = size_ >= kPrefetchFrom;
    std::uint32_t hash_ = 0;
    std::int32_t matchPos_ = 0; // kept across positions; replaced only by a longer match
    std::uint8_t* out_;
    std::uint8_t* const limit_;
    std::int32_t written_ = 0; // input bytes before this are represented by written commands
};

std::int32_t Encoder::FindMatch(std::int32_t best, std::int32_t i, std::int32_t n,
                                std::int32_t candidate) {
    if (best >= n) {
        return n;
    }
    const std::int32_t floor = i > kWindow ? i - (kWindow - 1) : 0;
    const std::int32_t longest = std::min(n, kMaxMatch);
    const std::int32_t goodEnough = std::min(n, kGoodEnough);
    const std::int32_t budget = best < kBudgetSwitch ? kBigBudget : kSmallBudget;
    const std::uint8_t* const here = x_ + i;
    const std::uint16_t head2 = static_cast<std::uint16_t>(here[0] | (here[1] << 8));

    // Nothing held yet: any candidate that really shares three bytes wins. Walk the 3-byte chain
    // until one does (almost always the first).
    std::int32_t q = candidate;
    std::int32_t place = 0;
    while (best < kLevel4From) {
        const std::uint8_t* const there = x_ + q;
        if (there[best] == here[best] && there[best - 1] == here[best - 1] &&
            static_cast<std::uint16_t>(there[0] | (there[1] << 8)) == head2) {
            const std::int32_t k = MatchLength(there, here, 3, longest);
            if (k > best) {
                matchPos_ = q;
                best = k;
                if (k >= goodEnough || i + k == size_) {
                    return k;
                }
            }
        }
        const std::int32_t next = t_.chain3[q & kChainMask];
        if (next < floor || ++place == budget) { // also ends the chain at -1
            return best;
        }
        q = next;
    }

    // A match of best >= 3 bytes is held: only candidates q that share bytes 0..best with i can
    // replace it, so in particular bytes off..best for off = best + 1 - width (width 4, or
    // kLongWidth = 7 once best >= 6). Those q lie on the wider chain of the position i + off,
    // shifted back by off: position r = q + off has the same `width` bytes as i + off. That chain
    // is much shorter than the chain of i when the byte that ended the held match is rare after the
    // bytes before it. It only holds positions already entered (r <= i), so the candidates closer
    // than off bytes are taken from i's own chain first; both lists run from the nearest
    // candidate to the oldest, so candidates are examined in the plain walk's order. After a
    // longer match is found the walk starts over on the chains for the new length, skipping the
    // candidates already examined (every one at or above `bound`).
    const std::int32_t placeOfI = t_.place3[i & kChainMask];
    const std::int32_t oldest = i - kWindow; // at most the first candidate lies this far back
    std::int32_t bound = i;
    enum class Step { kNext, kLonger, kStop };
    // Examines candidate q (nearer candidates are all done) and says how the walk goes on.
    auto examine = [&](std::int32_t at) {
        const std::uint8_t* const there = x_ + at;
        if (there[0] == here[0] && there[1] == here[1] && there[2] == here[2]) {
            // Its place in the 3-byte walk. Position 0 can only be reached here when i is
            // exactly 131072, where its own record has been overwritten by i's; it is the
            // first position of its hash.
            const std::int32_t atPlace = at == candidate ? 0
                                         : at == oldest  ? placeOfI - 2
                                                        : placeOfI - t_.place3[at & kChainMask] - 1;
            if (atPlace >= budget) {
                return Step::kStop;
            }
            if (there[best] == here[best] && there[best - 1] == here[best - 1]) {
                const std::int32_t k = MatchLength(there, here, 3, longest);
                if (k > best) {
                    matchPos_ = at;
                    best = k;
                    bound = at;
                    return k >= goodEnough || i + k == size_ ? Step::kStop : Step::kLonger;
                }
            }
        }
        return Step::kNext;
    };
    for (;;) {
        const int width = best >= kLevelLongFrom ? kLongWidth : 4;
        const std::int32_t* const chain = width == 4 ? t_.chain4 : t_.chainLong;
        const std::int32_t off = best + 1 - width;
        Step step = Step::kNext;
        // Candidates closer than off bytes, on i's own chain.
        q = bound > i - off ? chain[i & kChainMask] : -1;
        while (q > i - off) {
            if (q < bound) {
                if (q != candidate && q < floor) {
                    return best;
                }
                step = examine(q);
                if (step != Step::kNext) {
                    break;
                }
            }
            if (q <= oldest) {
                return best;
            }
            q = chain[q & kChainMask];
        }
        if (step == Step::kStop) {
            return best;
        }
        if (step == Step::kLonger) {
            continue;
        }
        // The rest on the chain of i + off.
        std::int32_t r = HeadOf(i + off, width);
        while (r >= 0) {
            q = r - off;
            // Most candidates of a long walk fail the first test, on bytes that are seldom in
            // the cache: ask for the next candidate's bytes while this one is examined.
            const std::int32_t following = chain[r & kChainMask];
            if (following >= off) {
                __builtin_prefetch(x_ + (following - off));
            }
            if (q < bound) {
                if (q != candidate && q < floor) {
                    return best;
                }
                step = examine(q);
                if (step != Step::kNext) {
                    break;
                }
            }
            if (r <= oldest) {
                return best;
            }
            r = following;
        }
        if (step != Step::kLonger) {
            return best;
        }
    }
}

bool Encoder::WriteCommand(std::int32_t start, std::int32_t matchPos, std::int32_t length) {
    std::int32_t pending = start - written_;
    while (pending >= 4) {
        const std::int32_t count = std::min(pending / kRunStep * kRunStep, kMaxRun);
        if (1 + count > limit_ - out_) {
            return false;
        }
        *out_++ = LiteralRunByte(count);
        std::memcpy(out_, x_ + written_, static_cast<std::size_t>(count));
        out_ += count;
        written_ += count;
        pending -= count;
    }

    std::uint8_t command[4];
    std::int32_t commandSize;
    if (length == 0) {
        command[0] = EndCommandByte(pending);
        commandSize = 1;
    } else {
        commandSize = EncodeCopy(command, pending, length, start - matchPos);
    }
    if (commandSize + pending > limit_ - out_) {
        return false;
    }
    std::memcpy(out_, command, static_cast<std::size_t>(commandSize));
    out_ += commandSize;
    for (std::int32_t j = 0; j < pending; ++j) {
        *out_++ = x_[written_ + j];
    }
    written_ += pending + length;
    return true;
}

bool Encoder::Run() {
    const std::int32_t size = size_;
    hash_ = (static_cast<std::uint32_t>(x_[0]) << 6) ^ x_[1];
    std::int32_t i = 0;
    std::int32_t n = size;
    std::int32_t currentLength = 2;
    while (n != 0) {
        const std::int32_t previousLength = currentLength;
        const std::int32_t previousMatch = matchPos_;
        currentLength = 2;
        if (n >= 3) {
            const std::int32_t candidate = Insert(i);
            if (candidate != -1 && previousLength < kGoodEnough && i - candidate <= kWindow) {
                currentLength = FindMatch(previousLength, i, n, candidate);
            }
            if ((currentLength <= 3 && i - matchPos_ > kShortMaxDistance) ||
                (currentLength <= 4 && i - matchPos_ > kMediumMaxDistance)) {
                currentLength = 2;
            }
        }
        if (previousLength < 3 || currentLength > previousLength) {
            ++i;
            --n;
            continue;
        }
        if (!WriteCommand(i - 1, previousMatch, previousLength)) {
            return false;
        }
        // Enter the rest of the match's positions; i - 1 and i are in already.
        const std::int32_t matchEnd = std::min(i + previousLength - 2, size - 3);
        for (std::int32_t p = i + 1; p <= matchEnd; ++p) {
            Insert(p);
        }
        i += previousLength - 1;
        n -= previousLength - 1;
        currentLength = 2;
    }
    return WriteCommand(size, 0, 0);
}

} // namespace

const WorkAllocator& DefaultAllocator() {
    return kDefaultAllocator;
}

int Encode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
           std::int32_t* compressedLength, const WorkAllocator& allocator) {
    if (!CompressArgumentsUsable(source, sourceLength, destination)) {
        return 0;
    }
    const std::int32_t size = static_cast<std::int32_t>(sourceLength);
    const std::size_t positions = std::min<std::size_t>(sourceLength, kWindow);
    // About one 4- and 7-byte head entry per position of the window (at most 65536 each): fewer
    // would fill the wider chains with positions whose bytes differ.
    unsigned longBits = 10;
    while ((std::size_t{1} << longBits) < positions && longBits < 16) {
        ++longBits;
    }
    const std::size_t longEntries = std::size_t{1} << longBits;
    WorkTables tables(allocator, 2 * kHashSize + 2 * longEntries, 4 * positions);
    if (!tables.ok()) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }

    Tables t;
    t.hash3 = tables.hashed();
    t.head4 = t.hash3 + 2 * kHashSize;
    t.headLong = t.head4 + longEntries;
    t.chain3 = tables.positions();
    t.place3 = t.chain3 + positions;
    t.chain4 = t.place3 + positions;
    t.chainLong = t.chain4 + positions;
    t.longBits = longBits;
    if (sourceLength < kSparseResetLimit) {
        // Reset only the entries of hashes that occur: no other entry is ever read.
        std::uint32_t h = (static_cast<std::uint32_t>(source[0]) << 6) ^ source[1];
        for (std::int32_t p = 0; p + 3 <= size; ++p) {
            h = ((h << 6) ^ source[p + 2]) & 0xFFFF;
            t.hash3[2 * h] = -1;
            t.hash3[2 * h + 1] = 0;
        }
    } else {
        for (std::int32_t h = 0; h < kHashSize; ++h) {
            t.hash3[2 * h] = -1;
            t.hash3[2 * h + 1] = 0;
        }
    }
    std::memset(t.head4, 0xFF, 2 * longEntries * sizeof(std::int32_t));

    Encoder encoder(source, size, destination, t);
    if (!encoder.Run()) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }

    const std::uint32_t entrySize = static_cast<std::uint32_t>(encoder.cursor() - destination);
    WriteHeader(destination, entrySize, sourceLength);
    if (compressedLength != nullptr) {
        *compressedLength = static_cast<std::int32_t>(entrySize);
    }
    return 1;
}

} // namespace quorrin
