// Writers of small test images, shared by the tests of the imaging layer and of Pellisk and by
// the generator of the Pellisk test module's resources. Every format is written by hand, byte
// by byte, so that the same images are made on every platform (the Windows tests run where no
// image library exists) and every test knows the pixels it stored:
//   PNG   any of four colour types, plain or interlaced, in stored deflate blocks
//   JPEG  baseline or progressive, colour or grey, every coefficient kept (quantiser 1), so
//         that the decoded pixels differ from the stored ones only by rounding
//   GIF   plain or interlaced, with transparency, on a screen larger than the image
//   TIFF  RGB or RGBA, LZW-compressed or not, with an optional second page
//   BMP   every depth, bottom-up or top-down, with an alpha mask, or run-length compressed
//   ICO   entries of DIBs (with their AND masks) or PNG files
#pragma once

#include <cstdint>
#include <vector>

namespace test_images {

using Bytes = std::vector<std::uint8_t>;

// An image as 32-bit ARGB values, row by row from the top.
struct Argb {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> px;
    std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return px[y * width + x]; }
};

// A pattern that differs in every channel from pixel to pixel; `alpha` varies the alpha too
// (the top-left pixel is then fully transparent, stored as 0).
Argb Pattern(std::uint32_t width, std::uint32_t height, bool alpha);
// Flat colours in 16x16 blocks.
Argb Blocks(std::uint32_t width, std::uint32_t height);

// Named contents whose pixels a test can compute at any position without keeping the image.
enum class Content {
    kGradientAlpha, // every pixel different, alpha varies (never 0)
    kGradient,      // every pixel different, opaque
    kPalette,       // eight opaque colours
    kBlocks,        // flat 8x8 blocks of four opaque colours
};
std::uint32_t ExpectedPixel(Content c, std::uint32_t x, std::uint32_t y);
Argb Image(Content c, std::uint32_t width, std::uint32_t height);

// PNG of 8-bit RGBA, 8-bit RGB, an 8-bit palette of the image's colours (at most 256, alpha in
// tRNS), or 16-bit grey made from the green channel (G * 257, which scales back to G exactly).
enum class PngKind { kRgba, kRgb, kPalette, kGray16 };
Bytes WritePng(const Argb& img, PngKind kind, bool interlaced);
// JPEG with full-resolution chroma (grey: the green channel). Alpha is dropped.
Bytes WriteJpeg(const Argb& img, bool progressive, bool gray);
// GIF of the image's colours (at most 256); the fully transparent pixel value 0 uses the
// transparent index. `screenWidth`/`screenHeight` of 0 mean the image's size.
Bytes WriteGif(const Argb& img, bool interlaced, std::uint16_t screenWidth = 0,
               std::uint16_t screenHeight = 0);
// TIFF with the image on the first page (RGB, or RGBA with unassociated alpha) in strips of two
// rows, LZW-compressed or stored as they are, and, if `secondPage`, another page of different
// size after it.
Bytes WriteTiff(const Argb& img, bool alpha, bool secondPage, bool lzw = true);
// BMP of depth 1, 4, 8 (palette from the image's colours), 16 (5-5-5), 24 or 32 (BI_RGB: the
// fourth byte is written as 0 and means nothing). `topDown` stores a negative height.
Bytes WriteBmp(const Argb& img, int bits, bool topDown);
// 32-bit BMP with a 108-byte header and colour masks that include alpha.
Bytes WriteBmpWithAlpha(const Argb& img);
// BMP of a run-length compressed DIB: compression 1 (RLE8, `bits` 8) or 2 (RLE4, `bits` 4),
// `palette` (ARGB; alpha dropped), then `runs` exactly as given. A negative `height` is
// written as it is.
Bytes WriteRleBmp(int bits, std::int32_t width, std::int32_t height,
                  const std::vector<std::uint32_t>& palette, const Bytes& runs);
// A DIB for an icon entry: 24-bit colour plus an AND mask from the alpha (0 => transparent),
// or 32-bit with alpha and the same mask.
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

} // namespace test_images
