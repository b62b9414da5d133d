#include "video/ColourConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace kevra;

namespace {

struct Yuv {
    int w, h;
    std::vector<uint8_t> y, u, v;
    Yuv(int width, int height, uint8_t yv = 128, uint8_t uv = 128, uint8_t vv = 128)
        : w(width), h(height), y(size_t(width) * height, yv),
          u(size_t(width / 2) * (height / 2), uv), v(size_t(width / 2) * (height / 2), vv)
    {
    }
};

// Converts into a buffer pre-filled with a marker, with exact-size heap storage so that
// AddressSanitizer sees any write or read past the picture.
std::vector<uint8_t> run(const Yuv& p, int bits, bool fast, uint8_t fill = 0xAB)
{
    std::vector<uint8_t> out(size_t(p.w) * p.h * (bits / 8), fill);
    // Planes copied into exact-size blocks too (a zero-size plane gets a valid pointer).
    std::vector<uint8_t> u(p.u), v(p.v);
    u.reserve(1);
    v.reserve(1);
    if (fast)
        ColourConverter::convert(p.y.data(), u.data(), v.data(), p.w, p.h, out.data(), bits);
    else
        ColourConverter::convertReference(p.y.data(), u.data(), v.data(), p.w, p.h, out.data(),
                                          bits);
    return out;
}

uint16_t word(const std::vector<uint8_t>& out, size_t index)
{
    uint16_t w;
    std::memcpy(&w, out.data() + 2 * index, 2);
    return w;
}

void expectPixel(const std::vector<uint8_t>& out, int bits, size_t index, int b, int g, int r)
{
    const size_t bpp = bits / 8;
    const uint8_t* p = out.data() + index * bpp;
    EXPECT_EQ(p[0], b) << "pixel " << index;
    EXPECT_EQ(p[1], g) << "pixel " << index;
    EXPECT_EQ(p[2], r) << "pixel " << index;
    if (bits == 32) {
        EXPECT_EQ(p[3], 255) << "pixel " << index;
    }
}

}   // namespace

TEST(ColourConverter, TablesHoldTheExactProducts)
{
    EXPECT_EQ(ColourConverter::lumaTable()[16], 0);
    EXPECT_EQ(ColourConverter::lumaTable()[255], 9535 * 239);
    EXPECT_EQ(ColourConverter::uToBlueTable()[0], -16531 * 128);
    EXPECT_EQ(ColourConverter::uToGreenTable()[255], 3203 * 127);
    EXPECT_EQ(ColourConverter::vToGreenTable()[128], 0);
    EXPECT_EQ(ColourConverter::vToRedTable()[1], 13074 * -127);
}

TEST(ColourConverter, StudioRangeLumaAtNeutralChroma)
{
    for (bool fast : {false, true}) {
        for (int bits : {24, 32}) {
            struct Case {
                uint8_t y;
                int out;
            } cases[] = {{16, 0}, {0, 0}, {235, 254}, {236, 255}, {255, 255}};
            for (auto c : cases) {
                Yuv p(4, 2, c.y);
                auto out = run(p, bits, fast);
                for (size_t i = 0; i < 8; ++i)
                    expectPixel(out, bits, i, c.out, c.out, c.out);
            }
        }
    }
}

TEST(ColourConverter, FullRange565Words)
{
    for (bool fast : {false, true}) {
        EXPECT_EQ(word(run(Yuv(2, 2, 255), 16, fast), 0), 0xFFFF);
        EXPECT_EQ(word(run(Yuv(2, 2, 0), 16, fast), 3), 0x0000);
        EXPECT_EQ(word(run(Yuv(2, 2, 16), 16, fast), 1), 0x1082);   // dark grey, not black
    }
}

TEST(ColourConverter, BlueSaturatesInEveryDepth)
{
    for (bool fast : {false, true}) {
        Yuv p(32, 2, 128, 255, 128);
        for (int bits : {24, 32})
            EXPECT_EQ(run(p, bits, fast)[0], 255);
        EXPECT_EQ(word(run(p, 16, fast), 0) & 0x1F, 0x1F);
    }
}

