#include "video/DecoderWorker.h"

#include "testkit/KxavMuxer.h"
#include "testkit/PatternEncoder.h"
#include "video/ColourConverter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace kevra;

namespace {

constexpr int kMpeg4 = 1; // codec byte of a stream the worker cannot decode
constexpr int kH264 = 8;  // codec byte 8 -> codec 4

// KXAV packets of frames that are never decoded (MPEG-4): enough to exercise the queues.
struct OpaqueStream {
    KxavMuxer mux;
    std::vector<uint8_t> payload = std::vector<uint8_t>(300, 0x42);
    std::vector<uint8_t> key(int fps = 25, int w = 352, int h = 288)
    {
        return mux.videoFrame(payload, true, kMpeg4, w, h, fps, 0);
    }
    std::vector<uint8_t> dependent() { return mux.videoFrame(payload, false, kMpeg4, 352, 288, 25, 0); }
};

// A real H.264 camera stream in KXAV packets, one packet per frame.
struct CameraStream {
    PatternEncoder enc;
    KxavMuxer mux;
    int w, h, fps;
    CameraStream(int camera, int width, int height, int gop = 50, int rate = 25) : w(width), h(height), fps(rate)
    {
        EXPECT_EQ(enc.open(camera, width, height, rate, 0, gop), 0);
    }
    std::vector<uint8_t> next()
    {
        std::vector<uint8_t> f;
        bool key = false;
        EXPECT_EQ(enc.encodeNext(f, key), 0);
        return mux.videoFrame(f, key, kH264, w, h, fps, KxavMuxer::packTime(2026, 12, 7, 10, 0, 0));
    }
};

void push(DecoderWorker& w, const std::vector<uint8_t>& bytes) { w.push(bytes.data(), int(bytes.size())); }

// Takes pictures like the frame timer does, driving the worker by hand until one is ready.
const uint8_t* stepUntilPicture(DecoderWorker& w, int& width, int& height, int maxSteps = 20)
{
    int buffering = 0;
    for (int i = 0; i < maxSteps; ++i) {
        w.runIntake();
        w.runStep();
        if (const uint8_t* p = w.pictureQuery(buffering, width, height))
            return p;
    }
    return nullptr;
}

// Colour of output pixel (row, col) of a 32-bit picture.
void bgr(const uint8_t* pic, int width, int row, int col, int& b, int& g, int& r)
{
    const uint8_t* p = pic + (size_t(row) * width + col) * 4;
    b = p[0];
    g = p[1];
    r = p[2];
}

} // namespace

TEST(DecoderWorker, InputQueueKeepsExactlyOneMebibyte)
{
    DecoderWorker w;
    w.startManual();
    std::vector<uint8_t> big(1'048'000, 0), small(600, 0), fit(576, 0);
    push(w, big);
    push(w, small); // would reach 1,048,600
    EXPECT_EQ(w.bytesQueued(), 1'048'000);
    push(w, fit);   // reaches exactly 1,048,576
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    push(w, std::vector<uint8_t>(1, 0));
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    w.push(nullptr, 10);
    w.push(big.data(), -5);
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    EXPECT_EQ(w.droppedPushes(), 2); // the 600-byte and the 1-byte chunk; empty pushes are not input
    w.runIntake();
    EXPECT_EQ(w.bytesQueued(), 0);
}

TEST(DecoderWorker, WaitsForAKeyFrameWithAFrameRate)
{
    DecoderWorker w;
    w.startManual();
    OpaqueStream s;
    int buffering = 0, width = 0, height = 0;
    push(w, s.dependent());
    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 0);
    EXPECT_EQ(w.pictureQuery(buffering, width, height), nullptr);
    EXPECT_EQ(buffering, 1);

    push(w, s.key(0)); // no frame rate: not a place to start
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 0);
    EXPECT_EQ(w.frameRate(), 0);

    push(w, s.key(25));
    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.frameRate(), 25);
    EXPECT_EQ(w.framesQueued(), 2);
}

