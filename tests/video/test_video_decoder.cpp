#include "video/VideoDecoder.h"

#include "testkit/PatternEncoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace kevra;

namespace {

// Encoded frames of one simulated camera.
std::vector<std::vector<uint8_t>> encode(int camera, int width, int height, int frames,
                                         int gop = 30,
                                         PatternEncoder::Codec codec = PatternEncoder::Codec::H264)
{
    PatternEncoder enc;
    EXPECT_EQ(enc.open(camera, width, height, 25, 0, gop, codec), 0);
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> f;
        bool key = false;
        EXPECT_EQ(enc.encodeNext(f, key), 0);
        EXPECT_EQ(key, i % gop == 0);
        out.push_back(std::move(f));
    }
    return out;
}

// Planes of exactly the opened size with guard bytes behind each, checked afterwards.
struct Planes {
    static constexpr int kGuard = 64;
    int w, h;
    std::vector<uint8_t> y, u, v;
    Planes(int width, int height)
        : w(width), h(height), y(size_t(width) * height + kGuard, 0xEE),
          u(size_t(width / 2) * (height / 2) + kGuard, 0xEE),
          v(size_t(width / 2) * (height / 2) + kGuard, 0xEE)
    {
    }
    H264DecOutput output() { return H264DecOutput{y.data(), u.data(), v.data(), 0, 0}; }
    bool guardsIntact() const
    {
        for (const auto* p : {&y, &u, &v})
            for (size_t i = p->size() - kGuard; i < p->size(); ++i)
                if ((*p)[i] != 0xEE)
                    return false;
        return true;
    }
};

int decode(int32_t handle, const std::vector<uint8_t>& frame, H264DecOutput& out)
{
    H264DecInput in{frame.data(), int32_t(frame.size()), 1, 1, 0, 0};
    return H264_Dec_Decode(handle, &in, &out, 0);
}

}   // namespace

TEST(VideoDecoder, H264OnePictureOutPerFrameInWithTheCameraColours)
{
    const auto frames = encode(7, 176, 144, 5);
    H264_Dec_Init(0);
    H264DecOpenParam open{176, 144};
    const int32_t handle = H264_Dec_Open(&open);
    ASSERT_NE(handle, 0);
    uint8_t grey, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(7), grey, cb, cr);
    for (const auto& f : frames) {
        Planes p(176, 144);
        H264DecOutput out = p.output();
        ASSERT_EQ(decode(handle, f, out), 0) << "no picture for a complete frame: latency";
        EXPECT_EQ(out.outWidth, 176);
        EXPECT_EQ(out.outHeight, 144);
        // Bottom half is the camera's plain background.
        EXPECT_NEAR(p.y[size_t(120) * 176 + 40], grey, 3);
        EXPECT_NEAR(p.u[size_t(60) * 88 + 20], cb, 3);
        EXPECT_NEAR(p.v[size_t(60) * 88 + 20], cr, 3);
        EXPECT_TRUE(p.guardsIntact());
    }
    EXPECT_EQ(H264_Dec_Close(handle), 0);
    EXPECT_EQ(H264_Dec_Close(handle), -1);   // stale handle
    H264_Dec_DeInit();
}

TEST(VideoDecoder, H264LargerStreamThanOpenedIsCroppedNeverOverflows)
{
    const auto frames = encode(2, 352, 288, 3);
    H264DecOpenParam open{176, 144};
    const int32_t handle = H264_Dec_Open(&open);
    ASSERT_NE(handle, 0);
    for (const auto& f : frames) {
        Planes p(176, 144);
        H264DecOutput out = p.output();
        ASSERT_EQ(decode(handle, f, out), 0);
        EXPECT_EQ(out.outWidth, 176);
        EXPECT_EQ(out.outHeight, 144);
        EXPECT_TRUE(p.guardsIntact());
    }
    H264_Dec_Close(handle);
}