TEST(ColourConverter, TableDepthsMirrorRowsAndSixteenBitsDoNot)
{
    // 352 x 288: every source row has its own luma value; output row 0 is source row 287.
    Yuv p(352, 288);
    for (int r = 0; r < p.h; ++r)
        std::memset(p.y.data() + size_t(r) * p.w, 16 + (r % 200), p.w);
    for (bool fast : {false, true}) {
        auto out24 = run(p, 24, fast);
        auto one = Yuv(2, 2, uint8_t(16 + (287 % 200)));
        auto expect = run(one, 24, false);
        EXPECT_EQ(0, std::memcmp(out24.data(), expect.data(), 3)) << fast;
        EXPECT_EQ(out24[size_t(287) * 352 * 3],
                  run(Yuv(2, 2, 16), 24, false)[0]);   // last row = source 0

        auto out16 = run(p, 16, fast);
        EXPECT_EQ(word(out16, 0), word(run(Yuv(2, 2, 16), 16, false), 0));   // row 0 = source row 0
    }
}

TEST(ColourConverter, ThreeByThreeWritesOnlyTheTopLeftBlock)
{
    // Source rows 0, 1, 2 have luma 16, 235, 255: output rows 0 and 1 come from rows 2 and 1.
    Yuv p(3, 3);
    const uint8_t rows[3] = {16, 235, 255};
    for (int r = 0; r < 3; ++r)
        std::memset(p.y.data() + r * 3, rows[r], 3);
    for (bool fast : {false, true}) {
        auto out = run(p, 24, fast, 0x5A);
        expectPixel(out, 24, 0, 255, 255, 255);
        expectPixel(out, 24, 1, 255, 255, 255);
        expectPixel(out, 24, 3, 254, 254, 254);
        expectPixel(out, 24, 4, 254, 254, 254);
        for (size_t i : {2u, 5u, 6u, 7u, 8u})
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(out[i * 3 + k], 0x5A) << "pixel " << i;
    }
}

TEST(ColourConverter, OddSixteenBitEdgesTakeTheNearestBlockAndStayInsideThePlanes)
{
    // 5 x 3: chroma planes are 2 x 1; the last column and row must use block column 1 / row 0.
    Yuv p(5, 3, 128);
    p.u = {128, 255};
    p.v = {128, 0};
    for (bool fast : {false, true}) {
        auto out = run(p, 16, fast);
        const uint16_t neutral = word(out, 0);
        const uint16_t coloured = word(out, 2);
        EXPECT_NE(neutral, coloured);
        EXPECT_EQ(word(out, 4), coloured);           // column 4 -> block column 1
        EXPECT_EQ(word(out, 2 * 5 + 4), coloured);   // row 2 -> block row 0
        EXPECT_EQ(word(out, 2 * 5 + 0), neutral);
    }
    // A single row or column has no chroma samples at all: neutral chroma.
    for (bool fast : {false, true}) {
        EXPECT_EQ(word(run(Yuv(1, 1, 255), 16, fast), 0), 0xFFFF);
        EXPECT_EQ(word(run(Yuv(7, 1, 255), 16, fast), 6), 0xFFFF);
    }
}

TEST(ColourConverter, BadArgumentsWriteNothing)
{
    uint8_t px[16] = {};
    uint8_t out[64];
    std::memset(out, 0x33, sizeof out);
    ColourConverter::convert(px, px, px, 0, 2, out, 32);
    ColourConverter::convert(px, px, px, 2, -2, out, 32);
    ColourConverter::convert(nullptr, px, px, 2, 2, out, 32);
    ColourConverter::convertReference(px, px, px, -4, 2, out, 16);
    // Strides shorter than a row of the plane (a hostile or mistaken decoder picture).
    ColourConverter::convert({px, px, px, 3, 2, 2}, 4, 2, out, 32);
    ColourConverter::convert({px, px, px, 4, 1, 2}, 4, 2, out, 32);
    EXPECT_FALSE(ColourConverter::convertUsing("scalar", {px, px, px, 4, 2, -2}, 4, 2, out, 32));
    for (uint8_t b : out)
        EXPECT_EQ(b, 0x33);
}

