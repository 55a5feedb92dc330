// The MD5 digest (RFC 1321) of a whole buffer in one call.
//
// The message arrives complete, so the context is filled once and never updated twice: the
// complete 64-byte blocks are compressed straight from the caller's buffer (no copy), and only
// the trailing partial block (0 to 63 bytes) is copied into the context's buffer. Padding then
// follows it there: the byte 0x80, zeros up to 56 bytes modulo 64 (spilling into a second block
// when fewer than 9 bytes are left), and the message length in bits as a 64-bit little-endian
// number. That is exactly the padding rule of RFC 1321; the result equals what its reference
// update-and-final sequence gives for the same bytes.
//
// Speed comes from the block function. Its 64 steps are written out with their constants and
// rotation amounts as immediates, it takes any number of blocks so that the compiler keeps the
// chaining words in registers across the whole message, and each step is ordered so that only
// the work that needs the newest word sits on the dependency chain:
//   a += x[k] + K          does not depend on the previous step
//   a += f(b, c, d)        b is the newest word; f is arranged so it enters last:
//                          F = d ^ (b & (c ^ d))
//                          G = (~d & c) + (d & b)   the two terms share no bits, so + equals |
//                          H = b ^ (c ^ d)
//                          I = c ^ (b | ~d)
//   a = rotl(a, s) + b
//
// The context lives in this call's frame and is overwritten with zeros before the call returns,
// through a store the compiler may not remove (it cannot prove the bytes are never read again).

#include "nimbrel.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

#if defined(__GNUC__)
#define NIMBREL_INLINE inline __attribute__((always_inline))
#else
#define NIMBREL_INLINE inline
#endif

struct Md5Context {
    std::uint32_t state[4];  // chaining words A, B, C, D
    std::uint64_t bit_count; // message length in bits, modulo 2^64
    unsigned char buffer[64];
};

NIMBREL_INLINE std::uint32_t LoadLE32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

NIMBREL_INLINE void StoreLE32(unsigned char* p, std::uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

template <int S> NIMBREL_INLINE std::uint32_t Rotl(std::uint32_t x) {
    static_assert(S > 0 && S < 32, "rotation amount");
    return (x << S) | (x >> (32 - S));
}

template <int S>
NIMBREL_INLINE void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                          std::uint32_t xk) {
    a += xk;
    a += d ^ (b & (c ^ d));
    a = Rotl<S>(a) + b;
}

template <int S>
NIMBREL_INLINE void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                          std::uint32_t xk) {
    a += xk;
    a += ~d & c;
    a += d & b;
    a = Rotl<S>(a) + b;
}

template <int S>
NIMBREL_INLINE void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                          std::uint32_t xk) {
    a += xk;
    a += b ^ (c ^ d);
    a = Rotl<S>(a) + b;
}

template <int S>
NIMBREL_INLINE void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                          std::uint32_t xk) {
    a += xk;
    a += c ^ (b | ~d);
    a = Rotl<S>(a) + b;
}

