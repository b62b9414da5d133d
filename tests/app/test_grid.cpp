#include "app/GridLayout.h"
#include "app/MainLayout.h"
#include "app/TileGrid.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kevra;

namespace {

// Main window layouts of the two reference screens (fonts as the viewer measures them there).
MainLayout::Result screen(int w, int h)
{
    MainLayout::Input in;
    in.width = w;
    in.height = h;
    in.barFontHeight = 13;
    in.labelTextWidth = w < 400 ? 60 : 72;
    in.labelTextHeight = w < 400 ? 16 : 17;
    in.windowFontHeight = 13;
    in.screenWidth = w;
    in.screenHeight = h;
    return MainLayout::compute(in);
}

struct Area {
    const char* name;
    Rect rect;
};

std::vector<Area> referenceAreas()
{
    const MainLayout::Result small = screen(240, 320), large = screen(640, 480);
    return {{"240x320 normal", small.normalVideo},
            {"240x320 full", small.fullScreenVideo},
            {"640x480 normal", large.normalVideo},
            {"640x480 full", large.fullScreenVideo}};
}

bool inside(const Rect& in, const Rect& out)
{
    return in.left >= out.left && in.top >= out.top && in.right <= out.right &&
           in.bottom <= out.bottom;
}

}   // namespace

TEST(MainLayout, LayoutControlTakesTheStatusRowsRightEndOnly)
{
    struct Case {
        int w, h;
        Rect button, text;
    };
    const Case cases[] = {
        {240, 320, Rect{200, 25, 240, 45}, Rect{0, 25, 200, 45}},
        {640, 480, Rect{598, 25, 640, 46}, Rect{0, 25, 598, 46}},
    };
    for (const Case& c : cases) {
        const MainLayout::Result r = screen(c.w, c.h);
        EXPECT_EQ(r.layoutButton, c.button) << c.w;
        EXPECT_EQ(r.statusText, c.text) << c.w;
        EXPECT_EQ(r.statusLine, (Rect{0, 25, c.w, c.button.bottom})) << c.w;
        // Clear of the bar, the panels and the video rectangle.
        for (const Rect& other : {r.videoBar[0], r.videoBar[4], r.directionRight, r.lensLeft,
                                  r.lensRight, r.normalVideo})
            EXPECT_TRUE(c.button.bottom <= other.top) << c.w;
    }
    // The 240 x 320 worked example keeps its rectangles.
    const MainLayout::Result r = screen(240, 320);
    EXPECT_EQ(r.normalVideo, (Rect{0, 45, 240, 255}));
    EXPECT_EQ(r.videoBar[4], (Rect{192, 295, 240, 320}));
}

