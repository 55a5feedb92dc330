// Small images written by hand, byte by byte, for the tests and for the test module's
// resources. Nothing here depends on an image library, so the same images are made on every
// platform (the Windows tests run where no libpng exists).
//
// Every image shows the same kind of content: ExpectedPixel(kind, x, y) gives the 32-bit ARGB
// value each writer stores, so a test compares what it decoded against it.
#pragma once

#include <cstdint>
#include <vector>

namespace pellisk_test {

using Bytes = std::vector<std::uint8_t>;

enum class Content {
    kGradientAlpha, // every pixel different, alpha varies (PNG, 32-bit icon)
    kGradient,      // every pixel different, opaque (BMP, TIFF)
    kPalette,       // eight opaque colours (GIF)
    kBlocks,        // flat 8x8 blocks of opaque colours (JPEG)
};

inline std::uint32_t ExpectedPixel(Content c, std::uint32_t x, std::uint32_t y) {
    static const std::uint32_t kEight[8] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                            0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFFFF};
    static const std::uint32_t kBlockColours[4] = {0xFFC03020, 0xFF30B040, 0xFF2040C0, 0xFFE0E0D0};
    const std::uint32_t r = (x * 37 + 11) & 0xFF, g = (y * 59 + 3) & 0xFF,
                        b = (x * 13 + y * 29) & 0xFF;
    switch (c) {
    case Content::kGradientAlpha: {
        const std::uint32_t a = 255 - ((x * 7 + y * 17) % 200);
        return (a << 24) | (r << 16) | (g << 8) | b;
    }
    case Content::kGradient:
        return 0xFF000000u | (r << 16) | (g << 8) | b;
    case Content::kPalette:
        return kEight[(x + 3 * y) % 8];
    case Content::kBlocks:
        return kBlockColours[((x / 8) + (y / 8) * 3) % 4];
    }
    return 0;
}

namespace detail {

inline void Le16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
inline void Le32(Bytes& b, std::uint32_t v) {
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
}
inline void Be16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
inline void Be32(Bytes& b, std::uint32_t v) {
    Be16(b, v >> 16);
    Be16(b, v & 0xFFFF);
}
inline std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}
inline void PngChunk(Bytes& out, const char* type, const Bytes& data) {
    Be32(out, std::uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Be32(out, Crc32(body.data(), body.size()));
}

} // namespace detail

