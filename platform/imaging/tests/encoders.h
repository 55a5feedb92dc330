// Writers of small test images, built on the same libraries the decoders use (PNG, JPEG, GIF,
// TIFF) or by hand (BMP, ICO), so that every test knows the pixels it stored.
#pragma once

#include <cstdint>
#include <vector>

namespace imaging_test {

using Bytes = std::vector<std::uint8_t>;

// An image as 32-bit ARGB values, row by row from the top.
struct Argb {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> px;
    std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return px[y * width + x]; }
};

// A pattern that differs in every channel from pixel to pixel; `alpha` varies the alpha too.
Argb Pattern(std::uint32_t width, std::uint32_t height, bool alpha);
// Flat colours in 16x16 blocks (whole JPEG units even with halved chroma), which JPEG stores
// almost exactly.
Argb Blocks(std::uint32_t width, std::uint32_t height);

enum class PngKind { kRgba, kRgb, kPalette, kGray16 };
Bytes WritePng(const Argb& img, PngKind kind, bool interlaced);
Bytes WriteJpeg(const Argb& img, bool progressive, bool gray);
// A GIF of the image's colours (at most 255 of them); fully transparent pixels use the
// transparent index. `screenWidth`/`screenHeight` of 0 mean the image's size.
Bytes WriteGif(const Argb& img, bool interlaced, std::uint16_t screenWidth = 0,
               std::uint16_t screenHeight = 0);
// A TIFF with the image on the first page (RGB or RGBA with unassociated alpha, LZW-compressed)
// and, if `secondPage`, another page of different size after it.
Bytes WriteTiff(const Argb& img, bool alpha, bool secondPage);
// BMP of depth 1, 4, 8 (palette from the image's colours), 16 (5-5-5), 24 or 32 (BI_RGB:
// the fourth byte is written as 0 and means nothing). `topDown` stores a negative height.
Bytes WriteBmp(const Argb& img, int bits, bool topDown);
// 32-bit BMP with a 108-byte header and colour masks that include alpha.
Bytes WriteBmpWithAlpha(const Argb& img);
// A DIB for an icon entry: 24-bit colour plus an AND mask from the alpha (0 => transparent),
// or 32-bit with alpha.
Bytes WriteIconDib(const Argb& img, int bits);
// An ICO file from entries (raw entry bytes with their nominal size and depth).
struct IconEntry {
    std::uint32_t width, height;
    std::uint16_t bits;
    Bytes data;
};
Bytes WriteIco(const std::vector<IconEntry>& entries);

void PutU16(Bytes& b, std::uint32_t v);
void PutU32(Bytes& b, std::uint32_t v);

} // namespace imaging_test