TEST(GridLayout, EveryLayoutOnBothScreensTilesTheAreaExactly)
{
    for (const Area& a : referenceAreas()) {
        for (int tiles : {1, 4, 9, 16}) {
            SCOPED_TRACE(std::string(a.name) + " tiles " + std::to_string(tiles));
            const int n = GridLayout::side(tiles);
            int area = 0;
            for (int i = 0; i < tiles; ++i) {
                const Rect t = GridLayout::tile(a.rect, tiles, i);
                const Rect c = GridLayout::content(a.rect, tiles, i);
                ASSERT_GT(t.width(), 0);
                ASSERT_GT(c.width(), 0);
                EXPECT_TRUE(inside(t, a.rect));
                EXPECT_TRUE(inside(c, t));
                EXPECT_EQ(c == t, tiles == 1);
                area += t.width() * t.height();
                // Neighbours sit exactly one gap apart; the outer tiles touch the area's edges.
                const int col = i % n, row = i / n;
                if (col + 1 < n)
                    EXPECT_EQ(GridLayout::tile(a.rect, tiles, i + 1).left,
                              t.right + GridLayout::kGap);
                else
                    EXPECT_EQ(t.right, a.rect.right);
                if (row + 1 < n)
                    EXPECT_EQ(GridLayout::tile(a.rect, tiles, i + n).top,
                              t.bottom + GridLayout::kGap);
                else
                    EXPECT_EQ(t.bottom, a.rect.bottom);
                if (col == 0) {
                    EXPECT_EQ(t.left, a.rect.left);
                }
                if (row == 0) {
                    EXPECT_EQ(t.top, a.rect.top);
                }
                // Tiles differ by at most one pixel.
                const Rect first = GridLayout::tile(a.rect, tiles, 0);
                EXPECT_LE(std::abs(t.width() - first.width()), 1);
                EXPECT_LE(std::abs(t.height() - first.height()), 1);
                // Corners and centre of a tile hit that tile.
                EXPECT_EQ(GridLayout::hit(a.rect, tiles, t.left, t.top), i);
                EXPECT_EQ(GridLayout::hit(a.rect, tiles, t.right - 1, t.bottom - 1), i);
                EXPECT_EQ(
                    GridLayout::hit(a.rect, tiles, (t.left + t.right) / 2, (t.top + t.bottom) / 2),
                    i);
            }
            const int gaps = (n - 1) * GridLayout::kGap;
            // Tiles and gaps cover the area: the gaps take whole rows and columns.
            EXPECT_EQ(area, (a.rect.width() - gaps) * (a.rect.height() - gaps));
            EXPECT_EQ(GridLayout::hit(a.rect, tiles, a.rect.left - 1, a.rect.top), -1);
            EXPECT_EQ(GridLayout::hit(a.rect, tiles, a.rect.right, a.rect.top), -1);
            EXPECT_EQ(GridLayout::hit(a.rect, tiles, a.rect.left, a.rect.bottom), -1);
            EXPECT_EQ(GridLayout::tile(a.rect, tiles, tiles), Rect{});
        }
    }
}