// PNG, 8-bit RGBA, the image data in stored (uncompressed) deflate blocks.
inline Bytes WritePng(Content c, std::uint32_t w, std::uint32_t h) {
    using namespace detail;
    Bytes raw;
    for (std::uint32_t y = 0; y < h; ++y) {
        raw.push_back(0); // filter: none
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t p = ExpectedPixel(c, x, y);
            raw.insert(raw.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p),
                                   std::uint8_t(p >> 24)});
        }
    }
    Bytes z = {0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || at == 0;) {
        const std::size_t n = raw.size() - at > 65535 ? 65535 : raw.size() - at;
        z.push_back(at + n == raw.size() ? 1 : 0);
        Le16(z, std::uint32_t(n));
        Le16(z, std::uint32_t(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        at += n;
        if (n == 0)
            break;
    }
    std::uint32_t s1 = 1, s2 = 0;
    for (std::uint8_t v : raw) {
        s1 = (s1 + v) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    Be32(z, (s2 << 16) | s1);
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Be32(ihdr, w);
    Be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, deflate, no filter, no interlace
    PngChunk(out, "IHDR", ihdr);
    PngChunk(out, "IDAT", z);
    PngChunk(out, "IEND", {});
    return out;
}

// BMP, bottom-up, 24-bit or 32-bit (BI_RGB; the fourth byte is written as 0 and means nothing).
inline Bytes WriteBmp(Content c, std::uint32_t w, std::uint32_t h, int bits) {
    using namespace detail;
    const std::uint32_t stride = ((w * std::uint32_t(bits) + 31) / 32) * 4;
    Bytes b = {'B', 'M'};
    Le32(b, 54 + stride * h);
    Le32(b, 0);
    Le32(b, 54);
    Le32(b, 40);
    Le32(b, w);
    Le32(b, h);
    Le16(b, 1);
    Le16(b, std::uint32_t(bits));
    for (int i = 0; i < 6; ++i)
        Le32(b, 0);
    for (std::uint32_t i = 0; i < h; ++i) {
        const std::uint32_t y = h - 1 - i;
        Bytes row;
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t p = ExpectedPixel(c, x, y);
            row.insert(row.end(), {std::uint8_t(p), std::uint8_t(p >> 8), std::uint8_t(p >> 16)});
            if (bits == 32)
                row.push_back(0);
        }
        row.resize(stride, 0);
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

// BMP of a run-length compressed DIB: a 40-byte header with compression 1 (RLE8, `bits` 8) or
// 2 (RLE4, `bits` 4), `palette` (ARGB; alpha dropped), then `runs` as given. A negative
// `height` marks the rows as stored top-down.
inline Bytes WriteRleBmp(int bits, std::int32_t width, std::int32_t height,
                         const std::vector<std::uint32_t>& palette, const Bytes& runs) {
    using namespace detail;
    const std::uint32_t offset = 54 + 4 * std::uint32_t(palette.size());
    Bytes b = {'B', 'M'};
    Le32(b, offset + std::uint32_t(runs.size()));
    Le32(b, 0);
    Le32(b, offset);
    Le32(b, 40);
    Le32(b, std::uint32_t(width));
    Le32(b, std::uint32_t(height));
    Le16(b, 1);
    Le16(b, std::uint32_t(bits));
    Le32(b, bits == 4 ? 2 : 1);          // BI_RLE4 or BI_RLE8
    Le32(b, std::uint32_t(runs.size())); // size of the compressed data
    Le32(b, 2835);                       // 72 dpi
    Le32(b, 2835);
    Le32(b, std::uint32_t(palette.size())); // colours used
    Le32(b, 0);
    for (std::uint32_t p : palette)
        Le32(b, p & 0xFFFFFF);
    b.insert(b.end(), runs.begin(), runs.end());
    return b;
}

// GIF with the eight colours of Content::kPalette. The LZW data uses only literal codes of
// 8 bits (minimum code size 7) with a clear code every 100 pixels, so the code width never
// grows: a valid, uncompressed stream.
inline Bytes WriteGif(std::uint32_t w, std::uint32_t h) {
    using namespace detail;
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    Le16(b, w);
    Le16(b, h);
    b.insert(b.end(), {0xF6, 0, 0}); // global table of 128 colours, 8 bits per primary
    for (int i = 0; i < 128; ++i) {
        const std::uint32_t p = i < 8 ? ExpectedPixel(Content::kPalette, std::uint32_t(i), 0) : 0;
        b.insert(b.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)});
    }
    b.push_back(0x2C);
    Le16(b, 0);
    Le16(b, 0);
    Le16(b, w);
    Le16(b, h);
    b.push_back(0); // no local table, not interlaced
    b.push_back(7); // minimum code size
    Bytes codes;
    std::uint32_t count = 0;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            if (count++ % 100 == 0)
                codes.push_back(128); // clear
            codes.push_back(std::uint8_t((x + 3 * y) % 8));
        }
    codes.push_back(129); // end of information
    // 8-bit codes pack into whole bytes; sub-blocks of at most 255 bytes.
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::size_t n = codes.size() - at > 255 ? 255 : codes.size() - at;
        b.push_back(std::uint8_t(n));
        b.insert(b.end(), codes.begin() + std::ptrdiff_t(at),
                 codes.begin() + std::ptrdiff_t(at + n));
    }
    b.push_back(0);
    b.push_back(0x3B);
    return b;
}

// Baseline TIFF, little-endian, 8-bit RGB in one uncompressed strip.
inline Bytes WriteTiff(Content c, std::uint32_t w, std::uint32_t h) {
    using namespace detail;
    Bytes b = {'I', 'I', 42, 0};
    Le32(b, 8);
    const std::uint32_t entries = 10;
    const std::uint32_t bpsOffset = 8 + 2 + 12 * entries + 4;
    const std::uint32_t dataOffset = bpsOffset + 6;
    Le16(b, entries);
    auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count,
                     std::uint32_t value) {
        Le16(b, tag);
        Le16(b, type);
        Le32(b, count);
        if (type == 3 && count == 1) {
            Le16(b, value);
            Le16(b, 0);
        } else {
            Le32(b, value);
        }
    };
    entry(256, 4, 1, w);          // width
    entry(257, 4, 1, h);          // height
    entry(258, 3, 3, bpsOffset);  // bits per sample: 8, 8, 8 (stored below)
    entry(259, 3, 1, 1);          // no compression
    entry(262, 3, 1, 2);          // RGB
    entry(273, 4, 1, dataOffset); // strip offset
    entry(277, 3, 1, 3);          // samples per pixel
    entry(278, 4, 1, h);          // rows per strip
    entry(279, 4, 1, w * h * 3);  // strip byte count
    entry(284, 3, 1, 1);          // contiguous samples
    Le32(b, 0);                   // no next page
    for (int i = 0; i < 3; ++i)
        Le16(b, 8);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t p = ExpectedPixel(c, x, y);
            b.insert(b.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)});
        }
    return b;
}

