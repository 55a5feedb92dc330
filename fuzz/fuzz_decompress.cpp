// Any bytes through the entry decoder, in both modes and with any output length. The output
// buffer is exactly `destinationLength` bytes, so AddressSanitizer reports any write past it;
// the input is copied to a buffer of exactly its size for the same reason on the read side.
#include "codec_internal.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // The first two bytes choose the mode and the output length; the rest is the entry.
    const bool partial = (data[0] & 1) != 0;
    const int choice = data[1];
    const std::vector<std::uint8_t> entry(data + 2, data + size);
    int destinationLength;
    if (entry.size() >= 9 && choice < 128) {
        // Mostly the header's own size (the interesting case), sometimes a prefix of it.
        destinationLength = (entry[6] << 16) | (entry[7] << 8) | entry[8];
        if (partial && choice >= 64) {
            destinationLength = destinationLength * (choice - 64) / 64;
        }
        if (destinationLength > (1 << 18)) {
            destinationLength = 1 << 18;
        }
    } else {
        destinationLength = (choice - 128) * 37;
    }
    // Not zero-filled: the decoder must not depend on what the buffer held.
    std::unique_ptr<std::uint8_t[]> out(
        new std::uint8_t[destinationLength > 0 ? destinationLength : 0]);
    const quorrin::DecodeResult result = quorrin::Decode(
        entry.data(), static_cast<int>(entry.size()), destinationLength > 0 ? out.get() : nullptr,
        destinationLength, partial ? quorrin::DecodeMode::kPartial : quorrin::DecodeMode::kExact);
    if (result == quorrin::DecodeResult::kOk && partial && destinationLength > 1) {
        // A successful partial decode of a prefix agrees with a shorter partial decode.
        const int half = destinationLength / 2;
        std::vector<std::uint8_t> shorter(static_cast<std::size_t>(half));
        if (quorrin::Decode(entry.data(), static_cast<int>(entry.size()), shorter.data(), half,
                            quorrin::DecodeMode::kPartial) != quorrin::DecodeResult::kOk ||
            std::memcmp(shorter.data(), out.get(), static_cast<std::size_t>(half)) != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
