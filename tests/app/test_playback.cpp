// The one playback path: streams that open and stop as what is shown changes (single view, grid,
// a tile alone), each stream's state and buffering rule, where pictures go (fitted, turned on a
// portrait screen in full screen, or into a tile), stall counts through a lost session, and the
// frame timer. Devices and drawing targets are fakes and ticks are driven by hand, except over
// the real device client at the end.
#include "app/ClientLiveViewDevice.h"
#include "device/support/ClientStreamLink.h"
#include "app/Playback.h"
#include "common/Clock.h"
#include "device/DeviceClient.h"
#include "tools/support/RecorderProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
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
using State = StreamController::State;

namespace {

struct Log {
    std::mutex m;
    std::vector<std::string> calls;   // "open 3", "stop 3"
    std::map<int, int> polls;         // channel -> takePicture calls
    void add(const std::string& s)
    {
        std::lock_guard l(m);
        calls.push_back(s);
    }
    std::vector<std::string> take()
    {
        std::lock_guard l(m);
        return std::exchange(calls, {});
    }
};

// One stream's device: hands out a picture of width x height whenever `ready` is set.
struct FakeDevice : LiveViewDevice {
    Log& log;
    std::atomic<int> channel{-1};
    std::atomic<bool> ready{false};
    std::atomic<int> width{4}, height{2};
    std::atomic<int> bufferingAnswer{1};   // the frame list ran dry
    std::atomic<int> rate{25};
    std::atomic<bool> undecodable{false};
    std::atomic<PixelFormat> format{PixelFormat::Bgrx32};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(352 * 288 * 4, 0x40);
    explicit FakeDevice(Log& l) : log(l) {}
    std::atomic<int> stream{0};
    void openChannel(int ch, int number) override
    {
        channel = ch;
        stream = number;
        log.add("open " + std::to_string(ch));
    }
    void stopChannel() override { log.add("stop " + std::to_string(channel)); }
    void setPixelFormat(PixelFormat f) override { format = f; }
    bool takePicture(Picture& p) override
    {
        {
            std::lock_guard l(log.m);
            log.polls[channel]++;
        }
        if (!ready)
            return false;
        p.pixels = pixels.data();
        p.width = width;
        p.height = height;
        p.format = format;
        p.bottomUp = format != PixelFormat::Rgb565;
        return true;
    }
    int buffering(int) override { return bufferingAnswer; }
    void giveBack(const Picture&) override { ready = false; }
    int frameRate() const override { return rate; }
    int undecodableCodec() const override { return undecodable ? 28 : -1; }
};

struct FakeHost : SingleViewHost {
    std::mutex m;
    std::vector<std::u16string> status;
    std::vector<Rect> moves;
    std::atomic<int> fills{0};   // the frame timer lays out too
    void postStatus(const std::u16string& key) override
    {
        std::lock_guard l(m);
        status.push_back(key);
    }
    void fillVideoAreaBlack() override { ++fills; }
    Rect videoAreaToScreen(const Rect& r) const override
    {
        return Rect{r.left + 100, r.top + 7, r.right + 100, r.bottom + 7};
    }
    void moveVideoArea(const Rect& r, bool) override { moves.push_back(r); }
    std::u16string last()
    {
        std::lock_guard l(m);
        return status.empty() ? u"" : status.back();
    }
};

struct FakeSurface : PictureSurface {
    std::mutex m;
    int depth = 32;
    int creates = 0, lastW = 0, lastH = 0, presents = 0;
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
        const size_t n = size_t(lastW) * lastH * depth / 8;
        if (n <= 4096)
            lastPixels.assign(px, px + n);
        return 0;
    }
    int presented()
    {
        std::lock_guard l(m);
        return presents;
    }
};

struct FakeTiles : TileSurface {
    std::vector<std::string> calls;   // "present 2 4x2", "state 2", "clear 2"
    void presentTile(int p, const uint8_t*, int w, int h, int, bool) override
    {
        calls.push_back("present " + std::to_string(p) + " " + std::to_string(w) + "x" +
                        std::to_string(h));
    }
    void tileStateChanged(int p) override { calls.push_back("state " + std::to_string(p)); }
    void clearTile(int p) override { calls.push_back("clear " + std::to_string(p)); }
};

