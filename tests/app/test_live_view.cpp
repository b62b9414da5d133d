#include "app/ClientLiveViewDevice.h"
#include "app/LiveView.h"
#include "common/Clock.h"
#include "device/DeviceClient.h"
#include "tools/support/RecorderProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace kevra;
using namespace std::chrono_literals;

namespace {

template <class P>
bool eventually(P pred, std::chrono::milliseconds limit = 10s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct FakeHost : LiveViewHost {
    mutable std::mutex m;
    std::vector<std::u16string> status;
    std::map<uintptr_t, int> images;
    std::vector<Rect> moves;
    int videoModes = 0;
    int fills = 0;
    int lost = 0;
    int offsetX = 100, offsetY = 7;   // video area's place on the screen

    void postStatus(const std::u16string& key) override
    {
        std::lock_guard l(m);
        status.push_back(key);
    }
    void fillVideoAreaBlack() override
    {
        std::lock_guard l(m);
        fills++;
    }
    Rect videoAreaToScreen(const Rect& r) const override
    {
        return Rect{r.left + offsetX, r.top + offsetY, r.right + offsetX, r.bottom + offsetY};
    }
    void showVideoMode() override { videoModes++; }
    void setItemImage(uintptr_t item, int image) override { images[item] = image; }
    void moveVideoArea(const Rect& r) override { moves.push_back(r); }
    void connectionLost() override { lost++; }

    std::vector<std::u16string> statuses() const
    {
        std::lock_guard l(m);
        return status;
    }
    std::u16string lastStatus() const
    {
        std::lock_guard l(m);
        return status.empty() ? u"" : status.back();
    }
};

struct FakeSurface : PictureSurface {
    std::mutex m;
    int depth = 32;
    int creates = 0, lastW = 0, lastH = 0;
    int presents = 0;
    Rect lastDest;
    bool lastBottomUp = false;
    std::vector<uint8_t> lastPixels;

    int create(int w, int h) override
    {
        std::lock_guard l(m);
        creates++;
        lastW = w;
        lastH = h;
        return depth;
    }
    int present(const uint8_t* px, const Rect& d, bool bottomUp) override
    {
        std::lock_guard l(m);
        presents++;
        lastDest = d;
        lastBottomUp = bottomUp;
        size_t n = size_t(lastW) * lastH * depth / 8;
        if (n <= 4096)
            lastPixels.assign(px, px + n);
        return 0;
    }
};

struct FakeDevice : LiveViewDevice {
    std::mutex m;
    std::vector<std::pair<int, int>> opens;
    int depthSet = 0;
    // Scripted answers of the picture query.
    std::atomic<int> bufferingAnswer{1};
    std::atomic<int> width{0}, height{0};
    std::atomic<int> rate{0};
    std::atomic<int> converted{0};
    std::atomic<int> queries{0};
    std::atomic<int> lowered{0};
    std::vector<uint8_t> picture = std::vector<uint8_t>(352 * 288 * 4, 0x40);

    std::atomic<int> stops{0};

    void openChannel(int channel, int stream) override
    {
        std::lock_guard l(m);
        opens.push_back({channel, stream});
    }
    void stopChannel() override { stops++; }
    void setPixelFormat(PixelFormat f) override { depthSet = bitsPerPixel(f); }
    bool takePicture(Picture& p) override
    {
        queries++;
        if (converted.load() <= 0)
            return false;
        p.pixels = picture.data();
        p.width = width;
        p.height = height;
        p.format = pixelFormatForDepth(depthSet);
        p.bottomUp = depthSet != 16;
        return true;
    }
    int buffering(int) override { return bufferingAnswer.load(); }
    void giveBack(const Picture&) override
    {
        lowered++;
        converted--;
    }
    int frameRate() const override { return rate.load(); }
    std::atomic<int> undecodable{-1};
    int undecodableCodec() const override { return undecodable.load(); }
    size_t openCount()
    {
        std::lock_guard l(m);
        return opens.size();
    }
};

const uintptr_t kCam1 = 0x1001, kCam2 = 0x1002;
const Rect kNormal{0, 45, 240, 195};   // 240 x 150
const Rect kFull{0, 0, 240, 320};

struct LiveViewTest : ::testing::Test {
    FakeHost host;
    FakeSurface surface;
    FakeDevice device;
    LiveView view{host, surface, device};

    void SetUp() override
    {
        view.initialise();
        view.setRectangles(kNormal, kFull);
        view.setVideoShown(true);
    }
    // Makes one picture ready for the next tick.
    void ready(int w, int h)
    {
        device.width = w;
        device.height = h;
        device.converted = 1;
    }
};

}   // namespace

TEST_F(LiveViewTest, InitialiseCreatesTheSurfaceAndGivesItsDepthToTheDecoder)
{
    EXPECT_EQ(surface.lastW, 352);
    EXPECT_EQ(surface.lastH, 288);
    EXPECT_EQ(device.depthSet, 32);
    EXPECT_EQ(view.channel(), -1);
    EXPECT_EQ(LiveView::periodFor(25), 40);
    EXPECT_EQ(LiveView::periodFor(12), 83);
    EXPECT_EQ(LiveView::periodFor(5000), 1);
}

TEST_F(LiveViewTest, StopWithNothingOpenDoesNothing)
{
    view.stop();
    EXPECT_TRUE(host.statuses().empty());
    EXPECT_TRUE(host.images.empty());
    EXPECT_TRUE(host.moves.empty());
    EXPECT_EQ(view.timerId(), 0);
}

TEST_F(LiveViewTest, OpenThenRefusedThenSameCameraOnlyReturnsToVideoMode)
{
    view.openCamera(kCam1, 3);
    ASSERT_EQ(device.openCount(), 1u);
    EXPECT_EQ(device.opens[0], std::make_pair(3, 1));
    EXPECT_EQ(host.lastStatus(), u"OPENING_V");
    EXPECT_EQ(host.images[kCam1], 1);
    EXPECT_EQ(view.channel(), 3);
    EXPECT_EQ(view.frameRate(), 25);

    view.onOpenResult(4, 0);   // an answer for another channel is not ours
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(host.lastStatus(), u"OPENING_V");

    const int stops = device.stops, fills = host.fills;
    view.onOpenResult(3, 5);
    EXPECT_EQ(host.lastStatus(), u"OPEN_ERR");
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(view.channel(), 3);         // still set: PTZ keeps working
    EXPECT_EQ(device.stops, stops + 1);   // the refused channel's decoding ends
    EXPECT_EQ(host.fills, fills + 1);     // and the area is black

    int modes = host.videoModes;
    view.openCamera(kCam1, 3);
    EXPECT_EQ(device.openCount(), 1u);   // never a second open request
    EXPECT_EQ(host.videoModes, modes + 1);

    // Another camera stops the first one and opens the new one.
    view.openCamera(kCam2, 4);
    EXPECT_EQ(device.openCount(), 2u);
    EXPECT_EQ(host.images[kCam1], 2);
    EXPECT_EQ(host.images[kCam2], 1);
    auto s = host.statuses();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2], u"STOP");
    EXPECT_EQ(s.back(), u"OPENING_V");
}

