#include "image_writer.h"

#include <cmath>
#include <cstddef>
#include <map>
#include <stdexcept>

namespace test_images {

namespace {

std::uint8_t A(std::uint32_t p) {
    return std::uint8_t(p >> 24);
}
std::uint8_t R(std::uint32_t p) {
    return std::uint8_t(p >> 16);
}
std::uint8_t G(std::uint32_t p) {
    return std::uint8_t(p >> 8);
}
std::uint8_t B(std::uint32_t p) {
    return std::uint8_t(p);
}

void PutBe16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
void PutBe32(Bytes& b, std::uint32_t v) {
    PutBe16(b, v >> 16);
    PutBe16(b, v & 0xFFFF);
}
void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// Palette of the image's colours in order of first appearance.
std::vector<std::uint32_t> PaletteOf(const Argb& img, std::map<std::uint32_t, int>& index) {
    std::vector<std::uint32_t> pal;
    for (std::uint32_t p : img.px) {
        if (index.emplace(p, int(pal.size())).second)
            pal.push_back(p);
    }
    if (pal.size() > 256)
        throw std::runtime_error("too many colours for a palette");
    return pal;
}

} // namespace

void PutU16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void PutU32(Bytes& b, std::uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

Argb Pattern(std::uint32_t width, std::uint32_t height, bool alpha) {
    Argb img{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t a = alpha ? (x + y == 0 ? 0 : 40 + (x * 37 + y * 91) % 216) : 255;
            const std::uint32_t r = (x * 53 + 7) & 0xFF, g = (y * 71 + 13) & 0xFF,
                                b = (x * 29 + y * 17) & 0xFF;
            img.px.push_back(a == 0 ? 0 : (a << 24) | (r << 16) | (g << 8) | b);
        }
    }
    return img;
}

Argb Blocks(std::uint32_t width, std::uint32_t height) {
    static const std::uint32_t kColours[] = {0xFFC02020, 0xFF20C020, 0xFF2020C0, 0xFFE0E0E0,
                                             0xFF202020, 0xFFC0C020, 0xFF20C0C0};
    Argb img{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            img.px.push_back(kColours[((x / 16) + 3 * (y / 16)) % 7]);
    return img;
}

std::uint32_t ExpectedPixel(Content c, std::uint32_t x, std::uint32_t y) {
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

Argb Image(Content c, std::uint32_t width, std::uint32_t height) {
    Argb img{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            img.px.push_back(ExpectedPixel(c, x, y));
    return img;
}

// ---- PNG -------------------------------------------------------------------------------------

namespace {

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

void PngChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBe32(out, std::uint32_t(data.size()));
    Bytes body(type, type + 4);
    Append(body, data);
    Append(out, body);
    PutBe32(out, Crc32(body.data(), body.size()));
}

// A zlib stream of stored (uncompressed) deflate blocks.
Bytes StoredZlib(const Bytes& raw) {
    Bytes z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = raw.size() - at > 65535 ? 65535 : raw.size() - at;
        z.push_back(at + n == raw.size() ? 1 : 0);
        PutU16(z, std::uint32_t(n));
        PutU16(z, std::uint32_t(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t s1 = 1, s2 = 0;
    for (std::uint8_t v : raw) {
        s1 = (s1 + v) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    PutBe32(z, (s2 << 16) | s1);
    return z;
}

} // namespace

Bytes WritePng(const Argb& img, PngKind kind, bool interlaced) {
    std::map<std::uint32_t, int> index;
    std::vector<std::uint32_t> pal;
    if (kind == PngKind::kPalette)
        pal = PaletteOf(img, index);
    auto pixel = [&](Bytes& row, std::uint32_t p) {
        switch (kind) {
        case PngKind::kRgba:
            row.insert(row.end(), {R(p), G(p), B(p), A(p)});
            break;
        case PngKind::kRgb:
            row.insert(row.end(), {R(p), G(p), B(p)});
            break;
        case PngKind::kPalette:
            row.push_back(std::uint8_t(index[p]));
            break;
        case PngKind::kGray16:
            row.insert(row.end(), {G(p), G(p)});
            break;
        }
    };
    // Adam7 passes: start and step in x and y; a plain image is one pass over everything.
    struct Pass {
        std::uint32_t x0, y0, dx, dy;
    };
    static const Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const Pass kPlain[1] = {{0, 0, 1, 1}};
    Bytes raw;
    for (const Pass& pass : interlaced ? std::vector<Pass>(kAdam7, kAdam7 + 7)
                                       : std::vector<Pass>(kPlain, kPlain + 1)) {
        if (pass.x0 >= img.width)
            continue; // an empty pass has no rows at all
        for (std::uint32_t y = pass.y0; y < img.height; y += pass.dy) {
            raw.push_back(0); // filter: none
            for (std::uint32_t x = pass.x0; x < img.width; x += pass.dx)
                pixel(raw, img.At(x, y));
        }
    }
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, img.width);
    PutBe32(ihdr, img.height);
    const std::uint8_t colourType = kind == PngKind::kRgba      ? 6
                                    : kind == PngKind::kRgb     ? 2
                                    : kind == PngKind::kPalette ? 3
                                                                : 0;
    ihdr.insert(ihdr.end(), {std::uint8_t(kind == PngKind::kGray16 ? 16 : 8), colourType, 0, 0,
                             std::uint8_t(interlaced ? 1 : 0)});
    PngChunk(out, "IHDR", ihdr);
    if (kind == PngKind::kPalette) {
        Bytes plte, trns;
        for (std::uint32_t p : pal) {
            plte.insert(plte.end(), {R(p), G(p), B(p)});
            trns.push_back(A(p));
        }
        PngChunk(out, "PLTE", plte);
        PngChunk(out, "tRNS", trns);
    }
    PngChunk(out, "IDAT", StoredZlib(raw));
    PngChunk(out, "IEND", {});
    return out;
}

// ---- JPEG ------------------------------------------------------------------------------------
//
// Every coefficient is kept: the quantisation table is all ones. The Huffman tables are made for
// simplicity, not size: the DC table gives each of the 12 categories a 4-bit code, the AC table
// gives each of its 162 symbols (end of block, a run of 16 zeros, and run/size pairs up to size
// 10) an 8-bit code equal to its position in the table.

namespace {

const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

std::vector<std::uint8_t> AcSymbols() {
    std::vector<std::uint8_t> s = {0x00, 0xF0};
    for (int run = 0; run < 16; ++run)
        for (int size = 1; size <= 10; ++size)
            s.push_back(std::uint8_t((run << 4) | size));
    return s;
}

class BitWriter {
public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    void Put(std::uint32_t bits, unsigned len) {
        for (unsigned i = len; i-- > 0;) {
            acc_ = (acc_ << 1) | ((bits >> i) & 1);
            if (++n_ == 8)
                Emit();
        }
    }
    void Flush() {
        while (n_ != 0)
            Put(1, 1); // pad with ones
    }

private:
    void Emit() {
        out_.push_back(std::uint8_t(acc_));
        if (acc_ == 0xFF)
            out_.push_back(0); // byte stuffing
        acc_ = n_ = 0;
    }
    Bytes& out_;
    std::uint32_t acc_ = 0;
    unsigned n_ = 0;
};

unsigned Category(int v) {
    unsigned mag = unsigned(v < 0 ? -v : v), cat = 0;
    while (mag >> cat)
        ++cat;
    return cat;
}
void PutValue(BitWriter& w, int v, unsigned cat) {
    if (cat != 0)
        w.Put(std::uint32_t(v < 0 ? v - 1 : v) & ((1u << cat) - 1), cat);
}

void PutAc(BitWriter& w, const int* coef, const std::vector<std::uint8_t>& ac) {
    auto code = [&](std::uint8_t sym) {
        for (std::size_t i = 0; i < ac.size(); ++i)
            if (ac[i] == sym)
                return std::uint32_t(i);
        throw std::runtime_error("AC symbol outside the table");
    };
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int v = coef[kZigzag[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            w.Put(code(0xF0), 8);
            run -= 16;
        }
        const unsigned cat = Category(v);
        w.Put(code(std::uint8_t((run << 4) | cat)), 8);
        PutValue(w, v, cat);
        run = 0;
    }
    if (run > 0)
        w.Put(code(0x00), 8); // end of block
}

} // namespace

Bytes WriteJpeg(const Argb& img, bool progressive, bool gray) {
    const int comps = gray ? 1 : 3;
    const std::uint32_t bw = (img.width + 7) / 8, bh = (img.height + 7) / 8;
    // Coefficients of every block of every component, blocks in row order.
    std::vector<std::vector<int>> coef(std::size_t(comps) * bw * bh, std::vector<int>(64));
    const double pi = std::acos(-1.0);
    for (std::uint32_t by = 0; by < bh; ++by)
        for (std::uint32_t bx = 0; bx < bw; ++bx)
            for (int c = 0; c < comps; ++c) {
                double s[64];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        // Samples past the edge repeat the last column or row.
                        std::uint32_t px = bx * 8 + std::uint32_t(x),
                                      py = by * 8 + std::uint32_t(y);
                        if (px >= img.width)
                            px = img.width - 1;
                        if (py >= img.height)
                            py = img.height - 1;
                        const std::uint32_t p = img.At(px, py);
                        const double r = R(p), g = G(p), b = B(p);
                        double v = g;
                        if (!gray) {
                            v = c == 0   ? 0.299 * r + 0.587 * g + 0.114 * b
                                : c == 1 ? -0.168736 * r - 0.331264 * g + 0.5 * b + 128
                                         : 0.5 * r - 0.418688 * g - 0.081312 * b + 128;
                        }
                        s[y * 8 + x] = v - 128;
                    }
                std::vector<int>& out = coef[(std::size_t(by) * bw + bx) * comps + std::size_t(c)];
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u) {
                        double sum = 0;
                        for (int y = 0; y < 8; ++y)
                            for (int x = 0; x < 8; ++x)
                                sum += s[y * 8 + x] * std::cos((2 * x + 1) * u * pi / 16) *
                                       std::cos((2 * y + 1) * v * pi / 16);
                        const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
                        const double cv = v == 0 ? std::sqrt(0.5) : 1.0;
                        out[std::size_t(v * 8 + u)] = int(std::lround(sum * cu * cv / 4));
                    }
            }

    const std::vector<std::uint8_t> ac = AcSymbols();
    Bytes b = {0xFF, 0xD8};
    b.insert(b.end(), {0xFF, 0xDB, 0, 67, 0}); // quantisation table 0: all ones
    b.insert(b.end(), 64, 1);
    b.insert(b.end(), {0xFF, std::uint8_t(progressive ? 0xC2 : 0xC0)});
    PutBe16(b, std::uint32_t(8 + 3 * comps));
    b.push_back(8);
    PutBe16(b, img.height);
    PutBe16(b, img.width);
    b.push_back(std::uint8_t(comps));
    for (int c = 0; c < comps; ++c)
        b.insert(b.end(), {std::uint8_t(c + 1), 0x11, 0}); // id, 1x1 sampling, table 0
    b.insert(b.end(), {0xFF, 0xC4, 0, 31, 0x00});          // DC table 0: 12 codes of 4 bits
    for (int len = 1; len <= 16; ++len)
        b.push_back(len == 4 ? 12 : 0);
    for (std::uint8_t v = 0; v < 12; ++v)
        b.push_back(v);
    b.insert(b.end(), {0xFF, 0xC4});
    PutBe16(b, std::uint32_t(2 + 1 + 16 + ac.size()));
    b.push_back(0x10); // AC table 0: 162 codes of 8 bits
    for (int len = 1; len <= 16; ++len)
        b.push_back(len == 8 ? std::uint8_t(ac.size()) : 0);
    Append(b, ac);

    auto scanHeader = [&](int first, int count, int ss, int se) {
        b.insert(b.end(), {0xFF, 0xDA});
        PutBe16(b, std::uint32_t(6 + 2 * count));
        b.push_back(std::uint8_t(count));
        for (int c = first; c < first + count; ++c)
            b.insert(b.end(), {std::uint8_t(c + 1), 0x00});
        b.insert(b.end(), {std::uint8_t(ss), std::uint8_t(se), 0});
    };
    // A scan of the given components; DC differences when `dc`, AC coefficients when `acs`.
    auto scan = [&](int first, int count, bool dc, bool acs) {
        BitWriter w(b);
        int pred[3] = {0, 0, 0};
        for (std::size_t blk = 0; blk < std::size_t(bw) * bh; ++blk)
            for (int c = first; c < first + count; ++c) {
                const int* k = coef[blk * comps + std::size_t(c)].data();
                if (dc) {
                    const int diff = k[0] - pred[c];
                    pred[c] = k[0];
                    const unsigned cat = Category(diff);
                    w.Put(cat, 4);
                    PutValue(w, diff, cat);
                }
                if (acs)
                    PutAc(w, k, ac);
            }
        w.Flush();
    };
    if (!progressive) {
        scanHeader(0, comps, 0, 63);
        scan(0, comps, true, true);
    } else {
        // The DC coefficients of every component in one scan, then each component's AC
        // coefficients in a scan of its own (AC scans hold one component each).
        scanHeader(0, comps, 0, 0);
        scan(0, comps, true, false);
        for (int c = 0; c < comps; ++c) {
            scanHeader(c, 1, 1, 63);
            scan(c, 1, false, true);
        }
    }
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

// ---- GIF -------------------------------------------------------------------------------------
//
// The LZW data holds literal codes only: minimum code size 8, so codes are 9 bits wide, and a
// clear code every 250 pixels keeps the decoder's table below 512 entries, so the width never
// grows. A valid stream, just not a compressed one.

Bytes WriteGif(const Argb& img, bool interlaced, std::uint16_t screenWidth,
               std::uint16_t screenHeight) {
    std::map<std::uint32_t, int> index;
    const std::vector<std::uint32_t> pal = PaletteOf(img, index);
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    PutU16(b, screenWidth ? screenWidth : img.width);
    PutU16(b, screenHeight ? screenHeight : img.height);
    b.insert(b.end(), {0xF7, 0, 0}); // global table of 256 colours, 8 bits per primary
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint32_t p = i < pal.size() ? pal[i] : 0;
        b.insert(b.end(), {R(p), G(p), B(p)});
    }
    const auto transparent = index.find(0);
    if (transparent != index.end())
        b.insert(b.end(), {0x21, 0xF9, 4, 1, 0, 0, std::uint8_t(transparent->second), 0});
    b.push_back(0x2C);
    PutU16(b, 0);
    PutU16(b, 0);
    PutU16(b, img.width);
    PutU16(b, img.height);
    b.push_back(interlaced ? 0x40 : 0);
    b.push_back(8); // minimum code size

    std::vector<std::uint32_t> rows;
    static const std::uint32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (std::uint32_t y = interlaced ? kStart[pass] : 0; y < img.height;
             y += interlaced ? kStep[pass] : 1)
            rows.push_back(y);
    Bytes data;
    std::uint32_t acc = 0, nbits = 0, count = 0;
    auto put = [&](std::uint32_t code) { // 9 bits, least significant first
        acc |= code << nbits;
        nbits += 9;
        while (nbits >= 8) {
            data.push_back(std::uint8_t(acc));
            acc >>= 8;
            nbits -= 8;
        }
    };
    put(256); // clear
    for (std::uint32_t y : rows)
        for (std::uint32_t x = 0; x < img.width; ++x) {
            if (count++ == 250) {
                put(256);
                count = 1;
            }
            put(std::uint32_t(index[img.At(x, y)]));
        }
    put(257); // end of information
    if (nbits > 0)
        data.push_back(std::uint8_t(acc));
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = data.size() - at > 255 ? 255 : data.size() - at;
        b.push_back(std::uint8_t(n));
        b.insert(b.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
    }
    b.push_back(0);
    b.push_back(0x3B);
    return b;
}

// ---- TIFF ------------------------------------------------------------------------------------
//
// Little-endian. Strips are LZW-compressed with literal codes only (9 bits, most significant
// bit first), a clear code at the start of each strip and every 250 codes, so the table never
// reaches the 511 entries at which the code width would grow.

namespace {

Bytes TiffLzw(const Bytes& raw) {
    Bytes out;
    std::uint32_t acc = 0, nbits = 0, count = 0;
    auto put = [&](std::uint32_t code) {
        acc = (acc << 9) | code;
        nbits += 9;
        while (nbits >= 8) {
            out.push_back(std::uint8_t(acc >> (nbits - 8)));
            nbits -= 8;
        }
        acc &= (1u << nbits) - 1;
    };
    put(256);
    for (std::uint8_t v : raw) {
        if (count++ == 250) {
            put(256);
            count = 1;
        }
        put(v);
    }
    put(257);
    if (nbits > 0)
        out.push_back(std::uint8_t(acc << (8 - nbits)));
    return out;
}

// Appends one page at the end of `b` and returns the offset of its directory.
std::uint32_t TiffPage(Bytes& b, const Argb& img, bool alpha, bool lzw) {
    const std::uint32_t spp = alpha ? 4 : 3;
    const std::uint32_t rowsPerStrip = 2;
    std::vector<std::uint32_t> offsets, counts;
    for (std::uint32_t y0 = 0; y0 < img.height; y0 += rowsPerStrip) {
        Bytes raw;
        for (std::uint32_t y = y0; y < img.height && y < y0 + rowsPerStrip; ++y)
            for (std::uint32_t x = 0; x < img.width; ++x) {
                const std::uint32_t p = img.At(x, y);
                raw.insert(raw.end(), {R(p), G(p), B(p)});
                if (alpha)
                    raw.push_back(A(p));
            }
        const Bytes strip = lzw ? TiffLzw(raw) : raw;
        offsets.push_back(std::uint32_t(b.size()));
        counts.push_back(std::uint32_t(strip.size()));
        Append(b, strip);
        if (b.size() % 2)
            b.push_back(0);
    }
    // Values that do not fit into an entry's four bytes go before the directory.
    auto array = [&](const std::vector<std::uint32_t>& v, bool shorts) {
        const std::uint32_t at = std::uint32_t(b.size());
        for (std::uint32_t x : v)
            shorts ? PutU16(b, x) : PutU32(b, x);
        return at;
    };
    const std::uint32_t bpsAt = array(std::vector<std::uint32_t>(spp, 8), true);
    const std::uint32_t offsetsAt = offsets.size() > 1 ? array(offsets, false) : offsets[0];
    const std::uint32_t countsAt = counts.size() > 1 ? array(counts, false) : counts[0];
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    std::vector<Entry> e = {
        {256, 4, 1, img.width},
        {257, 4, 1, img.height},
        {258, 3, spp, bpsAt},
        {259, 3, 1, lzw ? 5u : 1u}, // LZW or none
        {262, 3, 1, 2},             // RGB
        {273, 4, std::uint32_t(offsets.size()), offsetsAt},
        {277, 3, 1, spp},
        {278, 4, 1, rowsPerStrip},
        {279, 4, std::uint32_t(counts.size()), countsAt},
        {284, 3, 1, 1}, // contiguous samples
    };
    if (alpha)
        e.push_back({338, 3, 1, 2}); // extra sample: unassociated alpha
    const std::uint32_t ifd = std::uint32_t(b.size());
    PutU16(b, std::uint32_t(e.size()));
    for (const Entry& x : e) {
        PutU16(b, x.tag);
        PutU16(b, x.type);
        PutU32(b, x.count);
        if (x.type == 3 && x.count == 1) {
            PutU16(b, x.value);
            PutU16(b, 0);
        } else {
            PutU32(b, x.value);
        }
    }
    PutU32(b, 0); // no next page yet
    return ifd;
}

} // namespace

Bytes WriteTiff(const Argb& img, bool alpha, bool secondPage, bool lzw) {
    Bytes b = {'I', 'I', 42, 0, 0, 0, 0, 0};
    const std::uint32_t first = TiffPage(b, img, alpha, lzw);
    b[4] = std::uint8_t(first), b[5] = std::uint8_t(first >> 8);
    b[6] = std::uint8_t(first >> 16), b[7] = std::uint8_t(first >> 24);
    if (secondPage) {
        const std::size_t next = first + 2 + 12 * (b[first] | (b[first + 1] << 8));
        const std::uint32_t second =
            TiffPage(b, Pattern(img.width + 3, img.height + 1, false), alpha, lzw);
        for (int i = 0; i < 4; ++i)
            b[next + std::size_t(i)] = std::uint8_t(second >> (8 * i));
    }
    return b;
}

// ---- BMP and ICO -----------------------------------------------------------------------------

namespace {

// BITMAPINFOHEADER (40 bytes).
void PutInfoHeader(Bytes& b, std::int32_t w, std::int32_t h, int bits, std::uint32_t compression,
                   std::uint32_t sizeImage, std::uint32_t colours) {
    PutU32(b, 40);
    PutU32(b, std::uint32_t(w));
    PutU32(b, std::uint32_t(h));
    PutU16(b, 1);
    PutU16(b, std::uint32_t(bits));
    PutU32(b, compression);
    PutU32(b, sizeImage);
    PutU32(b, 2835); // 72 dpi
    PutU32(b, 2835);
    PutU32(b, colours);
    PutU32(b, 0);
}

// Pixel rows at `bits` per pixel (1..8 through `index`), padded to 4 bytes, bottom-up unless
// topDown.
void PutRows(Bytes& b, const Argb& img, int bits, bool topDown,
             std::map<std::uint32_t, int>& index) {
    const std::size_t stride = ((std::size_t(img.width) * std::size_t(bits) + 31) / 32) * 4;
    for (std::uint32_t i = 0; i < img.height; ++i) {
        const std::uint32_t y = topDown ? i : img.height - 1 - i;
        Bytes row(stride, 0);
        for (std::uint32_t x = 0; x < img.width; ++x) {
            const std::uint32_t p = img.At(x, y);
            if (bits <= 8) {
                const std::size_t bit = std::size_t(x) * std::size_t(bits);
                row[bit / 8] |= std::uint8_t(index[p] << (8 - std::size_t(bits) - bit % 8));
            } else if (bits == 16) {
                const std::uint32_t v = ((R(p) >> 3) << 10) | ((G(p) >> 3) << 5) | (B(p) >> 3);
                row[2 * x] = std::uint8_t(v);
                row[2 * x + 1] = std::uint8_t(v >> 8);
            } else if (bits == 24) {
                row[3 * x] = B(p), row[3 * x + 1] = G(p), row[3 * x + 2] = R(p);
            } else {
                row[4 * x] = B(p), row[4 * x + 1] = G(p), row[4 * x + 2] = R(p);
                row[4 * x + 3] = A(p);
            }
        }
        Append(b, row);
    }
}

void PutFileHeader(Bytes& b, std::uint32_t pixelOffset) {
    b.push_back('B');
    b.push_back('M');
    PutU32(b, 0); // file size, patched by SetFileSize
    PutU32(b, 0);
    PutU32(b, pixelOffset);
}
void SetFileSize(Bytes& b) {
    for (int i = 0; i < 4; ++i)
        b[2 + std::size_t(i)] = std::uint8_t(b.size() >> (8 * i));
}

} // namespace

Bytes WriteBmp(const Argb& img, int bits, bool topDown) {
    std::map<std::uint32_t, int> index;
    std::vector<std::uint32_t> pal;
    if (bits <= 8)
        pal = PaletteOf(img, index);
    if (bits <= 8 && pal.size() > (1u << bits))
        throw std::runtime_error("palette too large");
    Bytes b;
    PutFileHeader(b, std::uint32_t(14 + 40 + 4 * pal.size()));
    const std::int32_t h = topDown ? -std::int32_t(img.height) : std::int32_t(img.height);
    PutInfoHeader(b, std::int32_t(img.width), h, bits, 0, 0, std::uint32_t(pal.size()));
    for (std::uint32_t p : pal)
        PutU32(b, p & 0xFFFFFF);
    Argb opaque = img;
    if (bits == 32)
        for (auto& p : opaque.px)
            p &= 0x00FFFFFF; // the fourth byte is written as 0
    PutRows(b, opaque, bits, topDown, index);
    SetFileSize(b);
    return b;
}

Bytes WriteBmpWithAlpha(const Argb& img) {
    Bytes b;
    PutFileHeader(b, 14 + 108);
    PutU32(b, 108);
    PutU32(b, img.width);
    PutU32(b, img.height);
    PutU16(b, 1);
    PutU16(b, 32);
    PutU32(b, 3); // BI_BITFIELDS
    for (int i = 0; i < 5; ++i)
        PutU32(b, 0);
    PutU32(b, 0x00FF0000); // red
    PutU32(b, 0x0000FF00); // green
    PutU32(b, 0x000000FF); // blue
    PutU32(b, 0xFF000000); // alpha
    PutU32(b, 0x73524742); // colour space "sRGB"
    b.resize(14 + 108, 0); // endpoints and gamma
    std::map<std::uint32_t, int> none;
    PutRows(b, img, 32, false, none);
    SetFileSize(b);
    return b;
}

Bytes WriteRleBmp(int bits, std::int32_t width, std::int32_t height,
                  const std::vector<std::uint32_t>& palette, const Bytes& runs) {
    Bytes b;
    PutFileHeader(b, std::uint32_t(14 + 40 + 4 * palette.size()));
    PutInfoHeader(b, width, height, bits, bits == 4 ? 2 : 1, std::uint32_t(runs.size()),
                  std::uint32_t(palette.size()));
    for (std::uint32_t p : palette)
        PutU32(b, p & 0xFFFFFF);
    Append(b, runs);
    SetFileSize(b);
    return b;
}

Bytes WriteIconDib(const Argb& img, int bits) {
    Bytes b;
    PutInfoHeader(b, std::int32_t(img.width), std::int32_t(img.height * 2), bits, 0, 0, 0);
    std::map<std::uint32_t, int> none;
    PutRows(b, img, bits, false, none);
    const std::size_t stride = ((std::size_t(img.width) + 31) / 32) * 4;
    for (std::uint32_t i = 0; i < img.height; ++i) {
        const std::uint32_t y = img.height - 1 - i;
        Bytes row(stride, 0);
        for (std::uint32_t x = 0; x < img.width; ++x)
            if (A(img.At(x, y)) == 0)
                row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        Append(b, row);
    }
    return b;
}

Bytes WriteIco(const std::vector<IconEntry>& entries) {
    Bytes b;
    PutU16(b, 0);
    PutU16(b, 1);
    PutU16(b, std::uint32_t(entries.size()));
    std::uint32_t offset = std::uint32_t(6 + 16 * entries.size());
    for (const IconEntry& e : entries) {
        b.push_back(std::uint8_t(e.width >= 256 ? 0 : e.width));
        b.push_back(std::uint8_t(e.height >= 256 ? 0 : e.height));
        b.push_back(0);
        b.push_back(0);
        PutU16(b, 1);
        PutU16(b, e.bits);
        PutU32(b, std::uint32_t(e.data.size()));
        PutU32(b, offset);
        offset += std::uint32_t(e.data.size());
    }
    for (const IconEntry& e : entries)
        Append(b, e.data);
    return b;
}

} // namespace test_images