TEST(DecoderWorker, DropsPastTwoSecondsOfFramesAndRecoversAtTwo)
{
    DecoderWorker w;
    w.startManual();
    OpaqueStream s;
    push(w, s.key(25));
    for (int i = 0; i < 49; ++i)
        push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 50);
    EXPECT_FALSE(w.dropping()); // 50 frames = exactly two seconds at 25 fps

    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 51);
    EXPECT_TRUE(w.dropping());
    const int64_t droppedBefore = w.droppedPushes();
    push(w, s.dependent()); // discarded while dropping
    EXPECT_EQ(w.bytesQueued(), 0);
    EXPECT_EQ(w.droppedPushes(), droppedBefore + 1);

    for (int i = 0; i < 48; ++i)
        w.runStep();
    EXPECT_EQ(w.framesQueued(), 3);
    EXPECT_TRUE(w.dropping());
    w.runStep();
    EXPECT_EQ(w.framesQueued(), 2);
    EXPECT_FALSE(w.dropping());

    // The first chunk after the drop carries the gap: dependent frames wait for a key frame.
    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 2);
    EXPECT_EQ(w.frameRate(), 0);
    push(w, s.key(25));
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 3);
    EXPECT_EQ(w.frameRate(), 25);
}

TEST(DecoderWorker, BufferingAnswersFollowTheFrameList)
{
    DecoderWorker w;
    w.startManual();
    OpaqueStream s;
    int buffering = 0, width = 0, height = 0;

    EXPECT_EQ(w.pictureQuery(buffering, width, height), nullptr);
    EXPECT_EQ(buffering, 1); // no key frame yet

    push(w, s.key(10));
    w.runIntake();
    buffering = 0;
    w.pictureQuery(buffering, width, height);
    EXPECT_EQ(buffering, 0); // frames waiting: the caller's answer stands
    buffering = 1;
    w.pictureQuery(buffering, width, height);
    EXPECT_EQ(buffering, 1);

    w.runStep(); // the list runs empty: buffering until one second of frames is queued
    buffering = 0;
    w.pictureQuery(buffering, width, height);
    EXPECT_EQ(buffering, 1);
    for (int i = 0; i < 9; ++i)
        push(w, s.dependent());
    w.runIntake();
    buffering = 0;
    w.pictureQuery(buffering, width, height);
    EXPECT_EQ(buffering, 1);
    push(w, s.dependent());
    w.runIntake();
    w.pictureQuery(buffering, width, height);
    EXPECT_EQ(buffering, 0);
    buffering = 1;
    w.pictureQuery(buffering, width, height); // mark cleared: answer left as it was
    EXPECT_EQ(buffering, 1);
}

TEST(DecoderWorker, DecodesConvertsAndHandsOverOnePictureAtATime)
{
    DecoderWorker w;
    w.setDisplayDepth(32);
    w.startManual();
    CameraStream cam(7, 176, 144);
    for (int i = 0; i < 4; ++i)
        push(w, cam.next());
    int width = 0, height = 0;
    const uint8_t* pic = stepUntilPicture(w, width, height);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(width, 176);
    EXPECT_EQ(height, 144);
    EXPECT_EQ(w.convertedCount(), 1);
    // Output row 10 is source row 133, in the plain grey half of the pattern.
    int b, g, r;
    bgr(pic, width, 10, 20, b, g, r);
    EXPECT_NEAR(r, 120, 6);
    EXPECT_NEAR(g, 120, 6);
    EXPECT_NEAR(b, 120, 6);
    EXPECT_EQ(pic[(size_t(10) * width + 20) * 4 + 3], 255);

    // Until the picture has been drawn, at most one more is decoded and none converted.
    for (int i = 0; i < 5; ++i) {
        w.runIntake();
        w.runStep();
    }
    EXPECT_EQ(w.convertedCount(), 1);
    EXPECT_EQ(w.framesQueued(), 2);
    w.lowerConvertedCount();
    w.lowerConvertedCount(); // never below 0
    EXPECT_EQ(w.convertedCount(), 0);
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr);
}