TEST(GridLayout, WorkedRectanglesAndGapsSplitBetweenNeighbours)
{
    const Rect small{0, 45, 240, 255};   // 240 x 320 normal video
    const Rect large{0, 0, 640, 480};
    struct Case {
        Rect area;
        int tiles, index;
        Rect tile;
    };
    const Case cases[] = {
        {small, 1, 0, Rect{0, 45, 240, 255}},
        {small, 4, 0, Rect{0, 45, 119, 149}},   // (240 - 2) / 2 = 119, (210 - 2) / 2 = 104
        {small, 4, 3, Rect{121, 151, 240, 255}},
        {small, 9, 4, Rect{80, 115, 159, 184}},      // 236 / 3: 78 | 157, 206 / 3: 68 | 137
        {small, 16, 15, Rect{181, 204, 240, 255}},   // 234 * 3 / 4 = 175, + 3 gaps
        {large, 4, 1, Rect{321, 0, 640, 239}},
        {large, 16, 5, Rect{160, 120, 319, 239}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GridLayout::tile(c.area, c.tiles, c.index), c.tile) << c.tiles << "/" << c.index;
    EXPECT_EQ(GridLayout::content(small, 4, 3), (Rect{123, 153, 238, 253}));
    // The two gap columns between tiles 0 and 1 of a 2 x 2 grid on 240: 119 goes left, 120 right.
    EXPECT_EQ(GridLayout::hit(small, 4, 119, 50), 0);
    EXPECT_EQ(GridLayout::hit(small, 4, 120, 50), 1);
    EXPECT_EQ(GridLayout::hit(small, 4, 5, 150), 2);
    EXPECT_EQ(GridLayout::hit(small, 4, 5, 151), 2);
    EXPECT_EQ(GridLayout::hit(small, 4, 5, 148), 0);
}

TEST(GridLayout, LayoutsCycleAndHostileInputGivesNothing)
{
    EXPECT_EQ(GridLayout::next(1), 4);
    EXPECT_EQ(GridLayout::next(4), 9);
    EXPECT_EQ(GridLayout::next(9), 16);
    EXPECT_EQ(GridLayout::next(16), 1);
    EXPECT_EQ(GridLayout::next(7), 1);
    for (int bad : {0, 2, 3, -4, 25})
        EXPECT_FALSE(GridLayout::isLayout(bad));
    EXPECT_EQ(GridLayout::tile(Rect{0, 0, 100, 100}, 6, 0), Rect{});
    EXPECT_EQ(GridLayout::tile(Rect{0, 0, 100, 100}, 4, -1), Rect{});
    // Too small for a pixel per tile after the gaps; an empty or inverted area.
    EXPECT_EQ(GridLayout::tile(Rect{0, 0, 9, 100}, 16, 0), Rect{});
    EXPECT_EQ(GridLayout::hit(Rect{0, 0, 9, 100}, 16, 1, 1), -1);
    EXPECT_EQ(GridLayout::tile(Rect{10, 10, 0, 0}, 1, 0), Rect{});
    EXPECT_EQ(GridLayout::content(Rect{0, 0, 10, 10}, 4, 0), Rect{});   // 4 x 4 tile, frame 2+2
    EXPECT_EQ(GridLayout::hit(Rect{0, 0, 100, 100}, 4, 99999, -99999), -1);
}

// ---- Tile model --------------------------------------------------------------------------

namespace {
// The first recorder's cameras by channel; changes as channel lists (stop, open).
struct Change {
    std::vector<int> stop, open;
    bool operator==(const Change&) const = default;
};

CameraId C(int channel, int recorder = 0)
{
    return CameraId{recorder, channel};
}

std::vector<int> channelsOf(const std::vector<CameraId>& v)
{
    std::vector<int> out;
    for (CameraId c : v)
        out.push_back(c.channel);
    return out;
}

Change chg(const TileGrid::Change& c)
{
    return Change{channelsOf(c.stop), channelsOf(c.open)};
}

std::vector<int> tilesOf(const TileGrid& g)
{
    std::vector<int> v;
    for (int t = 0; t < g.layout(); ++t)
        v.push_back(g.camera(t).channel);
    return v;
}

std::array<CameraId, 16> first(const std::array<int, 16>& channels)
{
    std::array<CameraId, 16> out{};
    for (size_t i = 0; i < out.size(); ++i)
        if (channels[i] >= 0)
            out[i] = C(channels[i]);
    return out;
}

// Channels 0 .. count - 1 of one recorder, as its camera list gives them.
std::vector<CameraId> firstCameras(int count)
{
    std::vector<CameraId> listed;
    for (int ch = 0; ch < count; ++ch)
        listed.push_back(CameraId{0, ch});
    return listed;
}

TileGrid loggedIn(int cameras)
{
    TileGrid g;
    g.setCameras(firstCameras(cameras));
    return g;
}
}   // namespace

TEST(TileGrid, GrowingFillsEmptyTilesInListOrderAndShrinkingStopsHiddenTiles)
{
    struct Step {
        const char* what;
        int layout;   // layout to choose (0: choose `camera` into the selected tile)
        int camera;
        std::vector<int> tiles;
        Change change;
    };
    // Six cameras; the one-tile view starts empty, as after a login.
    const Step steps[] = {
        {"key 4 after login", 4, 0, {0, 1, 2, 3}, {{}, {0, 1, 2, 3}}},
        {"same layout again", 4, 0, {0, 1, 2, 3}, {}},
        {"camera 5 into tile 0", 0, 5, {5, 1, 2, 3}, {{0}, {5}}},
        {"grow to nine", 9, 0, {5, 1, 2, 3, 0, 4, -1, -1, -1}, {{}, {0, 4}}},
        {"shrink to four", 4, 0, {5, 1, 2, 3}, {{0, 4}, {}}},
        {"shrink to one", 1, 0, {5}, {{1, 2, 3}, {}}},
        {"grow to sixteen",
         16,
         0,
         {5, 0, 1, 2, 3, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
         {{}, {0, 1, 2, 3, 4}}},
        {"not a layout", 6, 0, {5, 0, 1, 2, 3, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}, {}},
    };
    TileGrid g = loggedIn(6);
    EXPECT_EQ(tilesOf(g), std::vector<int>{-1});
    for (const Step& s : steps) {
        const Change c = chg(s.layout ? g.setLayout(s.layout) : g.choose(C(s.camera)));
        EXPECT_EQ(tilesOf(g), s.tiles) << s.what;
        EXPECT_EQ(c.stop, s.change.stop) << s.what;
        EXPECT_EQ(c.open, s.change.open) << s.what;
    }
}

TEST(TileGrid, ChoosingSelectingAndTheSelectedCameraSurvivingAShrink)
{
    TileGrid g = loggedIn(9);
    g.setLayout(9);   // 0..8
    EXPECT_TRUE(g.select(7));
    EXPECT_EQ(g.selectedCamera().channel, 7);
    EXPECT_FALSE(g.select(9));
    EXPECT_EQ(g.selected(), 7);
    // A camera shown elsewhere swaps places with the selected one: no stream changes.
    EXPECT_TRUE(g.choose(C(2)).empty());
    EXPECT_EQ(g.camera(7).channel, 2);
    EXPECT_EQ(g.camera(2).channel, 7);
    EXPECT_TRUE(g.choose(C(2)).empty());   // already there
    EXPECT_TRUE(g.choose(C(9)).empty());   // not a camera of this recorder
    EXPECT_TRUE(g.choose(C(-1)).empty());
    // Shrinking keeps the selected camera: it takes the last tile of the smaller grid.
    const Change c = chg(g.setLayout(4));
    EXPECT_EQ(tilesOf(g), (std::vector<int>{0, 1, 7, 2}));
    EXPECT_EQ(g.selected(), 3);
    EXPECT_EQ(g.selectedCamera().channel, 2);
    EXPECT_EQ(c.stop, (std::vector<int>{3, 4, 5, 6, 8}));
    EXPECT_TRUE(c.open.empty());
    g.setLayout(1);
    EXPECT_EQ(tilesOf(g), std::vector<int>{2});
    EXPECT_EQ(g.selected(), 0);
    // In the one-tile view choosing replaces the camera, as the single-camera view always did.
    EXPECT_EQ(chg(g.choose(C(4))), (Change{{2}, {4}}));
    // The layout control cycles 1 -> 4 -> 9 -> 16 -> 1.
    for (int want : {4, 9, 16, 1}) {
        g.cycleLayout();
        EXPECT_EQ(g.layout(), want);
    }
}

TEST(TileGrid, DoubleClickZoomsOneTileAndBack)
{
    TileGrid g = loggedIn(4);
    EXPECT_TRUE(g.toggleZoom(0).empty());   // one-tile layout: nothing to zoom
    EXPECT_FALSE(g.zoomed());
    g.setLayout(4);
    Change c = chg(g.toggleZoom(2));
    EXPECT_TRUE(g.zoomed());
    EXPECT_EQ(g.shownTiles(), 1);
    EXPECT_EQ(g.positionTile(0), 2);
    EXPECT_EQ(g.positionTile(1), -1);
    EXPECT_EQ(g.selectedCamera().channel, 2);
    EXPECT_EQ(c, (Change{{0, 1, 3}, {}}));
    EXPECT_FALSE(g.select(1));   // hidden while zoomed
    // Choosing while zoomed replaces the zoomed camera; one shown in a hidden tile swaps.
    EXPECT_EQ(chg(g.choose(C(0))), (Change{{2}, {0}}));
    EXPECT_EQ(tilesOf(g), (std::vector<int>{2, 1, 0, 3}));
    c = chg(g.toggleZoom(0));   // any position returns to the grid
    EXPECT_FALSE(g.zoomed());
    EXPECT_EQ(c, (Change{{}, {2, 1, 3}}));
    EXPECT_EQ(g.selected(), 2);
    // A layout key while zoomed leaves the zoom.
    g.toggleZoom(1);
    c = chg(g.setLayout(4));
    EXPECT_FALSE(g.zoomed());
    EXPECT_EQ(c.open, (std::vector<int>{2, 0, 3}));
}

TEST(TileGrid, NewCameraListAndRememberedGrids)
{
    TileGrid g = loggedIn(8);
    g.setLayout(4);
    // The recorder now has two cameras: tiles showing others go empty and stop.
    EXPECT_EQ(chg(g.setCameras(firstCameras(2))), (Change{{2, 3}, {}}));
    EXPECT_EQ(tilesOf(g), (std::vector<int>{0, 1, -1, -1}));
    EXPECT_EQ(chg(g.setCameras({})).stop, (std::vector<int>{0, 1}));

    struct Case {
        const char* what;
        int layout;
        std::array<int, 16> tiles;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"four of six", 4, {3, 0, -1, 5}, {3, 0, -1, 5}},
        {"not a layout", 3, {3, 0, 1}, {3}},
        {"missing cameras and repeats", 4, {7, 2, 2, 6}, {-1, 2, -1, -1}},
        {"tiles beyond the layout ignored", 1, {4, 1, 2, 3}, {4}},
    };
    for (const Case& c : cases) {
        TileGrid r = loggedIn(6);
        r.select(0);
        const Change ch = chg(r.restore(c.layout, first(c.tiles)));
        EXPECT_EQ(tilesOf(r), c.expected) << c.what;
        EXPECT_EQ(ch.open, channelsOf(r.shownCameras())) << c.what;
        EXPECT_EQ(r.selected(), 0);
    }
}

// A recorder whose list comes after the layout was chosen: its cameras wait in the tree until
// the layout is chosen again, which fills the empty tiles and leaves the others.
TEST(TileGrid, ChoosingTheLayoutShownAgainFillsItsEmptyTiles)
{
    TileGrid g;
    g.setCameras({C(0), C(1)});
    g.setLayout(4);
    EXPECT_TRUE(g.setCameras({C(0), C(1), C(0, 1), C(1, 1)}).open.empty());
    EXPECT_FALSE(g.camera(2).valid());
    g.choose(C(1));   // the framed tile stays where it is
    const int framed = g.selected();
    EXPECT_EQ(g.setLayout(4).open, (std::vector<CameraId>{C(0, 1), C(1, 1)}));
    EXPECT_EQ(g.camera(2), C(0, 1));
    EXPECT_EQ(g.camera(3), C(1, 1));
    EXPECT_EQ(g.selected(), framed);
    EXPECT_TRUE(g.setLayout(4).open.empty());
}

TEST(TileGrid, CamerasOfSeveralRecordersFillInTreeOrderAndComeBackWithTheirRecorder)
{
    TileGrid g;
    g.setCameras({C(0), C(1), C(0, 1), C(1, 1), C(2, 1), C(0, 2)});
    g.setLayout(9);
    for (int t = 0; t < 6; ++t)
        EXPECT_EQ(g.camera(t), g.cameras()[size_t(t)]) << "tree order, tile " << t;
    EXPECT_EQ(g.tileOf(C(0, 1)), 2) << "channel 0 of the second recorder is its own camera";
    // The second recorder's list is gone (it was removed): its tiles empty, their cameras kept.
    const TileGrid::Change gone = g.setCameras({C(0), C(1), C(0, 2)});
    EXPECT_EQ(gone.stop, (std::vector<CameraId>{C(0, 1), C(1, 1), C(2, 1)}));
    EXPECT_FALSE(g.camera(3).valid());
    EXPECT_TRUE(g.choose(C(1, 1)).empty()) << "not listed: nothing to choose";
    g.setCameras({C(0), C(0, 2)});
    const TileGrid::Change back = g.setCameras({C(0), C(0, 1), C(1, 1), C(2, 1), C(0, 2)});
    EXPECT_EQ(back.open, (std::vector<CameraId>{C(0, 1), C(1, 1), C(2, 1)}));
    EXPECT_EQ(g.camera(4), C(2, 1));
}
