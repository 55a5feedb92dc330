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
// the first `budget` of the chain (and inside the window) match longest, and on their order. The
// compressor reaches them without walking the 3-byte chains, through three other chains of the
// same positions: one keyed by all 24 bits of the three leading bytes (the 3-byte hash drops 8 of
// them, so its chains mix positions whose bytes differ) and two by hashes of 4 and of 6 leading
// bytes.
// - With no match held, the walk takes the first candidate that really shares three bytes: that
//   is the newest earlier position with the same three bytes, found on the triple chain.
// - Once a match of `best` bytes is held, only candidates that share at least best + 1 leading
//   bytes with position i can replace it. The walk takes only candidates that share the last 4
//   (best >= 5: 6) of those best + 1 bytes, found on the wider chain of the position where those
//   bytes start (see FindMatch).
// The budget still counts places in the 3-byte chain: every position also records how many
// positions with its 3-byte hash came before it, so the place of a candidate q in the walk from i
// is count(i) - count(q) - 1. Candidates are visited in the same order (newest first) and
// replaced only by strictly longer ones, so the result is the same.
//
// Work tables. The 3-byte head table has 65536 entries whatever the input size; filling it with
// -1 costs more than compressing a small entry, so for small inputs only the entries of the
// hashes that occur in the input are reset. The per-position tables need one entry per position
// up to 131072; the other head tables are sized by the input (up to 65536 entries for the
// 4-byte hashes, 32768 for the triple keys and the 6-byte hashes).
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
// Widths of the two wider chains (see FindMatch): a walk holding a match of `best` bytes uses the
// widest chain of at most best + 1 bytes. Six rather than eight: on machine code most walks
// hold matches of 4 to 6 bytes, and candidates sharing the last 4 of 5 to 7 bytes mostly differ
// in the first three (with 6 rather than 8 bytes, walks on machine code visit 40% fewer).
constexpr int kMiddleWidth = 4;
constexpr int kLongWidth = 6;
static_assert(3 < kMiddleWidth && kMiddleWidth < kLongWidth && kLongWidth <= 8, "widths");

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
    std::int32_t* hash3;  // 65536 pairs: newest position per 3-byte hash (or -1), positions so far
    std::int32_t* headM;  // 1 << longBits: newest position per hash of kMiddleWidth bytes
    std::int32_t* headL;  // 1 << (longBits - 1): newest position per hash of kLongWidth bytes
    std::int32_t* headT;  // 1 << (longBits - 1): newest position per triple key
    std::int32_t* chainT; // per position: previous position with the same triple key
    std::int32_t* place3; // per position: positions entered with its hash, itself included
    std::int32_t* chainM; // per position: previous position with the same middle hash
    std::int32_t* chainL; // per position: previous position with the same long hash
    unsigned longBits;
};

// Large inputs: how far ahead of the position being entered its hash entries are fetched into
// the cache, and how far ahead the first candidate of its walk (bytes and chain entry).
// Smaller inputs have tables that stay in the cache; fetching ahead would only cost time there.
constexpr std::int32_t kPrefetchAhead = 16;
constexpr std::int32_t kCandidateAhead = 8;
constexpr std::int32_t kPrefetchFrom = 65536;

// Key of the three bytes at p in `bits` bits: unlike the 3-byte hash, which drops 8 of the 24
// bits, it mixes all of them, so that positions with other bytes seldom share a key.
inline std::uint32_t TripleKey(const std::uint8_t* p, unsigned bits) {
    const std::uint32_t v =
        p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return (v * 0x9E3779B1u) >> (32 - bits);
}

