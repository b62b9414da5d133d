// Scaling a converted picture into a tile: which source pixels land where, bottom-first rows
// turned upright, every pixel size, and bad sizes write nothing.
#include "video/PictureScaler.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kevra;

TEST(PictureScaler, PicksCentreSamplesAndTurnsBottomFirstRowsUpright)
{
    // 4 x 4 source whose pixel (x, y) in stored order holds 10 * y + x in every byte.
    struct Case {
        int bpp;
        bool bottomUp;
        int tw, th;
        std::vector<int> expected;   // target pixels, top row first
    };
    const Case cases[] = {
        {4, false, 2, 2, {11, 13, 31, 33}},
        {4, true, 2, 2, {21, 23, 1, 3}},   // stored row 3 - y
        {3, false, 4, 1, {20, 21, 22, 23}},
        {2, true, 1, 4, {32, 22, 12, 2}},
        {4, false, 8, 1, {20, 20, 21, 21, 22, 22, 23, 23}},   // enlarging repeats pixels
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> src(size_t(4 * 4 * c.bpp));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                for (int b = 0; b < c.bpp; ++b)
                    src[size_t((y * 4 + x) * c.bpp + b)] = uint8_t(10 * y + x);
        const int stride = c.tw * c.bpp + 3;   // padding the scaler must leave alone
        std::vector<uint8_t> dst(size_t(stride * c.th), 0xEE);
        PictureScaler::scale(src.data(), 4, 4, c.bpp, c.bottomUp, dst.data(), c.tw, c.th, stride);
        std::vector<int> got;
        for (int y = 0; y < c.th; ++y) {
            for (int x = 0; x < c.tw; ++x)
                got.push_back(dst[size_t(y * stride + x * c.bpp)]);
            EXPECT_EQ(dst[size_t(y * stride + c.tw * c.bpp)], 0xEE) << "padding written";
        }
        EXPECT_EQ(got, c.expected) << "bpp " << c.bpp << " bottomUp " << c.bottomUp;
    }
    // Nothing is written for sizes or pixel sizes that do not fit.
    std::vector<uint8_t> src(64, 1), dst(64, 0);
    PictureScaler::scale(src.data(), 4, 4, 4, false, dst.data(), 2, 2, 7);   // stride < row
    PictureScaler::scale(src.data(), 4, 4, 1, false, dst.data(), 2, 2, 8);
    PictureScaler::scale(src.data(), 0, 4, 4, false, dst.data(), 2, 2, 8);
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0));
}
