// Hostile inputs through the exported interfaces, each where its library is part of the build:
// argument texts of 10,000 characters through CPath (path texts of that length are refused:
// path_toolkit/tests/path_test.cpp), and images that announce 65535 x 65535 pixels in a
// few bytes through CGdiPlusBitmapResource::Load. The sanitizer build runs this with an
// allocation ceiling of 256 MiB (see CMakeLists.txt), so an attempt to allocate pixel memory
// for such a header ends the test instead of going unnoticed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#ifdef HAVE_CORVANE
#include <corvane.h>
#endif
#ifdef HAVE_PELLISK
#include <pellisk.h>
#endif

namespace {

#ifdef HAVE_CORVANE
std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

// Argument texts are not bound by the path limit: long ones are parsed and edited in full.
TEST(HostileCPath, TenThousandCharacterArgumentsAreHandledWhole) {
    CPath p("C:\\app.exe", 0, 1);
    std::string args;
    int count = 0;
    while (args.size() < 10000) {
        args += "/n" + std::to_string(count) + " v" + std::to_string(count) + " ";
        ++count;
    }
    p.SetArguments(args.c_str());
    ASSERT_EQ(p.GetArgCount(), count);
    EXPECT_EQ(S(p.GetArgument(count - 1, 1)), "n" + std::to_string(count - 1));
    EXPECT_EQ(S(p.GetArgument(count - 1, 0)), "v" + std::to_string(count - 1));
    EXPECT_EQ(p.FindArgument("n777"), 777);

    const std::string longValue(10000, 'q');
    p.AddSetArgument("n5", longValue.c_str());
    EXPECT_EQ(S(p.GetArgument(5, 0)), longValue);
    p.AddSetArgument(std::string(10000, 'k').c_str(), "1");
    EXPECT_EQ(p.GetArgCount(), count + 1);
    EXPECT_EQ(p.FindArgument(std::string(10000, 'K').c_str()), count);
    // The rebuilt text holds every argument, the long ones included.
    EXPECT_GT(S(p.GetArgument(-1, 0)).size(), args.size() + 20000 - 10);

    // One unbroken token, and one value in quotes that never close.
    p.SetArguments(std::string(10000, 'z').c_str());
    EXPECT_EQ(p.GetArgCount(), 1);
    p.SetArguments(("/a \"" + std::string(10000, 'y')).c_str());
    EXPECT_GE(p.GetArgCount(), 1);
}

TEST(HostileCPath, TenThousandCharacterSlashHelpers) {
    const std::string longText(10000, 'd');
    EXPECT_EQ(S(CPath::AddBackSlash(longText.c_str(), 0)), longText + "\\");
    EXPECT_EQ(S(CPath::RemoveBackSlash((longText + "/").c_str())), longText);
}
#endif // HAVE_CORVANE

#ifdef HAVE_PELLISK
using Bytes = std::vector<unsigned char>;

void Put32BE(Bytes& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) {
        b.push_back(static_cast<unsigned char>(v >> s));
    }
}
void Put16LE(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32LE(Bytes& b, std::uint32_t v) {
    Put16LE(b, v & 0xFFFF);
    Put16LE(b, v >> 16);
}

std::uint32_t Crc32(const unsigned char* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) {
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
    }
    return ~c;
}

// A PNG chunk: length, type, data, CRC over type and data.
void PngChunk(Bytes& b, const char* type, const Bytes& data) {
    Put32BE(b, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    b.insert(b.end(), body.begin(), body.end());
    Put32BE(b, Crc32(body.data(), body.size()));
}

Bytes HugePng(int colorType) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32BE(ihdr, 65535); // width
    Put32BE(ihdr, 65535); // height
    ihdr.insert(ihdr.end(), {8, static_cast<unsigned char>(colorType), 0, 0, 0});
    PngChunk(b, "IHDR", ihdr);
    PngChunk(b, "IDAT", {0x78, 0x9C, 0x03, 0x00}); // an empty zlib stream
    PngChunk(b, "IEND", {});
    return b;
}

Bytes HugeBmp(int bits, std::int32_t height) {
    Bytes b = {'B', 'M'};
    Put32LE(b, 64);    // file size as written: far less than the pixels need
    Put32LE(b, 0);     // reserved
    Put32LE(b, 54);    // offset of the pixels
    Put32LE(b, 40);    // BITMAPINFOHEADER
    Put32LE(b, 65535); // width
    Put32LE(b, static_cast<std::uint32_t>(height)); // negative: top-down rows
    Put16LE(b, 1);                                  // planes
    Put16LE(b, static_cast<unsigned>(bits));
    Put32LE(b, 0); // BI_RGB
    for (int i = 0; i < 5; ++i) {
        Put32LE(b, 0); // image size, resolutions, colours used and important
    }
    b.insert(b.end(), 10, 0x55); // ten bytes of "pixels"
    return b;
}

Bytes HugeGif() {
    // Logical screen 65535 x 65535 with a 2-colour table, then one image of the same size whose
    // data is a clear code and the end code.
    Bytes b = {'G',  'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF,
               0x80, 0,   0,   0,   0,   0,   0xFF, 0xFF, 0xFF};
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x44, 0x01, 0, 0x3B});
    return b;
}

TEST(HostileImages, HugeDimensionsInAFewBytesAreRefused) {
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"PNG, RGBA", HugePng(6)},
        {"PNG, grey", HugePng(0)},
        {"BMP, 32 bits, bottom-up", HugeBmp(32, 65535)},
        {"BMP, 24 bits, top-down", HugeBmp(24, -65535)},
        {"GIF", HugeGif()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes copy = c.bytes;
        CGdiPlusBitmapResource image;
        EXPECT_FALSE(image.Load(copy.data(), static_cast<DWORD>(copy.size())));
        EXPECT_EQ(image.m_pBitmap, nullptr);
        EXPECT_EQ(image.m_hBuffer, nullptr);
        // The object stays usable.
        image.Empty();
    }
}
#endif // HAVE_PELLISK

} // namespace
