// Tests of CGdiPlusBitmapResource: loads from a resource module built from images.rc and from
// buffers, the empty state after every failure, and ownership of bitmap and block.
#include <image_writer.h>

#include <pellisk.h>
#include <platform/win_resources.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

using namespace test_images;

namespace {

// The test module, opened once as data.
class PelliskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_module = LoadLibraryExA(PELLISK_TEST_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        if (s_module)
            FreeLibrary(s_module);
        s_module = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr) << PELLISK_TEST_MODULE; }

    static HMODULE s_module;
};
HMODULE PelliskTest::s_module = nullptr;

// The object is loaded: bitmap and block set, the block locked once and holding `size` bytes.
void ExpectLoaded(const CGdiPlusBitmapResource& obj, std::size_t size) {
    ASSERT_NE(obj.m_pBitmap, nullptr);
    ASSERT_NE(obj.m_hBuffer, nullptr);
    EXPECT_EQ(GlobalSize(obj.m_hBuffer), size);
    EXPECT_EQ(GlobalFlags(obj.m_hBuffer) & GMEM_LOCKCOUNT, 1u);
}

void ExpectEmpty(const CGdiPlusBitmapResource& obj) {
    EXPECT_EQ(obj.m_pBitmap, nullptr);
    EXPECT_EQ(obj.m_hBuffer, nullptr);
}

// Every pixel of the bitmap against the content written, within `tolerance` per channel.
void ExpectContent(Gdiplus::Bitmap* bmp, Content c, UINT w, UINT h, int tolerance) {
    ASSERT_NE(bmp, nullptr);
    ASSERT_EQ(bmp->GetWidth(), w);
    ASSERT_EQ(bmp->GetHeight(), h);
    int bad = 0;
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            Gdiplus::Color col;
            ASSERT_EQ(bmp->GetPixel(int(x), int(y), &col), Gdiplus::Ok);
            const std::uint32_t want = ExpectedPixel(c, x, y), got = col.GetValue();
            for (int s = 0; s < 32; s += 8) {
                const int d = int((want >> s) & 0xFF) - int((got >> s) & 0xFF);
                if ((d > tolerance || d < -tolerance) && ++bad <= 3)
                    ADD_FAILURE() << "(" << x << "," << y << ") want " << std::hex << want
                                  << " got " << got;
            }
        }
    EXPECT_EQ(bad, 0);
}

struct Expected {
    Content content;
    UINT width, height;
    int tolerance;
};
const Expected kAlphaPng{Content::kGradientAlpha, 13, 9, 0};
const Expected kJpeg{Content::kBlocks, 24, 16, 6};
const Expected kGif{Content::kPalette, 11, 7, 0};
const Expected kBmp24{Content::kGradient, 7, 5, 0};
const Expected kBmp32{Content::kGradient, 6, 4, 0};
const Expected kTiff{Content::kGradient, 9, 6, 0};
const Expected kIcon{Content::kGradientAlpha, 16, 16, 0};

TEST_F(PelliskTest, LoadsByNameIdAndType) {
    struct Case {
        const char* what;
        std::function<BOOL(CGdiPlusBitmapResource&)> load;
        Expected expected;
    };
    const Case cases[] = {
        {"name LOGO, type PNG",
         [](CGdiPlusBitmapResource& o) { return o.Load("LOGO", "PNG", s_module); }, kAlphaPng},
        {"name \"#1\", type PNG",
         [](CGdiPlusBitmapResource& o) { return o.Load("#1", "PNG", s_module); }, kAlphaPng},
        {"id 1, type PNG", [](CGdiPlusBitmapResource& o) { return o.Load(1u, "PNG", s_module); },
         kAlphaPng},
        {"id 0x10001 is id 1",
         [](CGdiPlusBitmapResource& o) { return o.Load(0x10001u, "PNG", s_module); }, kAlphaPng},
        {"id 2, RT_RCDATA",
         [](CGdiPlusBitmapResource& o) { return o.Load(2u, RT_RCDATA, s_module); }, kJpeg},
        {"name PHOTO, RT_RCDATA",
         [](CGdiPlusBitmapResource& o) { return o.Load("PHOTO", RT_RCDATA, s_module); }, kJpeg},
        {"id 3, type 10", [](CGdiPlusBitmapResource& o) { return o.Load(3u, 10u, s_module); },
         kGif},
        {"id 4, type 0x7000A",
         [](CGdiPlusBitmapResource& o) { return o.Load(4u, 0x7000Au, s_module); }, kBmp24},
        {"id 5, type 300", [](CGdiPlusBitmapResource& o) { return o.Load(5u, 300u, s_module); },
         kBmp32},
        {"id 6 (TIFF)", [](CGdiPlusBitmapResource& o) { return o.Load(6u, 10u, s_module); }, kTiff},
        {"id 7 (ICO)", [](CGdiPlusBitmapResource& o) { return o.Load(7u, 10u, s_module); }, kIcon},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CGdiPlusBitmapResource obj;
        ASSERT_EQ(c.load(obj), 1);
        ASSERT_NE(obj.m_pBitmap, nullptr);
        EXPECT_EQ(GlobalFlags(obj.m_hBuffer) & GMEM_LOCKCOUNT, 1u);
        ExpectContent(obj.m_pBitmap, c.expected.content, c.expected.width, c.expected.height,
                      c.expected.tolerance);
    }
}

