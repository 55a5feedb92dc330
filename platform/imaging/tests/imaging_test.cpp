// Tests of the GDI+ stand-in: memory blocks, streams, bitmaps and every decoder.
#include <platform/win_gdiplus.h>

#include "decode.h"
#include <image_writer.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <zlib.h>

using namespace test_images;
using Gdiplus::Bitmap;
using Gdiplus::Status;

namespace {

// ---- Memory blocks and streams -------------------------------------------------------------

TEST(GlobalMemory, LockCountsUpAndDown) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 10u);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    unsigned char* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GlobalLock(h), p); // the block does not move
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(p[i], 0);
    EXPECT_TRUE(GlobalUnlock(h));  // still locked once
    EXPECT_FALSE(GlobalUnlock(h)); // now unlocked
    EXPECT_FALSE(GlobalUnlock(h)); // was not locked: the count stays at 0
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, EmptyBlockCannotBeLocked) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
}

struct BlockWith {
    HGLOBAL h;
    explicit BlockWith(const std::string& text) {
        h = GlobalAlloc(GMEM_MOVEABLE, text.size());
        std::memcpy(GlobalLock(h), text.data(), text.size());
        GlobalUnlock(h);
    }
    ~BlockWith() { GlobalFree(h); }
};

TEST(Stream, ReadsSeeksAndStatsTheBlock) {
    BlockWith block("0123456789");
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block.h, FALSE, &s), S_OK);
    char buf[8] = {};
    ULONG got = 0;
    EXPECT_EQ(s->Read(buf, 4, &got), S_OK);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    ULARGE_INTEGER pos{};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{-3}, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 7u);
    EXPECT_EQ(s->Read(buf, 8, &got), S_OK); // short read at the end is not an error
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(s->Read(buf, 8, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(s->Seek(LARGE_INTEGER{-1}, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(LARGE_INTEGER{100}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->Read(buf, 8, &got), S_OK);
    EXPECT_EQ(got, 0u);
    STATSTG st;
    EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 10u);
    EXPECT_EQ(s->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(s->Release(), 0u);
    // The stream did not own the block: it is still there, unchanged.
    EXPECT_EQ(GlobalSize(block.h), 10u);
    EXPECT_EQ(static_cast<char*>(GlobalLock(block.h))[9], '9');
    GlobalUnlock(block.h);
}

TEST(Stream, CountsReferences) {
    BlockWith block("abc");
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block.h, FALSE, &s), S_OK);
    EXPECT_EQ(s->AddRef(), 2u);
    EXPECT_EQ(s->Release(), 1u);
    EXPECT_EQ(s->Release(), 0u);
    EXPECT_EQ(CreateStreamOnHGlobal(block.h, FALSE, nullptr), E_INVALIDARG);
}

TEST(Stream, DeleteOnReleaseFreesTheBlock) {
    // Checked by the leak detector of the sanitizer build.
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(h, TRUE, &s), S_OK);
    EXPECT_EQ(s->Release(), 0u);
}

// ---- Bitmaps ----------------------------------------------------------------------------------

class ImagingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

    // Decodes `bytes` through a stream, as callers of GDI+ do. Holds the block and stream until
    // the fixture ends.
    struct Loaded {
        HGLOBAL block = nullptr;
        Bitmap* bitmap = nullptr;
        Status status = Gdiplus::GenericError;
        Loaded() = default;
        Loaded(const Loaded&) = delete;
        ~Loaded() {
            delete bitmap;
            if (block)
                GlobalFree(block);
        }
    };
    void Load(const Bytes& bytes, Loaded& out) {
        out.block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (!bytes.empty()) {
            std::memcpy(GlobalLock(out.block), bytes.data(), bytes.size());
            GlobalUnlock(out.block);
        }
        IStream* s = nullptr;
        ASSERT_EQ(CreateStreamOnHGlobal(out.block, FALSE, &s), S_OK);
        out.bitmap = Bitmap::FromStream(s);
        s->Release();
        ASSERT_NE(out.bitmap, nullptr);
        out.status = out.bitmap->GetLastStatus();
    }
    Status StatusOf(const Bytes& bytes) {
        Loaded l;
        Load(bytes, l);
        return l.status;
    }

    // Compares every pixel of a decoded bitmap with the image written.
    static void ExpectPixels(Bitmap& bmp, const Argb& img, int tolerance) {
        ASSERT_EQ(bmp.GetWidth(), img.width);
        ASSERT_EQ(bmp.GetHeight(), img.height);
        int mismatches = 0;
        for (std::uint32_t y = 0; y < img.height; ++y) {
            for (std::uint32_t x = 0; x < img.width; ++x) {
                Gdiplus::Color c;
                ASSERT_EQ(bmp.GetPixel(int(x), int(y), &c), Gdiplus::Ok);
                const std::uint32_t want = img.At(x, y), got = c.GetValue();
                bool same = true;
                for (int shift = 0; shift < 32; shift += 8) {
                    const int d = int((want >> shift) & 0xFF) - int((got >> shift) & 0xFF);
                    // Colour of a fully transparent pixel does not matter.
                    if ((want >> 24) == 0 && shift < 24)
                        continue;
                    if (d > tolerance || d < -tolerance)
                        same = false;
                }
                if (!same && ++mismatches <= 5) {
                    ADD_FAILURE() << "pixel (" << x << "," << y << "): want " << std::hex << want
                                  << " got " << got;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }

    ULONG_PTR token_ = 0;
};

struct FormatCase {
    const char* name;
    std::function<Bytes(const Argb&)> write;
    bool alpha;      // the format stores alpha
    int tolerance;   // per channel
    int pixelFormat; // what GetPixelFormat reports
    std::uint32_t width, height;
};

std::vector<FormatCase> FormatCases() {
    return {
        {"png rgba", [](const Argb& i) { return WritePng(i, PngKind::kRgba, false); }, true, 0,
         PixelFormat32bppARGB, 7, 5},
        {"png rgba interlaced", [](const Argb& i) { return WritePng(i, PngKind::kRgba, true); },
         true, 0, PixelFormat32bppARGB, 13, 11},
        {"png rgb", [](const Argb& i) { return WritePng(i, PngKind::kRgb, false); }, false, 0,
         PixelFormat24bppRGB, 7, 5},
        {"png palette", [](const Argb& i) { return WritePng(i, PngKind::kPalette, false); }, true,
         0, PixelFormat32bppARGB, 6, 4},
        {"jpeg", [](const Argb& i) { return WriteJpeg(i, false, false); }, false, 12,
         PixelFormat24bppRGB, 0, 0},
        {"jpeg progressive", [](const Argb& i) { return WriteJpeg(i, true, false); }, false, 12,
         PixelFormat24bppRGB, 0, 0},
        {"gif", [](const Argb& i) { return WriteGif(i, false); }, true, 0, PixelFormat8bppIndexed,
         6, 4},
        {"gif interlaced", [](const Argb& i) { return WriteGif(i, true); }, true, 0,
         PixelFormat8bppIndexed, 5, 11},
        {"tiff rgb", [](const Argb& i) { return WriteTiff(i, false, false); }, false, 0,
         PixelFormat24bppRGB, 7, 5},
        {"tiff rgb uncompressed", [](const Argb& i) { return WriteTiff(i, false, false, false); },
         false, 0, PixelFormat24bppRGB, 7, 5},
        {"tiff rgba two pages", [](const Argb& i) { return WriteTiff(i, true, true); }, true, 4,
         PixelFormat32bppARGB, 7, 5},
        {"bmp 24 bottom-up", [](const Argb& i) { return WriteBmp(i, 24, false); }, false, 0,
         PixelFormat24bppRGB, 7, 5},
        {"bmp 24 top-down", [](const Argb& i) { return WriteBmp(i, 24, true); }, false, 0,
         PixelFormat24bppRGB, 5, 3},
        {"bmp 32 (fourth byte ignored)", [](const Argb& i) { return WriteBmp(i, 32, false); },
         false, 0, PixelFormat24bppRGB, 7, 5},
        {"bmp 32 with alpha mask", [](const Argb& i) { return WriteBmpWithAlpha(i); }, true, 0,
         PixelFormat32bppARGB, 7, 5},
        {"bmp 8", [](const Argb& i) { return WriteBmp(i, 8, false); }, false, 0,
         PixelFormat8bppIndexed, 9, 7},
        {"bmp 4", [](const Argb& i) { return WriteBmp(i, 4, false); }, false, 0,
         PixelFormat4bppIndexed, 4, 3},
        {"bmp 1", [](const Argb& i) { return WriteBmp(i, 1, false); }, false, 0,
         PixelFormat1bppIndexed, 0, 0},
        {"bmp 16", [](const Argb& i) { return WriteBmp(i, 16, false); }, false, 0,
         PixelFormat24bppRGB, 7, 5},
        {"ico 32-bit dib",
         [](const Argb& i) {
             return WriteIco({{i.width, i.height, 32, WriteIconDib(i, 32)}});
         },
         true, 0, PixelFormat32bppARGB, 16, 16},
        {"ico 24-bit dib with mask",
         [](const Argb& i) {
             return WriteIco({{i.width, i.height, 24, WriteIconDib(i, 24)}});
         },
         true, 0, PixelFormat32bppARGB, 16, 16},
    };
}

// The image a case writes: a pattern of the case's size, flat blocks for JPEG, two colours
// for 1-bit, and for formats without alpha or with binary transparency the alpha they keep.
Argb ImageFor(const FormatCase& c) {
    const std::string name = c.name;
    if (name.rfind("jpeg", 0) == 0)
        return Blocks(48, 32);
    if (name == "bmp 1") {
        Argb img{9, 3, {}};
        for (std::uint32_t i = 0; i < 27; ++i)
            img.px.push_back(i % 3 ? 0xFF102030 : 0xFFF0E0D0);
        return img;
    }
    Argb img = Pattern(c.width, c.height, c.alpha);
    const bool binaryAlpha = name.rfind("gif", 0) == 0 || name == "ico 24-bit dib with mask";
    for (auto& p : img.px) {
        if (name == "bmp 16")
            p |= 0xFF000000;
        if (binaryAlpha && (p >> 24) != 0)
            p |= 0xFF000000;
    }
    if (name == "bmp 16") {
        // Five bits per channel survive, scaled back to 0..255.
        for (auto& p : img.px) {
            std::uint32_t q = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8)
                q |= ((((p >> shift) & 0xFF) >> 3) * 255 + 15) / 31 << shift;
            p = q;
        }
    }
    return img;
}

TEST_F(ImagingTest, EveryFormatDecodesToThePixelsWritten) {
    for (const FormatCase& c : FormatCases()) {
        SCOPED_TRACE(c.name);
        const Argb img = ImageFor(c);
        Loaded l;
        Load(c.write(img), l);
        ASSERT_EQ(l.status, Gdiplus::Ok);
        EXPECT_EQ(l.bitmap->GetPixelFormat(), c.pixelFormat);
        ExpectPixels(*l.bitmap, img, c.tolerance);
    }
}

TEST_F(ImagingTest, GrayscaleSourcesBecomeGrey) {
    Argb img = Pattern(6, 5, false);
    for (auto& p : img.px) {
        const std::uint32_t g = (p >> 8) & 0xFF;
        p = 0xFF000000u | (g << 16) | (g << 8) | g;
    }
    for (const Bytes& bytes :
         {WritePng(img, PngKind::kGray16, false), WriteJpeg(img, false, true)}) {
        Loaded l;
        Load(bytes, l);
        ASSERT_EQ(l.status, Gdiplus::Ok);
        ExpectPixels(*l.bitmap, img, bytes[0] == 0xFF ? 3 : 0);
    }
}

TEST_F(ImagingTest, GifFrameSmallerThanTheScreenLeavesTheRestTransparent) {
    const Argb img = Pattern(4, 3, false);
    Loaded l;
    Load(WriteGif(img, false, 10, 6), l);
    ASSERT_EQ(l.status, Gdiplus::Ok);
    EXPECT_EQ(l.bitmap->GetWidth(), 10u);
    EXPECT_EQ(l.bitmap->GetHeight(), 6u);
    Gdiplus::Color c;
    ASSERT_EQ(l.bitmap->GetPixel(3, 2, &c), Gdiplus::Ok);
    EXPECT_EQ(c.GetValue(), img.At(3, 2));
    ASSERT_EQ(l.bitmap->GetPixel(9, 5, &c), Gdiplus::Ok);
    EXPECT_EQ(c.GetAlpha(), 0);
}

TEST_F(ImagingTest, IconTakesTheLargestEntry) {
    const Argb small = Pattern(16, 16, false), large = Pattern(32, 32, true),
               mid = Pattern(24, 24, true);
    const Bytes ico = WriteIco({{16, 16, 24, WriteIconDib(small, 24)},
                                {32, 32, 32, WritePng(large, PngKind::kRgba, false)},
                                {24, 24, 32, WriteIconDib(mid, 32)}});
    Loaded l;
    Load(ico, l);
    ASSERT_EQ(l.status, Gdiplus::Ok);
    EXPECT_EQ(l.bitmap->GetPixelFormat(), PixelFormat32bppARGB);
    ExpectPixels(*l.bitmap, large, 0);
}

// Every proper prefix of a valid image either fails or (for formats whose end marker
// is optional) gives exactly the same pixels; none crashes or leaks.
TEST_F(ImagingTest, TruncatedInputNeverGivesOtherPixels) {
    for (const FormatCase& c : FormatCases()) {
        SCOPED_TRACE(c.name);
        const Argb img = ImageFor(c);
        const Bytes whole = c.write(img);
        for (std::size_t n = 0; n < whole.size(); ++n) {
            Loaded l;
            Load(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(n)), l);
            if (l.status == Gdiplus::Ok) {
                SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes decoded");
                ExpectPixels(*l.bitmap, img, c.tolerance);
            } else {
                EXPECT_EQ(l.bitmap->GetWidth(), 0u);
            }
        }
    }
}

