// The simulated camera picture and its H.264 encoding: what the end-to-end tests and the
// viewer's colour checks rely on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "testkit/PatternEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace kevra {
namespace {

std::vector<int> nalTypes(const std::vector<uint8_t>& au)
{
    std::vector<int> types;
    for (size_t i = 0; i + 3 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            types.push_back(au[i + 3] & 0x1F);
            i += 2;
        }
    return types;
}

bool has(const std::vector<int>& v, int x)
{
    for (int y : v)
        if (y == x)
            return true;
    return false;
}

// Decodes access units with libavcodec; keeps the last picture's planes.
struct Decoder {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVFrame* last = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    int pictures = 0;
    Decoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx = avcodec_alloc_context3(codec);
        avcodec_open2(ctx, codec, nullptr);
    }
    ~Decoder()
    {
        avcodec_free_context(&ctx);
        av_frame_free(&frame);
        av_frame_free(&last);
        av_packet_free(&pkt);
    }
    void decode(std::vector<uint8_t>& au)
    {
        pkt->data = au.data();
        pkt->size = int(au.size());
        avcodec_send_packet(ctx, pkt);
        while (avcodec_receive_frame(ctx, frame) == 0) {
            ++pictures;
            av_frame_unref(last);
            av_frame_move_ref(last, frame);
        }
    }
};

TEST(PatternEncoder, KeyFramesCarryParameterSetsAndFollowTheGop)
{
    PatternEncoder enc;
    ASSERT_EQ(enc.open(0, 176, 144, 25, 200000, 10), 0);
    std::vector<uint8_t> au;
    bool key = false;
    for (int n = 0; n < 25; ++n) {
        ASSERT_EQ(enc.encodeNext(au, key), 0) << n;
        auto types = nalTypes(au);
        ASSERT_FALSE(types.empty());
        bool expectKey = n % 10 == 0;
        EXPECT_EQ(key, expectKey) << "frame " << n;
        EXPECT_EQ(has(types, 7) && has(types, 8) && has(types, 5), expectKey) << "frame " << n;
        if (!expectKey) {
            EXPECT_TRUE(has(types, 1)) << "frame " << n;
        }
        if (n == 0) {
            // Baseline profile: profile_idc 66 right after the SPS NAL header.
            for (size_t i = 0; i + 4 < au.size(); ++i) {
                if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1 && (au[i + 3] & 0x1F) == 7) {
                    EXPECT_EQ(au[i + 4], 66);
                    break;
                }
            }
        }
    }
    // A viewer joining asks for a key frame; it comes with the next frame.
    enc.requestKeyFrame();
    ASSERT_EQ(enc.encodeNext(au, key), 0);
    EXPECT_TRUE(key);
    EXPECT_TRUE(has(nalTypes(au), 7));
    EXPECT_EQ(enc.framesEncoded(), 26);
}

TEST(PatternEncoder, RefusesSizesTheEncoderCannotTake)
{
    PatternEncoder enc;
    EXPECT_EQ(enc.open(0, 175, 144, 25, 0, 10), -1);
    EXPECT_EQ(enc.open(0, 8, 8, 25, 0, 10), -1);
    EXPECT_EQ(enc.open(0, 176, 144, 0, 0, 10), -1);
    EXPECT_EQ(enc.open(0, 176, 144, 25, 0, 0), -1);
    std::vector<uint8_t> au;
    bool key;
    EXPECT_EQ(enc.encodeNext(au, key), -1);
}

TEST(PatternEncoder, LowerHalfIsTheCameraBackgroundAndTextChangesPerFrame)
{
    const int w = 64, h = 48;
    std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4), y2(w * h);
    for (int cam = 0; cam < 9; ++cam) {
        uint8_t Y, U, V;
        PatternEncoder::toYuv(PatternEncoder::background(cam), Y, U, V);
        for (int frame : {0, 7, 1000}) {
            PatternEncoder::draw(cam, frame, w, h, y.data(), w, u.data(), w / 2, v.data(), w / 2,
                                 frame == 7);   // noise stays out of the lower half
            for (int row = h / 2; row < h; ++row)
                for (int col = 0; col < w; ++col)
                    ASSERT_EQ(y[row * w + col], Y) << cam << " " << row << " " << col;
            for (int row = h / 4; row < h / 2; ++row)
                for (int col = 0; col < w / 2; ++col) {
                    ASSERT_EQ(u[row * w / 2 + col], U);
                    ASSERT_EQ(v[row * w / 2 + col], V);
                }
        }
    }
    PatternEncoder::draw(2, 1, w, h, y.data(), w, u.data(), w / 2, v.data(), w / 2);
    PatternEncoder::draw(2, 2, w, h, y2.data(), w, u.data(), w / 2, v.data(), w / 2);
    bool differs = false;
    for (int i = 0; i < w * h / 4; ++i)
        differs |= y[i] != y2[i];
    EXPECT_TRUE(differs);
    // Noise fills the top right; the same frame drawn twice is the same picture.
    PatternEncoder::draw(2, 5, w, h, y.data(), w, u.data(), w / 2, v.data(), w / 2, true);
    PatternEncoder::draw(2, 5, w, h, y2.data(), w, u.data(), w / 2, v.data(), w / 2, true);
    EXPECT_EQ(y, y2);
    std::set<int> levels;
    for (int row = 0; row < h / 4; ++row)
        for (int col = w / 2; col < w; ++col)
            levels.insert(y[row * w + col]);
    EXPECT_GT(levels.size(), 50u);
    // A pan step moves the upper half and leaves the lower half alone.
    PatternEncoder::draw(2, 5, w, h, y.data(), w, u.data(), w / 2, v.data(), w / 2);
    PatternEncoder::draw(2, 5, w, h, y2.data(), w, u.data(), w / 2, v.data(), w / 2, false, 1, 0);
    EXPECT_FALSE(std::equal(y.begin(), y.begin() + w * h / 2, y2.begin()));
    EXPECT_TRUE(std::equal(y.begin() + w * h / 2, y.end(), y2.begin() + w * h / 2));
}

