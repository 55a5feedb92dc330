// The corpus of the codec benchmarks (bench_codec, bench_best): five kinds of data, each generated
// here (deterministic, 6 MiB): English-like text over a vocabulary of real words, x86-64-like
// machine code, pixel rows (gradients, shapes, noise), fixed-size binary records with varying
// fields, and incompressible bytes. Nothing in them is shaped after the codec. Each kind is cut
// into small entries (200 B to 16 KiB, sizes drawn at random, from its first MiB) and into large
// entries (256 KiB to 4 MiB, from all of it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

// The kinds, in the order the tables list them; each is a name KindData takes.
inline constexpr const char* kKindNames[] = {"text", "code", "pixels", "records", "random"};

Bytes TextData();
Bytes CodeData();
Bytes PixelData();
Bytes RecordData();
Bytes RandomData();

// The kind called `name` (one of kKindNames; anything else gives the random bytes).
Bytes KindData(const std::string& name);

// A kind with its data.
struct Kind {
    const char* name;
    Bytes data;
};

// Every kind, in the order of kKindNames.
std::vector<Kind> AllKinds();

// One entry: a piece of a kind's data, which must outlive it.
struct Entry {
    const std::uint8_t* data;
    std::size_t size;
};

// Cuts `data` into consecutive entries whose sizes cycle through `sizes` (or are drawn at random
// from [lo, hi] when `sizes` is empty), up to `limit` bytes. A last piece below 200 bytes is left
// out.
std::vector<Entry> Cut(const Bytes& data, const std::vector<std::size_t>& sizes, std::size_t lo,
                       std::size_t hi, std::size_t limit);

// Small entries: 200 B to 16 KiB, drawn at random, cut from the first MiB of `data`.
std::vector<Entry> SmallEntries(const Bytes& data);

// Large entries: 256 KiB, 4 MiB, 512 KiB, 1 MiB and 256 KiB in turn, cut from all of `data`.
std::vector<Entry> LargeEntries(const Bytes& data);

// CPU time of the calling thread in seconds, so that other load on the machine disturbs a
// measurement less.
double CpuSeconds();

} // namespace bench