// Flipping single bytes must never crash or read out of bounds (sanitizer build); the result
// may be an image or a failure.
TEST_F(ImagingTest, CorruptBytesAreHandledSafely) {
    for (const FormatCase& c : FormatCases()) {
        SCOPED_TRACE(c.name);
        const Bytes whole = c.write(ImageFor(c));
        for (std::size_t i = 0; i < whole.size(); i += 1 + whole.size() / 200) {
            for (std::uint8_t v :
                 {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(whole[i] ^ 0x55)}) {
                Bytes bad = whole;
                bad[i] = v;
                Loaded l;
                Load(bad, l);
                if (l.status != Gdiplus::Ok) {
                    EXPECT_EQ(l.bitmap->GetWidth(), 0u);
                }
            }
        }
    }
}

TEST_F(ImagingTest, UnknownOrEmptyInputIsRefused) {
    EXPECT_EQ(StatusOf({}), Gdiplus::UnknownImageFormat);
    EXPECT_EQ(StatusOf({'h', 'e', 'l', 'l', 'o'}), Gdiplus::UnknownImageFormat);
    EXPECT_NE(StatusOf({0x89, 'P', 'N', 'G'}), Gdiplus::Ok); // signature cut short
    EXPECT_NE(StatusOf({'B', 'M'}), Gdiplus::Ok);
}