TEST(DecoderWorker, SixteenBitDisplayGetsItsOwnFormula)
{
    DecoderWorker w;
    w.setDisplayDepth(16);
    w.startManual();
    CameraStream cam(2, 176, 144);
    push(w, cam.next());
    int width = 0, height = 0;
    const uint8_t* pic = stepUntilPicture(w, width, height);
    ASSERT_NE(pic, nullptr);
    // Row 130 (bottom half) is the camera's plain background; the 16-bit formula reads its
    // luma as full range, so compare with the background's own YUV through that formula.
    uint8_t yy, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(2), yy, cb, cr);
    const uint8_t ys[4] = {yy, yy, yy, yy};
    uint16_t block[4];
    ColourConverter::convertReference(ys, &cb, &cr, 2, 2, reinterpret_cast<uint8_t*>(block), 16);
    const uint16_t expect = block[0];
    uint16_t px;
    std::memcpy(&px, pic + (size_t(130) * width + 10) * 2, 2);
    EXPECT_NEAR(px >> 11, expect >> 11, 1);
    EXPECT_NEAR((px >> 5) & 0x3F, (expect >> 5) & 0x3F, 2);
    EXPECT_NEAR(px & 0x1F, expect & 0x1F, 1);
}

TEST(DecoderWorker, KeyFrameOfANewSizeReopensTheDecoderWithoutLosingTheStream)
{
    DecoderWorker w;
    w.startManual();
    CameraStream small(1, 176, 144), large(1, 352, 288, 50, 30), again(1, 176, 144);
    int width = 0, height = 0;
    push(w, small.next());
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr);
    EXPECT_EQ(width, 176);
    EXPECT_EQ(w.decoderOpens(), 1);
    w.lowerConvertedCount();

    push(w, small.next()); // dependent frame, same decoder
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr);
    w.lowerConvertedCount();
    EXPECT_EQ(w.decoderOpens(), 1);

    push(w, large.next()); // key frame 352 x 288
    push(w, large.next());
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 288);
    EXPECT_EQ(w.decoderOpens(), 2);
    EXPECT_EQ(w.frameRate(), 30); // no gap: the new stream's rate at once
    w.lowerConvertedCount();
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr); // the dependent frame after it
    w.lowerConvertedCount();
    EXPECT_FALSE(w.dropping());

    push(w, again.next()); // back to the small size
    ASSERT_NE(stepUntilPicture(w, width, height), nullptr);
    EXPECT_EQ(width, 176);
    EXPECT_EQ(w.decoderOpens(), 3);
}

TEST(DecoderWorker, UndecodableKeyFrameBytesGiveNoPicture)
{
    DecoderWorker w;
    w.startManual();
    KxavMuxer mux;
    std::vector<uint8_t> junk(5000);
    std::srand(11);
    for (auto& b : junk)
        b = uint8_t(std::rand());
    push(w, mux.videoFrame(junk, true, kH264, 2040, 2040, 25, 0));
    push(w, mux.videoFrame(junk, false, kH264, 2040, 2040, 25, 0));
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 2);
    EXPECT_EQ(w.runStep(), DecoderWorker::kStepDone);
    EXPECT_EQ(w.runStep(), DecoderWorker::kStepDone);
    EXPECT_EQ(w.runStep(), DecoderWorker::kStepIdle);
    int buffering = 0, width = 0, height = 0;
    EXPECT_EQ(w.pictureQuery(buffering, width, height), nullptr);
    EXPECT_EQ(w.decoderOpens(), 1);
}

TEST(DecoderWorker, ThreadedStreamReachesTheFrameTimerAndStopsCleanly)
{
    DecoderWorker w;
    w.setDisplayDepth(24);
    w.start();
    EXPECT_TRUE(w.running());
    CameraStream cam(3, 176, 144, 10);
    int shown = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::thread network([&] {
        for (int i = 0; i < 30; ++i) {
            push(w, cam.next());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    while (shown < 20 && std::chrono::steady_clock::now() < deadline) {
        int buffering = 0, width = 0, height = 0;
        if (const uint8_t* pic = w.pictureQuery(buffering, width, height)) {
            EXPECT_EQ(width, 176);
            EXPECT_EQ(height, 144);
            EXPECT_NEAR(pic[(size_t(5) * width + 5) * 3 + 2], 200, 8); // yellow background red
            ++shown;
            w.lowerConvertedCount();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    network.join();
    EXPECT_GE(shown, 20);
    w.stop();
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.frameRate(), 0);
    EXPECT_EQ(w.framesQueued(), 0);

    // A new stream starts afresh with the probe.
    w.start();
    CameraStream next(3, 176, 144);
    push(w, next.next());
    bool got = false;
    const auto deadline2 = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!got && std::chrono::steady_clock::now() < deadline2) {
        int buffering = 0, width = 0, height = 0;
        got = w.pictureQuery(buffering, width, height) != nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(got);
    w.stop();
}