using Calls = std::vector<std::string>;
const Rect kNormal{0, 45, 240, 195};   // 240 x 150
const Rect kFull{0, 0, 240, 320};

CameraId cam(int channel)
{
    return CameraId{0, channel};
}

struct PlaybackTest : ::testing::Test {
    Log log;
    FakeHost host;
    FakeSurface surface;
    FakeTiles tiles;
    std::map<int, FakeDevice*> devices;   // by channel, once its stream opened
    std::vector<FakeDevice*> made;
    Playback playback{host, surface, tiles, [this](CameraId) {
                          auto d = std::make_unique<FakeDevice>(log);
                          made.push_back(d.get());
                          return d;
                      }};

    void SetUp() override
    {
        playback.setManualTicks(true);
        playback.single().setRectangles(kNormal, kFull);
        playback.single().setVideoShown(true);
    }
    void apply(const Playback::Shown& s)
    {
        playback.show(s);
        for (FakeDevice* d : made)
            devices[d->channel] = d;
        made.clear();
    }
    void showSingle(int channel)
    {
        Playback::Shown s;
        s.live = {cam(channel)};
        s.single = cam(channel);
        apply(s);
    }
    // Tiles of the given channels (-1: empty); hidden: live streams not shown.
    void showTiles(std::vector<int> shown, std::vector<int> hidden = {})
    {
        Playback::Shown s;
        s.tileCount = int(shown.size());
        for (size_t p = 0; p < shown.size(); ++p) {
            if (shown[p] >= 0) {
                s.tiles[p] = cam(shown[p]);
                s.live.push_back(cam(shown[p]));
            }
        }
        for (int ch : hidden)
            s.live.push_back(cam(ch));
        apply(s);
    }
    void ready(int channel, int w, int h)
    {
        devices[channel]->width = w;
        devices[channel]->height = h;
        devices[channel]->ready = true;
    }
};

}   // namespace

TEST_F(PlaybackTest, StreamsFollowWhatIsShownAndACameraMovingBetweenViewsKeepsItsStream)
{
    EXPECT_EQ(surface.lastW, 352) << "the surface is made at once";
    struct Step {
        const char* what;
        std::function<void()> change;
        Calls calls;
        int streams;
    };
    const Step steps[] = {
        {"one camera", [&] { showSingle(2); }, {"open 2"}, 1},
        {"the same camera again opens nothing", [&] { showSingle(2); }, {}, 1},
        {"a grid around it",
         [&] {
             showTiles({0, 1, 2, 3});
         },
         {"open 0", "open 1", "open 3"},
         4},
        {"camera 6 replaces camera 1",
         [&] {
             showTiles({5, 1, 2, 3});
         },
         {"stop 0", "open 5"},
         4},
        {"tiles swap: nothing stops",
         [&] {
             showTiles({5, 2, 1, 3});
         },
         {},
         4},
        {"a tile alone: every stream runs",
         [&] {
             showTiles({1}, {5, 2, 3});
         },
         {},
         4},
        {"back to the grid",
         [&] {
             showTiles({5, 2, 1, 3});
         },
         {},
         4},
        {"one camera of the grid", [&] { showSingle(1); }, {"stop 2", "stop 3", "stop 5"}, 1},
    };
    for (const Step& s : steps) {
        s.change();
        EXPECT_EQ(log.take(), s.calls) << s.what;
        EXPECT_EQ(playback.streamCount(), s.streams) << s.what;
    }
    EXPECT_EQ(playback.singleCamera(), cam(1));
    playback.stopAll();
    EXPECT_EQ(log.take(), Calls{"stop 1"});
    EXPECT_EQ(host.last(), u"STOP");
    EXPECT_FALSE(playback.singleCamera().valid());

    // Tiles whose camera changed lose their picture; the others are told of their state.
    showTiles({0, 1});
    tiles.calls.clear();
    showTiles({1, 0, 4, -1});
    EXPECT_EQ(tiles.calls, (Calls{"clear 0", "clear 1", "clear 2"}));
}