TEST(PatternEncoder, CameraColoursAreFarApart)
{
    for (int a = 0; a < PatternEncoder::kColourCount; ++a)
        for (int b = a + 1; b < PatternEncoder::kColourCount; ++b) {
            PatternColour x = PatternEncoder::background(a), y = PatternEncoder::background(b);
            int d = std::abs(x.r - y.r) + std::abs(x.g - y.g) + std::abs(x.b - y.b);
            EXPECT_GT(d, 90) << a << " vs " << b;
        }
    EXPECT_EQ(PatternEncoder::background(8).r, PatternEncoder::background(0).r);
    EXPECT_EQ(PatternEncoder::background(-1).g, PatternEncoder::background(7).g);
}

TEST(PatternEncoder, DecodedPictureKeepsTheBackgroundColour)
{
    PatternEncoder enc;
    ASSERT_EQ(enc.open(3, 320, 240, 25, 300000, 25), 0);
    Decoder dec;
    std::vector<uint8_t> au;
    bool key;
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(enc.encodeNext(au, key), 0);
        dec.decode(au);
    }
    ASSERT_GE(dec.pictures, 4);   // zero latency: a picture for (nearly) every frame in
    EXPECT_EQ(dec.last->width, 320);
    EXPECT_EQ(dec.last->height, 240);
    uint8_t Y, U, V;
    PatternEncoder::toYuv(PatternEncoder::background(3), Y, U, V);
    int py = dec.last->data[0][180 * dec.last->linesize[0] + 160];
    int pu = dec.last->data[1][90 * dec.last->linesize[1] + 80];
    int pv = dec.last->data[2][90 * dec.last->linesize[2] + 80];
    EXPECT_NEAR(py, Y, 6);
    EXPECT_NEAR(pu, U, 6);
    EXPECT_NEAR(pv, V, 6);
}

// Scales a decoded picture's luma to w x h and writes it as a PGM file.
void writeScaledLuma(const AVFrame* f, int w, int h, const std::string& path)
{
    SwsContext* sws = sws_getContext(f->width, f->height, AV_PIX_FMT_GRAY8, w, h, AV_PIX_FMT_GRAY8,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    std::vector<uint8_t> out(size_t(w) * h);
    uint8_t* dst[1] = {out.data()};
    int dstStride[1] = {w};
    sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride);
    sws_freeContext(sws);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P5\n%d %d\n255\n", w, h);
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
}

std::string run(const std::string& command)
{
    std::string text;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            text += buf;
        pclose(p);
    }
    return text;
}

// The frame code goes through the encoder at the bitrates the recorder uses and is read back by
// the screenshot reader from the picture at its own size and shrunk to a small grid tile.
TEST(PatternEncoder, FrameCodeSurvivesEncodingAndScaling)
{
    struct Case {
        int camera, width, height, bitrate, tileW, tileH;
    } cases[] = {{5, 352, 288, 512000, 150, 112}, {11, 1920, 1080, 2000000, 160, 90}};
    const std::string dir = std::filesystem::temp_directory_path().string();
    for (const Case& c : cases) {
        PatternEncoder enc;
        ASSERT_EQ(enc.open(c.camera, c.width, c.height, 25, c.bitrate, 25), 0);
        enc.setCode(true);
        Decoder dec;
        std::vector<uint8_t> au;
        bool key;
        for (int n = 0; n < 30; ++n) {   // past the first key frame: a predicted picture
            ASSERT_EQ(enc.encodeNext(au, key), 0);
            dec.decode(au);
        }
        ASSERT_GE(dec.pictures, 29);
        const int64_t shown = dec.pictures - 1;
        for (auto [w, h] : {std::pair{c.width, c.height}, std::pair{c.tileW, c.tileH}}) {
            const std::string path = dir + "/kevra-code-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(w) + ".pgm";
            writeScaledLuma(dec.last, w, h, path);
            std::string out = run("python3 " KEVRA_SOURCE_DIR "/scripts/read-counter.py " + path);
            std::filesystem::remove(path);
            char expect[64];
            std::snprintf(expect, sizeof expect, " %d %lld ", c.camera & 15, (long long)shown);
            EXPECT_NE(out.find(expect), std::string::npos)
                << c.width << "x" << c.height << " at " << w << "x" << h << ": '" << out << "'";
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
    }
}

}   // namespace
}   // namespace kevra
