#include "video/DecoderWorker.h"

#include "common/Clock.h"

#include "testkit/KxavMuxer.h"
#include "testkit/Mpeg4EsWriter.h"
#include "testkit/PacketMuxer.h"
#include "testkit/PatternEncoder.h"
#include "testkit/ProgramStreamMuxer.h"
#include "video/CodecLog.h"
#include "video/ColourConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

using namespace kevra;

namespace {

constexpr int kMpeg4 = 1;   // KXAV codec byte 1 -> codec 1
constexpr int kH264 = 8;    // codec byte 8 -> codec 4

// KXAV packets of frames that never make a picture (filler bytes): enough to exercise the queues.
struct OpaqueStream {
    KxavMuxer mux;
    std::vector<uint8_t> payload = std::vector<uint8_t>(300, 0x42);
    std::vector<uint8_t> key(int fps = 25, int w = 352, int h = 288)
    {
        return mux.videoFrame(payload, true, kMpeg4, w, h, fps, 0);
    }
    std::vector<uint8_t> dependent()
    {
        return mux.videoFrame(payload, false, kMpeg4, 352, 288, 25, 0);
    }
};

// A real camera stream (H.264, or MPEG-4 Visual with mpeg4 set) in KXAV packets, one per frame.
struct CameraStream {
    PatternEncoder enc;
    KxavMuxer mux;
    int w, h, fps;
    bool mpeg4;
    CameraStream(int camera, int width, int height, int gop = 50, int rate = 25,
                 bool mpeg4Codec = false, int bFrames = 0)
        : w(width), h(height), fps(rate), mpeg4(mpeg4Codec)
    {
        EXPECT_EQ(enc.open(camera, width, height, rate, 0, gop,
                           mpeg4 ? PatternEncoder::Codec::Mpeg4 : PatternEncoder::Codec::H264,
                           bFrames),
                  0);
    }
    // The next encoded frame (empty while a B-VOP encoder holds it back).
    std::vector<uint8_t> encoded(bool& key)
    {
        std::vector<uint8_t> f;
        EXPECT_EQ(enc.encodeNext(f, key), 0);
        return f;
    }
    std::vector<uint8_t> next()
    {
        bool key = false;
        const std::vector<uint8_t> f = encoded(key);
        if (f.empty())
            return f;
        return mux.videoFrame(f, key, mpeg4 ? kMpeg4 : kH264, w, h, fps,
                              KxavMuxer::packTime(2026, 12, 7, 10, 0, 0));
    }
};

void push(DecoderWorker& w, const std::vector<uint8_t>& bytes)
{
    w.push(bytes.data(), int(bytes.size()));
}

// Takes pictures like the frame timer does, driving the worker by hand until one is ready.
bool stepUntilPicture(DecoderWorker& w, Picture& pic, int maxSteps = 20)
{
    for (int i = 0; i < maxSteps; ++i) {
        w.runIntake();
        w.runStep();
        if (w.takePicture(pic))
            return true;
    }
    return false;
}

// Colour of output pixel (row, col) of a 32-bit picture.
void bgr(const uint8_t* pic, int width, int row, int col, int& b, int& g, int& r)
{
    const uint8_t* p = pic + (size_t(row) * width + col) * 4;
    b = p[0];
    g = p[1];
    r = p[2];
}

}   // namespace

TEST(DecoderWorker, InputQueueKeepsExactlyOneMebibyte)
{
    DecoderWorker w;
    w.startManual();
    std::vector<uint8_t> big(1'048'000, 0), small(600, 0), fit(576, 0);
    push(w, big);
    push(w, small);   // would reach 1,048,600
    EXPECT_EQ(w.bytesQueued(), 1'048'000);
    push(w, fit);   // reaches exactly 1,048,576
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    push(w, std::vector<uint8_t>(1, 0));
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    w.push(nullptr, 10);
    w.push(big.data(), -5);
    EXPECT_EQ(w.bytesQueued(), 1'048'576);
    EXPECT_EQ(w.droppedPushes(),
              2);   // the 600-byte and the 1-byte chunk; empty pushes are not input
    w.runIntake();
    EXPECT_EQ(w.bytesQueued(), 0);
}

