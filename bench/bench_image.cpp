// Loading a 4096x4096 PNG and JPEG through CGdiPlusBitmapResource::Load(pBuff, size) plus the
// first pixel access, beside decoding the same bytes with libpng and libjpeg-turbo directly
// (to 32-bit BGRA, the layout the bitmap keeps). Prints the median CPU time of the process over
// several runs (CPU time, because the build machines are shared) and the overhead of the load
// over the direct decode.
//   bench_image [RUNS]
#include <pellisk.h>

#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kSize = 4096;

// A photo-like test image: smooth gradients with some noise, so that neither format finds it
// trivially compressible.
std::vector<std::uint8_t> MakeRgba() {
    std::vector<std::uint8_t> px(std::size_t(kSize) * kSize * 4);
    std::uint32_t seed = 12345;
    for (std::uint32_t y = 0; y < kSize; ++y)
        for (std::uint32_t x = 0; x < kSize; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            std::uint8_t* p = &px[(std::size_t(y) * kSize + x) * 4];
            p[0] = std::uint8_t(std::clamp(int(x / 16) + noise, 0, 255));
            p[1] = std::uint8_t(std::clamp(int(y / 16) + noise, 0, 255));
            p[2] = std::uint8_t(std::clamp(int((x + y) / 32) + noise, 0, 255));
            p[3] = 255;
        }
    return px;
}

Bytes EncodePng(const std::vector<std::uint8_t>& rgba) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = img.height = kSize;
    img.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_get_memory_size(img, size, 0, rgba.data(), 0, nullptr);
    Bytes out(size);
    if (!png_image_write_to_memory(&img, out.data(), &size, 0, rgba.data(), 0, nullptr))
        throw std::runtime_error("png encode");
    out.resize(size);
    return out;
}

Bytes EncodeJpeg(const std::vector<std::uint8_t>& rgba) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = c.image_height = kSize;
    c.input_components = 4;
    c.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < kSize) {
        JSAMPROW row = const_cast<std::uint8_t*>(&rgba[std::size_t(c.next_scanline) * kSize * 4]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

std::uint32_t DirectPng(const Bytes& bytes) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size()))
        throw std::runtime_error("png read");
    img.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> px(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr))
        throw std::runtime_error("png read");
    return px[0];
}

std::uint32_t DirectJpeg(const Bytes& bytes) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&d);
    std::vector<std::uint8_t> px(std::size_t(d.output_width) * d.output_height * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &px[std::size_t(d.output_scanline) * d.output_width * 4];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return px[0];
}

std::uint32_t ThroughPellisk(Bytes& bytes) {
    CGdiPlusBitmapResource image;
    if (!image.Load(bytes.data(), static_cast<DWORD>(bytes.size())))
        throw std::runtime_error("Load failed");
    Gdiplus::Color c;
    image.m_pBitmap->GetPixel(0, 0, &c);
    return c.GetValue();
}

double MedianMs(int runs, const std::function<std::uint32_t()>& f) {
    std::vector<double> t;
    volatile std::uint32_t sink = 0;
    for (int i = 0; i < runs; ++i) {
        timespec a, b;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        sink = sink + f();
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        t.push_back((b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::vector<std::uint8_t> rgba = MakeRgba();
    Bytes png = EncodePng(rgba);
    Bytes jpeg = EncodeJpeg(rgba);
    std::printf("4096x4096 image, median CPU time of %d runs\n", runs);
    std::printf("%-6s %10s %18s %16s %9s\n", "format", "bytes", "Load+GetPixel ms", "direct ms",
                "overhead");
    struct Row {
        const char* name;
        Bytes* bytes;
        std::uint32_t (*direct)(const Bytes&);
    };
    for (const Row& r : {Row{"PNG", &png, DirectPng}, Row{"JPEG", &jpeg, DirectJpeg}}) {
        const double direct = MedianMs(runs, [&] { return r.direct(*r.bytes); });
        const double load = MedianMs(runs, [&] { return ThroughPellisk(*r.bytes); });
        std::printf("%-6s %10zu %18.1f %16.1f %+8.1f%%\n", r.name, r.bytes->size(), load, direct,
                    (load / direct - 1) * 100);
    }
    return 0;
}
