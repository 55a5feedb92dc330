// Compress any input with the smaller-output compressor, then expand the entry in exact mode:
// the result must be the input. The output buffer is exactly sourceLength - 1 bytes, the most
// the compressor may use, so AddressSanitizer catches any write beyond it.
#include "codec_internal.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < quorrin::kMinInput || size > quorrin::kMaxInput) {
        return 0;
    }
    const std::vector<std::uint8_t> input(data, data + size);
    std::vector<std::uint8_t> entry(size - 1);
    std::int32_t entrySize = -1;
    const int r = quorrin::EncodeBest(input.data(), static_cast<std::uint32_t>(size), entry.data(),
                                      &entrySize, quorrin::DefaultAllocator());
    if (r == 0) {
        if (entrySize != 0) {
            __builtin_trap();
        }
        return 0;
    }
    if (r != 1 || entrySize < 10 || static_cast<std::size_t>(entrySize) > size - 1) {
        __builtin_trap();
    }
    entry.resize(static_cast<std::size_t>(entrySize));
    std::vector<std::uint8_t> out(size);
    if (quorrin::Decode(entry.data(), entrySize, out.data(), static_cast<int>(size),
                        quorrin::DecodeMode::kExact) != quorrin::DecodeResult::kOk ||
        std::memcmp(out.data(), input.data(), size) != 0) {
        __builtin_trap();
    }
    return 0;
}