TEST_F(PlaybackTest, ACameraAloneSwitchesToItsStreamNumberHoldingTheTilePicture)
{
    playback.setStreamNumbers(2, 1);
    showTiles({0, 1, 2, 3});
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(devices[ch]->stream.load(), 2);
        playback.onOpenResult(cam(ch), 0);
    }
    ready(0, 4, 2);
    playback.tick();
    ASSERT_EQ(playback.tileState(0), State::Playing);
    log.take();
    tiles.calls.clear();

    // Alone: the recorder stops stream 2 and starts stream 1; the tile keeps its picture and
    // says it plays until the first picture of stream 1.
    showTiles({0}, {1, 2, 3});
    EXPECT_EQ(log.take(), Calls{"open 0"});
    EXPECT_EQ(devices[0]->stream.load(), 1);
    EXPECT_TRUE(playback.stream(cam(0))->holding());
    for (const std::string& c : tiles.calls)
        EXPECT_NE(c, "clear 0");
    playback.onOpenResult(cam(0), 0);
    for (int i = 0; i < 20; ++i)
        playback.tick();
    EXPECT_EQ(playback.tileState(0), State::Playing) << "no Buffering while held";
    ready(0, 8, 4);
    playback.tick();
    EXPECT_FALSE(playback.stream(cam(0))->holding());
    EXPECT_EQ(playback.tileState(0), State::Playing);

    // Back in the grid: stream 2 again, the hidden tiles' streams untouched.
    showTiles({0, 1, 2, 3});
    EXPECT_EQ(log.take(), Calls{"open 0"});
    EXPECT_EQ(devices[0]->stream.load(), 2);
    // A refused switch says so instead of holding for ever.
    showTiles({1}, {0, 2, 3});
    playback.onOpenResult(cam(1), 5);
    EXPECT_EQ(playback.tileState(0), State::OpenError);
    // The single view uses the single stream number from its first open.
    showSingle(3);
    EXPECT_EQ(devices[3]->stream.load(), 1);
}

TEST_F(PlaybackTest, OneStateMachineForTheSingleViewAndTheTiles)
{
    showTiles({0, 1, 2, 3});
    EXPECT_FALSE(playback.onOpenResult(cam(5), 0)) << "not a camera shown";
    for (int ch : {0, 1, 3})
        ASSERT_TRUE(playback.onOpenResult(cam(ch), 0));
    log.take();
    ASSERT_TRUE(playback.onOpenResult(cam(2), 7));   // refused: stopped again
    EXPECT_EQ(log.take(), Calls{"stop 2"});
    playback.onOpenResult(cam(2), 0);   // a late answer changes nothing
    EXPECT_EQ(playback.tileState(2), State::OpenError);

    log.polls.clear();
    tiles.calls.clear();
    ready(1, 4, 2);
    devices[3]->undecodable = true;
    playback.tick();
    EXPECT_EQ(log.polls, (std::map<int, int>{{0, 1}, {1, 1}, {3, 1}})) << "opened streams only";
    EXPECT_EQ(tiles.calls, (Calls{"present 1 4x2", "state 1", "state 3"}));
    EXPECT_EQ(playback.tileState(0), State::Buffering);
    EXPECT_EQ(playback.tileState(1), State::Playing);
    EXPECT_EQ(playback.tileState(3), State::CodecError);
    EXPECT_EQ(playback.presentedAt(1), 1);
    // Between pictures a playing stream stays playing for a few frames, then says it buffers.
    const int grace = StreamController::kGraceFrames * 2;   // two polls per frame
    for (int i = 0; i < grace; ++i)
        playback.tick();
    EXPECT_EQ(playback.tileState(1), State::Playing);
    playback.tick();
    EXPECT_EQ(playback.tileState(1), State::Buffering);
    devices[1]->bufferingAnswer = 0;   // the decoder holds a second of frames again
    playback.tick();
    EXPECT_EQ(playback.tileState(1), State::Playing);
    devices[3]->undecodable = false;   // a decodable key frame came
    playback.tick();
    EXPECT_EQ(playback.tileState(3), State::Buffering);

    // The same camera shown alone says its state in the status row, each change once.
    showSingle(1);
    EXPECT_EQ(host.last(), u"PLAYING") << "the stream goes on";
    devices[1]->bufferingAnswer = 1;
    for (int i = 0; i <= grace; ++i)
        playback.tick();
    devices[1]->undecodable = true;
    playback.tick();
    ready(1, 4, 2);
    devices[1]->undecodable = false;
    playback.tick();
    const std::vector<std::u16string> said(host.status.end() - 4, host.status.end());
    EXPECT_EQ(said,
              (std::vector<std::u16string>{u"PLAYING", u"BUFFERING", u"CODEC_ERR", u"PLAYING"}));
    EXPECT_EQ(StreamController::tileKey(State::Opening), std::u16string(u"OPENING_TILE"));
    EXPECT_EQ(StreamController::singleKey(State::OpenError), std::u16string(u"OPEN_ERR"));

    // A new camera opens with its own text; a refused one blacks the area.
    showSingle(4);
    EXPECT_EQ(host.last(), u"OPENING_V");
    const int fills = host.fills;
    playback.onOpenResult(cam(4), 9);
    EXPECT_EQ(host.last(), u"OPEN_ERR");
    EXPECT_GT(host.fills.load(), fills);
}