TEST(VideoDecoder, H264SmallerStreamReportsItsOwnSize)
{
    const auto frames = encode(1, 160, 128, 2);
    H264DecOpenParam open{352, 288};
    const int32_t handle = H264_Dec_Open(&open);
    Planes p(352, 288);
    H264DecOutput out = p.output();
    ASSERT_EQ(decode(handle, frames[0], out), 0);
    EXPECT_EQ(out.outWidth, 160);
    EXPECT_EQ(out.outHeight, 128);
    H264_Dec_Close(handle);
}

TEST(VideoDecoder, H264BadInputGivesNoPicture)
{
    H264DecOpenParam bad[] = {{0, 144}, {176, -2}, {9000, 16}};
    for (auto& b : bad)
        EXPECT_EQ(H264_Dec_Open(&b), 0);
    EXPECT_EQ(H264_Dec_Open(nullptr), 0);

    H264DecOpenParam open{176, 144};
    const int32_t handle = H264_Dec_Open(&open);
    Planes p(176, 144);
    H264DecOutput out = p.output();
    std::vector<uint8_t> garbage(5000);
    std::srand(7);
    for (auto& b : garbage)
        b = uint8_t(std::rand());
    EXPECT_EQ(decode(handle, garbage, out), -1);
    EXPECT_EQ(decode(handle, {}, out), -1);
    H264DecInput in{nullptr, 100, 1, 1, 0, 0};
    EXPECT_EQ(H264_Dec_Decode(handle, &in, &out, 0), -1);
    EXPECT_EQ(H264_Dec_Decode(0, &in, &out, 0), -1);
    EXPECT_EQ(H264_Dec_Decode(handle, nullptr, &out, 0), -1);
    EXPECT_TRUE(p.guardsIntact());
    H264_Dec_Close(handle);
}

TEST(VideoDecoder, H264ManyHandlesDecodeAtOnceOnTheirOwnThreads)
{
    const auto a = encode(0, 176, 144, 10);
    const auto b = encode(2, 176, 144, 10);
    uint8_t ya, yb, c1, c2;
    PatternEncoder::toYuv(PatternEncoder::background(0), ya, c1, c2);
    PatternEncoder::toYuv(PatternEncoder::background(2), yb, c1, c2);
    int pictures[4] = {};
    int wrongColour[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const auto& frames = (t % 2) ? b : a;
            const uint8_t expect = (t % 2) ? yb : ya;
            H264DecOpenParam open{176, 144};
            const int32_t handle = H264_Dec_Open(&open);
            for (const auto& f : frames) {
                Planes p(176, 144);
                H264DecOutput out = p.output();
                if (decode(handle, f, out) == 0) {
                    ++pictures[t];
                    if (std::abs(int(p.y[size_t(130) * 176 + 10]) - expect) > 3)
                        ++wrongColour[t];
                }
            }
            H264_Dec_Close(handle);
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(pictures[t], 10);
        EXPECT_EQ(wrongColour[t], 0);
    }
}

// MPEG-4 Visual through its own calls: the same shapes, one picture per frame at once, and a
// picture larger than the opened size is cropped into the caller's planes.
TEST(VideoDecoder, Mpeg4OnePictureOutPerFrameCroppedToTheOpenedSize)
{
    const auto frames = encode(5, 352, 288, 6, 3, PatternEncoder::Codec::Mpeg4);
    uint8_t grey, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(5), grey, cb, cr);
    for (auto [w, h] : {std::pair{352, 288}, std::pair{176, 144}}) {
        Mpeg4_Dec_Init(0);
        VideoDecOpenParam open{w, h};
        const int32_t handle = Mpeg4_Dec_Open(&open);
        ASSERT_NE(handle, 0);
        for (const auto& f : frames) {
            Planes p(w, h);
            VideoDecOutput out = p.output();
            VideoDecInput in{f.data(), int32_t(f.size()), 1, 1, 0, 0};
            ASSERT_EQ(Mpeg4_Dec_Decode(handle, &in, &out, 0), 0)
                << "no picture for a complete frame";
            EXPECT_EQ(out.outWidth, w);
            EXPECT_EQ(out.outHeight, h);
            // Bottom rows, right of where the moving box has been: the background.
            EXPECT_NEAR(p.y[size_t(h - 10) * w + w - 20], grey, 4);
            EXPECT_NEAR(p.u[size_t(h / 2 - 5) * (w / 2) + w / 2 - 10], cb, 4);
            EXPECT_TRUE(p.guardsIntact());
        }
        EXPECT_EQ(Mpeg4_Dec_Close(handle), 0);
        EXPECT_EQ(Mpeg4_Dec_Close(handle), -1);
        Mpeg4_Dec_DeInit();
    }
}

