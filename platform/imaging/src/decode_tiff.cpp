// TIFF through libtiff: the first page, converted by libtiff's RGBA reader (which handles
// every photometric interpretation and compression it knows).
//
// libtiff gives premultiplied alpha for images with an alpha sample; the pixels here are
// straight ARGB, so alpha is divided out again. Errors and warnings go to per-file handlers that
// keep quiet, and libtiff's single allocations are bounded by the pixel limit.
#include "decode.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstring>

namespace imaging {

namespace {

struct TiffSource {
    const std::uint8_t* data;
    std::size_t size;
    std::uint64_t pos;
};

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
    TiffSource* src = static_cast<TiffSource*>(h);
    if (n <= 0 || src->pos >= src->size)
        return 0;
    std::size_t take = static_cast<std::size_t>(n);
    if (take > src->size - src->pos)
        take = static_cast<std::size_t>(src->size - src->pos);
    std::memcpy(buf, src->data + src->pos, take);
    src->pos += take;
    return static_cast<tmsize_t>(take);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    TiffSource* src = static_cast<TiffSource*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = src->pos;
    else if (whence == SEEK_END)
        base = src->size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    if (off > UINT64_MAX - base)
        return static_cast<toff_t>(-1);
    src->pos = base + off;
    return src->pos;
}

int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t h) {
    return static_cast<TiffSource*>(h)->size;
}

int MapProc(thandle_t h, void** base, toff_t* size) {
    TiffSource* src = static_cast<TiffSource*>(h);
    *base = const_cast<std::uint8_t*>(src->data);
    *size = src->size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int QuietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    TIFF* tif;
    ~TiffCloser() {
        if (tif != nullptr)
            TIFFClose(tif);
    }
};

struct OptionsHolder {
    TIFFOpenOptions* opts;
    ~OptionsHolder() {
        if (opts != nullptr)
            TIFFOpenOptionsFree(opts);
    }
};

} // namespace

DecodeResult DecodeTiff(const std::uint8_t* data, std::size_t size, Pixels& out) {
    OptionsHolder options{TIFFOpenOptionsAlloc()};
    if (options.opts == nullptr)
        return DecodeResult::kNoMemory;
    const std::uint64_t limit = MaxPixels() * 4 + (1u << 20);
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.opts, static_cast<tmsize_t>(limit > 0x7FFFFFFF ? 0x7FFFFFFF : limit));
    TIFFOpenOptionsSetErrorHandlerExtR(options.opts, QuietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.opts, QuietHandler, nullptr);

    TiffSource src{data, size, 0};
    TiffCloser closer{TIFFClientOpenExt("memory", "r", &src, ReadProc, WriteProc, SeekProc,
                                        CloseProc, SizeProc, MapProc, UnmapProc, options.opts)};
    TIFF* tif = closer.tif;
    if (tif == nullptr)
        return DecodeResult::kCorrupt;

    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        return DecodeResult::kCorrupt;
    char message[1024];
    if (!TIFFRGBAImageOK(tif, message))
        return DecodeResult::kCorrupt;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    bool alpha = false;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) &&
        extraCount > 0 && extraTypes != nullptr) {
        alpha = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA;
    }

    const DecodeResult alloc = AllocatePixels(width, height, out);
    if (alloc != DecodeResult::kOk)
        return alloc;
    out.format = alpha ? SourceFormat::kArgb : SourceFormat::kRgb;
    // The buffer comes from new[] and is suitably aligned for 32-bit words.
    std::uint32_t* raster = reinterpret_cast<std::uint32_t*>(out.bgra.get());
    if (!TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_TOPLEFT, 1))
        return DecodeResult::kCorrupt;

    // libtiff packs R in the low byte; turn each word into B, G, R, A bytes with straight alpha.
    const std::size_t count = std::size_t(width) * height;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = raster[i];
        unsigned r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
        const unsigned a = TIFFGetA(p);
        if (a == 0) {
            r = g = b = 0;
        } else if (a < 255) {
            r = (r * 255 + a / 2) / a;
            g = (g * 255 + a / 2) / a;
            b = (b * 255 + a / 2) / a;
            if (r > 255)
                r = 255;
            if (g > 255)
                g = 255;
            if (b > 255)
                b = 255;
        }
        std::uint8_t* d = out.bgra.get() + 4 * i;
        d[0] = static_cast<std::uint8_t>(b);
        d[1] = static_cast<std::uint8_t>(g);
        d[2] = static_cast<std::uint8_t>(r);
        d[3] = static_cast<std::uint8_t>(a);
    }
    return DecodeResult::kOk;
}

} // namespace imaging
