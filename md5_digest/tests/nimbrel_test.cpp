// Tests of GetMD5 and the other exports of Nimbrel.
//
// Known answers come from RFC 1321; every other digest is checked against a second, independent
// MD5: OpenSSL's libcrypto in the native build, the CryptoAPI of advapi32 on Windows. Messages
// live in allocations of exactly their size, so that AddressSanitizer reports any read past them.
#include "nimbrel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <wincrypt.h>
#else
#include <dlfcn.h>
#endif

#if defined(NIMBREL_TEST_OPENSSL)
#include <openssl/md5.h>
#endif

namespace {

std::string Hex(const unsigned char* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < NIMBREL_DIGEST_SIZE; ++i) {
        s += kDigits[digest[i] >> 4];
        s += kDigits[digest[i] & 15];
    }
    return s;
}

std::string Md5Hex(const unsigned char* data, std::size_t size) {
    unsigned char digest[NIMBREL_DIGEST_SIZE];
    GetMD5(data, static_cast<int>(size), digest);
    return Hex(digest);
}

std::string Md5Hex(const std::vector<unsigned char>& message) {
    return Md5Hex(message.data(), message.size());
}

// Deterministic bytes that use every value, so that sign and byte-order mistakes show.
std::vector<unsigned char> Message(std::size_t size, std::uint32_t seed = 1) {
    std::vector<unsigned char> out(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

// The second opinion. Returns false (with the reason) when this build has none.
bool ReferenceMd5Hex(const std::vector<unsigned char>& message, std::string& hex,
                     std::string& why) {
    unsigned char digest[NIMBREL_DIGEST_SIZE];
#if defined(NIMBREL_TEST_OPENSSL)
    (void)why;
    MD5(message.data(), message.size(), digest);
#elif defined(_WIN32)
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        why = "CryptAcquireContext failed";
        return false;
    }
    HCRYPTHASH hash = 0;
    DWORD len = sizeof digest;
    bool ok = CryptCreateHash(prov, CALG_MD5, 0, 0, &hash) &&
              CryptHashData(hash, message.data(), static_cast<DWORD>(message.size()), 0) &&
              CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0) && len == sizeof digest;
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    if (!ok) {
        why = "CryptoAPI MD5 failed";
        return false;
    }
#else
    (void)message;
    why = "no second MD5 implementation in this build (OpenSSL not found)";
    return false;
#endif
    hex = Hex(digest);
    return true;
}

const char kEmptyDigest[] = "d41d8cd98f00b204e9800998ecf8427e";

// RFC 1321, appendix A.5: the test suite.
struct KnownAnswer {
    const char* message;
    const char* digest;
};
const KnownAnswer kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890" // eight times "1234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(GetMD5, Rfc1321TestSuite) {
    for (const KnownAnswer& k : kRfc1321Suite) {
        SCOPED_TRACE(k.message);
        const std::size_t n = std::strlen(k.message);
        std::vector<unsigned char> message(k.message, k.message + n);
        EXPECT_EQ(Md5Hex(message), k.digest);
    }
}

// Every length from 0 to 300 crosses each branch of the padding (one final block up to 55
// bytes, two from 56 to 63) and of the block handling (no block, one, several, with and without
// a tail); the large ones run the multi-block path for long and end in every tail class.
TEST(GetMD5, AgreesWithSecondImplementationAtEveryLengthClass) {
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 300; ++n) {
        sizes.push_back(n);
    }
    for (std::size_t n : {std::size_t{4096}, std::size_t{65535}, std::size_t{999983},
                          std::size_t{1} << 20, (std::size_t{1} << 20) + 55,
                          (std::size_t{1} << 20) + 56, 3 * (std::size_t{1} << 20) - 1}) {
        sizes.push_back(n);
    }
    for (std::size_t n : sizes) {
        SCOPED_TRACE("length " + std::to_string(n));
        const std::vector<unsigned char> message = Message(n, static_cast<std::uint32_t>(n));
        std::string expected, why;
        if (!ReferenceMd5Hex(message, expected, why)) {
            GTEST_SKIP() << why;
        }
        EXPECT_EQ(Md5Hex(message), expected);
    }
}

TEST(GetMD5, MisalignedMessageGivesTheSameDigest) {
    for (std::size_t n : {1, 63, 64, 65, 200, 4097}) {
        const std::vector<unsigned char> message = Message(n, 7);
        const std::string aligned = Md5Hex(message);
        for (std::size_t offset = 1; offset < 16; ++offset) {
            SCOPED_TRACE("length " + std::to_string(n) + ", offset " + std::to_string(offset));
            // The message ends flush with its allocation, at an odd address.
            std::vector<unsigned char> shifted(offset + n, 0xEE);
            std::memcpy(shifted.data() + offset, message.data(), n);
            EXPECT_EQ(Md5Hex(shifted.data() + offset, n), aligned);
        }
    }
}

