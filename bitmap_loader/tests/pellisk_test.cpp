// Tests of CGdiPlusBitmapResource: loads from a resource module built from images.rc and from
// buffers, the empty state after every failure, and ownership of bitmap and block.
#include "image_writer.h"

#include <pellisk.h>
#include <platform/win_resources.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

using namespace pellisk_test;

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
        {"png", WritePng(Content::kGradientAlpha, 13, 9), kAlphaPng},
        {"jpeg", WriteJpeg(24, 16), kJpeg},
        {"gif", WriteGif(11, 7), kGif},
        {"bmp 24", WriteBmp(Content::kGradient, 7, 5, 24), kBmp24},
        {"bmp 32", WriteBmp(Content::kGradient, 6, 4, 32), kBmp32},
        {"tiff", WriteTiff(Content::kGradient, 9, 6), kTiff},
        {"ico", WriteIco(Content::kGradientAlpha, 16), kIcon},
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
    const Bytes png = WritePng(Content::kGradientAlpha, 13, 9);
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
    ExpectLoaded(obj, WriteBmp(Content::kGradient, 7, 5, 24).size());
    ExpectContent(obj.m_pBitmap, kBmp24.content, kBmp24.width, kBmp24.height, 0);
    Bytes gif = WriteGif(11, 7);
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

} // namespace