// Compresses `nblocks` consecutive 64-byte blocks at `p` into `state`. `p` needs no alignment.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void Md5Blocks(std::uint32_t state[4], const unsigned char* p, std::size_t nblocks) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];

    for (; nblocks != 0; --nblocks, p += 64) {
        // The sixteen message words, each least significant byte first.
        const std::uint32_t x0 = LoadLE32(p + 0);
        const std::uint32_t x1 = LoadLE32(p + 4);
        const std::uint32_t x2 = LoadLE32(p + 8);
        const std::uint32_t x3 = LoadLE32(p + 12);
        const std::uint32_t x4 = LoadLE32(p + 16);
        const std::uint32_t x5 = LoadLE32(p + 20);
        const std::uint32_t x6 = LoadLE32(p + 24);
        const std::uint32_t x7 = LoadLE32(p + 28);
        const std::uint32_t x8 = LoadLE32(p + 32);
        const std::uint32_t x9 = LoadLE32(p + 36);
        const std::uint32_t x10 = LoadLE32(p + 40);
        const std::uint32_t x11 = LoadLE32(p + 44);
        const std::uint32_t x12 = LoadLE32(p + 48);
        const std::uint32_t x13 = LoadLE32(p + 52);
        const std::uint32_t x14 = LoadLE32(p + 56);
        const std::uint32_t x15 = LoadLE32(p + 60);

        const std::uint32_t a0 = a;
        const std::uint32_t b0 = b;
        const std::uint32_t c0 = c;
        const std::uint32_t d0 = d;

        // Round 1: words in order, rotations 7 12 17 22.
        StepF<7>(a, b, c, d, x0 + 0xd76aa478u);
        StepF<12>(d, a, b, c, x1 + 0xe8c7b756u);
        StepF<17>(c, d, a, b, x2 + 0x242070dbu);
        StepF<22>(b, c, d, a, x3 + 0xc1bdceeeu);
        StepF<7>(a, b, c, d, x4 + 0xf57c0fafu);
        StepF<12>(d, a, b, c, x5 + 0x4787c62au);
        StepF<17>(c, d, a, b, x6 + 0xa8304613u);
        StepF<22>(b, c, d, a, x7 + 0xfd469501u);
        StepF<7>(a, b, c, d, x8 + 0x698098d8u);
        StepF<12>(d, a, b, c, x9 + 0x8b44f7afu);
        StepF<17>(c, d, a, b, x10 + 0xffff5bb1u);
        StepF<22>(b, c, d, a, x11 + 0x895cd7beu);
        StepF<7>(a, b, c, d, x12 + 0x6b901122u);
        StepF<12>(d, a, b, c, x13 + 0xfd987193u);
        StepF<17>(c, d, a, b, x14 + 0xa679438eu);
        StepF<22>(b, c, d, a, x15 + 0x49b40821u);

        // Round 2: words 1, 6, 11, ... (step 5 modulo 16), rotations 5 9 14 20.
        StepG<5>(a, b, c, d, x1 + 0xf61e2562u);
        StepG<9>(d, a, b, c, x6 + 0xc040b340u);
        StepG<14>(c, d, a, b, x11 + 0x265e5a51u);
        StepG<20>(b, c, d, a, x0 + 0xe9b6c7aau);
        StepG<5>(a, b, c, d, x5 + 0xd62f105du);
        StepG<9>(d, a, b, c, x10 + 0x02441453u);
        StepG<14>(c, d, a, b, x15 + 0xd8a1e681u);
        StepG<20>(b, c, d, a, x4 + 0xe7d3fbc8u);
        StepG<5>(a, b, c, d, x9 + 0x21e1cde6u);
        StepG<9>(d, a, b, c, x14 + 0xc33707d6u);
        StepG<14>(c, d, a, b, x3 + 0xf4d50d87u);
        StepG<20>(b, c, d, a, x8 + 0x455a14edu);
        StepG<5>(a, b, c, d, x13 + 0xa9e3e905u);
        StepG<9>(d, a, b, c, x2 + 0xfcefa3f8u);
        StepG<14>(c, d, a, b, x7 + 0x676f02d9u);
        StepG<20>(b, c, d, a, x12 + 0x8d2a4c8au);

        // Round 3: words 5, 8, 11, ... (step 3 modulo 16), rotations 4 11 16 23.
        StepH<4>(a, b, c, d, x5 + 0xfffa3942u);
        StepH<11>(d, a, b, c, x8 + 0x8771f681u);
        StepH<16>(c, d, a, b, x11 + 0x6d9d6122u);
        StepH<23>(b, c, d, a, x14 + 0xfde5380cu);
        StepH<4>(a, b, c, d, x1 + 0xa4beea44u);
        StepH<11>(d, a, b, c, x4 + 0x4bdecfa9u);
        StepH<16>(c, d, a, b, x7 + 0xf6bb4b60u);
        StepH<23>(b, c, d, a, x10 + 0xbebfbc70u);
        StepH<4>(a, b, c, d, x13 + 0x289b7ec6u);
        StepH<11>(d, a, b, c, x0 + 0xeaa127fau);
        StepH<16>(c, d, a, b, x3 + 0xd4ef3085u);
        StepH<23>(b, c, d, a, x6 + 0x04881d05u);
        StepH<4>(a, b, c, d, x9 + 0xd9d4d039u);
        StepH<11>(d, a, b, c, x12 + 0xe6db99e5u);
        StepH<16>(c, d, a, b, x15 + 0x1fa27cf8u);
        StepH<23>(b, c, d, a, x2 + 0xc4ac5665u);

        // Round 4: words 0, 7, 14, ... (step 7 modulo 16), rotations 6 10 15 21.
        StepI<6>(a, b, c, d, x0 + 0xf4292244u);
        StepI<10>(d, a, b, c, x7 + 0x432aff97u);
        StepI<15>(c, d, a, b, x14 + 0xab9423a7u);
        StepI<21>(b, c, d, a, x5 + 0xfc93a039u);
        StepI<6>(a, b, c, d, x12 + 0x655b59c3u);
        StepI<10>(d, a, b, c, x3 + 0x8f0ccc92u);
        StepI<15>(c, d, a, b, x10 + 0xffeff47du);
        StepI<21>(b, c, d, a, x1 + 0x85845dd1u);
        StepI<6>(a, b, c, d, x8 + 0x6fa87e4fu);
        StepI<10>(d, a, b, c, x15 + 0xfe2ce6e0u);
        StepI<15>(c, d, a, b, x6 + 0xa3014314u);
        StepI<21>(b, c, d, a, x13 + 0x4e0811a1u);
        StepI<6>(a, b, c, d, x4 + 0xf7537e82u);
        StepI<10>(d, a, b, c, x11 + 0xbd3af235u);
        StepI<15>(c, d, a, b, x2 + 0x2ad7d2bbu);
        StepI<21>(b, c, d, a, x9 + 0xeb86d391u);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }

    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// Overwrites `n` bytes at `p` with zeros in a way the optimiser keeps: after the fill, an empty
