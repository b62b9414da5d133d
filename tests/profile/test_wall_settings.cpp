#include "ProfileTestFiles.h"

#include "profile/ProfileFile.h"
#include "profile/ViewSettings.h"
#include "profile/WallSettings.h"

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::test;

TEST(WallSettings, WallsAndSpotRoundTripBesideTheViewAndGoAgain)
{
    TempFolder dir;
    const std::u16string path = dir.wide("views.ini");
    EXPECT_TRUE(WallSettings::loadAll(path).empty());
    EXPECT_EQ(WallSettings::loadSpotScreen(path), -1);

    ViewSettings view;
    view.tiles[0] = 4;
    ASSERT_EQ(ViewSettings::save(path, u"10.0.0.7:34567", view), 1);
    WallSettings a;
    a.number = 1;
    a.screen = 1;
    a.layout = 6;
    for (int i = 0; i < 6; ++i)
        a.tiles[size_t(i)] = i;
    a.sources[3] = u"shop.example:8000";
    a.tour = true;
    a.dwellS = 20;
    WallSettings b;
    b.number = 3;
    b.screen = 2;
    b.layout = 8;
    b.tiles[7] = 12;
    ASSERT_EQ(WallSettings::save(path, a), 1);
    ASSERT_EQ(WallSettings::save(path, b), 1);
    ASSERT_EQ(WallSettings::saveSpotScreen(path, 3), 1);
    EXPECT_EQ(WallSettings::loadAll(path), (std::vector<WallSettings>{a, b}));
    EXPECT_EQ(WallSettings::loadSpotScreen(path), 3);
    EXPECT_EQ(ProfileFile::ReadString(u"wall1", u"Layout", u"", path), u"1+5");
    EXPECT_EQ(ProfileFile::ReadString(u"wall3", u"Layout", u"", path), u"1+7");
    EXPECT_EQ(ViewSettings::load(path, u"10.0.0.7:34567"), view);   // the view is untouched

    // A smaller layout empties the tiles beyond it and their Source keys; the keys stay, so
    // neither this section's reads nor its writes reach the next section's.
    a.layout = 1;
    ASSERT_EQ(WallSettings::save(path, a), 1);
    EXPECT_EQ(ProfileFile::ReadString(u"wall1", u"Source3", u"gone", path), u"");
    EXPECT_EQ(WallSettings::loadAll(path)[0].tiles[1], WallSettings::kNone);

    ASSERT_EQ(WallSettings::remove(path, 1), 1);
    ASSERT_EQ(WallSettings::saveSpotScreen(path, -1), 1);
    EXPECT_EQ(WallSettings::loadAll(path), (std::vector<WallSettings>{b}));
    EXPECT_EQ(WallSettings::loadSpotScreen(path), -1);

    // Out of range: nothing written.
    for (auto bad : {std::pair{0, 1}, std::pair{9, 1}, std::pair{1, 64}, std::pair{1, -1}}) {
        WallSettings w;
        w.number = bad.first;
        w.screen = bad.second;
        EXPECT_EQ(WallSettings::save(path, w), 0);
    }
    WallSettings noLayout;
    noLayout.layout = 5;
    EXPECT_EQ(WallSettings::save(path, noLayout), 0);
}

// What an installer writes by hand is read key by key: a typo costs one tile, not the wall.
TEST(WallSettings, HandWrittenFileIsReadKeyByKey)
{
    TempFolder dir;
    // A section without Screen comes last but for the spot: the engine looks for a missing key in
    // the sections after its own.
    writeBytes(dir.file("views.ini"),
               le(u"[wall1]\r\nScreen= 1 \r\nLayout=1+5\r\nTile0=3\r\nTile1=x\r\nTile2=99999\r\n"
                  u"Tile3=2\r\nSource3=shop.example:8000\r\nTile4=5\r\nSource4=no port\r\n"
                  u"Tile5=-2\r\nTile6=7\r\nDwell=1\r\nTour=yes\r\n"
                  u"[wall2]\r\nScreen=1\r\nLayout=4\r\n"   // the same screen again
                  u"[wall4]\r\nScreen=2\r\nLayout=2x2\r\nTile0=6\r\nTile1=8\r\nTour=1\r\n"
                  u"[wall5]\r\nLayout=4\r\nTile0=1\r\n"   // no screen
                  u"[spot]\r\nScreen=-3\r\n"
                  u"[wall9]\r\nScreen=5\r\n"));   // beyond the last wall
    const auto walls = WallSettings::loadAll(dir.wide("views.ini"));
    ASSERT_EQ(walls.size(), 2u);
    WallSettings first;
    first.number = 1;
    first.screen = 1;
    first.layout = 6;
    first.tiles[0] = 3;
    first.tiles[3] = 2;
    first.sources[3] = u"shop.example:8000";
    EXPECT_EQ(walls[0], first);
    EXPECT_EQ(walls[1].number, 4);
    EXPECT_EQ(walls[1].layout, 1);
    EXPECT_EQ(walls[1].tiles[0], 6);
    EXPECT_EQ(walls[1].tiles[1], WallSettings::kNone);
    EXPECT_TRUE(walls[1].tour);
    EXPECT_EQ(WallSettings::loadSpotScreen(dir.wide("views.ini")), -1);
}

TEST(WallSettings, LayoutNames)
{
    for (int tiles : {1, 4, 6, 8, 9, 16})
        EXPECT_EQ(WallSettings::layoutOf(WallSettings::layoutName(tiles)), tiles);
    EXPECT_EQ(WallSettings::layoutName(6), u"1+5");
    EXPECT_EQ(WallSettings::layoutName(8), u"1+7");
    for (const char16_t* bad : {u"", u"6", u"8", u"2", u" 4", u"1+6", u"+5", u"016", u"1 + 5"})
        EXPECT_EQ(WallSettings::layoutOf(bad), 0);
    EXPECT_EQ(WallSettings::layoutName(5), u"");
}