TEST(DecoderWorker, WaitsForAKeyFrameWithAFrameRate)
{
    DecoderWorker w;
    w.startManual();
    OpaqueStream s;
    Picture pic;
    push(w, s.dependent());
    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 0);
    EXPECT_FALSE(w.takePicture(pic));
    EXPECT_EQ(w.buffering(0), 1);

    push(w, s.key(0));   // no frame rate: not a place to start
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
    EXPECT_FALSE(w.dropping());   // 50 frames = exactly two seconds at 25 fps

    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.framesQueued(), 51);
    EXPECT_TRUE(w.dropping());
    const int64_t droppedBefore = w.droppedPushes();
    push(w, s.dependent());   // discarded while dropping
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

    EXPECT_EQ(w.buffering(0), 1);   // no key frame yet

    push(w, s.key(10));
    w.runIntake();
    EXPECT_EQ(w.buffering(0), 0);   // frames waiting: the caller's answer stands
    EXPECT_EQ(w.buffering(1), 1);

    w.runStep();   // the list runs empty: buffering until one second of frames is queued
    EXPECT_EQ(w.buffering(0), 1);
    for (int i = 0; i < 9; ++i)
        push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.buffering(0), 1);
    push(w, s.dependent());
    w.runIntake();
    EXPECT_EQ(w.buffering(1), 0);
    EXPECT_EQ(w.buffering(1), 1);   // mark cleared: answer left as it was
}

TEST(DecoderWorker, DecodesConvertsAndHandsOverOnePictureAtATime)
{
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgrx32);
    w.startManual();
    CameraStream cam(7, 176, 144);
    for (int i = 0; i < 4; ++i)
        push(w, cam.next());
    Picture pic;
    ASSERT_TRUE(stepUntilPicture(w, pic));
    EXPECT_EQ(pic.width, 176);
    EXPECT_EQ(pic.height, 144);
    EXPECT_EQ(pic.stride, 176 * 4);
    EXPECT_TRUE(pic.bottomUp);
    EXPECT_EQ(pic.sequence, 1u);
    EXPECT_LE(pic.receivedUs, pic.decodedUs);
    EXPECT_LE(pic.decodedUs, pic.convertedUs);
    EXPECT_EQ(w.convertedCount(), 1);
    // Output row 10 is source row 133, in the plain grey half of the pattern.
    int b, g, r;
    bgr(pic.pixels, pic.width, 10, 20, b, g, r);
    EXPECT_NEAR(r, 120, 6);
    EXPECT_NEAR(g, 120, 6);
    EXPECT_NEAR(b, 120, 6);
    EXPECT_EQ(pic.pixels[(size_t(10) * pic.width + 20) * 4 + 3], 255);

    // Until the picture has been drawn, at most one more is decoded and none converted.
    for (int i = 0; i < 5; ++i) {
        w.runIntake();
        w.runStep();
    }
    EXPECT_EQ(w.convertedCount(), 1);
    EXPECT_EQ(w.framesQueued(), 2);
    w.giveBack(pic);
    w.giveBack(pic);   // never below 0
    EXPECT_EQ(w.convertedCount(), 0);
    Picture next;
    ASSERT_TRUE(stepUntilPicture(w, next));
    EXPECT_EQ(next.sequence, 2u);
    w.giveBack(pic);   // an earlier picture given back late leaves the new one in place
    EXPECT_EQ(w.convertedCount(), 1);
}

