// The multi-camera view's streams: which channels open and stop as the tile model changes,
// open answers, what the frame timer polls and where pictures go. Devices and the drawing
// target are fakes; the timer is driven by hand.
#include "app/GridView.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace kevra;
using State = TileController::State;

namespace {

struct Log {
    std::vector<std::string> calls;   // "open 3", "stop 3"
    std::map<int, int> polls;         // channel -> takePicture calls
};

// One stream's device: hands out a 4 x 2 picture whenever `ready` is set.
struct FakeDevice : LiveViewDevice {
    Log& log;
    int channel = -1;
    bool ready = false;
    bool undecodable = false;
    uint8_t pixels[4 * 2 * 4] = {};
    explicit FakeDevice(Log& l) : log(l) {}
    void openChannel(int ch, int) override
    {
        channel = ch;
        log.calls.push_back("open " + std::to_string(ch));
    }
    void stopChannel() override { log.calls.push_back("stop " + std::to_string(channel)); }
    void setPixelFormat(PixelFormat) override {}
    bool takePicture(Picture& p) override
    {
        log.polls[channel]++;
        if (!ready)
            return false;
        p.pixels = pixels;
        p.width = 4;
        p.height = 2;
        p.bottomUp = true;
        return true;
    }
    int buffering(int) override { return 1; }   // the frame list ran dry
    void giveBack(const Picture&) override { ready = false; }
    int frameRate() const override { return 25; }
    int undecodableCodec() const override { return undecodable ? 28 : -1; }
};

struct FakeSurface : TileSurface {
    std::vector<std::string> calls;   // "present 2 4x2", "state 2", "clear 2"
    void presentTile(int p, const uint8_t*, int w, int h, int, bool) override
    {
        calls.push_back("present " + std::to_string(p) + " " + std::to_string(w) + "x" +
                        std::to_string(h));
    }
    void tileStateChanged(int p) override { calls.push_back("state " + std::to_string(p)); }
    void clearTile(int p) override { calls.push_back("clear " + std::to_string(p)); }
};

struct GridViewTest : ::testing::Test {
    Log log;
    FakeSurface surface;
    std::map<int, FakeDevice*> devices;   // by channel, filled once a stream opens
    TileGrid grid;
    GridView view{surface, [this] {
                      auto d = std::make_unique<FakeDevice>(log);
                      pending.push_back(d.get());
                      return d;
                  }};
    std::vector<FakeDevice*> pending;

    void SetUp() override { grid.setCameraCount(6); }
    // Applies a model change and returns the device calls it caused.
    std::vector<std::string> apply(TileGrid::Change (TileGrid::*change)(int), int arg)
    {
        (grid.*change)(arg);
        log.calls.clear();
        resync();
        return log.calls;
    }
    void resync()
    {
        view.sync(grid);
        for (FakeDevice* d : pending)
            devices[d->channel] = d;
        pending.clear();
    }
};

using Calls = std::vector<std::string>;

}   // namespace

TEST_F(GridViewTest, StreamsFollowTheModelAndOnlyChangedChannelsStopOrOpen)
{
    struct Step {
        const char* what;
        TileGrid::Change (TileGrid::*change)(int);
        int arg;
        Calls calls;
        int streams;
    };
    const Step steps[] = {
        {"layout 4 opens cameras 1-4",
         &TileGrid::setLayout,
         4,
         {"open 0", "open 1", "open 2", "open 3"},
         4},
        {"camera 6 into the selected tile replaces camera 1",
         &TileGrid::choose,
         5,
         {"stop 0", "open 5"},
         4},
        {"a shown camera swaps tiles: nothing stops", &TileGrid::choose, 2, {}, 4},
        {"zoom: every camera keeps streaming", &TileGrid::toggleZoom, 0, {}, 4},
        {"back to the grid reopens nothing", &TileGrid::toggleZoom, 0, {}, 4},
        {"layout 9 adds the unshown cameras", &TileGrid::setLayout, 9, {"open 0", "open 4"}, 6},
        {"layout 1 stops all but the selected",
         &TileGrid::setLayout,
         1,
         {"stop 0", "stop 1", "stop 3", "stop 4", "stop 5"},
         1},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(apply(s.change, s.arg), s.calls) << s.what;
        EXPECT_EQ(view.streamCount(), s.streams) << s.what;
        for (int p = 0; p < grid.shownTiles(); ++p)
            EXPECT_EQ(view.channelAt(p), grid.channel(grid.positionTile(p)))
                << s.what << " position " << p;
    }
    log.calls.clear();
    view.stopAll();
    EXPECT_EQ(log.calls, Calls{"stop 2"});
    EXPECT_FALSE(view.timerRunning());
    // The next sync (after a new login) opens the remembered tile again.
    view.sync(grid);
    EXPECT_EQ(log.calls, (Calls{"stop 2", "open 2"}));
}

