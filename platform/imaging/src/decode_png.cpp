// PNG through libpng.
//
// libpng reports errors by longjmp. The function that calls setjmp (ReadPngImage) holds no
// C++ object with a destructor and allocates nothing of its own that a jump could leak: the
// pixel buffer belongs to the caller's Pixels, and libpng's structures are freed by the caller
// of ReadPngImage on every path.
#include "decode.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace imaging {

namespace {

struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
    PngSource* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->size - src->pos)
        png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

SourceFormat FormatOf(int colorType, int bitDepth, bool hasTrns) {
    if ((colorType & PNG_COLOR_MASK_ALPHA) != 0 || hasTrns)
        return SourceFormat::kArgb;
    if (colorType == PNG_COLOR_TYPE_PALETTE || colorType == PNG_COLOR_TYPE_GRAY) {
        if (bitDepth == 1)
            return SourceFormat::kIndexed1;
        if (bitDepth <= 4)
            return SourceFormat::kIndexed4;
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            return SourceFormat::kIndexed8;
    }
    return SourceFormat::kRgb;
}

DecodeResult ReadPngImage(png_structp png, png_infop info, Pixels& out) {
    // Written after setjmp and read after a jump, hence volatile.
    volatile DecodeResult failure = DecodeResult::kCorrupt;
    if (setjmp(png_jmpbuf(png)))
        return failure;

    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

    // Everything becomes 8-bit B, G, R, A.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const DecodeResult alloc = AllocatePixels(width, height, out);
    if (alloc != DecodeResult::kOk) {
        failure = alloc;
        png_error(png, "allocation");
    }
    if (png_get_rowbytes(png, info) != out.Stride())
        png_error(png, "unexpected row size");
    out.format = FormatOf(colorType, bitDepth, hasTrns);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, out.bgra.get() + std::size_t(y) * out.Stride(), nullptr);
        }
    }
    // The image data must end properly (IEND after the last IDAT); trailing chunks are read
    // for their checksums.
    png_read_end(png, nullptr);
    return DecodeResult::kOk;
}

} // namespace

DecodeResult DecodePng(const std::uint8_t* data, std::size_t size, Pixels& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr)
        return DecodeResult::kNoMemory;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return DecodeResult::kNoMemory;
    }
    PngSource src{data, size, 0};
    png_set_read_fn(png, &src, ReadFromMemory);
    // Dimensions are limited by the pixel limit of AllocatePixels, not by libpng's defaults.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    const DecodeResult r = ReadPngImage(png, info, out);
    png_destroy_read_struct(&png, &info, nullptr);
    return r;
}

} // namespace imaging
