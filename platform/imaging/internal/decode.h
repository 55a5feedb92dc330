// Decoding of encoded image bytes into 32-bit ARGB pixels: the private interface between the
// GDI+ stand-in and the format readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

enum class DecodeResult {
    kOk,
    kUnknownFormat, // no reader recognises the bytes
    kCorrupt,       // a reader recognised them but they are truncated, inconsistent or unsupported
    kTooLarge,      // the image is larger than the pixel limit
    kNoMemory,
};

// What GDI+ would report as the source's pixel format.
// kRgb is 24 bits per pixel, kRgb32 32 bits of which the fourth byte is unused.
enum class SourceFormat { kArgb, kRgb, kRgb32, kIndexed1, kIndexed4, kIndexed8 };

// Pixels stored top-down, 4 bytes each in the order B, G, R, A, which is a 32-bit ARGB value in
// the byte order of a little-endian machine; the stride is width * 4.
struct Pixels {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SourceFormat format = SourceFormat::kArgb;
    std::unique_ptr<std::uint8_t[]> bgra;

    std::size_t Stride() const { return std::size_t(width) * 4; }
};

// Images may hold at most this many pixels (1 GiB of pixel memory). The fuzz configuration of
// the build lowers it (DBPF_IMAGING_MAX_PIXELS), where images of a gigabyte only slow the search.
#ifndef DBPF_IMAGING_MAX_PIXELS
#define DBPF_IMAGING_MAX_PIXELS (std::uint64_t(1) << 28)
#endif
constexpr std::uint64_t kDefaultMaxPixels = DBPF_IMAGING_MAX_PIXELS;

// The limit in effect (kDefaultMaxPixels unless changed by the tests); it is not synchronised.
std::uint64_t MaxPixels();
void SetMaxPixels(std::uint64_t limit);

// Checks `width` x `height` against the limit and allocates `out` for them (uninitialised).
DecodeResult AllocatePixels(std::uint32_t width, std::uint32_t height, Pixels& out);

// Recognises the format by its signature and decodes the first image.
DecodeResult Decode(const std::uint8_t* data, std::size_t size, Pixels& out);

// The format readers: each expects its own signature at `data`.
DecodeResult DecodePng(const std::uint8_t* data, std::size_t size, Pixels& out);
DecodeResult DecodeJpeg(const std::uint8_t* data, std::size_t size, Pixels& out);
DecodeResult DecodeGif(const std::uint8_t* data, std::size_t size, Pixels& out);
DecodeResult DecodeTiff(const std::uint8_t* data, std::size_t size, Pixels& out);
DecodeResult DecodeBmp(const std::uint8_t* data, std::size_t size, Pixels& out);
DecodeResult DecodeIco(const std::uint8_t* data, std::size_t size, Pixels& out);

} // namespace imaging