// Drives a worker on the manual clock as the network and the frame timer would: frames arrive
// 40 ms apart (or together in a burst), the timer takes whatever picture is ready.
struct TimedRun {
    DecoderWorker w;
    CameraStream cam;
    std::vector<uint64_t> sentUs;    // push time of every frame, in order
    std::vector<uint64_t> shownUs;   // received stamp of every picture taken
    explicit TimedRun(bool low, int gop = 25) : cam(5, 176, 144, gop)
    {
        Clock::useManual();
        w.setLowLatency(low);
        w.startManual();
    }
    ~TimedRun() { Clock::useReal(); }
    void send(int frames, int gapMs)
    {
        for (int i = 0; i < frames; ++i) {
            Clock::advance(gapMs);
            sentUs.push_back(Clock::nowUs());
            push(w, cam.next());
            drive(1);
        }
    }
    // Worker passes, each followed by the frame timer's look.
    void drive(int passes)
    {
        for (int i = 0; i < passes; ++i) {
            w.runIntake();
            w.runStep();
            Picture pic;
            if (w.takePicture(pic)) {
                shownUs.push_back(pic.receivedUs);
                w.giveBack(pic);
            }
        }
    }
    // Pictures taken since the newest frame arrived (0: the newest frame is not shown yet).
    size_t behindNewest() const
    {
        return shownUs.empty() || shownUs.back() != sentUs.back() ? 0 : 1;
    }
};

TEST(DecoderWorker, PicturesCarryTheirFramesStageTimes)
{
    TimedRun run(false);
    run.send(3, 40);
    ASSERT_EQ(run.shownUs.size(), 3u);
    EXPECT_EQ(run.shownUs, run.sentUs);   // each picture carries its own frame's arrival
    run.send(1, 40);
    EXPECT_EQ(run.w.counters().frames, 4);
    EXPECT_EQ(run.w.counters().skipped, 0);
    EXPECT_GT(run.w.counters().bytes, 0);
    EXPECT_EQ(run.w.codec(), 4);   // H.264
}

TEST(DecoderWorker, LowLatencyCatchesUpAfterABurstAndNeverShowsOutOfOrder)
{
    for (const bool low : {false, true}) {
        SCOPED_TRACE(low ? "low latency" : "default");
        TimedRun run(low);
        run.send(10, 40);   // steady: every frame shown, none passed over
        EXPECT_EQ(run.shownUs.size(), 10u);
        EXPECT_EQ(run.w.counters().skipped, 0);
        // A stall, then 2 s of frames at once (1 ms apart) with two key frames among them.
        Clock::advance(1000);
        for (int i = 0; i < 50; ++i) {
            Clock::advance(1);
            run.sentUs.push_back(Clock::nowUs());
            push(run.w, run.cam.next());
        }
        const size_t before = run.shownUs.size();
        run.drive(60);
        EXPECT_TRUE(std::is_sorted(run.shownUs.begin(), run.shownUs.end()));
        EXPECT_EQ(std::adjacent_find(run.shownUs.begin(), run.shownUs.end()), run.shownUs.end());
        if (low) {
            // Caught up: the newest frame is shown after at most two older ones.
            EXPECT_EQ(run.behindNewest(), 1u);
            EXPECT_LE(run.shownUs.size() - before, 3u);
            EXPECT_EQ(run.w.counters().skipped + int64_t(run.shownUs.size()), 60);
            EXPECT_EQ(run.w.buffering(1), 0);
            Clock::advance(200);   // no frame for five intervals: buffering
            EXPECT_EQ(run.w.buffering(0), 1);
        } else {
            EXPECT_EQ(run.shownUs.size(), 60u);   // every frame, in turn
            EXPECT_EQ(run.w.counters().skipped, 0);
        }
        // Steady again: nothing more is passed over.
        const int64_t skipped = run.w.counters().skipped;
        run.send(10, 40);
        EXPECT_EQ(run.w.counters().skipped, skipped);
        EXPECT_EQ(run.shownUs.back(), run.sentUs.back());
    }
}

TEST(DecoderWorker, LowLatencyWaitsForTheNextKeyFrameWhenDecodingFallsBehind)
{
    TimedRun run(true, 100);   // a key frame every 4 s
    run.send(2, 40);
    // 1.6 s of dependent frames before the decoder looks at any: more than it may hold.
    for (int i = 0; i < 40; ++i) {
        Clock::advance(1);
        run.sentUs.push_back(Clock::nowUs());
        push(run.w, run.cam.next());
    }
    run.w.runIntake();
    EXPECT_EQ(run.w.framesQueued(), 0);   // dropped at 38; the two after wait for a key frame
    EXPECT_EQ(run.w.counters().skipped, 38);
    const size_t shown = run.shownUs.size();
    run.drive(5);
    EXPECT_EQ(run.shownUs.size(), shown);   // no picture made of a broken reference chain
    // The wait ends with the key frame.
    run.send(58, 40);
    EXPECT_EQ(run.shownUs.size(), shown);
    run.send(1, 40);
    EXPECT_EQ(run.shownUs.back(), run.sentUs.back());
}

