// The checked reader at the edges of its view: reads flush against the end, sizes that would
// wrap, slices that run backwards or past the end, strings without a terminator.
#include <platform/byte_reader.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using dbpf::ByteReader;

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

TEST(ByteReader, ReadsEndFlushWithTheViewAndNoFurther) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05};
    const ByteReader r(bytes.data(), bytes.size());
    std::uint32_t u32 = 0xAAAAAAAA;
    std::uint16_t u16 = 0xAAAA;
    std::uint8_t u8 = 0xAA;
    EXPECT_TRUE(r.ReadU32LE(1, &u32));
    EXPECT_EQ(u32, 0x05040302u);
    EXPECT_TRUE(r.ReadU16LE(3, &u16));
    EXPECT_EQ(u16, 0x0504u);
    EXPECT_TRUE(r.ReadU8(4, &u8));
    EXPECT_EQ(u8, 0x05u);
    // One byte further, or an offset near the top of the address space: refused, and the
    // output stays as it was.
    u32 = 0xAAAAAAAA;
    for (std::size_t off : {std::size_t(2), std::size_t(5), kMax, kMax - 1}) {
        SCOPED_TRACE(off);
        EXPECT_FALSE(r.ReadU32LE(off, &u32));
        EXPECT_EQ(u32, 0xAAAAAAAAu);
    }
    EXPECT_FALSE(r.ReadU16LE(4, &u16));
    EXPECT_FALSE(r.ReadU8(5, &u8));
    EXPECT_FALSE(r.Has(1, kMax));
    EXPECT_TRUE(r.Has(5, 0));
}

TEST(ByteReader, SliceRejectsBackwardsAndOverlongRanges) {
    const std::vector<std::uint8_t> bytes = {10, 11, 12, 13};
    const ByteReader r(bytes.data(), bytes.size());
    struct Case {
        std::size_t from, to;
        bool ok;
    };
    const Case cases[] = {{0, 4, true},  {1, 3, true},  {4, 4, true},     {3, 2, false},
                          {0, 5, false}, {5, 5, false}, {kMax, 2, false}, {2, kMax, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to));
        ByteReader s;
        ASSERT_EQ(r.Slice(c.from, c.to, &s), c.ok);
        if (c.ok) {
            EXPECT_EQ(s.size(), c.to - c.from);
            std::uint8_t v = 0;
            EXPECT_EQ(s.ReadU8(0, &v), c.to > c.from);
            EXPECT_FALSE(s.ReadU8(c.to - c.from, &v)); // the slice ends where it was cut
        }
    }
}

TEST(ByteReader, Utf16StringsStayInsideTheirLimit) {
    // "AB", terminator, "C" without terminator; little-endian units.
    const std::vector<std::uint8_t> bytes = {'A', 0, 'B', 0, 0, 0, 'C', 0, 0};
    const ByteReader r(bytes.data(), bytes.size());
    std::u16string s;
    std::size_t next = 0;
    ASSERT_TRUE(r.ReadUtf16Z(0, bytes.size(), &s, &next));
    EXPECT_EQ(s, u"AB");
    EXPECT_EQ(next, 6u);
    // The terminator must lie before the limit: a limit that cuts it off fails.
    EXPECT_FALSE(r.ReadUtf16Z(0, 5, &s, &next));
    // "C" followed by a single zero byte: half a unit is no terminator.
    EXPECT_FALSE(r.ReadUtf16Z(6, bytes.size(), &s, &next));
    // A limit past the view is cut to the view.
    EXPECT_FALSE(r.ReadUtf16Z(6, kMax, &s, &next));

    ASSERT_TRUE(r.ReadUtf16(0, 2, &s));
    EXPECT_EQ(s, u"AB");
    EXPECT_FALSE(r.ReadUtf16(6, 2, &s));
    EXPECT_FALSE(r.ReadUtf16(0, kMax / 2 + 1, &s)); // the byte count would wrap
}

TEST(ByteReader, AlignUpNeverPassesTheLimitOrWraps) {
    std::size_t out = 0;
    EXPECT_TRUE(dbpf::AlignUp(5, 4, 8, &out));
    EXPECT_EQ(out, 8u);
    EXPECT_TRUE(dbpf::AlignUp(8, 4, 8, &out));
    EXPECT_EQ(out, 8u);
    EXPECT_FALSE(dbpf::AlignUp(5, 4, 7, &out));
    EXPECT_FALSE(dbpf::AlignUp(9, 4, 8, &out));
    EXPECT_FALSE(dbpf::AlignUp(kMax, 4, kMax, &out)); // rounding up would wrap to 0
}

} // namespace