// ICO with one 32-bit entry (a DIB with alpha, followed by its AND mask).
inline Bytes WriteIco(Content c, std::uint32_t size) {
    using namespace detail;
    Bytes dib;
    Le32(dib, 40);
    Le32(dib, size);
    Le32(dib, size * 2);
    Le16(dib, 1);
    Le16(dib, 32);
    for (int i = 0; i < 6; ++i)
        Le32(dib, 0);
    for (std::uint32_t i = 0; i < size; ++i) {
        const std::uint32_t y = size - 1 - i;
        for (std::uint32_t x = 0; x < size; ++x)
            Le32(dib, ExpectedPixel(c, x, y));
    }
    const std::uint32_t maskStride = ((size + 31) / 32) * 4;
    dib.resize(dib.size() + maskStride * size, 0); // nothing masked out
    Bytes b;
    Le16(b, 0);
    Le16(b, 1);
    Le16(b, 1);
    b.insert(b.end(), {std::uint8_t(size), std::uint8_t(size), 0, 0});
    Le16(b, 1);
    Le16(b, 32);
    Le32(b, std::uint32_t(dib.size()));
    Le32(b, 22);
    b.insert(b.end(), dib.begin(), dib.end());
    return b;
}

// Baseline JPEG of Content::kBlocks whose blocks carry only their DC coefficient: colour
// components at full resolution, quantiser 1 for DC, the standard DC Huffman table and an AC
// table holding only end-of-block. A flat block decodes to its colour up to YCbCr rounding.
inline Bytes WriteJpeg(std::uint32_t w, std::uint32_t h) {
    using namespace detail;
    Bytes b = {0xFF, 0xD8};
    // Quantisation table 0: all ones.
    b.insert(b.end(), {0xFF, 0xDB, 0, 67, 0});
    b.insert(b.end(), 64, 1);
    // Frame: 8-bit, h x w, three components with 1x1 sampling and table 0.
    b.insert(b.end(), {0xFF, 0xC0, 0, 17, 8});
    Be16(b, h);
    Be16(b, w);
    b.insert(b.end(), {3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0});
    // DC table 0 (the standard luminance table) and AC table 0 (one code: "0" = end of block).
    static const std::uint8_t kDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    b.insert(b.end(), {0xFF, 0xC4, 0, 31, 0x00});
    b.insert(b.end(), kDcBits, kDcBits + 16);
    for (std::uint8_t v = 0; v < 12; ++v)
        b.push_back(v);
    b.insert(b.end(), {0xFF, 0xC4, 0, 20, 0x10, 1});
    b.insert(b.end(), 15, 0);
    b.push_back(0x00);
    b.insert(b.end(), {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});

    // Canonical codes of the DC table.
    std::uint32_t dcCode[12], dcLen[12];
    {
        std::uint32_t code = 0, k = 0;
        for (std::uint32_t len = 1; len <= 16; ++len) {
            for (std::uint32_t i = 0; i < kDcBits[len - 1]; ++i, ++k) {
                dcCode[k] = code++;
                dcLen[k] = len;
            }
            code <<= 1;
        }
    }
    std::uint32_t acc = 0, nbits = 0;
    auto put = [&](std::uint32_t bits, std::uint32_t len) {
        for (std::uint32_t i = len; i-- > 0;) {
            acc = (acc << 1) | ((bits >> i) & 1);
            if (++nbits == 8) {
                b.push_back(std::uint8_t(acc));
                if (acc == 0xFF)
                    b.push_back(0); // byte stuffing
                acc = nbits = 0;
            }
        }
    };
    int pred[3] = {0, 0, 0};
    for (std::uint32_t by = 0; by < (h + 7) / 8; ++by)
        for (std::uint32_t bx = 0; bx < (w + 7) / 8; ++bx) {
            const std::uint32_t p = ExpectedPixel(Content::kBlocks, bx * 8, by * 8);
            const double r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, bl = p & 0xFF;
            const double ycc[3] = {0.299 * r + 0.587 * g + 0.114 * bl,
                                   -0.168736 * r - 0.331264 * g + 0.5 * bl + 128,
                                   0.5 * r - 0.418688 * g - 0.081312 * bl + 128};
            for (int comp = 0; comp < 3; ++comp) {
                // A flat block of value v has the DC coefficient 8 * (v - 128).
                const int dc = int((ycc[comp] - 128) * 8 + (ycc[comp] >= 128 ? 0.5 : -0.5));
                const int diff = dc - pred[comp];
                pred[comp] = dc;
                std::uint32_t mag = std::uint32_t(diff < 0 ? -diff : diff), cat = 0;
                while (mag >> cat)
                    ++cat;
                put(dcCode[cat], dcLen[cat]);
                if (cat)
                    put(std::uint32_t(diff < 0 ? diff - 1 : diff) & ((1u << cat) - 1), cat);
                put(0, 1); // end of block
            }
        }
    while (nbits != 0)
        put(1, 1); // pad with ones
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

} // namespace pellisk_test