TEST_F(LiveViewTest, StatusFollowsBufferingAndStopEndsTheTimer)
{
    view.openCamera(kCam1, 0);
    view.onOpenResult(0, 0);
    EXPECT_EQ(host.lastStatus(), u"BUFFERING");
    EXPECT_GT(view.timerId(), 0);

    // No frame rate yet: every tick without a picture stays buffering.
    ASSERT_TRUE(eventually([&] { return device.queries.load() >= 3; }));
    EXPECT_EQ(host.lastStatus(), u"BUFFERING");

    device.bufferingAnswer = 0;   // a second of frames is waiting
    ASSERT_TRUE(eventually([&] { return host.lastStatus() == u"PLAYING"; }));
    device.bufferingAnswer = 1;   // ran dry
    ASSERT_TRUE(eventually([&] { return host.lastStatus() == u"BUFFERING"; }));
    device.bufferingAnswer = 0;
    ASSERT_TRUE(eventually([&] { return host.lastStatus() == u"PLAYING"; }));

    // Each status change is posted once, not on every tick.
    auto s = host.statuses();
    for (size_t i = 1; i < s.size(); ++i)
        EXPECT_NE(s[i], s[i - 1]);

    const int stops = device.stops, fills = host.fills;
    view.stop();
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(host.lastStatus(), u"STOP");
    EXPECT_EQ(device.stops, stops + 1);
    EXPECT_GT(host.fills, fills);   // the last picture is not kept on the screen
    EXPECT_EQ(host.images[kCam1], 2);
    EXPECT_EQ(view.channel(), -1);
    int q = device.queries.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device.queries.load(), q);   // no tick after stop() returned
}