TEST_F(PlaybackTest, SingleViewFitsTheWindowedPictureAndTurnsItInPortraitFullScreen)
{
    showSingle(0);
    playback.onOpenResult(cam(0), 0);
    ready(0, 352, 288);
    playback.tick();
    const SingleView& view = playback.single();
    EXPECT_EQ(surface.lastDest, (Rect{128, 7, 311, 157}));   // 183 x 150 at x = 28, on screen
    EXPECT_TRUE(surface.lastBottomUp);                       // 32-bit rows arrive bottom first
    EXPECT_FALSE(view.hasTurnBuffer());
    EXPECT_FALSE(devices[0]->ready) << "given back";
    const int creates = surface.creates;
    ready(0, 352, 288);
    playback.tick();
    EXPECT_EQ(surface.creates, creates) << "same size: no new layout";

    playback.single().toggleFullScreen();
    EXPECT_EQ(host.moves.back(), kFull);
    ready(0, 352, 288);
    playback.tick();
    EXPECT_TRUE(view.pictureTurned());
    EXPECT_EQ(surface.lastW, 288);
    EXPECT_EQ(surface.lastDest, (Rect{100, 20, 340, 313}));   // 240 x 293 at y = 13
    EXPECT_FALSE(surface.lastBottomUp);
    // Taller than the screen: upright. Too large for a turning buffer: upright, nothing made.
    for (auto [w, h] : {std::pair{200, 400}, std::pair{40000, 30000}}) {
        ready(0, w, h);
        playback.tick();
        EXPECT_FALSE(view.pictureTurned()) << w;
        EXPECT_FALSE(view.hasTurnBuffer()) << w;
    }
    // Another camera leaves full screen and frees the buffer.
    ready(0, 352, 288);
    playback.tick();
    ASSERT_TRUE(view.hasTurnBuffer());
    showSingle(1);
    EXPECT_FALSE(view.fullScreen());
    EXPECT_FALSE(view.hasTurnBuffer());
    EXPECT_EQ(host.moves.back(), kNormal);

    // Tree shown: pictures are taken and given back undrawn.
    playback.onOpenResult(cam(1), 0);
    playback.single().setVideoShown(false);
    const int presents = surface.presents;
    ready(1, 352, 288);
    playback.tick();
    EXPECT_EQ(surface.presents, presents);
    EXPECT_FALSE(devices[1]->ready);
}

