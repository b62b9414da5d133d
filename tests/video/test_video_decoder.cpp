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
    bool guardsIntact() const
    {
        for (const auto* p : {&y, &u, &v})
            for (size_t i = p->size() - kGuard; i < p->size(); ++i)
                if ((*p)[i] != 0xEE)
                    return false;
        return true;
    }
};

// Decodes one frame and copies the picture into planes of its own size (stride = width).
int decode(VideoDecoder& d, const std::vector<uint8_t>& frame, Planes& p, int& outWidth,
           int& outHeight)
{
    VideoDecoder::Planes planes;
    if (!d.decode(frame.data(), int(frame.size()), false, planes))
        return -1;
    if (planes.width > p.w || planes.height > p.h)
        return -2;
    const int w = planes.width, h = planes.height;
    for (int r = 0; r < h; ++r)
        std::memcpy(&p.y[size_t(r) * w], planes.y + size_t(r) * planes.yStride, size_t(w));
    for (int r = 0; r < h / 2; ++r) {
        std::memcpy(&p.u[size_t(r) * (w / 2)], planes.u + size_t(r) * planes.uStride,
                    size_t(w / 2));
        std::memcpy(&p.v[size_t(r) * (w / 2)], planes.v + size_t(r) * planes.vStride,
                    size_t(w / 2));
    }
    outWidth = w;
    outHeight = h;
    return 0;
}

}   // namespace

TEST(VideoDecoder, H264OnePictureOutPerFrameInWithTheCameraColours)
{
    const auto frames = encode(7, 176, 144, 5);
    VideoDecoder d;
    ASSERT_TRUE(d.open(VideoDecoder::Codec::H264, 176, 144));
    uint8_t grey, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(7), grey, cb, cr);
    for (const auto& f : frames) {
        Planes p(176, 144);
        int outWidth = 0, outHeight = 0;
        ASSERT_EQ(decode(d, f, p, outWidth, outHeight), 0)
            << "no picture for a complete frame: latency";
        EXPECT_EQ(outWidth, 176);
        EXPECT_EQ(outHeight, 144);
        // Bottom half is the camera's plain background.
        EXPECT_NEAR(p.y[size_t(120) * 176 + 40], grey, 3);
        EXPECT_NEAR(p.u[size_t(60) * 88 + 20], cb, 3);
        EXPECT_NEAR(p.v[size_t(60) * 88 + 20], cr, 3);
        EXPECT_TRUE(p.guardsIntact());
    }
    d.close();
    Planes p(176, 144);
    int outWidth = 0, outHeight = 0;
    EXPECT_EQ(decode(d, frames[0], p, outWidth, outHeight), -1);   // closed
}

TEST(VideoDecoder, H264LargerStreamThanOpenedIsCroppedNeverOverflows)
{
    const auto frames = encode(2, 352, 288, 3);
    VideoDecoder d;
    ASSERT_TRUE(d.open(VideoDecoder::Codec::H264, 176, 144));
    for (const auto& f : frames) {
        Planes p(176, 144);
        int outWidth = 0, outHeight = 0;
        ASSERT_EQ(decode(d, f, p, outWidth, outHeight), 0);
        EXPECT_EQ(outWidth, 176);
        EXPECT_EQ(outHeight, 144);
        EXPECT_TRUE(p.guardsIntact());
    }
}

TEST(VideoDecoder, H264SmallerStreamReportsItsOwnSize)
{
    const auto frames = encode(1, 160, 128, 2);
    VideoDecoder d;
    ASSERT_TRUE(d.open(VideoDecoder::Codec::H264, 352, 288));
    Planes p(352, 288);
    int outWidth = 0, outHeight = 0;
    ASSERT_EQ(decode(d, frames[0], p, outWidth, outHeight), 0);
    EXPECT_EQ(outWidth, 160);
    EXPECT_EQ(outHeight, 128);
}