// Builds a PNG chunk with its checksum.
void PutChunk(Bytes& b, const char* type, const Bytes& data) {
    const std::uint32_t n = std::uint32_t(data.size());
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(std::uint8_t(n >> s));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    b.insert(b.end(), body.begin(), body.end());
    const std::uint32_t crc = std::uint32_t(crc32(0, body.data(), uInt(body.size())));
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(std::uint8_t(crc >> s));
}

// Headers that announce 65535 x 65535 pixels (16 GiB as ARGB) in a few bytes are refused
// before any pixel memory is allocated.
TEST_F(ImagingTest, HugeDimensionsAreRefusedBeforeAllocating) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 8, 6, 0, 0, 0});
    PutChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00});
    PutChunk(png, "IEND", {});

    Bytes gif = {'G',  'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF,
                 0x80, 0,   0,   0,   0,   0,   0,    0,    0};
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B});

    Bytes jpeg = WriteJpeg(Blocks(16, 16), false, false);
    // The frame header (SOF0): FF C0, length, precision, then height and width.
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            // 65500, the largest dimension libjpeg accepts.
            jpeg[i + 5] = jpeg[i + 7] = 0xFF;
            jpeg[i + 6] = jpeg[i + 8] = 0xDC;
            break;
        }
    }

    Bytes tiff = WriteTiff(Pattern(2, 2, false), false, false);
    // Width and height entries hold 2; make them 65535 (little-endian file, SHORT or LONG).
    std::uint32_t ifd = tiff[4] | (tiff[5] << 8) | (tiff[6] << 16) | (std::uint32_t(tiff[7]) << 24);
    const unsigned count = tiff[ifd] | (tiff[ifd + 1] << 8);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        const unsigned tag = tiff[e] | (tiff[e + 1] << 8);
        if (tag == 256 || tag == 257)
            tiff[e + 8] = tiff[e + 9] = 0xFF;
    }

    for (const auto& [name, bytes] : {std::pair<const char*, Bytes>{"png", png},
                                      {"gif", gif},
                                      {"jpeg", jpeg},
                                      {"tiff", tiff}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(StatusOf(bytes), Gdiplus::OutOfMemory);
    }
}