TEST_F(LiveViewTest, UndecodableStreamSaysSoOnceUntilADecodableOneFollows)
{
    view.openCamera(kCam1, 0);
    view.onOpenResult(0, 0);
    device.undecodable = 3;
    ASSERT_TRUE(eventually([&] { return host.lastStatus() == u"CODEC_ERR"; }));
    const int q = device.queries.load();
    ASSERT_TRUE(eventually([&] { return device.queries.load() >= q + 3; }));
    EXPECT_EQ(host.lastStatus(), u"CODEC_ERR");   // not overwritten by buffering
    device.undecodable = -1;                      // a decodable key frame came
    ASSERT_TRUE(eventually([&] { return host.lastStatus() == u"BUFFERING"; }));
    auto s = host.statuses();
    for (size_t i = 1; i < s.size(); ++i)
        EXPECT_NE(s[i], s[i - 1]);
}

TEST_F(LiveViewTest, TimerFollowsTheStreamFrameRate)
{
    view.openCamera(kCam1, 0);
    view.onOpenResult(0, 0);
    int id = view.timerId();
    device.rate = 12;
    ASSERT_TRUE(eventually([&] { return view.frameRate() == 12; }));
    EXPECT_EQ(view.timerId(), id);   // same timer, new period of 83 ms
    // A rate of 0 leaves the period alone.
    device.rate = 0;
    int q = device.queries.load();
    ASSERT_TRUE(eventually([&] { return device.queries.load() >= q + 2; }));
    EXPECT_EQ(view.frameRate(), 12);
    // Ticks keep coming at the new rate: two ticks take at least one period.
    auto t0 = std::chrono::steady_clock::now();
    q = device.queries.load();
    ASSERT_TRUE(eventually([&] { return device.queries.load() >= q + 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 80ms);
    view.stop();
}

TEST_F(LiveViewTest, WindowedPictureIsFittedFilledAndShownUpright)
{
    view.openCamera(kCam1, 0);   // no open result: tick is driven by hand, no timer runs
    ready(352, 288);
    view.tick();
    EXPECT_EQ(surface.lastW, 352);
    EXPECT_EQ(surface.lastH, 288);
    EXPECT_EQ(host.fills, 1);
    EXPECT_EQ(surface.lastDest, (Rect{128, 7, 311, 157}));   // 183 x 150 at x = 28, on screen
    EXPECT_TRUE(surface.lastBottomUp);                       // 32-bit rows arrive bottom first
    EXPECT_EQ(device.lowered.load(), 1);
    EXPECT_FALSE(view.hasTurnBuffer());

    // Same size again: no new layout, the picture is presented again.
    int creates = surface.creates;
    ready(352, 288);
    view.tick();
    EXPECT_EQ(surface.creates, creates);
    EXPECT_EQ(surface.presents, 2);
}

TEST_F(LiveViewTest, FullScreenOnPortraitTurnsThePicture)
{
    EXPECT_FALSE(view.toggleFullScreen());   // no camera: ignored
    view.openCamera(kCam1, 0);
    ASSERT_TRUE(view.toggleFullScreen());
    EXPECT_EQ(host.moves.back(), kFull);
    EXPECT_EQ(host.fills, 1);   // the old layout's picture is cleared when the mode flips
    EXPECT_FALSE(view.pictureTurned());
    ready(352, 288);
    view.tick();
    EXPECT_TRUE(view.hasTurnBuffer());
    EXPECT_TRUE(view.pictureTurned());
    EXPECT_EQ(surface.lastW, 288);
    EXPECT_EQ(surface.lastH, 352);
    EXPECT_EQ(surface.lastDest, (Rect{100, 20, 340, 313}));   // 240 x 293 at y = 13
    EXPECT_FALSE(surface.lastBottomUp);
    EXPECT_EQ(host.fills, 1);   // full screen does not fill the video area on each layout

    // Leaving full screen clears the area and lays out again, unturned.
    ASSERT_TRUE(view.toggleFullScreen());
    EXPECT_EQ(host.moves.back(), kNormal);
    EXPECT_EQ(host.fills, 2);
    EXPECT_FALSE(view.pictureTurned());
    ready(352, 288);
    view.tick();
    EXPECT_FALSE(view.hasTurnBuffer());
    EXPECT_EQ(surface.lastW, 352);

    // A camera taller than the screen's shape is shown upright: not turned.
    view.toggleFullScreen();
    ready(200, 400);
    view.tick();
    EXPECT_FALSE(view.pictureTurned());
    view.toggleFullScreen();

    // stop() leaves full screen and frees the buffer.
    view.toggleFullScreen();
    ready(352, 288);
    view.tick();
    view.stop();
    EXPECT_FALSE(view.fullScreen());
    EXPECT_FALSE(view.hasTurnBuffer());
    EXPECT_EQ(host.moves.back(), kNormal);
}

TEST_F(LiveViewTest, SixteenBitTurnedPictureIsPresentedTurned)
{
    surface.depth = 16;
    view.initialise();
    EXPECT_EQ(device.depthSet, 16);
    view.openCamera(kCam1, 0);
    view.toggleFullScreen();
    // 4 x 2 picture, 16-bit, top row first: a b c d / e f g h.
    uint16_t px[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(device.picture.data(), px, sizeof px);
    ready(4, 2);
    view.tick();
    ASSERT_EQ(surface.lastPixels.size(), 16u);
    uint16_t out[8];
    std::memcpy(out, surface.lastPixels.data(), sizeof out);
    const uint16_t expect[8] = {5, 1, 6, 2, 7, 3, 8, 4};   // clockwise quarter turn
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expect[i]) << i;
    EXPECT_FALSE(surface.lastBottomUp);

    view.toggleFullScreen();
    ready(4, 2);
    view.tick();
    EXPECT_FALSE(surface.lastBottomUp);   // 16-bit pictures are top row first already
}

TEST_F(LiveViewTest, HugePictureIsNotTurnedAndNothingIsAllocated)
{
    view.openCamera(kCam1, 0);
    view.toggleFullScreen();
    ready(40000, 30000);   // 1.2e9 pixels: refused as a turning buffer
    view.tick();
    EXPECT_FALSE(view.hasTurnBuffer());
    EXPECT_FALSE(view.placement().turned);
    EXPECT_FALSE(view.pictureTurned());   // arrow keys keep their upright codes
    EXPECT_EQ(surface.lastW, 40000);
    EXPECT_EQ(view.placement().drawWidth, 240);
}

TEST_F(LiveViewTest, TreeModeConsumesPicturesWithoutDrawing)
{
    view.openCamera(kCam1, 0);
    view.setVideoShown(false);
    ready(352, 288);
    view.tick();
    EXPECT_EQ(surface.presents, 0);
    EXPECT_EQ(device.lowered.load(), 1);
    // No picture: the count is not touched.
    view.tick();
    EXPECT_EQ(device.lowered.load(), 1);
}

TEST_F(LiveViewTest, ConnectionLossStopsAndTellsTheHost)
{
    view.openCamera(kCam1, 0);
    view.onOpenResult(0, 0);
    view.onConnectionLost();
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(host.lastStatus(), u"STOP");
    EXPECT_EQ(host.lost, 1);
    EXPECT_EQ(device.stops, 1);
    // A late open answer after the stop starts nothing.
    view.onOpenResult(0, 0);
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(host.lastStatus(), u"STOP");
}

// On the manual clock: a playing view that drew nothing for 3 s reports it (second by second)
// until the next picture; a lost session keeps the camera, the mode and the last picture and
// reopens the channel later, still counting from the last picture drawn.
TEST_F(LiveViewTest, StalledPictureIsReportedUntilTheNextOneAndSurvivesASuspendAndReopen)
{
    Clock::useManual();
    struct RealClockAfter {
        ~RealClockAfter() { Clock::useReal(); }
    } realClockAfter;
    auto presents = [&] {
        std::lock_guard l(surface.m);
        return surface.presents;
    };
    view.openCamera(kCam1, 1);
    EXPECT_EQ(view.stalledSeconds(), 0);
    view.onOpenResult(1, 0);
    ready(352, 288);
    ASSERT_TRUE(eventually([&] { return presents() == 1 && device.converted == 0; }));
    Clock::advance(2999);
    EXPECT_EQ(view.stalledSeconds(), 0);
    Clock::advance(1);
    EXPECT_EQ(view.stalledSeconds(), 3);
    Clock::advance(2000);
    EXPECT_EQ(view.stalledSeconds(), 5);
    ready(352, 288);
    ASSERT_TRUE(eventually([&] { return view.stalledSeconds() == 0; }));
    EXPECT_EQ(presents(), 2);

    ASSERT_TRUE(view.toggleFullScreen());
    const int fills = host.fills;
    view.suspend();
    EXPECT_EQ(view.timerId(), 0);
    EXPECT_EQ(device.stops, 1);
    EXPECT_EQ(host.fills, fills) << "the last picture stays";
    EXPECT_EQ(view.channel(), 1);
    EXPECT_TRUE(view.fullScreen());
    Clock::advance(4000);
    EXPECT_EQ(view.stalledSeconds(), 4);

    ASSERT_TRUE(view.reopen(kCam2));   // the same camera under its item of the new list
    EXPECT_EQ(device.opens.back(), (std::pair<int, int>{1, 1}));
    EXPECT_EQ(host.images[kCam2], LiveView::kImageOpenCamera);
    EXPECT_EQ(host.lastStatus(), u"OPENING_V");
    view.onOpenResult(1, 0);
    EXPECT_GT(view.timerId(), 0);
    EXPECT_EQ(view.stalledSeconds(), 4);
    EXPECT_TRUE(view.fullScreen());
    ready(352, 288);
    ASSERT_TRUE(eventually([&] { return view.stalledSeconds() == 0 && presents() == 3; }));

    view.stop();
    Clock::advance(10000);
    EXPECT_EQ(view.stalledSeconds(), 0);
    EXPECT_FALSE(view.reopen(kCam2)) << "nothing chosen";
}

TEST_F(LiveViewTest, ReopeningTheSameCameraAfterStopOpensItAgain)
{
    view.openCamera(kCam1, 2);
    view.onOpenResult(2, 0);
    view.stop();
    view.openCamera(kCam1, 2);
    EXPECT_EQ(device.openCount(), 2u);
    view.onOpenResult(2, 0);
    EXPECT_GT(view.timerId(), 0);
    EXPECT_EQ(view.frameRate(), 25);
    view.stop();
}

// ---------------------------------------------------------------- over the real device client

namespace {

// Channel open answers, kept for the test thread to hand to the live view as the main window's
// posted messages do.
struct OpenAnswers : DeviceEvents {
    std::mutex m;
    std::vector<std::pair<int, int>> pending;   // channel, code
    std::atomic<int> login{-1};
    void onLogin(int code, int) override { login = code; }
    void onList(int, const uint8_t*, int, int) override {}
    void onChannel(int channel, int code) override
    {
        std::lock_guard l(m);
        pending.push_back({channel, code});
    }
    void onConnectionLost() override {}
    std::vector<std::pair<int, int>> take()
    {
        std::lock_guard l(m);
        return std::exchange(pending, {});
    }
};

}   // namespace

// Open, switch and stop from this (user-interface) thread while opens complete and real pictures
// stream: the decoder is started and stopped only here, the network thread only pushes, the
// frame timer only polls. Meant for ThreadSanitizer as much as for the result: afterwards only
// the channel shown streams, and after the last stop none does.
TEST(LiveViewOverTheClient, HammeredOpenSwitchAndStopLeaveOnlyTheShownChannelStreaming)
{
    RecorderProcess rec({"--size", "176x144", "--fps", "25", "--channels", "4"});
    ASSERT_TRUE(rec.start());
    OpenAnswers answers;
    FakeHost host;
    FakeSurface surface;
    DeviceClient client;
    client.setSink(&answers);
    {
        ClientLiveViewDevice device(client);
        LiveView view(host, surface, device);
        view.initialise();
        view.setRectangles(kNormal, kFull);
        view.setVideoShown(true);
        client.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
        ASSERT_TRUE(eventually([&] { return answers.login.load() != -1; }, 20s));
        ASSERT_EQ(answers.login.load(), 0);

        auto deliver = [&] {
            for (auto [channel, code] : answers.take())
                view.onOpenResult(channel, code);
        };
        std::mt19937 random(7);
        for (int i = 0; i < 80; ++i) {
            const int cam = int(random() % 4);
            switch (random() % 5) {
            case 0:
            case 1:
            case 2: view.openCamera(kCam1 + cam, cam); break;
            case 3: view.stop(); break;
            default: view.toggleFullScreen(); break;
            }
            deliver();
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 25));
            deliver();
        }

        view.stop();
        view.openCamera(kCam2, 2);
        const int presented = [&] {
            std::lock_guard l(surface.m);
            return surface.presents;
        }();
        ASSERT_TRUE(eventually(
            [&] {
                deliver();
                std::lock_guard l(surface.m);
                return surface.presents > presented + 3;
            },
            30s))
            << "no pictures from camera 3";
        EXPECT_TRUE(eventually([&] { return rec.streamingCameras() == std::set<int>{2}; }, 10s))
            << "cameras streaming: " << rec.streamingCameras().size();
        view.stop();
        EXPECT_FALSE(client.hasMediaSink(2));
        EXPECT_TRUE(eventually([&] { return rec.streamingCameras().empty(); }, 10s));
    }
    client.setSink(nullptr);
    client.shutdown();
    EXPECT_EQ(rec.stop(), 0);
}
