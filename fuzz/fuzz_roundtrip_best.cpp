// Compress any input with the smaller-output compressor, then expand the entry in exact mode:
// the result must be the input. The output buffer is exactly sourceLength - 1 bytes, the most
// the compressor may use, so AddressSanitizer catches any write beyond it.
#include "codec_internal.h"
#include "roundtrip_check.h"

#include <cstdint>
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
    CheckRoundTrip(input, entry, r, entrySize);
    return 0;
}
