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
// Work tables. The head table has 65536 entries whatever the input size; filling it with -1
// costs more than compressing a small entry, so for small inputs only the entries of the hashes
// that occur in the input are reset. The chain table needs one entry per position up to 131072.
#include "codec_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorrin {
namespace {

constexpr std::int32_t kWindow = 131072;       // farthest first candidate
constexpr std::int32_t kChainMask = kWindow - 1; // chain table index: position mod 131072
constexpr std::int32_t kHashSize = 65536;
constexpr std::int32_t kMaxMatch = 1028;
constexpr std::int32_t kGoodEnough = 258;
constexpr std::int32_t kBigBudget = 4096;
constexpr std::int32_t kSmallBudget = 1024;
constexpr std::int32_t kBudgetSwitch = 32; // pending matches this long get the small budget
// Below this input size only the head entries that the input uses are reset.
constexpr std::uint32_t kSparseResetLimit = 32768;

void* MallocBlock(std::size_t size) { return std::malloc(size); }
void FreeBlock(void* block) { std::free(block); }
const WorkAllocator kDefaultAllocator = {MallocBlock, FreeBlock};

// Owns the work tables of one call; releases them on every path.
class WorkTables {
public:
    WorkTables(const WorkAllocator& allocator, std::size_t headEntries, std::size_t chainEntries)
        : allocator_(allocator) {
        head_ = static_cast<std::int32_t*>(allocator.allocate(headEntries * sizeof(std::int32_t)));
        chain_ =
            static_cast<std::int32_t*>(allocator.allocate(chainEntries * sizeof(std::int32_t)));
    }
    ~WorkTables() {
        if (chain_ != nullptr) {
            allocator_.release(chain_);
        }
        if (head_ != nullptr) {
            allocator_.release(head_);
        }
    }
    WorkTables(const WorkTables&) = delete;
    WorkTables& operator=(const WorkTables&) = delete;

    bool ok() const { return head_ != nullptr && chain_ != nullptr; }
    std::int32_t* head() const { return head_; }
    std::int32_t* chain() const { return chain_; }

private:
    const WorkAllocator& allocator_;
    std::int32_t* head_ = nullptr;
    std::int32_t* chain_ = nullptr;
};

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal leading bytes of a and b, counting on from `k` and never reaching `limit`.
inline std::int32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::int32_t k,
                                std::int32_t limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes at a time; the lowest differing byte is the first one in memory.
    while (limit - k >= 8) {
        const std::uint64_t diff = Load64(a + k) ^ Load64(b + k);
        if (diff != 0) {
            return k + static_cast<std::int32_t>(__builtin_ctzll(diff) >> 3);
        }
        k += 8;
    }
#endif
    while (k < limit && a[k] == b[k]) {
        ++k;
    }
    return k;
}

class Encoder {
public:
    Encoder(const std::uint8_t* x, std::int32_t size, std::uint8_t* destination,
            std::int32_t* head, std::int32_t* chain)
        : x_(x), size_(size), head_(head), chain_(chain), out_(destination + kHeaderSize),
          limit_(destination + size - 1) {}

    // Runs the whole search and writes every command; false when the entry does not fit.
    bool Run();
    std::uint8_t* cursor() const { return out_; }

private:
    // Advances the running hash to position p and enters p; returns the previous newest
    // position with the same hash (or -1).
    std::int32_t Insert(std::int32_t p) {
        hash_ = ((hash_ << 6) ^ x_[p + 2]) & 0xFFFF;
        const std::int32_t candidate = head_[hash_];
        chain_[p & kChainMask] = candidate;
        head_[hash_] = p;
        return candidate;
    }

    std::int32_t FindMatch(std::int32_t best, std::int32_t i, std::int32_t n,
                           std::int32_t candidate);
    bool WriteCommand(std::int32_t start, std::int32_t matchPos, std::int32_t length);

    const std::uint8_t* const x_;
    const std::int32_t size_;
    std::int32_t* const head_;
    std::int32_t* const chain_;
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
    std::int32_t budget = best < kBudgetSwitch ? kBigBudget : kSmallBudget;
    const std::uint8_t* const here = x_ + i;
    const std::uint16_t head2 = static_cast<std::uint16_t>(here[0] | (here[1] << 8));
    std::int32_t q = candidate;
    for (;;) {
        const std::uint8_t* const there = x_ + q;
        // Quick test: a longer match must agree at `best` and `best - 1`, and at bytes 0 and 1.
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
        const std::int32_t next = chain_[q & kChainMask];
        if (next < floor) { // also ends the chain at -1
            break;
        }
        if (--budget == 0) {
            break;
        }
        q = next;
    }
    return best;
}

bool Encoder::WriteCommand(std::int32_t start, std::int32_t matchPos, std::int32_t length) {
    std::int32_t pending = start - written_;
    while (pending >= 4) {
        const std::int32_t k = std::min(pending / 4, 28);
        const std::int32_t count = 4 * k;
        if (1 + count > limit_ - out_) {
            return false;
        }
        *out_++ = static_cast<std::uint8_t>(0xDF + k);
        std::memcpy(out_, x_ + written_, static_cast<std::size_t>(count));
        out_ += count;
        written_ += count;
        pending -= count;
    }

    const std::int32_t d = start - matchPos - 1; // stored distance: distance minus 1
    std::uint8_t command[4];
    std::int32_t commandSize;
    if (length == 0) {
        command[0] = static_cast<std::uint8_t>(0xFC + pending);
        commandSize = 1;
    } else if (d < 1024 && length >= 3 && length <= 10) {
        command[0] = static_cast<std::uint8_t>(((d >> 3) & 0x60) + ((length - 3) << 2) + pending);
        command[1] = static_cast<std::uint8_t>(d & 0xFF);
        commandSize = 2;
    } else if (d < 16384 && length >= 4 && length <= 67) {
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
            if ((currentLength <= 3 && i - matchPos_ > 1024) ||
                (currentLength <= 4 && i - matchPos_ > 16384)) {
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

const WorkAllocator& DefaultAllocator() { return kDefaultAllocator; }

int Encode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
           std::int32_t* compressedLength, const WorkAllocator& allocator) {
    if (sourceLength < kMinInput || sourceLength > kMaxInput || destination == nullptr ||
        source == nullptr) {
        return 0;
    }
    const std::int32_t size = static_cast<std::int32_t>(sourceLength);
    const std::size_t chainEntries = std::min<std::size_t>(sourceLength, kWindow);
    WorkTables tables(allocator, kHashSize, chainEntries);
    if (!tables.ok()) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }

    std::int32_t* const head = tables.head();
    if (sourceLength < kSparseResetLimit) {
        // Reset only the entries of hashes that occur: no other entry is ever read.
        std::uint32_t h = (static_cast<std::uint32_t>(source[0]) << 6) ^ source[1];
        for (std::int32_t p = 0; p + 3 <= size; ++p) {
            h = ((h << 6) ^ source[p + 2]) & 0xFFFF;
            head[h] = -1;
        }
    } else {
        std::memset(head, 0xFF, kHashSize * sizeof(std::int32_t));
    }

    Encoder encoder(source, size, destination, head, tables.chain());
    if (!encoder.Run()) {
        if (compressedLength != nullptr) {
            *compressedLength = 0;
        }
        return 0;
    }

    const std::uint32_t entrySize = static_cast<std::uint32_t>(encoder.cursor() - destination);
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
