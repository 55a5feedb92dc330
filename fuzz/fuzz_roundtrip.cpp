// Compress any input, then expand the entry in exact mode: the result must be the input. The
// output buffer is exactly sourceLength - 1 bytes, the most the compressor may use.
#include "codec_internal.h"
#include "roundtrip_check.h"
#include "test_util.h"

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
    const int r = quorrin::Encode(input.data(), static_cast<std::uint32_t>(size), entry.data(),
                                  &entrySize, quorrin::DefaultAllocator());
    // The plain reference implementation of the same algorithm gives the same bytes.
    std::vector<std::uint8_t> reference(size - 1);
    std::int32_t referenceSize = -1;
    if (quorrin_test::ReferenceCompress(input.data(), static_cast<std::uint32_t>(size),
                                        reference.data(), &referenceSize) != r ||
        referenceSize != entrySize ||
        (r == 1 &&
         std::memcmp(reference.data(), entry.data(), static_cast<std::size_t>(entrySize)) != 0)) {
        __builtin_trap();
    }
    CheckRoundTrip(input, entry, r, entrySize);
    return 0;
}