// Hash of the `width` (up to 8) bytes at p into `bits` bits; eight bytes must be readable at p.
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
            __builtin_prefetch(t_.headM + LongHash(ahead, kMiddleWidth, t_.longBits), 1);
            __builtin_prefetch(t_.headL + LongHash(ahead, kLongWidth, t_.longBits - 1), 1);
            __builtin_prefetch(t_.headT + TripleKey(ahead, t_.longBits - 1), 1);
            // The entry of the position kCandidateAhead on was asked for a while ago; the
            // position it names now is most likely the one that position's walk starts with.
            const std::uint8_t* const next = x_ + p + kCandidateAhead;
            const std::int32_t candidate = t_.headT[TripleKey(next, t_.longBits - 1)];
            if (candidate >= 0) {
                __builtin_prefetch(x_ + candidate);
                __builtin_prefetch(t_.place3 + (candidate & kChainMask));
            }
        }
        hash_ = ((hash_ << 6) ^ x_[p + 2]) & 0xFFFF;
        const std::int32_t slot = p & kChainMask;
        std::int32_t* const entry = t_.hash3 + 2 * hash_;
        const std::int32_t candidate = entry[0];
        entry[0] = p;
        t_.place3[slot] = ++entry[1];
        const std::uint32_t key = TripleKey(x_ + p, t_.longBits - 1);
        t_.chainT[slot] = t_.headT[key];
        t_.headT[key] = p;
        // The wider chains only need positions with that many bytes; 8-byte loads need 8 bytes.
        if (p + 8 <= size_) {
            EnterWide(p, x_ + p);
        } else if (p + kMiddleWidth <= size_) {
            std::uint8_t tail[8] = {};
            std::memcpy(tail, x_ + p, static_cast<std::size_t>(size_ - p));
            EnterWide(p, tail);
        }
        return candidate;
    }

    // Enters p into the middle chain and, when it has kLongWidth bytes, the long chain; `bytes`
    // holds its bytes (and 8 readable bytes).
    void EnterWide(std::int32_t p, const std::uint8_t* bytes) {
        const std::int32_t slot = p & kChainMask;
        const std::uint32_t hm = LongHash(bytes, kMiddleWidth, t_.longBits);
        t_.chainM[slot] = t_.headM[hm];
        t_.headM[hm] = p;
        if (p + kLongWidth <= size_) {
            const std::uint32_t hl = LongHash(bytes, kLongWidth, t_.longBits - 1);
            t_.chainL[slot] = t_.headL[hl];
            t_.headL[hl] = p;
        }
    }

    // Newest entered position whose `width` leading bytes (3, kMiddleWidth or kLongWidth) have
    // the same key or hash as those at p (or -1); p has at least `width` bytes left.
    std::int32_t HeadOf(std::int32_t p, int width) const {
        if (width == 3) {
            return t_.headT[TripleKey(x_ + p, t_.longBits - 1)];
        }
        const std::int32_t* const head = width == kLongWidth ? t_.headL : t_.headM;
        const unsigned bits = width == kLongWidth ? t_.longBits - 1 : t_.longBits;
        if (p + 8 <= size_) {
            return head[LongHash(x_ + p, width, bits)];
        }
        std::uint8_t tail[8] = {};
        std::memcpy(tail, x_ + p, static_cast<std::size_t>(size_ - p));
        return head[LongHash(tail, width, bits)];
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

    const std::int32_t placeOfI = t_.place3[i & kChainMask];
    // Nothing held yet: the plain walk of the 3-byte chain takes the first candidate that really
    // shares three bytes with i, i.e. the newest earlier position q with the same three bytes
    // (they all have i's hash, so they are all on that chain), unless the walk ends before it:
    // q must be the first candidate (which may lie kWindow back) or no further back than
    // `floor`, and among the first `budget` places of the chain. The triple chain leads to q
    // past far fewer positions than the 3-byte chain; the positions it passes have other
    // bytes under the same key and are older than q's successors on i's chain only when q is.
    if (best < 3) {
        std::int32_t q = t_.chainT[i & kChainMask];
        for (;;) {
            if (q < floor && q != candidate) { // also the end of the chain, -1
                return best;
            }
            const std::uint8_t* const there = x_ + q;
            if (there[0] == here[0] && there[1] == here[1] && there[2] == here[2]) {
                break;
            }
            if (q < floor) { // the first candidate, kWindow back: its link is overwritten
                return best;
            }
            q = t_.chainT[q & kChainMask];
        }
        const std::int32_t place = q == candidate ? 0 : placeOfI - t_.place3[q & kChainMask] - 1;
        if (place >= budget) {
            return best;
        }
        best = MatchLength(x_ + q, here, 3, longest);
        matchPos_ = q;
        if (best >= goodEnough || i + best == size_) {
            return best;
        }
    }

    // A match of best >= 3 bytes is held: only candidates q that share bytes 0..best with i can
    // replace it, so in particular bytes off..best for off = best + 1 - width (width 4, or 6 once
    // best >= 5). Those q lie on the wider chain of the position i + off, shifted back by off:
    // position r = q + off has the same `width` bytes as i + off. That chain is much shorter
    // than the chain of i when the byte that ended the held match is rare after the bytes
    // before it. It only holds positions already entered (r <= i), so the candidates closer
    // than off bytes are taken from i's own chain first; both lists run from the nearest
    // candidate to the oldest, so candidates are examined in the plain walk's order. After a
    // longer match is found the walk starts over on the chains for the new length, skipping the
    // candidates already examined (every one at or above `bound`).
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
        const int width = best + 1 >= kLongWidth     ? kLongWidth
                          : best + 1 >= kMiddleWidth ? kMiddleWidth
                                                     : 3;
        const std::int32_t* const chain = width == kLongWidth     ? t_.chainL
                                          : width == kMiddleWidth ? t_.chainM
                                                                  : t_.chainT;
        const std::int32_t off = best + 1 - width;
        Step step = Step::kNext;
        // Candidates closer than off bytes, on i's own chain.
        std::int32_t q = bound > i - off ? chain[i & kChainMask] : -1;
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
    if (sourceLength < kMinInput || sourceLength > kMaxInput || destination == nullptr ||
        source == nullptr) {
        return 0;
    }
    const std::int32_t size = static_cast<std::int32_t>(sourceLength);
    const std::size_t positions = std::min<std::size_t>(sourceLength, kWindow);
    // About one 4-byte head entry per position of the window (at most 65536), and half as many
    // for the triple keys and the 6-byte hashes, so that all head tables together take 2 entries
    // per position: fewer would fill the chains with positions whose bytes differ.
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
    t.headM = t.hash3 + 2 * kHashSize;
    t.headL = t.headM + longEntries;
    t.headT = t.headL + longEntries / 2;
    t.chainT = tables.positions();
    t.place3 = t.chainT + positions;
    t.chainM = t.place3 + positions;
    t.chainL = t.chainM + positions;
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
    std::memset(t.headM, 0xFF, 2 * longEntries * sizeof(std::int32_t));

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