TEST_F(GridViewTest, OpenAnswersAndPollingFollowEachTilesState)
{
    apply(&TileGrid::setLayout, 4);
    EXPECT_TRUE(view.timerRunning());
    EXPECT_FALSE(view.onOpenResult(5, 0)) << "not a channel of the grid";
    ASSERT_TRUE(view.onOpenResult(0, 0));
    ASSERT_TRUE(view.onOpenResult(1, 0));
    log.calls.clear();
    ASSERT_TRUE(view.onOpenResult(2, 7));   // refused: stopped again
    EXPECT_EQ(log.calls, Calls{"stop 2"});
    view.onOpenResult(2, 0);   // a late answer changes nothing
    EXPECT_EQ(view.stateAt(2), State::OpenError);
    EXPECT_EQ(view.stateAt(3), State::Opening);

    view.stopAll();   // fresh streams, ticks driven by hand
    view.setManualTicks(true);
    resync();
    EXPECT_FALSE(view.timerRunning());
    for (int ch : grid.shownChannels())
        view.onOpenResult(ch, ch == 2 ? 7 : 0);
    log.polls.clear();
    surface.calls.clear();
    devices[1]->ready = true;
    devices[3]->undecodable = true;
    view.tick();
    EXPECT_EQ(log.polls, (std::map<int, int>{{0, 1}, {1, 1}, {3, 1}}))
        << "only opened streams are polled";
    EXPECT_EQ(surface.calls, (Calls{"present 1 4x2", "state 1", "state 3"}));
    EXPECT_EQ(view.stateAt(0), State::Buffering);
    EXPECT_EQ(view.stateAt(1), State::Playing);
    EXPECT_EQ(view.stateAt(2), State::OpenError);
    EXPECT_EQ(view.stateAt(3), State::CodecError);
    EXPECT_EQ(view.presentedAt(1), 1);
    // The picture was handed over once: nothing more until the decoder has a new one.
    surface.calls.clear();
    view.tick();
    EXPECT_EQ(surface.calls, Calls{});
    // Between pictures a playing tile stays playing for a few polls, then says it buffers.
    for (int i = 1; i < TileController::kGraceTicks; ++i)   // one tick without a picture ran above
        view.tick();
    EXPECT_EQ(view.stateAt(1), State::Playing);
    view.tick();
    EXPECT_EQ(view.stateAt(1), State::Buffering);
    devices[1]->ready = true;
    view.tick();
    EXPECT_EQ(view.stateAt(1), State::Playing);
    EXPECT_EQ(TileController::stateKey(State::Playing), std::u16string(u"PLAYING_TILE"));
    EXPECT_EQ(TileController::stateKey(State::Stopped), std::u16string(u"STOP_TILE"));
}

TEST_F(GridViewTest, TilesWhoseCameraChangedLoseTheirPicture)
{
    apply(&TileGrid::setLayout, 4);
    surface.calls.clear();
    grid.select(2);
    apply(&TileGrid::choose, 1);   // tiles 1 and 2 swap cameras
    EXPECT_EQ(surface.calls, (Calls{"clear 1", "clear 2"}));
}