TEST_F(ImagingTest, PixelLimitIsCheckedBeforeDecoding) {
    const std::uint64_t saved = imaging::MaxPixels();
    imaging::SetMaxPixels(40 * 40 - 1);
    const Argb img = Pattern(40, 40, true);
    EXPECT_EQ(StatusOf(WritePng(img, PngKind::kRgba, false)), Gdiplus::OutOfMemory);
    EXPECT_EQ(StatusOf(WriteBmp(img, 24, false)), Gdiplus::OutOfMemory);
    imaging::SetMaxPixels(40 * 40);
    EXPECT_EQ(StatusOf(WritePng(img, PngKind::kRgba, false)), Gdiplus::Ok);
    imaging::SetMaxPixels(saved);

    imaging::Pixels p;
    EXPECT_EQ(imaging::AllocatePixels(0xFFFFFFFF, 0xFFFFFFFF, p), imaging::DecodeResult::kTooLarge);
    EXPECT_EQ(imaging::AllocatePixels((1u << 28) + 1, 1, p), imaging::DecodeResult::kTooLarge);
    EXPECT_EQ(imaging::AllocatePixels(0, 5, p), imaging::DecodeResult::kCorrupt);
}

TEST_F(ImagingTest, BitmapKeepsItsStreamAlive) {
    BlockWith block("x");
    const Bytes png = WritePng(Pattern(2, 2, false), PngKind::kRgb, false);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, png.size());
    std::memcpy(GlobalLock(h), png.data(), png.size());
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(h, FALSE, &s), S_OK);
    Bitmap* bmp = Bitmap::FromStream(s);
    ASSERT_EQ(bmp->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(s->AddRef(), 3u); // ours, the bitmap's, and this one
    s->Release();
    EXPECT_EQ(s->Release(), 1u); // the bitmap still holds it
    delete bmp;                  // drops the last reference
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST_F(ImagingTest, LastStatusIsReadOnceAndReset) {
    Loaded l;
    Load({'?', '?'}, l);
    EXPECT_EQ(l.status, Gdiplus::UnknownImageFormat);
    EXPECT_EQ(l.bitmap->GetLastStatus(), Gdiplus::Ok);
    Gdiplus::Color c;
    EXPECT_EQ(l.bitmap->GetPixel(0, 0, &c), Gdiplus::InvalidParameter);
    EXPECT_EQ(l.bitmap->GetLastStatus(), Gdiplus::InvalidParameter);
    EXPECT_EQ(l.bitmap->GetLastStatus(), Gdiplus::Ok);
}

TEST(ImagingStartup, BitmapsNeedAStartedSystem) {
    const Bytes png = WritePng(Pattern(2, 2, false), PngKind::kRgb, false);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, png.size());
    std::memcpy(GlobalLock(h), png.data(), png.size());
    GlobalUnlock(h);
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(h, FALSE, &s), S_OK);
    Bitmap* before = Bitmap::FromStream(s);
    EXPECT_EQ(before->GetLastStatus(), Gdiplus::GdiplusNotInitialized);
    delete before;

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR a = 0, b = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&a, &input, nullptr), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdiplusStartup(&b, &input, nullptr), Gdiplus::Ok);
    EXPECT_NE(a, b);
    Gdiplus::GdiplusShutdown(a);
    Bitmap* during = Bitmap::FromStream(s); // b is still in effect
    EXPECT_EQ(during->GetLastStatus(), Gdiplus::Ok);
    delete during;
    Gdiplus::GdiplusShutdown(b);
    Bitmap* after = Bitmap::FromStream(s);
    EXPECT_EQ(after->GetLastStatus(), Gdiplus::GdiplusNotInitialized);
    delete after;

    input.GdiplusVersion = 3;
    EXPECT_EQ(Gdiplus::GdiplusStartup(&a, &input, nullptr), Gdiplus::UnsupportedGdiplusVersion);
    s->Release();
    GlobalFree(h);
}