TEST_F(PelliskTest, ConstructorsLoadOrStayEmpty) {
    CGdiPlusBitmapResource byName("LOGO", "PNG", s_module);
    CGdiPlusBitmapResource byId(0x10001u, "PNG", s_module);
    CGdiPlusBitmapResource byIdAndType(5u, 300u, s_module);
    ExpectContent(byName.m_pBitmap, kAlphaPng.content, kAlphaPng.width, kAlphaPng.height, 0);
    ExpectContent(byId.m_pBitmap, kAlphaPng.content, kAlphaPng.width, kAlphaPng.height, 0);
    ExpectContent(byIdAndType.m_pBitmap, kBmp32.content, kBmp32.width, kBmp32.height, 0);
    CGdiPlusBitmapResource missing("NOPE", "PNG", s_module);
    ExpectEmpty(missing);
}

TEST_F(PelliskTest, LoadsFromBuffersOfEveryFormat) {
    struct Case {
        const char* what;
        Bytes bytes;
        Expected expected;
    };
    const Case cases[] = {
        {"png", WritePng(Image(Content::kGradientAlpha, 13, 9), PngKind::kRgba, false), kAlphaPng},
        {"jpeg", WriteJpeg(Image(Content::kBlocks, 24, 16), false, false), kJpeg},
        {"gif", WriteGif(Image(Content::kPalette, 11, 7), false), kGif},
        {"bmp 24", WriteBmp(Image(Content::kGradient, 7, 5), 24, false), kBmp24},
        {"bmp 32", WriteBmp(Image(Content::kGradient, 6, 4), 32, false), kBmp32},
        {"tiff", WriteTiff(Image(Content::kGradient, 9, 6), false, false, false), kTiff},
        {"ico", WriteIco({{16, 16, 32, WriteIconDib(Image(Content::kGradientAlpha, 16, 16), 32)}}),
         kIcon},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes copy = c.bytes;
        CGdiPlusBitmapResource obj;
        ASSERT_EQ(obj.Load(copy.data(), DWORD(copy.size())), 1);
        ExpectLoaded(obj, copy.size());
        ExpectContent(obj.m_pBitmap, c.expected.content, c.expected.width, c.expected.height,
                      c.expected.tolerance);
    }
}

TEST_F(PelliskTest, CallersBufferMayBeFreedRightAfterLoad) {
    const Bytes png = WritePng(Image(Content::kGradientAlpha, 13, 9), PngKind::kRgba, false);
    CGdiPlusBitmapResource obj;
    {
        std::unique_ptr<BYTE[]> buffer(new BYTE[png.size()]);
        std::memcpy(buffer.get(), png.data(), png.size());
        ASSERT_EQ(obj.Load(buffer.get(), DWORD(png.size())), 1);
        std::memset(buffer.get(), 0xAB, png.size()); // scribbled over, then freed
    }
    // The pixels are read only now (GDI+ decodes lazily).
    ExpectContent(obj.m_pBitmap, kAlphaPng.content, kAlphaPng.width, kAlphaPng.height, 0);
}