TEST(DecoderWorker, SixteenBitDisplayGetsItsOwnFormula)
{
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Rgb565);
    w.startManual();
    CameraStream cam(2, 176, 144);
    push(w, cam.next());
    Picture pic;
    ASSERT_TRUE(stepUntilPicture(w, pic));
    EXPECT_EQ(pic.stride, 176 * 2);
    EXPECT_FALSE(pic.bottomUp);
    // Row 130 (bottom half) is the camera's plain background; the 16-bit formula reads its
    // luma as full range, so compare with the background's own YUV through that formula.
    uint8_t yy, cb, cr;
    PatternEncoder::toYuv(PatternEncoder::background(2), yy, cb, cr);
    const uint8_t ys[4] = {yy, yy, yy, yy};
    uint16_t block[4];
    ColourConverter::convertReference(ys, &cb, &cr, 2, 2, reinterpret_cast<uint8_t*>(block), 16);
    const uint16_t expect = block[0];
    uint16_t px;
    std::memcpy(&px, pic.pixels + (size_t(130) * pic.width + 10) * 2, 2);
    EXPECT_NEAR(px >> 11, expect >> 11, 1);
    EXPECT_NEAR((px >> 5) & 0x3F, (expect >> 5) & 0x3F, 2);
    EXPECT_NEAR(px & 0x1F, expect & 0x1F, 1);
}

// The pixel aspect an MPEG-4 VOL or an H.264 VUI declares reaches the picture; a stream that
// declares none gives square (or unknown) pixels.
TEST(DecoderWorker, PictureCarriesThePixelAspectTheStreamDeclares)
{
    struct Case {
        bool mpeg4;
        int num, den;
    };
    for (const Case c :
         {Case{true, 16, 15}, Case{false, 16, 15}, Case{true, 0, 0}, Case{false, 0, 0}}) {
        DecoderWorker w;
        w.startManual();
        CameraStream cam(1, 720, 576, 50, 25, c.mpeg4);
        cam.enc.close();
        cam.enc.setPixelAspect(c.num, c.den);
        ASSERT_EQ(
            cam.enc.open(1, 720, 576, 25, 0, 50,
                         c.mpeg4 ? PatternEncoder::Codec::Mpeg4 : PatternEncoder::Codec::H264),
            0);
        push(w, cam.next());
        Picture pic;
        ASSERT_TRUE(stepUntilPicture(w, pic));
        if (c.num > 0) {
            EXPECT_EQ(pic.sampleAspectNum, c.num) << (c.mpeg4 ? "MPEG-4" : "H.264");
            EXPECT_EQ(pic.sampleAspectDen, c.den);
        } else {
            EXPECT_EQ(pic.sampleAspectNum, pic.sampleAspectDen);
        }
    }
}