// The in-place call hands out the very picture the copying call writes (cropped the same way),
// for both codecs, with the input read in place when it carries the padding.
TEST(VideoDecoder, DecodePlanesGivesTheCopiedPictureWithItsStrides)
{
    using Decode = int (*)(int32_t, const VideoDecInput*, VideoDecOutput*, int);
    using DecodePlanes = int (*)(int32_t, const VideoDecInput*, VideoDecPlanes*, int);
    using Open = int32_t (*)(const VideoDecOpenParam*);
    struct Case {
        PatternEncoder::Codec codec;
        Open open;
        Decode decode;
        DecodePlanes decodePlanes;
        int (*close)(int32_t);
    };
    const Case cases[] = {{PatternEncoder::Codec::H264, H264_Dec_Open, H264_Dec_Decode,
                           H264_Dec_DecodePlanes, H264_Dec_Close},
                          {PatternEncoder::Codec::Mpeg4, Mpeg4_Dec_Open, Mpeg4_Dec_Decode,
                           Mpeg4_Dec_DecodePlanes, Mpeg4_Dec_Close}};
    for (const Case& c : cases)
        for (const bool padded : {false, true}) {
            const auto frames = encode(3, 176, 144, 4, 30, c.codec);
            VideoDecOpenParam open{160, 130};   // smaller than the stream: both crop
            const int32_t copying = c.open(&open), inPlace = c.open(&open);
            ASSERT_NE(copying, 0);
            ASSERT_NE(inPlace, 0);
            for (auto f : frames) {
                Planes p(160, 130);
                VideoDecOutput out = p.output();
                VideoDecPlanes planes{};
                const int32_t length = int32_t(f.size());
                f.resize(f.size() + kVideoDecInputPadding, 0);
                VideoDecInput in{f.data(), length, 1, 1, 0, 0};
                ASSERT_EQ(c.decode(copying, &in, &out, 0), 0);
                ASSERT_EQ(c.decodePlanes(inPlace, &in, &planes, padded ? kVideoDecPaddedInput : 0),
                          0);
                ASSERT_EQ(planes.outWidth, out.outWidth);
                ASSERT_EQ(planes.outHeight, out.outHeight);
                ASSERT_GE(planes.yStride, planes.outWidth);
                const int w = out.outWidth, h = out.outHeight;
                for (int r = 0; r < h; ++r)
                    ASSERT_EQ(0, memcmp(planes.y + size_t(r) * planes.yStride,
                                        p.y.data() + size_t(r) * w, size_t(w)));
                for (int r = 0; r < h / 2; ++r) {
                    ASSERT_EQ(0, memcmp(planes.u + size_t(r) * planes.uStride,
                                        p.u.data() + size_t(r) * (w / 2), size_t(w / 2)));
                    ASSERT_EQ(0, memcmp(planes.v + size_t(r) * planes.vStride,
                                        p.v.data() + size_t(r) * (w / 2), size_t(w / 2)));
                }
            }
            c.close(copying);
            c.close(inPlace);
        }
}
