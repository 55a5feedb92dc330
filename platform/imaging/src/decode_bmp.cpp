// BMP files and ICO files, through one checked reader.
//
// A BMP file is a 14-byte file header ("BM", size, two reserved words, offset of the pixels)
// followed by a device-independent bitmap (DIB): an info header whose first 32-bit word is its
// own size (12 for the old OS/2 core header, 40 and up for the Windows headers), optional colour
// masks, a palette for depths up to 8 bits, and rows of pixels, each padded to a multiple of 4
// bytes, stored bottom-up unless the height is negative.
//
// An ICO file is a 6-byte directory header (0, 1, count) and 16-byte entries (width, height,
// colours, reserved, planes, bit count, byte size, offset). An entry holds either a PNG file or
// a DIB without file header whose height counts twice: the colour rows, then a 1-bit mask
// (bit set = transparent) with rows padded to 4 bytes.
//
// Supported: depths 1, 4, 8, 16, 24 and 32 with no compression or with colour masks, and
// run-length compressed bitmaps of 8 bits (BI_RLE8) and 4 bits (BI_RLE4) per pixel.
//
// Run-length data is a sequence of two-byte codes that paint the rows from the bottom up,
// starting at the bottom left:
//   n > 0, c      an encoded run: n pixels of index c (RLE4: the two nibbles of c in turn)
//   0, 0          end of line: on to the start of the next row
//   0, 1          end of bitmap
//   0, 2, dx, dy  delta: dx pixels right and dy rows up
//   0, n >= 3     an absolute run: the next n indices as they are (RLE4: two a byte), padded
//                 to a 16-bit boundary
// GDI+ gives such a bitmap the format 32bppRGB: it has no transparency, and pixels that no code
// paints are opaque black. Compressed rows are always stored bottom-up; GDI+ reads a bitmap
// whose negative height claims otherwise bottom-up all the same, and so does this reader.
//
// Every code is checked against the image before it paints: a run that reaches past the end of
// its row, a delta that leaves the image, a code above the top row and data that ends before
// the end-of-bitmap code all make the bitmap corrupt, never a partly painted image. (GDI+
// clips some of these and shows what fits; a damaged bitmap is refused here instead.)
#include "decode.h"

#include <platform/byte_reader.h>

#include <cstring>

namespace imaging {

using dbpf::ByteReader;

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

// One colour channel given by a bit mask; scales the channel to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (m == 0)
            return;
        while (((m >> shift) & 1) == 0)
            ++shift;
        std::uint32_t v = m >> shift;
        while (v & 1) {
            ++bits;
            v >>= 1;
        }
    }
    std::uint8_t Get(std::uint32_t px) const {
        if (bits == 0)
            return 0;
        const std::uint32_t v = (px & mask) >> shift;
        if (bits >= 8)
            return static_cast<std::uint8_t>(v >> (bits - 8));
        const std::uint32_t max = (1u << bits) - 1;
        return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
};

struct DibHeader {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: rows stored top-down
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t sizeImage = 0;           // bytes of compressed data; 0 for uncompressed bitmaps
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    bool hasMasks = false;
    std::size_t paletteOffset = 0; // from the start of the DIB view
    unsigned paletteEntrySize = 4;
};

DecodeResult ReadDibHeader(const ByteReader& r, DibHeader& h) {
    if (!r.ReadU32LE(0, &h.headerSize))
        return DecodeResult::kCorrupt;
    if (h.headerSize == 12) {
        std::uint16_t w, ht, planes;
        if (!r.ReadU16LE(4, &w) || !r.ReadU16LE(6, &ht) || !r.ReadU16LE(8, &planes) ||
            !r.ReadU16LE(10, &h.bitCount))
            return DecodeResult::kCorrupt;
        h.width = w;
        h.height = ht;
        h.paletteOffset = 12;
        h.paletteEntrySize = 3;
        return DecodeResult::kOk;
    }
    if (h.headerSize < 40 || !r.Has(0, h.headerSize))
        return DecodeResult::kCorrupt;
    std::int32_t w, ht;
    std::uint16_t planes;
    if (!r.ReadS32LE(4, &w) || !r.ReadS32LE(8, &ht) || !r.ReadU16LE(12, &planes) ||
        !r.ReadU16LE(14, &h.bitCount) || !r.ReadU32LE(16, &h.compression) ||
        !r.ReadU32LE(20, &h.sizeImage) || !r.ReadU32LE(32, &h.colorsUsed))
        return DecodeResult::kCorrupt;
    h.width = w;
    h.height = ht;
    h.paletteOffset = h.headerSize;
    if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
        const unsigned count = h.compression == kBiAlphaBitfields ? 4 : 3;
        // Headers of 52 bytes and more hold the masks themselves; after a 40-byte header they
        // follow it.
        std::size_t at = 40;
        if (h.headerSize == 40)
            h.paletteOffset += count * 4;
        for (unsigned i = 0; i < count; ++i) {
            if (!r.ReadU32LE(at + 4 * i, &h.masks[i]))
                return DecodeResult::kCorrupt;
        }
        if (h.headerSize >= 56 && count == 3 && !r.ReadU32LE(52, &h.masks[3]))
            return DecodeResult::kCorrupt;
        h.hasMasks = true;
    }
    return DecodeResult::kOk;
}