TEST(DecoderWorker, KeyFrameOfANewSizeReopensTheDecoderWithoutLosingTheStream)
{
    DecoderWorker w;
    w.startManual();
    CameraStream small(1, 176, 144), large(1, 352, 288, 50, 30), again(1, 176, 144);
    Picture pic;
    push(w, small.next());
    ASSERT_TRUE(stepUntilPicture(w, pic));
    EXPECT_EQ(pic.width, 176);
    EXPECT_EQ(w.decoderOpens(), 1);
    w.giveBack(pic);

    push(w, small.next());   // dependent frame, same decoder
    ASSERT_TRUE(stepUntilPicture(w, pic));
    w.giveBack(pic);
    EXPECT_EQ(w.decoderOpens(), 1);

    push(w, large.next());   // key frame 352 x 288
    push(w, large.next());
    ASSERT_TRUE(stepUntilPicture(w, pic));
    EXPECT_EQ(pic.width, 352);
    EXPECT_EQ(pic.height, 288);
    EXPECT_EQ(w.decoderOpens(), 2);
    EXPECT_EQ(w.frameRate(), 30);   // no gap: the new stream's rate at once
    w.giveBack(pic);
    ASSERT_TRUE(stepUntilPicture(w, pic));   // the dependent frame after it
    w.giveBack(pic);
    EXPECT_FALSE(w.dropping());

    push(w, again.next());   // back to the small size
    ASSERT_TRUE(stepUntilPicture(w, pic));
    EXPECT_EQ(pic.width, 176);
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
    Picture pic;
    EXPECT_FALSE(w.takePicture(pic));
    EXPECT_EQ(w.decoderOpens(), 1);
}

TEST(DecoderWorker, ThreadedStreamReachesTheFrameTimerAndStopsCleanly)
{
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgr24);
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
        Picture pic;
        if (w.takePicture(pic)) {
            EXPECT_EQ(pic.width, 176);
            EXPECT_EQ(pic.height, 144);
            EXPECT_NEAR(pic.pixels[(size_t(5) * pic.width + 5) * 3 + 2], 200,
                        8);   // yellow background red
            ++shown;
            w.giveBack(pic);
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
        Picture pic;
        got = w.takePicture(pic);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(got);
    w.stop();
}

namespace {

// Every picture the worker hands over while driven by hand, as the frame timer takes them.
struct Pictures {
    std::vector<std::vector<uint8_t>> all;
    int width = 0, height = 0;
    void drain(DecoderWorker& w, int steps = 8)
    {
        for (int i = 0; i < steps; ++i) {
            w.runIntake();
            w.runStep();
            Picture p;
            if (w.takePicture(p)) {
                all.emplace_back(p.pixels, p.pixels + size_t(p.stride) * p.height);
                width = p.width;
                height = p.height;
                w.giveBack(p);
            }
        }
    }
    // True when picture i shows camera `camera`'s background in its lower half (32-bit output,
    // bottom-up rows: row 10 is near the bottom).
    bool background(size_t i, int camera) const
    {
        const PatternColour c = PatternEncoder::background(camera);
        const uint8_t* p = all[i].data() + (size_t(10) * width + width / 2) * 4;
        return std::abs(p[2] - c.r) < 24 && std::abs(p[1] - c.g) < 24 && std::abs(p[0] - c.b) < 24;
    }
    // Left edge of the moving box (accent colour) in picture i, or -1.
    int boxX(size_t i, int camera) const
    {
        const PatternColour c = PatternEncoder::accent(camera);
        const int uprightY = height * 3 / 8;
        const uint8_t* row = all[i].data() + size_t(height - 1 - uprightY) * width * 4;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + size_t(x) * 4;
            if (std::abs(p[2] - c.r) < 40 && std::abs(p[1] - c.g) < 40 && std::abs(p[0] - c.b) < 40)
                return x;
        }
        return -1;
    }
};

}   // namespace

class Mpeg4WorkerTest : public ::testing::TestWithParam<int> {};

TEST_P(Mpeg4WorkerTest, PicturesInDisplayOrderWithTheCamerasColours)
{
    const int bFrames = GetParam();
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgrx32);
    w.startManual();
    CameraStream cam(4, 352, 288, 12, 25, true, bFrames);
    Pictures pics;
    int pushed = 0;
    for (int i = 0; i < 20; ++i) {
        const auto packet = cam.next();
        if (packet.empty())
            continue;
        push(w, packet);
        ++pushed;
        pics.drain(w, 3);
    }
    pics.drain(w, 10);
    if (bFrames > 0) {
        EXPECT_LT(pushed, 20) << "the encoder wrote no B-VOPs";
    }
    EXPECT_EQ(w.decoderOpens(), 1);
    EXPECT_EQ(w.undecodableCodec(), -1);
    // B-VOPs hold one picture back until the next reference frame; nothing else waits.
    EXPECT_GE(int(pics.all.size()), pushed - 1);
    ASSERT_GE(pics.all.size(), 10u);
    EXPECT_EQ(pics.width, 352);
    EXPECT_EQ(pics.height, 288);
    int last = -1;
    for (size_t i = 0; i < pics.all.size(); ++i) {
        EXPECT_TRUE(pics.background(i, 4)) << "picture " << i;
        const int x = pics.boxX(i, 4);
        EXPECT_GT(x, last) << "picture " << i << " out of display order";
        last = x;
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutBVops, Mpeg4WorkerTest, ::testing::Values(0, 2));

