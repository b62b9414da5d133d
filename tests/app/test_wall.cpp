#include "app/GridLayout.h"
#include "app/TileSurface.h"
#include "app/WallLayout.h"
#include "app/WallSet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kevra;

namespace {

const int kLayouts[] = {1, 4, 6, 8, 9, 16};

bool inside(const Rect& r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}   // namespace

// Every layout on a wall screen and an odd-sized one: tiles do not overlap, every pixel that is
// not a gap belongs to the tile hit() names, and the large tile spans the cells and gaps of its
// grid exactly.
TEST(WallLayout, EveryLayoutTilesTheScreenAndHitsAgree)
{
    for (const Rect area : {Rect{0, 0, 1280, 1024}, Rect{7, 3, 7 + 803, 3 + 601}}) {
        for (int tiles : kLayouts) {
            SCOPED_TRACE(testing::Message() << "layout " << tiles << " width " << area.width());
            long long covered = 0;
            for (int i = 0; i < tiles; ++i) {
                const Rect t = WallLayout::tile(area, tiles, i);
                ASSERT_GT(t.width(), 0);
                covered += (long long)t.width() * t.height();
                for (int j = 0; j < i; ++j) {
                    const Rect o = WallLayout::tile(area, tiles, j);
                    EXPECT_TRUE(t.right <= o.left || o.right <= t.left || t.bottom <= o.top ||
                                o.bottom <= t.top)
                        << i << " overlaps " << j;
                }
                EXPECT_EQ(WallLayout::hit(area, tiles, t.left, t.top), i);
                EXPECT_EQ(WallLayout::hit(area, tiles, t.right - 1, t.bottom - 1), i);
                const Rect c = WallLayout::content(area, tiles, i);
                const int inset = tiles == 1 ? 0 : GridLayout::kFrame;
                EXPECT_EQ(c,
                          (Rect{t.left + inset, t.top + inset, t.right - inset, t.bottom - inset}));
            }
            // Sample points: each lies in the tile hit() names, or in a gap next to it.
            for (int y = area.top; y < area.bottom; y += 37)
                for (int x = area.left; x < area.right; x += 41) {
                    const int h = WallLayout::hit(area, tiles, x, y);
                    ASSERT_GE(h, 0);
                    const Rect t = WallLayout::tile(area, tiles, h);
                    EXPECT_TRUE(
                        inside(Rect{t.left - GridLayout::kGap, t.top - GridLayout::kGap,
                                    t.right + GridLayout::kGap, t.bottom + GridLayout::kGap},
                               x, y));
                }
            // The gaps are all that is left uncovered: at most one gap row and column per line.
            const int side = tiles == 6 ? 3 : tiles == 8 ? 4 : GridLayout::side(tiles);
            const long long gaps = (long long)(side - 1) * GridLayout::kGap;
            EXPECT_LE((long long)area.width() * area.height() - covered,
                      gaps * (area.width() + area.height()));
        }
    }
    // Worked 1 + 5 on 1280 x 1024: the large tile ends at the third column's gap.
    const Rect screen{0, 0, 1280, 1024};
    EXPECT_EQ(WallLayout::tile(screen, 6, 0), (Rect{0, 0, 852, 682}));
    EXPECT_EQ(WallLayout::tile(screen, 6, 1), (Rect{854, 0, 1280, 340}));
    EXPECT_EQ(WallLayout::tile(screen, 6, 2), (Rect{854, 342, 1280, 682}));
    EXPECT_EQ(WallLayout::tile(screen, 6, 5), (Rect{854, 684, 1280, 1024}));
    EXPECT_EQ(WallLayout::tile(screen, 8, 3), GridLayout::tile(screen, 16, 11));
    EXPECT_EQ(WallLayout::tile(screen, 8, 4), GridLayout::tile(screen, 16, 12));
    EXPECT_EQ(WallLayout::tile(screen, 9, 4), GridLayout::tile(screen, 9, 4));
}

TEST(WallLayout, LayoutsCycleAndHostileInputGivesNothing)
{
    int tiles = 1;
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i) {
        seen.push_back(tiles);
        EXPECT_TRUE(WallLayout::isLayout(tiles));
        tiles = WallLayout::next(tiles);
    }
    EXPECT_EQ(tiles, 1);
    EXPECT_EQ(seen, (std::vector<int>{1, 4, 9, 16, 6, 8}));
    const Rect screen{0, 0, 1280, 1024};
    for (int bad : {0, -1, 2, 5, 7, 17}) {
        EXPECT_FALSE(WallLayout::isLayout(bad));
        EXPECT_EQ(WallLayout::tile(screen, bad, 0), Rect{});
    }
    EXPECT_EQ(WallLayout::tile(screen, 6, 6), Rect{});
    EXPECT_EQ(WallLayout::tile(screen, 6, -1), Rect{});
    EXPECT_EQ(WallLayout::tile(Rect{0, 0, 5, 5}, 8, 0), Rect{});
    EXPECT_EQ(WallLayout::hit(screen, 6, -1, 0), -1);
    EXPECT_EQ(WallLayout::hit(screen, 6, 1280, 0), -1);
    EXPECT_EQ(WallLayout::hit(screen, 7, 10, 10), -1);
}

