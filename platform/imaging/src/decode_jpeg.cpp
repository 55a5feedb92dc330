// JPEG through libjpeg-turbo, straight into B, G, R, A rows.
//
// libjpeg reports errors through error_exit, which jumps back to ReadJpegImage. That function
// holds no C++ object with a destructor; the pixel buffer belongs to the caller's Pixels and
// the decompressor is destroyed by DecodeJpeg on every path.
//
// Warnings that mean lost or invented pixels (premature end of data, a marker inside the
// entropy data, bad Huffman or arithmetic codes, a broken progression, a restart marker out of
// place) count as failures: an image that libjpeg had to patch up is not the image that was
// stored. Warnings about bytes that carry no pixels are accepted, as GDI+ accepts them: stray
// bytes between segments (which libjpeg skips while looking for the next marker), an unknown
// JFIF revision, a damaged ICC profile (which is not used).
#include "decode.h"

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace imaging {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

bool LosesNoData(int code) {
    switch (code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_BOGUS_ICC:
        return true;
    default:
        return false;
    }
}

void OnMessage(j_common_ptr cinfo, int level) {
    // Level -1 is a warning; higher levels are trace messages.
    if (level < 0 && !LosesNoData(cinfo->err->msg_code))
        std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnOutput(j_common_ptr) {}

DecodeResult ReadJpegImage(jpeg_decompress_struct* cinfo, ErrorManager* err,
                           const std::uint8_t* data, std::size_t size, Pixels& out) {
    volatile DecodeResult failure = DecodeResult::kCorrupt;
    if (setjmp(err->jump))
        return failure;

    jpeg_create_decompress(cinfo);
    // libjpeg's own memory (coefficient buffers of progressive images) is held to a bound
    // derived from the pixel limit; beyond it libjpeg fails instead of allocating.
    const std::uint64_t memLimit = MaxPixels() * 8;
    cinfo->mem->max_memory_to_use =
        static_cast<long>(memLimit > 0x7FFFFFFF ? 0x7FFFFFFF : memLimit);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    const DecodeResult alloc = AllocatePixels(cinfo->image_width, cinfo->image_height, out);
    if (alloc != DecodeResult::kOk) {
        failure = alloc;
        return alloc;
    }
    out.format = SourceFormat::kRgb;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != out.width || cinfo->output_height != out.height ||
        cinfo->output_components != 4)
        return DecodeResult::kCorrupt;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out.bgra.get() + std::size_t(cinfo->output_scanline) * out.Stride();
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return DecodeResult::kCorrupt;
        if (cmyk) {
            // Adobe writes CMYK inverted: each stored value is 255 minus the ink.
            const bool inverted = cinfo->saw_Adobe_marker;
            for (std::uint32_t x = 0; x < out.width; ++x) {
                std::uint8_t* p = row + 4 * x;
                unsigned c = p[0], m = p[1], y = p[2], k = p[3];
                if (!inverted)
                    c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
                p[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
                p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
                p[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
                p[3] = 255;
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    return DecodeResult::kOk;
}

} // namespace

DecodeResult DecodeJpeg(const std::uint8_t* data, std::size_t size, Pixels& out) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnErrorExit;
    err.pub.emit_message = OnMessage;
    err.pub.output_message = OnOutput;
    const DecodeResult r = ReadJpegImage(&cinfo, &err, data, size, out);
    jpeg_destroy_decompress(&cinfo);
    return r;
}

} // namespace imaging