TEST(DecoderWorker, CodecChangeOnEveryKeyFrameReopensAndCostsNoPicture)
{
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgrx32);
    w.startManual();
    CameraStream h264(1, 176, 144, 1), mpeg4(5, 176, 144, 1, 25, true);
    Pictures pics;
    for (int i = 0; i < 6; ++i) {
        push(w, (i % 2 ? mpeg4 : h264).next());
        pics.drain(w, 3);
    }
    EXPECT_EQ(w.decoderOpens(), 6);
    ASSERT_EQ(pics.all.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(pics.background(i, i % 2 ? 5 : 1)) << "picture " << i;
}

TEST(DecoderWorker, DamagedMpeg4CostsOnlyTheFramesConcerned)
{
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgrx32);
    w.startManual();
    CameraStream cam(6, 352, 288, 6, 25, true);
    KxavMuxer& mux = cam.mux;
    auto dependent = [&](const std::vector<uint8_t>& payload) {
        return mux.videoFrame(payload, false, kMpeg4, 352, 288, 25, 0);
    };
    Pictures pics;
    push(w, cam.next());   // key frame
    bool key = false;
    std::vector<uint8_t> vop = cam.encoded(key);
    vop.resize(vop.size() / 3);   // truncated VOP
    push(w, dependent(vop));
    vop = cam.encoded(key);   // garbage between two start codes of a VOP
    std::srand(5);
    for (size_t i = 8; i < vop.size(); i += 3)
        vop[i] = uint8_t(std::rand());
    push(w, dependent(vop));
    std::vector<uint8_t> junk(3000);
    for (auto& b : junk)
        b = uint8_t(std::rand());
    junk[0] = 0, junk[1] = 0, junk[2] = 1, junk[3] = 0xB6;
    push(w, dependent(junk));
    // A key frame whose VOL announces the largest picture a VOL can (8191 x 8191) under a
    // record of 176 x 144: the decoder refuses to grow to it.
    Mpeg4EsWriter::Vol huge;
    huge.width = huge.height = 8191;
    push(w, mux.videoFrame(Mpeg4EsWriter::keyFrame(huge, 0, 0, 1, 4000), true, kMpeg4, 176, 144, 25,
                           0));
    pics.drain(w, 12);
    const size_t damaged = pics.all.size();
    for (int i = 0; i < 7; ++i) {
        push(w, cam.next());   // up to the next key frame and on
        pics.drain(w, 3);
    }
    // Every frame from the next key frame on is a picture of the camera again.
    ASSERT_GE(pics.all.size(), damaged + 2);
    EXPECT_TRUE(pics.background(pics.all.size() - 1, 6));
    EXPECT_EQ(pics.width, 352);
    EXPECT_FALSE(w.dropping());
}

TEST(DecoderWorker, KeyFramesBeyondTheSizeLimitAreNotDecoded)
{
    DecoderWorker w;
    w.startManual();
    Mpeg4EsWriter::Vol huge;
    huge.width = huge.height = 8184;
    std::vector<uint8_t> es = Mpeg4EsWriter::keyFrame(huge, 0, 0, 1, 500);
    Mpeg4EsWriter::append(es, Mpeg4EsWriter::vop(false, 200));
    Mpeg4EsWriter::append(es, Mpeg4EsWriter::keyFrame(huge, 0, 0, 2, 500));
    push(w, es);
    for (int i = 0; i < 4; ++i) {
        w.runIntake();
        w.runStep();
    }
    EXPECT_EQ(w.framesQueued(), 0);
    EXPECT_EQ(w.decoderOpens(), 0);
    EXPECT_EQ(w.frameRate(), 0);
}