SourceFormat FormatOfDepth(unsigned bits) {
    switch (bits) {
    case 1:
        return SourceFormat::kIndexed1;
    case 4:
        return SourceFormat::kIndexed4;
    case 8:
        return SourceFormat::kIndexed8;
    default:
        return SourceFormat::kRgb;
    }
}

// Paints `out` (already filled with opaque black) from run-length data; `bpp` is 8 or 4.
DecodeResult DecodeRle(const ByteReader& runs, unsigned bpp, const std::uint32_t* palette,
                       std::uint32_t paletteCount, Pixels& out) {
    const std::uint32_t width = out.width;
    const std::uint32_t rows = out.height;
    std::uint32_t x = 0;
    std::uint32_t y = 0; // counted from the bottom row
    std::size_t p = 0;
    // Paints one pixel at (x, y) and moves right; the callers have checked that x < width and
    // y < rows.
    auto put = [&](unsigned idx) {
        const std::uint32_t argb = idx < paletteCount ? palette[idx] : 0xFF000000u;
        std::uint8_t* dst =
            out.bgra.get() + std::size_t(rows - 1 - y) * out.Stride() + std::size_t(x) * 4;
        dst[0] = static_cast<std::uint8_t>(argb);
        dst[1] = static_cast<std::uint8_t>(argb >> 8);
        dst[2] = static_cast<std::uint8_t>(argb >> 16);
        dst[3] = static_cast<std::uint8_t>(argb >> 24);
        ++x;
    };
    for (;;) {
        std::uint8_t count = 0;
        std::uint8_t value = 0;
        if (!runs.ReadU8(p, &count) || !runs.ReadU8(p + 1, &value))
            return DecodeResult::kCorrupt; // the data ends before the end-of-bitmap code
        p += 2;
        if (count > 0) {
            if (y >= rows || count > width - x)
                return DecodeResult::kCorrupt;
            for (unsigned i = 0; i < count; ++i)
                put(bpp == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F));
            continue;
        }
        switch (value) {
        case 0: // end of line
            if (y >= rows)
                return DecodeResult::kCorrupt;
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return DecodeResult::kOk;
        case 2: { // delta
            std::uint8_t dx = 0;
            std::uint8_t dy = 0;
            if (!runs.ReadU8(p, &dx) || !runs.ReadU8(p + 1, &dy))
                return DecodeResult::kCorrupt;
            p += 2;
            if (dx > width - x || dy > rows - y)
                return DecodeResult::kCorrupt;
            x += dx;
            y += dy;
            break;
        }
        default: { // an absolute run of `value` pixels
            const std::size_t bytes = bpp == 8 ? value : (std::size_t(value) + 1) / 2;
            ByteReader literal;
            if (y >= rows || value > width - x || p > runs.size() ||
                !runs.Slice(p, p + bytes, &literal))
                return DecodeResult::kCorrupt;
            for (unsigned i = 0; i < value; ++i) {
                std::uint8_t b = 0;
                literal.ReadU8(bpp == 8 ? i : i / 2, &b);
                put(bpp == 8 ? b : (i % 2 == 0 ? b >> 4 : b & 0x0F));
            }
            p += bytes + (bytes & 1);
            break;
        }
        }
    }
}

