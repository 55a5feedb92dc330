// The end both round-trip fuzz targets share: what a compressor returned for `input` must be a
// refusal (result 0, size 0) or an entry of 10 to input.size() - 1 bytes that expands in exact
// mode to `input`. Anything else traps.
#pragma once

#include "codec_internal.h"

#include <cstdint>
#include <cstring>
#include <vector>

// `entry` holds what the compressor wrote (its buffer of input.size() - 1 bytes), `result` and
// `entrySize` what it returned.
inline void CheckRoundTrip(const std::vector<std::uint8_t>& input, std::vector<std::uint8_t>& entry,
                           int result, std::int32_t entrySize) {
    const std::size_t size = input.size();
    if (result == 0) {
        if (entrySize != 0) {
            __builtin_trap();
        }
        return;
    }
    if (result != 1 || entrySize < 10 || static_cast<std::size_t>(entrySize) > size - 1) {
        __builtin_trap();
    }
    entry.resize(static_cast<std::size_t>(entrySize));
    std::vector<std::uint8_t> out(size);
    if (quorrin::Decode(entry.data(), entrySize, out.data(), static_cast<int>(size),
                        quorrin::DecodeMode::kExact) != quorrin::DecodeResult::kOk ||
        std::memcmp(out.data(), input.data(), size) != 0) {
        __builtin_trap();
    }
}
