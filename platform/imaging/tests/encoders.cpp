#include "encoders.h"

#include <cstdio>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace imaging_test {

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

void PngWriteToVector(png_structp png, png_bytep data, png_size_t n) {
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

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

Bytes WritePng(const Argb& img, PngKind kind, bool interlaced) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng failed to write");
    }
    png_set_write_fn(png, &out, PngWriteToVector, PngFlush);
    const int colorType = kind == PngKind::kRgba      ? PNG_COLOR_TYPE_RGBA
                          : kind == PngKind::kRgb     ? PNG_COLOR_TYPE_RGB
                          : kind == PngKind::kPalette ? PNG_COLOR_TYPE_PALETTE
                                                      : PNG_COLOR_TYPE_GRAY;
    png_set_IHDR(png, info, img.width, img.height, kind == PngKind::kGray16 ? 16 : 8, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::map<std::uint32_t, int> index;
    std::vector<png_color> pal;
    std::vector<png_byte> trns;
    if (kind == PngKind::kPalette) {
        for (std::uint32_t p : PaletteOf(img, index)) {
            pal.push_back(png_color{R(p), G(p), B(p)});
            trns.push_back(A(p));
        }
        png_set_PLTE(png, info, pal.data(), int(pal.size()));
        png_set_tRNS(png, info, trns.data(), int(trns.size()), nullptr);
    }
    png_write_info(png, info);
    std::vector<std::vector<png_byte>> rows(img.height);
    for (std::uint32_t y = 0; y < img.height; ++y) {
        for (std::uint32_t x = 0; x < img.width; ++x) {
            const std::uint32_t p = img.At(x, y);
            auto& row = rows[y];
            if (kind == PngKind::kPalette) {
                row.push_back(png_byte(index[p]));
            } else if (kind == PngKind::kGray16) {
                row.push_back(G(p)); // 16-bit sample G * 257, which scales back to G exactly
                row.push_back(G(p));
            } else {
                row.insert(row.end(), {R(p), G(p), B(p)});
                if (kind == PngKind::kRgba)
                    row.push_back(A(p));
            }
        }
    }
    std::vector<png_bytep> ptrs;
    for (auto& r : rows)
        ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes WriteJpeg(const Argb& img, bool progressive, bool gray) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = img.width;
    c.image_height = img.height;
    c.input_components = gray ? 1 : 3;
    c.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    // Full-resolution chroma, so that flat blocks keep their colours up to their edges.
    for (int i = 0; i < c.num_components; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row;
    for (std::uint32_t y = 0; y < img.height; ++y) {
        row.clear();
        for (std::uint32_t x = 0; x < img.width; ++x) {
            const std::uint32_t p = img.At(x, y);
            if (gray)
                row.push_back(G(p));
            else
                row.insert(row.end(), {R(p), G(p), B(p)});
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

namespace {
int GifWriteToVector(GifFileType* gif, const GifByteType* data, int n) {
    Bytes* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + n);
    return n;
}
} // namespace

Bytes WriteGif(const Argb& img, bool interlaced, std::uint16_t screenWidth,
               std::uint16_t screenHeight) {
    Bytes out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, GifWriteToVector, &err);
    std::map<std::uint32_t, int> index;
    std::vector<std::uint32_t> pal = PaletteOf(img, index);
    int transparent = -1;
    auto t = index.find(0);
    if (t != index.end())
        transparent = t->second;
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (std::size_t i = 0; i < pal.size(); ++i)
        map->Colors[i] = GifColorType{R(pal[i]), G(pal[i]), B(pal[i])};
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenWidth ? screenWidth : int(img.width),
                      screenHeight ? screenHeight : int(img.height), 8, 0, map);
    if (transparent >= 0) {
        const GifByteType gce[4] = {1, 0, 0, GifByteType(transparent)};
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
    }
    EGifPutImageDesc(gif, 0, 0, int(img.width), int(img.height), interlaced, nullptr);
    std::vector<GifPixelType> line(img.width);
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
        for (std::uint32_t y = interlaced ? kStart[pass] : 0; y < img.height;
             y += interlaced ? kStep[pass] : 1) {
            for (std::uint32_t x = 0; x < img.width; ++x)
                line[x] = GifPixelType(index[img.At(x, y)]);
            EGifPutLine(gif, line.data(), int(img.width));
        }
    }
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

Bytes WriteTiff(const Argb& img, bool alpha, bool secondPage) {
    char path[] = "/tmp/imaging_test_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("mkstemp");
    close(fd);
    TIFF* tif = TIFFOpen(path, "w");
    auto page = [&](const Argb& im) {
        const int spp = alpha ? 4 : 3;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, im.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, im.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
        if (alpha) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        std::vector<unsigned char> row;
        for (std::uint32_t y = 0; y < im.height; ++y) {
            row.clear();
            for (std::uint32_t x = 0; x < im.width; ++x) {
                const std::uint32_t p = im.At(x, y);
                row.insert(row.end(), {R(p), G(p), B(p)});
                if (alpha)
                    row.push_back(A(p));
            }
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
        TIFFWriteDirectory(tif);
    };
    page(img);
    if (secondPage)
        page(Pattern(img.width + 3, img.height + 1, false));
    TIFFClose(tif);
    std::ifstream in(path, std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return out;
}

namespace {

// BITMAPINFOHEADER (40 bytes).
void PutInfoHeader(Bytes& b, std::int32_t w, std::int32_t h, int bits, std::uint32_t compression,
                   std::uint32_t colours) {
    PutU32(b, 40);
    PutU32(b, std::uint32_t(w));
    PutU32(b, std::uint32_t(h));
    PutU16(b, 1);
    PutU16(b, std::uint32_t(bits));
    PutU32(b, compression);
    PutU32(b, 0);
    PutU32(b, 2835);
    PutU32(b, 2835);
    PutU32(b, colours);
    PutU32(b, 0);
}

// Pixel rows at `bits` per pixel (1..8 through `index`), padded to 4 bytes, bottom-up unless
// topDown.
void PutRows(Bytes& b, const Argb& img, int bits, bool topDown,
             std::map<std::uint32_t, int>& index) {
    const std::size_t stride = ((std::size_t(img.width) * bits + 31) / 32) * 4;
    for (std::uint32_t i = 0; i < img.height; ++i) {
        const std::uint32_t y = topDown ? i : img.height - 1 - i;
        Bytes row(stride, 0);
        for (std::uint32_t x = 0; x < img.width; ++x) {
            const std::uint32_t p = img.At(x, y);
            if (bits <= 8) {
                const std::size_t bit = std::size_t(x) * bits;
                row[bit / 8] |= std::uint8_t(index[p] << (8 - bits - bit % 8));
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
        b.insert(b.end(), row.begin(), row.end());
    }
}

void PutFileHeader(Bytes& b, std::uint32_t pixelOffset) {
    b.push_back('B');
    b.push_back('M');
    PutU32(b, 0); // file size, patched by the caller
    PutU32(b, 0);
    PutU32(b, pixelOffset);
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
    PutInfoHeader(b, std::int32_t(img.width), h, bits, 0, std::uint32_t(pal.size()));
    for (std::uint32_t p : pal)
        PutU32(b, p & 0xFFFFFF);
    Argb opaque = img;
    if (bits == 32)
        for (auto& p : opaque.px)
            p &= 0x00FFFFFF; // the fourth byte is written as 0
    PutRows(b, opaque, bits, topDown, index);
    b[2] = std::uint8_t(b.size()), b[3] = std::uint8_t(b.size() >> 8);
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
    return b;
}

Bytes WriteIconDib(const Argb& img, int bits) {
    Bytes b;
    PutInfoHeader(b, std::int32_t(img.width), std::int32_t(img.height * 2), bits, 0, 0);
    std::map<std::uint32_t, int> none;
    PutRows(b, img, bits, false, none);
    const std::size_t stride = ((std::size_t(img.width) + 31) / 32) * 4;
    for (std::uint32_t i = 0; i < img.height; ++i) {
        const std::uint32_t y = img.height - 1 - i;
        Bytes row(stride, 0);
        for (std::uint32_t x = 0; x < img.width; ++x)
            if (A(img.At(x, y)) == 0)
                row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
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
        b.insert(b.end(), e.data.begin(), e.data.end());
    return b;
}

} // namespace imaging_test
