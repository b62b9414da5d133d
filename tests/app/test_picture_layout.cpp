#include "app/PictureLayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kevra;

TEST(PictureLayout, TurnedPictureOnPortraitFullScreen)
{
    ASSERT_TRUE(PictureLayout::wantsTurn(true, 240, 320, 352, 288));
    auto p = PictureLayout::place(true, 352, 288, 240, 320);
    EXPECT_TRUE(p.turned);
    EXPECT_EQ(p.surfaceWidth, 288);
    EXPECT_EQ(p.surfaceHeight, 352);
    EXPECT_EQ(p.drawWidth, 240);
    EXPECT_EQ(p.drawHeight, 293);   // 240 * 352 / 288, truncated
    EXPECT_EQ(p.drawX, 0);
    EXPECT_EQ(p.drawY, 13);
}

TEST(PictureLayout, WindowedPictureIsPillarboxed)
{
    EXPECT_FALSE(PictureLayout::wantsTurn(false, 240, 150, 352, 288));
    auto p = PictureLayout::place(false, 352, 288, 240, 150);
    EXPECT_FALSE(p.turned);
    EXPECT_EQ(p.surfaceWidth, 352);
    EXPECT_EQ(p.drawWidth, 183);   // 352 * 150 / 288, truncated
    EXPECT_EQ(p.drawHeight, 150);
    EXPECT_EQ(p.drawX, 28);
    EXPECT_EQ(p.drawY, 0);
}

TEST(PictureLayout, FitTiesFillTheWidthAndWideAreasCentreHorizontally)
{
    PictureLayout::Placement p;
    PictureLayout::fit(320, 240, 640, 480, p);   // same aspect: tie fills the width
    EXPECT_EQ(p.drawX, 0);
    EXPECT_EQ(p.drawY, 0);
    EXPECT_EQ(p.drawWidth, 640);
    EXPECT_EQ(p.drawHeight, 480);
    PictureLayout::fit(100, 100, 300, 100, p);
    EXPECT_EQ(p.drawWidth, 100);
    EXPECT_EQ(p.drawX, 100);
    // Landscape full screen does not turn a landscape picture; a square area turns nothing wider.
    EXPECT_FALSE(PictureLayout::wantsTurn(true, 320, 240, 352, 288));
    EXPECT_FALSE(PictureLayout::wantsTurn(true, 352, 288, 352, 288));
}

// The shape drawn follows the pixel aspect the stream declares: 720 x 576 with 16:15 pixels is
// 4:3, without one (or with an absurd one) 5:4; a turned picture keeps the shape turned.
TEST(PictureLayout, DeclaredPixelAspectShapesThePicture)
{
    struct Case {
        bool turn;
        PictureLayout::PixelAspect aspect;
        int areaW, areaH, drawW, drawH;
    };
    const Case cases[] = {
        {false, {16, 15}, 640, 480, 640, 480},   {false, {0, 0}, 640, 480, 600, 480},
        {false, {1, 1}, 640, 480, 600, 480},     {false, {1000, 1}, 640, 480, 600, 480},
        {false, {-16, 15}, 640, 480, 600, 480},  {true, {16, 15}, 480, 640, 480, 640},
        {false, {64, 45}, 1280, 720, 1280, 720},
    };
    for (const Case& c : cases) {
        const auto p = PictureLayout::place(c.turn, 720, 576, c.areaW, c.areaH, c.aspect);
        EXPECT_EQ(p.surfaceWidth, c.turn ? 576 : 720);   // the pixels are not resized
        EXPECT_EQ(p.drawWidth, c.drawW) << c.aspect.num << ":" << c.aspect.den;
        EXPECT_EQ(p.drawHeight, c.drawH) << c.aspect.num << ":" << c.aspect.den;
    }
    // 4:3 as shown is not narrower than a 5:4 portrait area's turn test would make 720x576.
    EXPECT_FALSE(PictureLayout::wantsTurn(true, 800, 600, 720, 576, {16, 15}));
    EXPECT_TRUE(PictureLayout::wantsTurn(true, 780, 600, 720, 576, {16, 15}));
    EXPECT_FALSE(PictureLayout::wantsTurn(true, 780, 600, 720, 576));
}

TEST(PictureLayout, HostileSizesDoNotOverflowOrDivideByZero)
{
    auto p = PictureLayout::place(false, 0, 288, 240, 320);
    EXPECT_EQ(p.drawWidth, 0);
    p = PictureLayout::place(false, 65535, 1, 1920, 1080);
    EXPECT_EQ(p.drawWidth, 1920);
    EXPECT_EQ(p.drawHeight, 0);
    EXPECT_TRUE(PictureLayout::wantsTurn(true, 1080, 1920, 2000000000, 2000000000));
    // 2^30 pixels or more never get a turning buffer.
    EXPECT_FALSE(PictureLayout::turnBufferAllowed(32768, 32768));
    EXPECT_TRUE(PictureLayout::turnBufferAllowed(32768, 32767));
    EXPECT_FALSE(PictureLayout::turnBufferAllowed(0, 10));
}

namespace {
// Picture pixel (row r, column c) as a small distinct value.
uint32_t pixel(int r, int c)
{
    return uint32_t(r * 16 + c + 1);
}

// Reference clockwise quarter turn of a w x h picture, top row first: output row i, column j
// shows picture row h-1-j, column i.
std::vector<uint32_t> referenceTurn(int w, int h)
{
    std::vector<uint32_t> out(size_t(w) * h);
    for (int i = 0; i < w; ++i)
        for (int j = 0; j < h; ++j)
            out[size_t(i) * h + j] = pixel(h - 1 - j, i);
    return out;
}

// Stores the picture the way the converters do: bytes per pixel, 24/32-bit bottom row first.
std::vector<uint8_t> store(int w, int h, int bpp)
{
    int bytes = bpp / 8;
    std::vector<uint8_t> buf(size_t(w) * h * bytes);
    for (int r = 0; r < h; ++r) {
        int row = bpp == 16 ? r : h - 1 - r;
        for (int c = 0; c < w; ++c) {
            uint32_t v = pixel(r, c);
            std::memcpy(&buf[(size_t(row) * w + c) * bytes], &v, bytes);
        }
    }
    return buf;
}
}   // namespace

TEST(PictureLayout, EveryDepthTurnsToTheSameUprightQuarterTurn)
{
    for (int bpp : {16, 24, 32}) {
        for (auto [w, h] : {std::pair{5, 3}, std::pair{4, 4}, std::pair{1, 7}}) {
            auto in = store(w, h, bpp);
            std::vector<uint8_t> out(size_t(w) * h * 4, 0xEE);
            PictureLayout::turn(in.data(), w, h, bpp, out.data());
            auto ref = referenceTurn(w, h);
            int bytes = bpp / 8;
            for (size_t k = 0; k < ref.size(); ++k) {
                uint32_t v = 0;
                std::memcpy(&v, &out[k * bytes], bytes);
                ASSERT_EQ(v, ref[k]) << bpp << " bpp " << w << "x" << h << " at " << k;
            }
        }
    }
}