TEST(DecoderWorker, UndecodableCodecAndAudioOnlyStreamsAreReported)
{
    {
        DecoderWorker w;
        w.startManual();
        PacketMuxer mux;
        std::vector<uint8_t> body(400, 0x33);
        push(w, mux.keyFrame(body, 176, 144, 25, 0, 0xFE));   // codec 3
        w.runIntake();
        EXPECT_EQ(w.runStep(), DecoderWorker::kStepUndecodable);
        EXPECT_EQ(w.undecodableCodec(), 3);
        EXPECT_EQ(w.unsupported().kind, DecoderWorker::Unsupported::VideoCodec);
        // A decodable key frame afterwards clears it.
        CameraStream cam(0, 176, 144);
        bool key = false;
        const auto frame = cam.encoded(key);
        push(w, mux.keyFrame(frame, 176, 144, 25, 0, 0xFD));
        Picture pic;
        EXPECT_TRUE(stepUntilPicture(w, pic));
        EXPECT_EQ(w.undecodableCodec(), -1);
        EXPECT_EQ(w.unsupported().kind, DecoderWorker::Unsupported::None);
    }
    {
        DecoderWorker w;
        w.startManual();
        std::vector<uint8_t> sound(320, 0x10);
        for (int i = 0; i < DecoderWorker::kAudioOnlyFrames - 1; ++i)
            push(w, PacketMuxer::audioPacket(sound, 21, 2));
        w.runIntake();
        EXPECT_EQ(w.undecodableCodec(), -1);
        push(w, PacketMuxer::audioPacket(sound, 21, 2));
        w.runIntake();
        EXPECT_EQ(w.undecodableCodec(), 21);
        EXPECT_EQ(w.unsupported().kind, DecoderWorker::Unsupported::AudioOnly);
    }
}

namespace {

// Key frames of an H.264 stream in a pixel format the converter does not take.
std::vector<std::vector<uint8_t>> h264Frames(AVPixelFormat format, int count)
{
    std::vector<std::vector<uint8_t>> out;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* f = av_frame_alloc();
    AVPacket* p = av_packet_alloc();
    if (c && f && p) {
        c->width = 176;
        c->height = 144;
        c->pix_fmt = format;
        c->time_base = AVRational{1, 25};
        c->gop_size = 1;
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        f->format = format;
        f->width = 176;
        f->height = 144;
        if (avcodec_open2(c, codec, nullptr) == 0 && av_frame_get_buffer(f, 0) == 0) {
            for (int i = 0; i < count; ++i) {
                // Mid grey in any depth (0x0101 is a valid 10-bit sample); 4:2:0 chroma has
                // half the rows.
                const bool deep = format == AV_PIX_FMT_YUV420P10LE;
                for (int plane = 0; plane < 3; ++plane) {
                    const int rows = plane == 0 || format == AV_PIX_FMT_YUV422P ? 144 : 72;
                    std::memset(f->data[plane], deep ? 1 : 100, size_t(f->linesize[plane]) * rows);
                }
                f->pts = i;
                if (avcodec_send_frame(c, f) == 0 && avcodec_receive_packet(c, p) == 0) {
                    out.emplace_back(p->data, p->data + p->size);
                    av_packet_unref(p);
                }
            }
        }
    }
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return out;
}

}   // namespace