// assembly statement claims to read memory through `p`, so the stores are not dead. Compilers
// without GNU assembly get a byte loop through a volatile pointer.
void WipeBytes(void* p, std::size_t n) {
#if defined(__GNUC__)
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n-- != 0) {
        *v++ = 0;
    }
#endif
}

} // namespace

extern "C" NIMBREL_API void NIMBREL_CALL GetMD5(const unsigned char* data, int length,
                                                unsigned char* digest) {
    // A negative length has no message behind it: it is taken as the empty message, and `data`
    // is not read. (Used as an unsigned count it would name a read of gigabytes.)
    const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;

    Md5Context ctx;
    ctx.state[0] = 0x67452301u;
    ctx.state[1] = 0xefcdab89u;
    ctx.state[2] = 0x98badcfeu;
    ctx.state[3] = 0x10325476u;
    ctx.bit_count = static_cast<std::uint64_t>(n) << 3;

    // Every complete block straight from the caller's buffer; the rest into the context.
    const std::size_t full = n / 64;
    const std::size_t rest = n % 64;
    if (full != 0) {
        Md5Blocks(ctx.state, data, full);
    }
    if (rest != 0) {
        std::memcpy(ctx.buffer, data + full * 64, rest);
    }

    // Padding: 0x80, then zeros up to 56 bytes modulo 64, then the bit count. With 56 or more
    // bytes waiting, the 0x80 and zeros fill this block and the count goes into one more.
    ctx.buffer[rest] = 0x80;
    if (rest < 56) {
        std::memset(ctx.buffer + rest + 1, 0, 55 - rest);
    } else {
        std::memset(ctx.buffer + rest + 1, 0, 63 - rest);
        Md5Blocks(ctx.state, ctx.buffer, 1);
        std::memset(ctx.buffer, 0, 56);
    }
    StoreLE32(ctx.buffer + 56, static_cast<std::uint32_t>(ctx.bit_count));
    StoreLE32(ctx.buffer + 60, static_cast<std::uint32_t>(ctx.bit_count >> 32));
    Md5Blocks(ctx.state, ctx.buffer, 1);

    // The digest is assembled in this frame and copied out in one piece, so `digest` receives
    // exactly 16 bytes and may even overlap the (already consumed) message.
    unsigned char out[NIMBREL_DIGEST_SIZE];
    StoreLE32(out + 0, ctx.state[0]);
    StoreLE32(out + 4, ctx.state[1]);
    StoreLE32(out + 8, ctx.state[2]);
    StoreLE32(out + 12, ctx.state[3]);
    std::memcpy(digest, out, sizeof out);

    WipeBytes(&ctx, sizeof ctx);
    WipeBytes(out, sizeof out);
}
