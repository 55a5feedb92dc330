// Loading a 4096x4096 PNG and JPEG through CGdiPlusBitmapResource::Load(pBuff, size) plus the
// first pixel access, beside decoding the same bytes with libpng and libjpeg-turbo directly.
//   bench_image [RUNS]
//
// What is compared, so that the two sides do the same work:
// - Output: both produce the full image as 32-bit ARGB (B, G, R, A bytes), not premultiplied,
//   with no gamma change (the test PNG carries an sRGB chunk, which libpng's simplified reader
//   leaves as it is, and the loader applies no gamma). Before timing, the program checks that
//   every pixel the loader gives (through LockBits) equals the direct decode, and stops if not.
// - Output memory: both decode into freshly allocated, uninitialised pixel memory and free it
//   afterwards. (The direct side once used a zero-filled std::vector, an extra pass over 64 MiB
//   that the loader does not make, which flattered the loader.)
// - Extra work only the loader does, and which is part of what Load costs: copying the caller's
//   bytes into a new movable block (Load must copy them), the stream and bitmap objects, and
//   the GetPixel call.
// Fresh pixel memory is mapped page by page on first touch; on virtual machines this costs
// about as much as decoding and dominates the noise. Timing: CPU time of the process, the two
// sides measured alternately within each run (order swapped every run), so that load from
// other processes falls on both alike. Printed: the median time of each side, the median of
// the per-run ratios (the overhead figure), and the page faults per decode of each side.
#include <pellisk.h>

#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
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

using PixelBuffer = std::unique_ptr<std::uint8_t[]>;

// Decodes to B, G, R, A rows in new, uninitialised memory, as the loader does.
PixelBuffer DecodePngDirect(const Bytes& bytes) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size()))
        throw std::runtime_error("png read");
    img.format = PNG_FORMAT_BGRA;
    PixelBuffer px(new std::uint8_t[PNG_IMAGE_SIZE(img)]);
    if (!png_image_finish_read(&img, nullptr, px.get(), 0, nullptr))
        throw std::runtime_error("png read");
    return px;
}

PixelBuffer DecodeJpegDirect(const Bytes& bytes) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&d);
    PixelBuffer px(new std::uint8_t[std::size_t(d.output_width) * d.output_height * 4]);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &px[std::size_t(d.output_scanline) * d.output_width * 4];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return px;
}

// The first pixel as an ARGB value, like GetPixel(0, 0) gives it.
std::uint32_t FirstPixel(const PixelBuffer& px) {
    return std::uint32_t(px[3]) << 24 | std::uint32_t(px[2]) << 16 | std::uint32_t(px[1]) << 8 |
           px[0];
}

std::uint32_t DirectPng(const Bytes& bytes) {
    return FirstPixel(DecodePngDirect(bytes));
}
std::uint32_t DirectJpeg(const Bytes& bytes) {
    return FirstPixel(DecodeJpegDirect(bytes));
}

// Stops the program unless the loader gives exactly the pixels of the direct decode.
void CheckSamePixels(const char* name, Bytes& bytes, PixelBuffer (*direct)(const Bytes&)) {
    const PixelBuffer expected = direct(bytes);
    CGdiPlusBitmapResource image;
    if (!image.Load(bytes.data(), static_cast<DWORD>(bytes.size())))
        throw std::runtime_error("Load failed");
    Gdiplus::BitmapData data{};
    if (image.m_pBitmap->LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                                  &data) != Gdiplus::Ok)
        throw std::runtime_error("LockBits failed");
    bool same = data.Width == kSize && data.Height == kSize;
    for (std::uint32_t y = 0; same && y < kSize; ++y)
        same = std::memcmp(static_cast<const std::uint8_t*>(data.Scan0) +
                               std::ptrdiff_t(y) * data.Stride,
                           &expected[std::size_t(y) * kSize * 4], std::size_t(kSize) * 4) == 0;
    image.m_pBitmap->UnlockBits(&data);
    if (!same)
        throw std::runtime_error(std::string(name) + ": loader and direct decode differ");
}

std::uint32_t ThroughPellisk(Bytes& bytes) {
    CGdiPlusBitmapResource image;
    if (!image.Load(bytes.data(), static_cast<DWORD>(bytes.size())))
        throw std::runtime_error("Load failed");
    Gdiplus::Color c;
    image.m_pBitmap->GetPixel(0, 0, &c);
    return c.GetValue();
}

double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long MinorFaults() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timing {
    double loadMs, directMs, overhead; // medians; overhead is the median of load/direct - 1
    long loadFaults, directFaults;     // minor page faults of the last run of each side
};

// Runs both sides alternately, `runs` times each, after one untimed warm-up of each.
template <class Load, class Direct> Timing Measure(int runs, Load load, Direct direct) {
    volatile std::uint32_t sink = load() + direct();
    std::vector<double> loadMs, directMs, ratios;
    Timing t{};
    for (int i = 0; i < runs; ++i) {
        double ms[2];
        for (int k = 0; k < 2; ++k) {
            const bool isLoad = (k == 0) == (i % 2 == 0);
            const long f0 = MinorFaults();
            const double t0 = CpuMs();
            sink = sink + (isLoad ? load() : direct());
            ms[isLoad ? 0 : 1] = CpuMs() - t0;
            (isLoad ? t.loadFaults : t.directFaults) = MinorFaults() - f0;
        }
        loadMs.push_back(ms[0]);
        directMs.push_back(ms[1]);
        ratios.push_back(ms[0] / ms[1] - 1);
    }
    t.loadMs = Median(loadMs);
    t.directMs = Median(directMs);
    t.overhead = Median(ratios);
    return t;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::vector<std::uint8_t> rgba = MakeRgba();
    Bytes png = EncodePng(rgba);
    Bytes jpeg = EncodeJpeg(rgba);
    CheckSamePixels("PNG", png, DecodePngDirect);
    CheckSamePixels("JPEG", jpeg, DecodeJpegDirect);
    std::printf("4096x4096 image, median CPU time of %d alternating runs; outputs checked equal\n",
                runs);
    std::printf("%-6s %10s %18s %10s %9s %14s\n", "format", "bytes", "Load+GetPixel ms",
                "direct ms", "overhead", "faults L/D");
    struct Row {
        const char* name;
        Bytes* bytes;
        std::uint32_t (*direct)(const Bytes&);
    };
    for (const Row& r : {Row{"PNG", &png, DirectPng}, Row{"JPEG", &jpeg, DirectJpeg}}) {
        const Timing t = Measure(
            runs, [&] { return ThroughPellisk(*r.bytes); }, [&] { return r.direct(*r.bytes); });
        std::printf("%-6s %10zu %18.1f %10.1f %+8.1f%% %7ld/%-6ld\n", r.name, r.bytes->size(),
                    t.loadMs, t.directMs, t.overhead * 100, t.loadFaults, t.directFaults);
    }
    return 0;
}