// Streams that arrive but can never show a picture say why within a bounded amount of input:
// pictures in a pixel format not taken, frames that decode to nothing, bytes of no format read.
TEST(DecoderWorker, UnsupportedStreamsSayWhy)
{
    KxavMuxer mux;
    std::vector<uint8_t> junk(3000);
    std::srand(5);
    for (auto& b : junk)
        b = uint8_t(std::rand());
    // An MP4 file's first box, then bytes of no recorder format.
    std::vector<uint8_t> mp4(DecoderWorker::kBytesWithoutVideo, 0);
    std::memcpy(mp4.data(),
                "\0\0\0\x20"
                "ftypisom\0\0\x02\0",
                16);
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> pushes;
        DecoderWorker::Unsupported kind;
        const char* detail;
    };
    std::vector<Case> cases;
    Case c422{"H.264 4:2:2", {}, DecoderWorker::Unsupported::PictureFormat, "4:2:2"};
    for (const auto& f : h264Frames(AV_PIX_FMT_YUV422P, 2))
        c422.pushes.push_back(mux.videoFrame(f, true, kH264, 176, 144, 25, 0));
    ASSERT_EQ(c422.pushes.size(), 2u);
    cases.push_back(c422);
    Case c10{"H.264 10 bit", {}, DecoderWorker::Unsupported::PictureFormat, "10"};
    for (const auto& f : h264Frames(AV_PIX_FMT_YUV420P10LE, 2))
        c10.pushes.push_back(mux.videoFrame(f, true, kH264, 176, 144, 25, 0));
    cases.push_back(c10);
    Case noPicture{"no picture", {}, DecoderWorker::Unsupported::NoPicture, "H.264"};
    for (int i = 0; i < DecoderWorker::kFramesWithoutPicture; ++i)
        noPicture.pushes.push_back(mux.videoFrame(junk, i == 0, kH264, 176, 144, 25, 0));
    cases.push_back(noPicture);
    cases.push_back({"MP4 file", {mp4}, DecoderWorker::Unsupported::NoVideo, "bytes"});
    // Video records that never bring a key frame with a picture size (MPEG-2 in a program
    // stream reaches the worker so).
    Case noKey{"no key frame", {}, DecoderWorker::Unsupported::NoVideo, "key frame"};
    for (int i = 0; i < DecoderWorker::kFramesWithoutKey; ++i)
        noKey.pushes.push_back(mux.videoFrame(junk, i % 10 == 0, kMpeg4, 0, 0, 25, 0));
    cases.push_back(noKey);

    CodecLog::silence();   // the damaged frames are the point here
    for (const Case& c : cases) {
        DecoderWorker w;
        w.startManual();
        for (const auto& bytes : c.pushes) {
            push(w, bytes);
            for (int i = 0; i < 4; ++i) {
                w.runIntake();
                w.runStep();
            }
        }
        const DecoderWorker::UnsupportedReason r = w.unsupported();
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_NE(r.detail.find(c.detail), std::string::npos) << c.name << ": " << r.detail;
        EXPECT_GE(w.undecodableCodec(), 0) << c.name;
        Picture pic;
        EXPECT_FALSE(w.takePicture(pic)) << c.name;
    }
}

TEST(DecoderWorker, ProgramStreamPiecesAreJoinedIntoWholeFrames)
{
    // H.264 key frames longer than one PES continue in further packs and reach the worker in
    // pieces; the parser puts them back together.
    DecoderWorker w;
    w.setPixelFormat(PixelFormat::Bgrx32);
    w.startManual();
    PatternEncoder enc;
    ASSERT_EQ(enc.open(3, 1280, 1024, 25, 0, 4), 0);
    enc.setNoise(true);
    ProgramStreamMuxer ps(ProgramStreamMuxer::Codec::H264,
                          ProgramStreamMuxer::sizeCodeFor(1280, 1024), 25);
    Pictures pics;
    size_t largest = 0;
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> f;
        bool key = false;
        ASSERT_EQ(enc.encodeNext(f, key), 0);
        largest = std::max(largest, f.size());
        push(w, ps.videoFrame(f, key));
        pics.drain(w, 4);
    }
    ASSERT_GT(largest, size_t(ProgramStreamMuxer::kMaxPayload)) << "no frame needed several packs";
    EXPECT_TRUE(w.joining());
    // The joiner holds each frame until the next one starts.
    EXPECT_GE(pics.all.size(), 5u);
    for (size_t i = 0; i < pics.all.size(); ++i)
        EXPECT_TRUE(pics.background(i, 3)) << "picture " << i;
}