TEST_F(ImagingTest, LockBitsGivesArgbRowsAndWritesBack) {
    const Argb img = Pattern(5, 4, true);
    Loaded l;
    Load(WritePng(img, PngKind::kRgba, false), l);
    ASSERT_EQ(l.status, Gdiplus::Ok);
    Bitmap& bmp = *l.bitmap;

    Gdiplus::Rect rect(1, 2, 3, 2);
    Gdiplus::BitmapData data;
    ASSERT_EQ(bmp.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data),
              Gdiplus::Ok);
    EXPECT_EQ(data.Width, 3u);
    EXPECT_EQ(data.Height, 2u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            std::uint32_t v;
            std::memcpy(&v, static_cast<char*>(data.Scan0) + y * data.Stride + 4 * x, 4);
            EXPECT_EQ(v, img.At(1 + x, 2 + y));
        }
    Gdiplus::BitmapData other;
    EXPECT_EQ(bmp.LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &other),
              Gdiplus::WrongState);
    ASSERT_EQ(bmp.UnlockBits(&data), Gdiplus::Ok);
    EXPECT_EQ(bmp.UnlockBits(&data), Gdiplus::WrongState);

    // Out of the image, or a format not offered.
    Gdiplus::Rect outside(4, 0, 2, 1);
    EXPECT_EQ(bmp.LockBits(&outside, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data),
              Gdiplus::InvalidParameter);
    EXPECT_EQ(bmp.LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data),
              Gdiplus::InvalidParameter);

    // Premultiplied copy into the caller's buffer.
    std::uint32_t buf[5 * 4];
    data.Scan0 = buf;
    data.Stride = 5 * 4;
    ASSERT_EQ(bmp.LockBits(nullptr, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                           PixelFormat32bppPARGB, &data),
              Gdiplus::Ok);
    const std::uint32_t p = img.At(2, 1), a = p >> 24;
    EXPECT_EQ(buf[1 * 5 + 2] >> 24, a);
    EXPECT_EQ((buf[1 * 5 + 2] >> 16) & 0xFF, (((p >> 16) & 0xFF) * a + 127) / 255);
    ASSERT_EQ(bmp.UnlockBits(&data), Gdiplus::Ok);

    // Writing through a lock changes the bitmap.
    ASSERT_EQ(bmp.LockBits(nullptr, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data),
              Gdiplus::Ok);
    const std::uint32_t red = 0xFFFF0000;
    std::memcpy(static_cast<char*>(data.Scan0) + 3 * data.Stride + 4 * 4, &red, 4);
    ASSERT_EQ(bmp.UnlockBits(&data), Gdiplus::Ok);
    Gdiplus::Color c;
    ASSERT_EQ(bmp.GetPixel(4, 3, &c), Gdiplus::Ok);
    EXPECT_EQ(c.GetValue(), red);
}

} // namespace