// Decodes the DIB in `dib`. `pixelOffset` is where the rows start (0: right after the
// palette). For an icon the height covers the colour rows and the mask.
DecodeResult DecodeDib(const ByteReader& dib, std::size_t pixelOffset, bool icon, Pixels& out) {
    DibHeader h;
    DecodeResult res = ReadDibHeader(dib, h);
    if (res != DecodeResult::kOk)
        return res;
    const unsigned bpp = h.bitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return DecodeResult::kCorrupt;
    const bool maskedDepth = bpp == 16 || bpp == 32;
    const bool rle =
        (h.compression == kBiRle8 && bpp == 8) || (h.compression == kBiRle4 && bpp == 4);
    if (h.compression != kBiRgb && !(h.hasMasks && maskedDepth) && !rle)
        return DecodeResult::kCorrupt;
    // Icons are never compressed.
    if (rle && icon)
        return DecodeResult::kCorrupt;

    const bool topDown = h.height < 0;
    std::int64_t height = topDown ? -h.height : h.height;
    if (icon)
        height /= 2;
    if (h.width <= 0 || height <= 0 || h.width > 0xFFFFFFFF || height > 0xFFFFFFFF)
        return DecodeResult::kCorrupt;
    const std::uint32_t width = static_cast<std::uint32_t>(h.width);
    const std::uint32_t rows = static_cast<std::uint32_t>(height);

    // Palette.
    std::uint32_t palette[256];
    std::uint32_t paletteCount = 0;
    std::size_t paletteEnd = h.paletteOffset;
    if (bpp <= 8) {
        const std::uint32_t maxCount = 1u << bpp;
        paletteCount = (h.colorsUsed == 0 || h.colorsUsed > maxCount) ? maxCount : h.colorsUsed;
        for (std::uint32_t i = 0; i < paletteCount; ++i) {
            const std::size_t at = h.paletteOffset + std::size_t(i) * h.paletteEntrySize;
            std::uint8_t b, g, r;
            if (!dib.ReadU8(at, &b) || !dib.ReadU8(at + 1, &g) || !dib.ReadU8(at + 2, &r))
                return DecodeResult::kCorrupt;
            palette[i] = 0xFF000000u | (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | b;
        }
        paletteEnd = h.paletteOffset + std::size_t(paletteCount) * h.paletteEntrySize;
    }
    if (pixelOffset == 0)
        pixelOffset = paletteEnd;

    if (rle) {
        // The compressed data: as many bytes as the header states, or the rest of the DIB.
        if (pixelOffset > dib.size())
            return DecodeResult::kCorrupt;
        const std::size_t stated = h.sizeImage != 0 && h.sizeImage <= dib.size() - pixelOffset
                                       ? pixelOffset + h.sizeImage
                                       : dib.size();
        ByteReader runs;
        if (!dib.Slice(pixelOffset, stated, &runs))
            return DecodeResult::kCorrupt;
        res = AllocatePixels(width, rows, out);
        if (res != DecodeResult::kOk)
            return res;
        for (std::size_t i = 0; i < out.Stride() * rows; i += 4) {
            out.bgra[i] = out.bgra[i + 1] = out.bgra[i + 2] = 0;
            out.bgra[i + 3] = 0xFF;
        }
        out.format = SourceFormat::kRgb32;
        return DecodeRle(runs, bpp, palette, paletteCount, out);
    }

    // Rows must be present in full; computed in 64 bits so that no header value can wrap.
    const std::uint64_t stride = ((std::uint64_t(width) * bpp + 31) / 32) * 4;
    const std::uint64_t colourBytes = stride * rows;
    ByteReader colour;
    if (pixelOffset > dib.size() || colourBytes > dib.size() - pixelOffset ||
        !dib.Slice(pixelOffset, pixelOffset + static_cast<std::size_t>(colourBytes), &colour))
        return DecodeResult::kCorrupt;
    res = AllocatePixels(width, rows, out);
    if (res != DecodeResult::kOk)
        return res;

    Channel red, green, blue, alpha;
    if (h.hasMasks) {
        red = Channel(h.masks[0]);
        green = Channel(h.masks[1]);
        blue = Channel(h.masks[2]);
        alpha = Channel(h.masks[3]);
    } else if (bpp == 16) {
        red = Channel(0x7C00);
        green = Channel(0x03E0);
        blue = Channel(0x001F);
    } else if (bpp == 32 && icon) {
        alpha = Channel(0xFF000000u); // icons carry alpha in the fourth byte
    }
    const bool useAlpha = alpha.bits != 0;
    out.format = (useAlpha || icon) ? SourceFormat::kArgb : FormatOfDepth(bpp);

    bool anyAlpha = false;
    const std::uint8_t* base = colour.data();
    for (std::uint32_t y = 0; y < rows; ++y) {
        const std::uint8_t* src = base + (topDown ? y : rows - 1 - y) * stride;
        std::uint8_t* dst = out.bgra.get() + std::size_t(y) * out.Stride();
        for (std::uint32_t x = 0; x < width; ++x, dst += 4) {
            std::uint32_t argb;
            if (bpp <= 8) {
                const std::uint32_t bit = x * bpp;
                const unsigned idx = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                argb = idx < paletteCount ? palette[idx] : 0xFF000000u;
            } else if (bpp == 24) {
                const std::uint8_t* p = src + std::size_t(x) * 3;
                argb =
                    0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            } else {
                std::uint32_t v;
                if (bpp == 16) {
                    const std::uint8_t* p = src + std::size_t(x) * 2;
                    v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
                } else {
                    const std::uint8_t* p = src + std::size_t(x) * 4;
                    v = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                        (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
                }
                if (bpp == 32 && !h.hasMasks) {
                    argb = v | 0xFF000000u;
                    if (useAlpha)
                        argb = v;
                } else {
                    argb = (std::uint32_t(useAlpha ? alpha.Get(v) : 255) << 24) |
                           (std::uint32_t(red.Get(v)) << 16) | (std::uint32_t(green.Get(v)) << 8) |
                           blue.Get(v);
                }
            }
            anyAlpha = anyAlpha || (argb >> 24) != 0;
            dst[0] = static_cast<std::uint8_t>(argb);
            dst[1] = static_cast<std::uint8_t>(argb >> 8);
            dst[2] = static_cast<std::uint8_t>(argb >> 16);
            dst[3] = static_cast<std::uint8_t>(argb >> 24);
        }
    }

    if (icon) {
        // A 32-bit icon whose alpha is all zero is an old-style icon that relies on its mask.
        const bool applyMask = !useAlpha || !anyAlpha;
        const std::uint64_t maskStride = ((std::uint64_t(width) + 31) / 32) * 4;
        const std::size_t maskOffset = pixelOffset + static_cast<std::size_t>(colourBytes);
        ByteReader mask;
        const bool maskPresent =
            maskStride * rows <= dib.size() - maskOffset &&
            dib.Slice(maskOffset, maskOffset + static_cast<std::size_t>(maskStride * rows), &mask);
        if (applyMask) {
            for (std::uint32_t y = 0; y < rows; ++y) {
                const std::uint8_t* m =
                    maskPresent ? mask.data() + (topDown ? y : rows - 1 - y) * maskStride : nullptr;
                std::uint8_t* dst = out.bgra.get() + std::size_t(y) * out.Stride();
                for (std::uint32_t x = 0; x < width; ++x) {
                    const bool transparent = m != nullptr && ((m[x / 8] >> (7 - x % 8)) & 1) != 0;
                    dst[4 * x + 3] = transparent ? 0 : 255;
                    if (transparent)
                        dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = 0;
                }
            }
        }
    }
    return DecodeResult::kOk;
}

} // namespace

DecodeResult DecodeBmp(const std::uint8_t* data, std::size_t size, Pixels& out) {
    const ByteReader file(data, size);
    std::uint32_t pixelOffset;
    ByteReader dib;
    if (!file.ReadU32LE(10, &pixelOffset) || !file.Slice(14, size, &dib))
        return DecodeResult::kCorrupt;
    // The offset counts from the start of the file; the rows must not start inside the file
    // header.
    if (pixelOffset < 14 + 12)
        return DecodeResult::kCorrupt;
    return DecodeDib(dib, pixelOffset - 14, false, out);
}

DecodeResult DecodeIco(const std::uint8_t* data, std::size_t size, Pixels& out) {
    const ByteReader file(data, size);
    std::uint16_t reserved, type, count;
    if (!file.ReadU16LE(0, &reserved) || !file.ReadU16LE(2, &type) || !file.ReadU16LE(4, &count) ||
        reserved != 0 || type != 1 || count == 0)
        return DecodeResult::kCorrupt;

    // The largest entry: most pixels, then most bits per pixel.
    std::size_t best = 0;
    std::uint64_t bestArea = 0;
    std::uint16_t bestBits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * i;
        std::uint8_t w, h;
        std::uint16_t bits;
        if (!file.ReadU8(at, &w) || !file.ReadU8(at + 1, &h) || !file.ReadU16LE(at + 6, &bits))
            return DecodeResult::kCorrupt;
        const std::uint64_t area = std::uint64_t(w ? w : 256) * (h ? h : 256);
        if (i == 0 || area > bestArea || (area == bestArea && bits > bestBits)) {
            best = i;
            bestArea = area;
            bestBits = bits;
        }
    }
    std::uint32_t bytes, offset;
    const std::size_t at = 6 + 16 * best;
    ByteReader entry;
    if (!file.ReadU32LE(at + 8, &bytes) || !file.ReadU32LE(at + 12, &offset) || offset > size ||
        bytes > size - offset || !file.Slice(offset, offset + bytes, &entry))
        return DecodeResult::kCorrupt;
    if (entry.size() >= 8 && std::memcmp(entry.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
        const DecodeResult r = DecodePng(entry.data(), entry.size(), out);
        if (r == DecodeResult::kOk)
            out.format = SourceFormat::kArgb;
        return r;
    }
    return DecodeDib(entry, 0, true, out);
}

} // namespace imaging