TEST_F(PlaybackTest, SixteenBitPicturesAreTurnedClockwise)
{
    surface.depth = 16;
    FakeHost host16;
    Playback sixteen(host16, surface, tiles, [this](CameraId) {
        auto d = std::make_unique<FakeDevice>(log);
        made.push_back(d.get());
        return d;
    });
    sixteen.setManualTicks(true);
    EXPECT_EQ(sixteen.pixelDepth(), 16);
    sixteen.single().setRectangles(kNormal, kFull);
    sixteen.single().setVideoShown(true);
    Playback::Shown s;
    s.single = cam(0);
    sixteen.show(s);
    FakeDevice* d = made.back();
    EXPECT_EQ(d->format.load(), PixelFormat::Rgb565);
    sixteen.onOpenResult(cam(0), 0);
    sixteen.single().toggleFullScreen();
    // 4 x 2, top row first: a b c d / e f g h.
    const uint16_t px[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(d->pixels.data(), px, sizeof px);
    d->width = 4;
    d->height = 2;
    d->ready = true;
    sixteen.tick();
    ASSERT_EQ(surface.lastPixels.size(), 16u);
    uint16_t out[8];
    std::memcpy(out, surface.lastPixels.data(), sizeof out);
    const uint16_t expect[8] = {5, 1, 6, 2, 7, 3, 8, 4};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expect[i]) << i;
    EXPECT_FALSE(surface.lastBottomUp);
}

// On the manual clock: a stream that drew nothing for 3 s says so (second by second) until the
// next picture; a lost session keeps the cameras and their last pictures and the count goes on
// through the reopen.
TEST_F(PlaybackTest, StallCountGoesOnThroughALostSessionUntilTheNextPicture)
{
    Clock::useManual();
    struct RealClockAfter {
        ~RealClockAfter() { Clock::useReal(); }
    } realClockAfter;
    showTiles({0, 1});
    StreamController* s = playback.stream(cam(1));
    EXPECT_EQ(s->stalledSeconds(), 0);
    Clock::advance(5000);
    EXPECT_EQ(s->stalledSeconds(), 0) << "not before the stream opened";
    playback.onOpenResult(cam(1), 0);
    ready(1, 4, 2);
    playback.tick();
    Clock::advance(2999);
    EXPECT_EQ(s->stalledSeconds(), 0);
    Clock::advance(1);
    EXPECT_EQ(s->stalledSeconds(), 3);

    log.take();
    playback.suspend(0);
    EXPECT_EQ(log.take(), (Calls{"stop 0", "stop 1"}));
    EXPECT_EQ(playback.tileState(1), State::Stopped);
    Clock::advance(2000);
    EXPECT_EQ(s->stalledSeconds(), 5);
    showTiles({0, 1});   // the session is back
    EXPECT_EQ(log.take(), (Calls{"open 0", "open 1"}));
    EXPECT_EQ(playback.stream(cam(1)), s) << "the same stream";
    playback.onOpenResult(cam(1), 0);
    EXPECT_EQ(s->stalledSeconds(), 5);
    ready(1, 4, 2);
    playback.tick();
    EXPECT_EQ(s->stalledSeconds(), 0);

    // Reopening a silent stream keeps counting too; a stream that cannot be shown is no stall.
    Clock::advance(4000);
    ASSERT_TRUE(playback.reopen(cam(1)));
    EXPECT_EQ(log.take(), Calls{"open 1"});
    EXPECT_EQ(s->stalledSeconds(), 4);
    playback.onOpenResult(cam(1), 0);
    devices[1]->undecodable = true;
    playback.tick();
    EXPECT_EQ(s->stalledSeconds(), 0);
    EXPECT_FALSE(playback.reopen(cam(7)));
}

TEST_F(PlaybackTest, TheFrameTimerFollowsTheFastestStreamAndLowLatencyPollsMoreOften)
{
    playback.setManualTicks(false);
    showTiles({0, 1});
    EXPECT_TRUE(playback.timerRunning());
    for (int ch : {0, 1})
        playback.onOpenResult(cam(ch), 0);
    devices[1]->rate = 50;
    auto polls = [&] {
        std::lock_guard l(log.m);
        return log.polls[0];
    };
    auto eventually = [](const std::function<bool()>& done) {
        for (auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(1ms))
            if (done())
                return true;
        return false;
    };
    ASSERT_TRUE(eventually([&] { return playback.periodMs() == 10; })) << "half a frame of 50 fps";
    playback.setLowLatency(true);
    EXPECT_TRUE(playback.stream(cam(0))->lowLatency());
    ASSERT_TRUE(eventually([&] { return playback.periodMs() == 5; }));
    playback.stopAll();
    EXPECT_FALSE(playback.timerRunning());
    const int q = polls();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(polls(), q) << "no tick after stopAll() returned";
}