namespace {

struct NullTiles : TileSurface {
    void presentTile(int, const uint8_t*, int, int, int, bool) override {}
    void tileStateChanged(int) override {}
    void clearTile(int) override {}
};

// Two recorders: "" is the list's first, "shop:8000" the second; anything else is not listed.
int recorderOf(const std::u16string& name)
{
    return name.empty() ? 0 : name == u"shop:8000" ? 1 : -1;
}
std::u16string nameOf(int recorder)
{
    return recorder == 1 ? u"shop:8000" : u"";
}

}   // namespace

TEST(WallSet, RememberedWallsComeBackAndFillingKeepsEachCameraOnceAWall)
{
    WallSettings a;
    a.number = 1;
    a.screen = 1;
    a.layout = 6;
    a.tiles = {0, 1, 2, 3, 4, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    a.sources[1] = u"shop:8000";
    a.sources[2] = u"gone:1";   // a recorder no longer listed: an empty tile
    WallSettings b;
    b.number = 2;
    b.screen = 2;
    b.tour = true;
    WallSet set;
    set.load({a, b}, 2, recorderOf);   // the spot on wall 2's screen is no spot
    EXPECT_EQ(set.spotScreen(), -1);
    ASSERT_EQ(set.walls().size(), 2u);
    EXPECT_EQ(set.wall(1)->tiles[1], (CameraId{1, 1}));
    EXPECT_FALSE(set.wall(1)->tiles[2].valid());
    WallSettings back = a;
    back.tiles[2] = -1;
    back.sources[2].clear();
    EXPECT_EQ(set.settings(1, nameOf), back);
    EXPECT_TRUE(set.settings(2, nameOf).tour) << "kept until the cameras are known";

    // Placing a camera shown on another tile trades the two; a smaller layout empties the rest.
    EXPECT_TRUE(set.place(1, 5, CameraId{0, 0}));
    EXPECT_EQ(set.wall(1)->tiles[0], (CameraId{0, 5}));
    EXPECT_EQ(set.wall(1)->tiles[5], (CameraId{0, 0}));
    EXPECT_TRUE(set.send(1, CameraId{1, 7}));
    EXPECT_EQ(set.wall(1)->tiles[0], (CameraId{1, 7}));
    EXPECT_FALSE(set.place(1, 6, CameraId{0, 9})) << "beyond 1+5";
    EXPECT_FALSE(set.place(3, 0, CameraId{0, 9})) << "no wall 3";
    EXPECT_FALSE(set.setLayout(1, 5));
    EXPECT_TRUE(set.setLayout(1, 4));
    EXPECT_FALSE(set.wall(1)->tiles[4].valid());
    set.forgetRecorder(1);
    EXPECT_FALSE(set.wall(1)->tiles[0].valid());

    // Only walls whose screen is there are shown; the spot shows the followed camera alone.
    NullTiles s1, spot;
    EXPECT_TRUE(set.shown().empty());
    set.attach(1, &s1);
    set.assignScreens({1, 3, 1}, 4);   // the third wall on the first's screen is none
    EXPECT_EQ(set.walls().size(), 2u);
    EXPECT_EQ(set.wall(1)->layout, 4) << "a wall keeping its number keeps what it shows";
    EXPECT_EQ(set.wall(2)->screen, 3);
    EXPECT_EQ(set.spotScreen(), 4);
    EXPECT_TRUE(set.shown().empty()) << "surfaces are made again";
    set.attach(1, &s1);
    set.attachSpot(&spot);
    set.follow(CameraId{0, 3});
    const auto shown = set.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].surface, &s1);
    EXPECT_EQ(shown[0].tileCount, 4);
    EXPECT_EQ(shown[1].surface, &spot);
    EXPECT_EQ(shown[1].tileCount, 1);
    EXPECT_EQ(shown[1].tiles[0], (CameraId{0, 3}));
}

TEST(WallSet, ATourPagesTheWallsLayoutOpeningTheNextPageAhead)
{
    WallSet set;
    set.assignScreens({1}, -1);
    ASSERT_TRUE(set.setLayout(1, 6));
    NullTiles s1;
    set.attach(1, &s1);
    std::vector<CameraId> cams;
    for (int ch = 0; ch < 8; ++ch)
        cams.push_back(CameraId{0, ch});
    EXPECT_FALSE(set.startTour(1, {cams.begin(), cams.begin() + 6}, 10, 0)) << "one page";
    ASSERT_TRUE(set.startTour(1, cams, 10, 0));
    EXPECT_EQ(set.wall(1)->tiles[5], (CameraId{0, 5}));
    const auto all = [](CameraId) { return true; };
    EXPECT_FALSE(set.poll(1000, all));
    EXPECT_TRUE(set.poll(8000, all)) << "prepared ahead";
    EXPECT_EQ(set.preparing(), (std::vector<CameraId>{{0, 6}, {0, 7}}));
    EXPECT_TRUE(set.poll(10000, all));
    EXPECT_EQ(set.wall(1)->tiles[0], (CameraId{0, 6}));
    EXPECT_FALSE(set.wall(1)->tiles[2].valid()) << "the last page is short";
    EXPECT_TRUE(set.preparing().empty());
    EXPECT_TRUE(set.settings(1, nameOf).tour);
    set.place(1, 3, CameraId{0, 1});   // a manual choice ends the tour
    EXPECT_FALSE(set.touring(1));
    EXPECT_FALSE(set.settings(1, nameOf).tour);
}