TEST_F(PelliskTest, EveryFailureLeavesTheObjectEmpty) {
    Bytes garbage = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    BYTE one = 0;
    struct Case {
        const char* what;
        std::function<BOOL(CGdiPlusBitmapResource&)> load;
    };
    const Case cases[] = {
        {"missing name", [](CGdiPlusBitmapResource& o) { return o.Load("NOPE", "PNG", s_module); }},
        {"missing id", [](CGdiPlusBitmapResource& o) { return o.Load(99u, "PNG", s_module); }},
        {"wrong type", [](CGdiPlusBitmapResource& o) { return o.Load(1u, 10u, s_module); }},
        {"undecodable resource",
         [](CGdiPlusBitmapResource& o) { return o.Load(8u, 10u, s_module); }},
        {"empty resource",
         [](CGdiPlusBitmapResource& o) { return o.Load("EMPTY", RT_RCDATA, s_module); }},
        {"the executable holds no such resource",
         [](CGdiPlusBitmapResource& o) { return o.Load("LOGO", "PNG", nullptr); }},
        {"undecodable buffer",
         [&](CGdiPlusBitmapResource& o) { return o.Load(garbage.data(), DWORD(garbage.size())); }},
        {"size 0", [&](CGdiPlusBitmapResource& o) { return o.Load(&one, 0); }},
        {"null buffer, size 0", [](CGdiPlusBitmapResource& o) { return o.Load(nullptr, 0); }},
        // Would read through a null pointer if taken at its word; refused instead.
        {"null buffer, size 100", [](CGdiPlusBitmapResource& o) { return o.Load(nullptr, 100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CGdiPlusBitmapResource fresh;
        EXPECT_EQ(c.load(fresh), 0);
        ExpectEmpty(fresh);
        // A failed load also discards what was loaded before.
        CGdiPlusBitmapResource loaded("LOGO", "PNG", s_module);
        ASSERT_NE(loaded.m_pBitmap, nullptr);
        EXPECT_EQ(c.load(loaded), 0);
        ExpectEmpty(loaded);
    }
}

TEST_F(PelliskTest, SecondLoadReplacesTheFirst) {
    CGdiPlusBitmapResource obj;
    ASSERT_EQ(obj.Load("LOGO", "PNG", s_module), 1);
    ASSERT_EQ(obj.Load(4u, 10u, s_module), 1); // the first bitmap and block are freed
    ExpectLoaded(obj, WriteBmp(Image(Content::kGradient, 7, 5), 24, false).size());
    ExpectContent(obj.m_pBitmap, kBmp24.content, kBmp24.width, kBmp24.height, 0);
    Bytes gif = WriteGif(Image(Content::kPalette, 11, 7), false);
    ASSERT_EQ(obj.Load(gif.data(), DWORD(gif.size())), 1);
    ExpectLoaded(obj, gif.size());
    ExpectContent(obj.m_pBitmap, kGif.content, kGif.width, kGif.height, 0);
}

TEST_F(PelliskTest, EmptyFreesAndIsHarmlessTwice) {
    CGdiPlusBitmapResource obj("LOGO", "PNG", s_module);
    ASSERT_NE(obj.m_pBitmap, nullptr);
    obj.Empty();
    ExpectEmpty(obj);
    obj.Empty();
    ExpectEmpty(obj);
    // Reusable afterwards.
    EXPECT_EQ(obj.Load(1u, "PNG", s_module), 1);
}

TEST_F(PelliskTest, DestroyingLoadedObjectsFreesEverything) {
    // Checked by the sanitizer build: no leak and no use after free, through the derived and
    // through the base class.
    auto* derived = new CGdiPlusBitmapResource("LOGO", "PNG", s_module);
    ASSERT_NE(derived->m_pBitmap, nullptr);
    delete derived;
    CGdiPlusBitmap* base = new CGdiPlusBitmapResource(2u, RT_RCDATA, s_module);
    ASSERT_NE(base->m_pBitmap, nullptr);
    delete base;
}

// The colours of the run-length test images: every index its own colour.
const std::vector<std::uint32_t> kRlePalette = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

// Loads `bmp` and compares it with `rows`, given top row first: a palette index per pixel, or
// -1 where no code painted anything. GDI+ reports such bitmaps as 32bppRGB, so unpainted
// pixels are opaque; the stand-in makes them black. Wine's GDI+ leaves them uninitialised,
// so under Wine only their opacity is checked.
void ExpectRlePixels(const Bytes& bmp, const std::vector<std::vector<int>>& rows) {
    Bytes copy = bmp;
    CGdiPlusBitmapResource obj;
    ASSERT_EQ(obj.Load(copy.data(), DWORD(copy.size())), 1);
    EXPECT_EQ(obj.m_pBitmap->GetPixelFormat(), PixelFormat32bppRGB);
    ASSERT_EQ(obj.m_pBitmap->GetHeight(), rows.size());
    ASSERT_EQ(obj.m_pBitmap->GetWidth(), rows[0].size());
    for (UINT y = 0; y < rows.size(); ++y)
        for (UINT x = 0; x < rows[y].size(); ++x) {
            SCOPED_TRACE(::testing::Message() << "pixel (" << x << "," << y << ")");
            Gdiplus::Color c;
            ASSERT_EQ(obj.m_pBitmap->GetPixel(int(x), int(y), &c), Gdiplus::Ok);
            const int idx = rows[y][x];
            if (idx >= 0) {
                EXPECT_EQ(c.GetValue(), kRlePalette[std::size_t(idx)]);
            } else {
#ifdef _WIN32
                EXPECT_EQ(c.GetValue() >> 24, 0xFFu);
#else
                EXPECT_EQ(c.GetValue(), 0xFF000000u);
#endif
            }
        }
}

// 5 x 4: every kind of code of RLE8.
const Bytes kRle8Runs = {
    0x02, 0x01,                         // bottom row: 2 pixels of colour 1
    0x00, 0x03, 0x02, 0x03, 0x04, 0x00, // absolute: 3 pixels 2, 3, 4, padded to a word
    0x00, 0x00,                         // end of line
    0x01, 0x05,                         // second row: 1 pixel of colour 5
    0x00, 0x02, 0x02, 0x01,             // delta: 2 right, 1 up, to (3, third row)
    0x02, 0x06,                         // 2 pixels of colour 6
    0x00, 0x00,                         // end of line
    0x01, 0x0F,                         // top row: 1 pixel of colour 15
    0x00, 0x01,                         // end of bitmap: the rest stays unpainted
};
const std::vector<std::vector<int>> kRle8Pixels = {
    {15, -1, -1, -1, -1},
    {-1, -1, -1, 6, 6},
    {5, -1, -1, -1, -1},
    {1, 1, 2, 3, 4},
};

TEST_F(PelliskTest, Rle8BitmapsDecodeRunByRun) {
    ExpectRlePixels(WriteRleBmp(8, 5, 4, kRlePalette, kRle8Runs), kRle8Pixels);
}

TEST_F(PelliskTest, Rle4BitmapsDecodeRunByRun) {
    // 6 x 3, bottom-up. An encoded run alternates the two nibbles of its byte.
    const Bytes runs = {
        0x05, 0x12,                   // bottom row: 5 pixels 1, 2, 1, 2, 1
        0x01, 0x30,                   // 1 pixel 3
        0x00, 0x00,                   // end of line
        0x00, 0x05, 0x45, 0x67, 0x80, // absolute: 5 pixels 4, 5, 6, 7, 8 in 3 bytes,
        0x00,                         //   padded to a word
        0x00, 0x00,                   // end of line: the last pixel stays unpainted
        0x00, 0x03, 0x9A, 0xB0,       // top row: absolute, 3 pixels 9, 10, 11 (2 bytes)
        0x03, 0xCD,                   // 3 pixels 12, 13, 12
        0x00, 0x01,                   // end of bitmap
    };
    ExpectRlePixels(WriteRleBmp(4, 6, 3, kRlePalette, runs), {
                                                                 {9, 10, 11, 12, 13, 12},
                                                                 {4, 5, 6, 7, 8, -1},
                                                                 {1, 2, 1, 2, 1, 3},
                                                             });
}

// Compressed rows are bottom-up whatever the sign of the height; GDI+ reads a negative height
// as if it were positive (a kept quirk of the format's readers).
TEST_F(PelliskTest, RleWithNegativeHeightIsReadBottomUp) {
    ExpectRlePixels(WriteRleBmp(8, 5, -4, kRlePalette, kRle8Runs), kRle8Pixels);
}

TEST_F(PelliskTest, DamagedRunsFail) {
    struct Case {
        const char* what;
        int bits;
        Bytes runs;
        bool wine_shows; // Wine's GDI+ shows what fits instead of failing
    };
    // All 4 x 2 images; "04 01 00 00" fills the bottom row where a case needs it.
    const Case cases[] = {
        {"encoded run past the end of the row", 8, {0x05, 0x01, 0x00, 0x01}, true},
        {"RLE4 run past the end of the row", 4, {0x05, 0x11, 0x00, 0x01}, true},
        {"absolute run past the end of the row",
         8,
         {0x02, 0x01, 0x00, 0x03, 0x01, 0x01, 0x01, 0x00, 0x00, 0x01},
         false},
        {"delta past the end of the row", 8, {0x00, 0x02, 0x05, 0x00, 0x00, 0x01}, true},
        {"delta above the top row", 8, {0x00, 0x02, 0x00, 0x03, 0x00, 0x01}, true},
        {"run above the top row",
         8,
         {0x04, 0x01, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x01},
         true},
        {"data ends inside an absolute run", 8, {0x00, 0x04, 0x01, 0x01}, false},
        {"data ends inside a delta", 8, {0x04, 0x01, 0x00, 0x02, 0x01}, false},
        {"data ends without end of bitmap", 8, {0x04, 0x01, 0x00, 0x00}, false},
        {"RLE8 with 4 bits per pixel", 4, {0x04, 0x01, 0x00, 0x01}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
#ifdef _WIN32
        if (c.wine_shows)
            continue; // the stand-in refuses these on purpose; Wine shows a clipped image
#endif
        Bytes bmp = WriteRleBmp(c.bits, 4, 2, kRlePalette, c.runs);
        if (std::string(c.what) == "RLE8 with 4 bits per pixel")
            bmp[30] = 1; // compression BI_RLE8 with a 4-bit depth
        CGdiPlusBitmapResource obj;
        EXPECT_EQ(obj.Load(bmp.data(), DWORD(bmp.size())), 0);
        ExpectEmpty(obj);
    }
}

// libjpeg warns about bytes that carry no pixels (stray bytes before a marker) and about data
// it had to patch up; only the first kind loads.
TEST_F(PelliskTest, JpegWarningsFailOnlyWhenDataIsLost) {
    const Bytes good = WriteJpeg(Image(Content::kBlocks, 24, 16), false, false);
    std::size_t scan = 0; // first byte of the entropy-coded data
    for (std::size_t i = 0; i + 1 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA) {
            scan = i + 2 + std::size_t((good[i + 2] << 8) | good[i + 3]);
            break;
        }
    ASSERT_NE(scan, 0u);
    const std::size_t eoi = good.size() - 2;
    ASSERT_GT(eoi, scan + 8);

    Bytes stray_before_eoi = good;
    stray_before_eoi.insert(stray_before_eoi.begin() + std::ptrdiff_t(eoi), {0x12, 0x34});
    Bytes stray_before_sos = good;
    stray_before_sos.insert(stray_before_sos.begin() + std::ptrdiff_t(scan) - 14, {0x12, 0x34});
    Bytes cut = good;
    cut.resize(scan + (eoi - scan) / 2);
    Bytes marker_in_scan = good;
    marker_in_scan[scan + 4] = 0xFF;
    marker_in_scan[scan + 5] = 0xD9; // an end-of-image marker amid the data

    struct Case {
        const char* what;
        const Bytes& bytes;
        bool loads;
        bool wine_shows; // Wine's GDI+ shows the image that libjpeg patched up
    };
    const Case cases[] = {
        {"two stray bytes before the end-of-image marker", stray_before_eoi, true, true},
        {"two stray bytes before the start-of-scan marker", stray_before_sos, true, true},
        {"cut in the middle of the scan", cut, false, false},
        {"end-of-image marker amid the scan", marker_in_scan, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes copy = c.bytes;
        CGdiPlusBitmapResource obj;
        const BOOL loaded = obj.Load(copy.data(), DWORD(copy.size()));
        if (!c.loads) {
#ifdef _WIN32
            if (c.wine_shows)
                continue; // refused by the stand-in on purpose: pixels were lost
#endif
            EXPECT_EQ(loaded, 0);
            ExpectEmpty(obj);
            continue;
        }
        ASSERT_EQ(loaded, 1);
        ExpectContent(obj.m_pBitmap, kJpeg.content, kJpeg.width, kJpeg.height, kJpeg.tolerance);
    }
}

} // namespace