TEST(ColourConverter, EveryFastPathMatchesTheReferenceOnRandomPictures)
{
    std::mt19937 rng(20261207);
    const int sizes[][2] = {{1, 1},     {2, 2},   {3, 3},    {5, 7},   {15, 2},    {16, 2},
                            {17, 3},    {18, 2},  {19, 3},   {31, 5},  {32, 4},    {33, 9},
                            {34, 6},    {35, 2},  {47, 11},  {64, 2},  {65, 2},    {66, 4},
                            {67, 3},    {96, 2},  {127, 17}, {129, 5}, {176, 144}, {351, 287},
                            {352, 288}, {1921, 3}};
    for (const char* const* name = ColourConverter::pathNames(); *name; ++name) {
        const char* path = *name;
        for (auto& s : sizes) {
            Yuv p(s[0], s[1]);
            for (auto* plane : {&p.y, &p.u, &p.v})
                for (auto& b : *plane)
                    b = uint8_t(rng());
            // Extremes in a corner so saturation in every direction is covered.
            p.y[0] = 0;
            if (!p.u.empty()) {
                p.u[0] = 255;
                p.v[0] = 0;
            }
            for (int bits : {16, 24, 32}) {
                auto expect = run(p, bits, false, 0xC3);
                std::vector<uint8_t> out(expect.size(), 0xC3);
                std::vector<uint8_t> u(p.u), v(p.v);
                u.reserve(1);
                v.reserve(1);
                if (!ColourConverter::convertUsing(path, p.y.data(), u.data(), v.data(), p.w, p.h,
                                                   out.data(), bits))
                    break;   // not available on this processor
                ASSERT_EQ(out, expect) << path << " " << bits << " bits " << p.w << "x" << p.h;
            }
        }
    }
    EXPECT_STRNE(ColourConverter::fastPathName(), "");
}

TEST(ColourConverter, FastMatchesReferenceOverEveryLumaAndChromaValue)
{
    // 512 x 256 covers each (y, u) and (y, v) pair in some block.
    Yuv p(512, 256);
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 512; ++c)
            p.y[size_t(r) * 512 + c] = uint8_t(c / 2 + r);
    for (int r = 0; r < 128; ++r)
        for (int c = 0; c < 256; ++c) {
            p.u[size_t(r) * 256 + c] = uint8_t(c);
            p.v[size_t(r) * 256 + c] = uint8_t(255 - c + 2 * r);
        }
    for (const char* const* name = ColourConverter::pathNames(); *name; ++name) {
        for (int bits : {16, 24, 32}) {
            const auto expect = run(p, bits, false);
            std::vector<uint8_t> out(expect.size());
            if (!ColourConverter::convertUsing(*name, p.y.data(), p.u.data(), p.v.data(), p.w, p.h,
                                               out.data(), bits))
                break;   // not available on this processor
            EXPECT_EQ(out, expect) << *name << " " << bits;
        }
    }
}

TEST(ColourConverter, UsePathForcesAnAvailableImplementationOnly)
{
    const std::string best = ColourConverter::fastPathName();
    EXPECT_TRUE(ColourConverter::hasPath("scalar"));
    EXPECT_FALSE(ColourConverter::hasPath("mmx"));
    EXPECT_FALSE(ColourConverter::usePath("mmx"));
    EXPECT_EQ(ColourConverter::fastPathName(), best);
    ASSERT_TRUE(ColourConverter::usePath("scalar"));
    EXPECT_STREQ(ColourConverter::fastPathName(), "scalar");
    Yuv p(33, 5, 200, 30, 220);
    EXPECT_EQ(run(p, 32, true), run(p, 32, false));
    std::string fastest;
    for (const char* const* name = ColourConverter::pathNames(); *name; ++name)
        if (ColourConverter::hasPath(*name))
            fastest = *name;
    EXPECT_TRUE(ColourConverter::usePath(nullptr));
    EXPECT_EQ(ColourConverter::fastPathName(), fastest);
    ColourConverter::usePath(best.c_str());   // as the environment chose for the other tests
}

TEST(ColourConverter, LargeAlignedThirtyTwoBitPicturesMatchTheReference)
{
    // Outputs of 4 MB and more on a 64-byte boundary take the streaming-store path where the
    // processor has one; a width whose chroma row is not a multiple of 16 adds a vector tail.
    std::mt19937 rng(1080);
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{1936, 1090}}) {
        Yuv p(w, h);
        for (auto* plane : {&p.y, &p.u, &p.v})
            for (auto& b : *plane)
                b = uint8_t(rng());
        const auto expect = run(p, 32, false);
        const size_t bytes = size_t(w) * h * 4;
        std::unique_ptr<uint8_t, decltype(&std::free)> out(
            static_cast<uint8_t*>(std::aligned_alloc(64, bytes)), &std::free);
        ASSERT_NE(out, nullptr);
        for (const char* path : {"avx512", "avx2", "sse2"}) {
            std::memset(out.get(), 0xC3, bytes);
            if (!ColourConverter::convertUsing(path, p.y.data(), p.u.data(), p.v.data(), w, h,
                                               out.get(), 32))
                continue;
            EXPECT_EQ(0, std::memcmp(out.get(), expect.data(), bytes))
                << path << " " << w << "x" << h;
        }
    }
}