// Walls and the spot: one stream per camera whatever number of tiles show it, at the single
// number where it is shown alone; a wall that goes stops what only it showed and is not touched.
TEST_F(PlaybackTest, WallsShareEachCamerasOneStreamAndAWallGoneStopsOnlyItsOwn)
{
    playback.setStreamNumbers(2, 1);
    FakeTiles wall, spot;
    Playback::Shown s;
    s.tileCount = 4;
    for (int p = 0; p < 4; ++p)
        s.tiles[size_t(p)] = s.live.emplace_back(cam(p));
    s.walls.push_back({&wall, 6, {cam(0), cam(4), cam(5)}});
    s.walls.push_back({&spot, 1, {cam(1)}});
    apply(s);
    EXPECT_EQ(log.take(), (Calls{"open 0", "open 1", "open 2", "open 3", "open 4", "open 5"}));
    EXPECT_EQ(devices[0]->stream.load(), 2);
    EXPECT_EQ(devices[1]->stream.load(), 1) << "on the spot: alone";
    EXPECT_EQ(playback.wallCamera(&wall, 1), cam(4));
    EXPECT_EQ(playback.wallState(&wall, 3), State::Stopped) << "an empty tile";
    for (int ch = 0; ch < 6; ++ch)
        playback.onOpenResult(cam(ch), 0);
    ready(0, 4, 2);
    ready(1, 8, 4);
    tiles.calls.clear();
    wall.calls.clear();
    spot.calls.clear();
    playback.tick();
    EXPECT_EQ(tiles.calls, (Calls{"present 0 4x2", "state 0", "present 1 8x4", "state 1"}));
    EXPECT_EQ(wall.calls, (Calls{"present 0 4x2", "state 0"}));
    EXPECT_EQ(spot.calls, (Calls{"present 0 8x4", "state 0"}));
    EXPECT_EQ(playback.wallState(&wall, 0), State::Playing);

    // The wall's screen goes: its own cameras stop, camera 0 plays on in the grid.
    s.walls.erase(s.walls.begin());
    wall.calls.clear();
    apply(s);
    EXPECT_EQ(log.take(), (Calls{"stop 4", "stop 5"}));
    EXPECT_TRUE(wall.calls.empty());
    EXPECT_EQ(playback.wallCamera(&wall, 0), CameraId{});
    // The spot follows another camera: the old one goes back to its tile number.
    s.walls[0].tiles[0] = cam(2);
    apply(s);
    EXPECT_EQ(devices[1]->stream.load(), 2);
    EXPECT_EQ(devices[2]->stream.load(), 1);
    // The spot's window goes before the fixture's playback, as a wall's screen does: detached.
    s.walls.clear();
    apply(s);
}

// ---------------------------------------------------------------- over the real device client

namespace {

// Channel open answers, kept for the test thread to hand on as the coordinator's posted work
// does.
struct OpenAnswers : DeviceEvents {
    std::mutex m;
    std::vector<std::pair<int, int>> pending;   // channel, code
    std::atomic<int> login{-1};
    void onLogin(int code, int, int) override { login = code; }
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

// Playback over a real client logged in to the simulated recorder (four cameras).
class PlaybackOverTheClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rec.start());
        client.setSink(&answers);
        playback = std::make_unique<Playback>(host, surface, tiles, [this](CameraId) {
            return std::make_unique<ClientLiveViewDevice>(link);
        });
        client.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
        for (int i = 0; i < 2000 && answers.login.load() == -1; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(answers.login.load(), 0);
    }
    void TearDown() override
    {
        playback.reset();
        client.setSink(nullptr);
        client.shutdown();
        EXPECT_EQ(rec.stop(), 0);
    }