TEST(VideoDecoder, H264BadInputGivesNoPicture)
{
    VideoDecoder d;
    const std::pair<int, int> bad[] = {{0, 144}, {176, -2}, {9000, 16}};
    for (auto [w, h] : bad)
        EXPECT_FALSE(d.open(VideoDecoder::Codec::H264, w, h));

    ASSERT_TRUE(d.open(VideoDecoder::Codec::H264, 176, 144));
    Planes p(176, 144);
    int outWidth = 0, outHeight = 0;
    std::vector<uint8_t> garbage(5000);
    std::srand(7);
    for (auto& b : garbage)
        b = uint8_t(std::rand());
    EXPECT_EQ(decode(d, garbage, p, outWidth, outHeight), -1);
    EXPECT_EQ(decode(d, {}, p, outWidth, outHeight), -1);
    VideoDecoder::Planes planes;
    EXPECT_FALSE(d.decode(nullptr, 100, false, planes));
    EXPECT_TRUE(p.guardsIntact());
}

TEST(VideoDecoder, H264ManyDecodersDecodeAtOnceOnTheirOwnThreads)
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
            VideoDecoder d;
            d.open(VideoDecoder::Codec::H264, 176, 144);
            for (const auto& f : frames) {
                Planes p(176, 144);
                int outWidth = 0, outHeight = 0;
                if (decode(d, f, p, outWidth, outHeight) == 0) {
                    ++pictures[t];
                    if (std::abs(int(p.y[size_t(130) * 176 + 10]) - expect) > 3)
                        ++wrongColour[t];
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(pictures[t], 10);
        EXPECT_EQ(wrongColour[t], 0);
    }
}

// MPEG-4 Visual: one picture per frame at once, and a picture larger than the opened size is
// cropped.
TEST(VideoDecoder, Mpeg4OnePictureOutPerFrameCroppedToTheOpenedSize)
{
    const auto frames = encode(5, 352, 288, 6, 3, PatternEncoder::Codec::Mpeg4);
    uint8_t grey, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(5), grey, cb, cr);
    for (auto [w, h] : {std::pair{352, 288}, std::pair{176, 144}}) {
        VideoDecoder d;
        ASSERT_TRUE(d.open(VideoDecoder::Codec::Mpeg4, w, h));
        for (const auto& f : frames) {
            Planes p(w, h);
            int outWidth = 0, outHeight = 0;
            ASSERT_EQ(decode(d, f, p, outWidth, outHeight), 0) << "no picture for a complete frame";
            EXPECT_EQ(outWidth, w);
            EXPECT_EQ(outHeight, h);
            // Bottom rows, right of where the moving box has been: the background.
            EXPECT_NEAR(p.y[size_t(h - 10) * w + w - 20], grey, 4);
            EXPECT_NEAR(p.u[size_t(h / 2 - 5) * (w / 2) + w / 2 - 10], cb, 4);
            EXPECT_TRUE(p.guardsIntact());
        }
    }
}

// A padded input is read in place and gives the very picture a copied input gives, for both
// codecs.
TEST(VideoDecoder, PaddedInputInPlaceGivesTheSamePicture)
{
    for (const auto codec : {PatternEncoder::Codec::H264, PatternEncoder::Codec::Mpeg4}) {
        const auto frames = encode(3, 176, 144, 4, 30, codec);
        const auto which = codec == PatternEncoder::Codec::H264 ? VideoDecoder::Codec::H264
                                                                : VideoDecoder::Codec::Mpeg4;
        VideoDecoder copying, inPlace;
        ASSERT_TRUE(copying.open(which, 160, 130));   // smaller than the stream: both crop
        ASSERT_TRUE(inPlace.open(which, 160, 130));
        for (auto f : frames) {
            Planes p(160, 130);
            int w = 0, h = 0;
            ASSERT_EQ(decode(copying, f, p, w, h), 0);
            const int length = int(f.size());
            f.resize(f.size() + VideoDecoder::kInputPadding, 0);
            VideoDecoder::Planes planes;
            ASSERT_TRUE(inPlace.decode(f.data(), length, true, planes));
            ASSERT_EQ(planes.width, w);
            ASSERT_EQ(planes.height, h);
            ASSERT_GE(planes.yStride, planes.width);
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
    }
}