TEST(GetMD5, WritesExactlySixteenBytesAndNothingAround) {
    for (const KnownAnswer& k : kRfc1321Suite) {
        SCOPED_TRACE(k.message);
        unsigned char frame[8 + NIMBREL_DIGEST_SIZE + 16];
        std::memset(frame, 0xA5, sizeof frame);
        GetMD5(reinterpret_cast<const unsigned char*>(k.message),
               static_cast<int>(std::strlen(k.message)), frame + 8);
        EXPECT_EQ(Hex(frame + 8), k.digest);
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(frame[i], 0xA5) << "byte " << i << " before the digest";
        }
        for (std::size_t i = 8 + NIMBREL_DIGEST_SIZE; i < sizeof frame; ++i) {
            EXPECT_EQ(frame[i], 0xA5) << "byte " << i - 8 << " of the digest buffer";
        }
    }
}

// With no message bytes, `data` is never read, so a null pointer is fine.
TEST(GetMD5, ZeroLengthIgnoresData) {
    unsigned char digest[NIMBREL_DIGEST_SIZE];
    GetMD5(nullptr, 0, digest);
    EXPECT_EQ(Hex(digest), kEmptyDigest);
}

// A negative length is outside the contract; the library answers with the digest of the empty
// message instead of reading gigabytes behind `data` (a null pointer here would crash a read).
TEST(GetMD5, NegativeLengthIsTheEmptyMessageAndReadsNothing) {
    for (int length : {-1, -64, -65536, INT_MIN}) {
        SCOPED_TRACE(length);
        unsigned char digest[NIMBREL_DIGEST_SIZE];
        std::memset(digest, 0x5A, sizeof digest);
        GetMD5(nullptr, length, digest);
        EXPECT_EQ(Hex(digest), kEmptyDigest);
    }
}

// The digest is written only after the whole message has been read.
TEST(GetMD5, DigestMayOverwriteTheMessage) {
    for (std::size_t n : {16, 100, 130}) {
        SCOPED_TRACE(n);
        std::vector<unsigned char> message = Message(n, 3);
        const std::string expected = Md5Hex(message);
        GetMD5(message.data(), static_cast<int>(n), message.data());
        EXPECT_EQ(Hex(message.data()), expected);
    }
}

TEST(NimbrelSamples, BehaveAsDocumented) {
    EXPECT_EQ(fnNimbrel(), 42);
    EXPECT_EQ(fnNimbrel(), 42);
    EXPECT_EQ(nNimbrel, 0);
    CNimbrel a;
    CNimbrel b;
    EXPECT_EQ(&(a = b), &a);
}

// A client imports the three plain exports by their undecorated names.
template <typename T, typename P> T As(P p) {
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(p));
}

TEST(NimbrelExports, PlainNamesResolveUndecorated) {
    using GetMd5Fn = void(NIMBREL_CALL*)(const unsigned char*, int, unsigned char*);
    using FnNimbrelFn = int(NIMBREL_CALL*)();
#if defined(_WIN32)
    HMODULE lib = GetModuleHandleA(NIMBREL_LIBRARY_PATH);
    ASSERT_NE(lib, nullptr) << NIMBREL_LIBRARY_PATH;
    auto get_md5 = As<GetMd5Fn>(GetProcAddress(lib, "GetMD5"));
    auto fn = As<FnNimbrelFn>(GetProcAddress(lib, "fnNimbrel"));
    auto* n = reinterpret_cast<const int*>(GetProcAddress(lib, "nNimbrel"));
#else
    void* lib = dlopen(NIMBREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto get_md5 = reinterpret_cast<GetMd5Fn>(dlsym(lib, "GetMD5"));
    auto fn = reinterpret_cast<FnNimbrelFn>(dlsym(lib, "fnNimbrel"));
    auto* n = static_cast<const int*>(dlsym(lib, "nNimbrel"));
#endif
    ASSERT_NE(get_md5, nullptr);
    ASSERT_NE(fn, nullptr);
    ASSERT_NE(n, nullptr);
    unsigned char digest[NIMBREL_DIGEST_SIZE];
    get_md5(reinterpret_cast<const unsigned char*>("abc"), 3, digest);
    EXPECT_EQ(Hex(digest), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(fn(), 42);
    EXPECT_EQ(*n, 0);
#if !defined(_WIN32)
    dlclose(lib);
#endif
}

} // namespace