    RecorderProcess rec{{"--size", "176x144", "--fps", "25", "--channels", "4"}};
    OpenAnswers answers;
    FakeHost host;
    FakeSurface surface;
    FakeTiles tiles;
    DeviceClient client;
    test::ClientStreamLink link{client};
    std::unique_ptr<Playback> playback;
};

}   // namespace

// Switch between one camera, grids and a tile alone from this (user-interface) thread while
// opens complete and real pictures stream: the decoders are started and stopped only here, the
// network thread only pushes, the frame timer only polls. Meant for ThreadSanitizer as much as
// for the result: afterwards only the cameras shown stream, and after stopAll none does.
TEST_F(PlaybackOverTheClient, TheRecorderSeesTheTileStreamStopAndTheSingleStreamStart)
{
    Playback& playback = *this->playback;
    playback.setStreamNumbers(2, 1);
    Playback::Shown grid;
    grid.tileCount = 4;
    grid.tiles[0] = cam(0);
    grid.tiles[1] = cam(1);
    playback.show(grid);
    for (int ch : {0, 1})
        EXPECT_EQ(RecorderProcess::field(
                      rec.waitFor({"\"event\":\"stream\"", "\"channel\":" + std::to_string(ch),
                                   "\"op\":\"start\""},
                                  10000),
                      "stream"),
                  "2");
    size_t from = rec.events().size();
    Playback::Shown alone;
    alone.tileCount = 1;
    alone.tiles[0] = cam(1);
    alone.live = {cam(0)};
    playback.show(alone);
    const std::string stop =
        rec.waitFor({"\"event\":\"stream\"", "\"channel\":1", "\"op\":\"stop\""}, 10000, from);
    const std::string start =
        rec.waitFor({"\"event\":\"stream\"", "\"channel\":1", "\"op\":\"start\""}, 10000, from);
    EXPECT_FALSE(stop.empty());
    EXPECT_EQ(RecorderProcess::field(start, "stream"), "1");
    from = rec.events().size();
    playback.show(grid);
    EXPECT_EQ(
        RecorderProcess::field(
            rec.waitFor({"\"event\":\"stream\"", "\"channel\":1", "\"op\":\"start\""}, 10000, from),
            "stream"),
        "2");
    playback.stopAll();
}

TEST_F(PlaybackOverTheClient, HammeredSwitchingLeavesOnlyTheShownCamerasStreaming)
{
    Playback& playback = *this->playback;
    playback.single().setRectangles(kNormal, kFull);
    playback.single().setVideoShown(true);

    auto deliver = [&] {
        for (auto [channel, code] : answers.take())
            playback.onOpenResult(cam(channel), code);
    };
    std::mt19937 random(7);
    for (int i = 0; i < 80; ++i) {
        Playback::Shown s;
        const int first = int(random() % 4);
        switch (random() % 4) {
        case 0: s.single = cam(first); break;
        case 1:
            s.tileCount = 4;
            for (int p = 0; p < 4; ++p)
                s.tiles[size_t(p)] = cam((first + p) % 4);
            break;
        case 2:   // one tile alone, the others hidden
            s.tileCount = 1;
            s.tiles[0] = cam(first);
            for (int ch = 0; ch < 4; ++ch)
                s.live.push_back(cam(ch));
            break;
        default: playback.single().toggleFullScreen(); break;
        }
        if (s.single.valid() || s.tileCount > 0)
            playback.show(s);
        deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 25));
        deliver();
    }

    Playback::Shown one;
    one.single = cam(2);
    playback.show(one);
    const int presented = surface.presented();
    bool pictures = false;
    for (int i = 0; i < 3000 && !pictures; ++i) {
        deliver();
        pictures = surface.presented() > presented + 3;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(pictures) << "no pictures from camera 3";
    std::set<int> streaming;
    for (int i = 0; i < 1000 && (streaming = rec.streamingCameras()) != std::set<int>{2}; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(streaming, std::set<int>{2});
    playback.stopAll();
    EXPECT_FALSE(client.hasMediaSink(2));
    for (int i = 0; i < 1000 && !rec.streamingCameras().empty(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(rec.streamingCameras().empty());
}
