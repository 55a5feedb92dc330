// The functions of the codec and the digest keep no state between calls, so any number of
// threads may call them at once. Eight threads share 10,000 entries of mixed sizes and kinds. Each
// entry is compressed, expanded in exact mode, expanded in partial mode to a prefix, and digested,
// and every result is compared with the one a single thread got for the same entry beforehand: the
// codec and the digest keep no state between calls, so concurrency must not change a single byte.
// Buffers are sized exactly, so that the sanitizer builds see any write past them.
#include <nimbrel.h>
#include <quorrin.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kEntries = 10000;
constexpr int kThreads = 8;

// xorshift64*: a fixed sequence per entry, so every run sees the same data.
struct Rng {
    std::uint64_t s;
    explicit Rng(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return static_cast<std::uint32_t>((s * 0x2545F4914F6CDD1Dull) >> 32);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

// Mostly small entries, some of a few KiB, a few large ones that need long back-references;
// text-like, run-heavy, noisy (does not compress) and mixed content.
Bytes MakeEntry(int index) {
    Rng r(static_cast<std::uint64_t>(index));
    const std::uint32_t pick = r.Below(100);
    std::size_t size;
    if (pick < 80) {
        size = 14 + r.Below(1024);
    } else if (pick < 98) {
        size = 1024 + r.Below(15 * 1024);
    } else {
        size = 16 * 1024 + r.Below(112 * 1024);
    }
    static const char* const kWords[] = {"package", "entry ",   "TGI ",    "0x10FB",
                                         "index\n", "resource", " group ", "instance"};
    Bytes b;
    b.reserve(size);
    switch (r.Below(4)) {
    case 0: // words
        while (b.size() < size) {
            const char* w = kWords[r.Below(8)];
            b.insert(b.end(), w, w + std::strlen(w));
        }
        break;
    case 1: // runs
        while (b.size() < size) {
            b.insert(b.end(), 1 + r.Below(300), static_cast<unsigned char>(r.Below(4)));
        }
        break;
    case 2: // noise
        while (b.size() < size) {
            b.push_back(static_cast<unsigned char>(r.Next()));
        }
        break;
    default: // noise with copies of earlier stretches, near and far
        while (b.size() < size) {
            if (b.size() > 64 && r.Below(2) == 0) {
                const std::size_t from = r.Below(static_cast<std::uint32_t>(b.size() - 8));
                const std::size_t len = 3 + r.Below(60);
                for (std::size_t i = 0; i < len; ++i) {
                    b.push_back(b[from + i]); // may overlap what it appends
                }
            } else {
                b.push_back(static_cast<unsigned char>(r.Next()));
            }
        }
    }
    b.resize(size);
    return b;
}

struct Reference {
    int compressed = 0; // CompressPackage's result
    Bytes entry;        // the compressed entry when it is 1
    unsigned char plainDigest[16];
    unsigned char entryDigest[16];
    std::size_t prefix = 0; // length of the partial expansion
};

// Runs every call for entry `i` and compares with `ref`; returns "" or the first difference.
std::string Check(int i, const Bytes& plain, const Reference& ref) {
    const std::string at =
        "entry " + std::to_string(i) + " (" + std::to_string(plain.size()) + " bytes): ";
    Bytes out(plain.size() - 1);
    int size = -1;
    const int rc =
        CompressPackage(plain.data(), static_cast<unsigned>(plain.size()), out.data(), &size);
    if (rc != ref.compressed) {
        return at + "CompressPackage returned " + std::to_string(rc);
    }
    unsigned char digest[16];
    GetMD5(plain.data(), static_cast<int>(plain.size()), digest);
    if (std::memcmp(digest, ref.plainDigest, 16) != 0) {
        return at + "digest of the plain bytes differs";
    }
    if (rc == 0) {
        return size == 0 ? "" : at + "a refused entry reported a size";
    }
    if (size != static_cast<int>(ref.entry.size()) ||
        !std::equal(ref.entry.begin(), ref.entry.end(), out.begin())) {
        return at + "compressed bytes differ from the single-threaded run";
    }
    GetMD5(out.data(), size, digest);
    if (std::memcmp(digest, ref.entryDigest, 16) != 0) {
        return at + "digest of the entry differs";
    }
    Bytes back(plain.size());
    if (DecompressPackage(out.data(), size, back.data(), static_cast<int>(back.size()), 0) != 1 ||
        back != plain) {
        return at + "exact expansion does not give the input back";
    }
    Bytes part(ref.prefix);
    if (DecompressPackage(out.data(), size, part.data(), static_cast<int>(part.size()), 1) != 1 ||
        !std::equal(part.begin(), part.end(), plain.begin())) {
        return at + "partial expansion is not a prefix of the input";
    }
    return "";
}

TEST(CodecThreads, EightThreadsAgreeWithOneOnTenThousandEntries) {
    std::vector<Bytes> plain(kEntries);
    std::vector<Reference> ref(kEntries);
    int compressible = 0;
    for (int i = 0; i < kEntries; ++i) {
        plain[i] = MakeEntry(i);
        Reference& r = ref[i];
        Bytes out(plain[i].size() - 1);
        int size = 0;
        r.compressed = CompressPackage(plain[i].data(), static_cast<unsigned>(plain[i].size()),
                                       out.data(), &size);
        GetMD5(plain[i].data(), static_cast<int>(plain[i].size()), r.plainDigest);
        if (r.compressed == 1) {
            ++compressible;
            r.entry.assign(out.begin(), out.begin() + size);
            GetMD5(r.entry.data(), size, r.entryDigest);
            r.prefix = (plain[i].size() * static_cast<std::size_t>(i % 97)) / 97;
        }
    }
    // Both outcomes of CompressPackage must be exercised.
    ASSERT_GT(compressible, kEntries / 2);
    ASSERT_LT(compressible, kEntries);

    // Each thread starts at its own place and walks all entries with a stride, so that
    // different entries and sizes run side by side; every entry is checked by two threads.
    std::atomic<int> checked{0};
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = t; k < 2 * kEntries; k += kThreads) {
                const int i = (k * 7919) % kEntries;
                const std::string failure = Check(i, plain[i], ref[i]);
                checked.fetch_add(1);
                if (!failure.empty()) {
                    std::lock_guard<std::mutex> hold(lock);
                    if (failures.size() < 10) {
                        failures.push_back(failure);
                    }
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(checked.load(), 2 * kEntries);
    for (const std::string& f : failures) {
        ADD_FAILURE() << f;
    }
}

// Every tail class of the digest's padding (empty, one block less 9 bytes, 56 and 64 bytes, ...)
// with the same buffers digested by several threads at once: thread t starts at message t, so
// that different threads work on different lengths as well as on the same buffer.
TEST(CodecThreads, DigestsOfEveryTailClassAgreeOnSharedBuffers) {
    std::vector<Bytes> messages;
    for (std::size_t n : {0, 3, 55, 56, 64, 127, 1000, 65536 + 7}) {
        Bytes m(n);
        for (std::size_t i = 0; i < n; ++i) {
            m[i] = static_cast<unsigned char>(i * 131 + n);
        }
        messages.push_back(m);
    }
    messages.push_back({'a', 'b', 'c'});

    std::vector<std::array<unsigned char, 16>> expected(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        GetMD5(messages[i].data(), static_cast<int>(messages[i].size()), expected[i].data());
    }
    // The serial answers tied to a known one (RFC 1321, appendix A.5: "abc").
    const unsigned char kAbc[] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                  0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    ASSERT_EQ(std::memcmp(expected.back().data(), kAbc, sizeof kAbc), 0);

    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < 40; ++r) {
                for (std::size_t k = 0; k < messages.size(); ++k) {
                    const std::size_t i = (static_cast<std::size_t>(t) + k) % messages.size();
                    unsigned char digest[16];
                    GetMD5(messages[i].data(), static_cast<int>(messages[i].size()), digest);
                    mismatches[t] += std::memcmp(digest, expected[i].data(), 16) != 0;
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

} // namespace
