// Format recognition and the pixel allocation shared by every reader.
#include "decode.h"

#include <cstring>
#include <new>

namespace imaging {

namespace {

std::uint64_t g_maxPixels = kDefaultMaxPixels;

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* sig, std::size_t n) {
    return size >= n && std::memcmp(data, sig, n) == 0;
}

} // namespace

std::uint64_t MaxPixels() {
    return g_maxPixels;
}
void SetMaxPixels(std::uint64_t limit) {
    g_maxPixels = limit;
}

DecodeResult AllocatePixels(std::uint32_t width, std::uint32_t height, Pixels& out) {
    out.bgra.reset();
    out.width = out.height = 0;
    if (width == 0 || height == 0)
        return DecodeResult::kCorrupt;
    // Both factors are below 2^32, so the product fits in 64 bits.
    const std::uint64_t pixels = std::uint64_t(width) * height;
    if (pixels > g_maxPixels || pixels > SIZE_MAX / 4)
        return DecodeResult::kTooLarge;
    out.bgra.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(pixels) * 4]);
    if (!out.bgra)
        return DecodeResult::kNoMemory;
    out.width = width;
    out.height = height;
    return DecodeResult::kOk;
}

DecodeResult Decode(const std::uint8_t* data, std::size_t size, Pixels& out) {
    DecodeResult r = DecodeResult::kUnknownFormat;
    if (data == nullptr) {
        r = DecodeResult::kUnknownFormat;
    } else if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) {
        r = DecodePng(data, size, out);
    } else if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) {
        r = DecodeJpeg(data, size, out);
    } else if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6)) {
        r = DecodeGif(data, size, out);
    } else if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4)) {
        r = DecodeTiff(data, size, out);
    } else if (StartsWith(data, size, "BM", 2)) {
        r = DecodeBmp(data, size, out);
    } else if (StartsWith(data, size, "\0\0\1\0", 4)) {
        r = DecodeIco(data, size, out);
    }
    if (r != DecodeResult::kOk) {
        out.bgra.reset();
        out.width = out.height = 0;
    }
    return r;
}

} // namespace imaging
