#include "ProfileTestFiles.h"

#include "common/Utf.h"
#include "profile/ProfileFile.h"
#include "profile/ViewSettings.h"

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::test;

namespace {

ViewSettings fourTiles()
{
    ViewSettings v;
    v.layout = 4;
    v.tiles[0] = 3;
    v.tiles[1] = 0;
    v.tiles[2] = ViewSettings::kNone;
    v.tiles[3] = 15;
    return v;
}

}   // namespace

TEST(ViewSettings, RoundTripBesideLoginAndAnotherRecorderStartsClean)
{
    TempFolder dir;
    const std::u16string path = dir.wide("views.ini");
    const std::u16string rec = ViewSettings::recorderName(u"10.0.0.7", 34567);
    EXPECT_EQ(rec, u"10.0.0.7:34567");
    EXPECT_EQ(ViewSettings::pathIn(u"/opt/kevra/"), u"/opt/kevra/views.ini");

    EXPECT_EQ(ViewSettings::load(path, rec), ViewSettings{});   // missing file
    ASSERT_EQ(ViewSettings::save(path, rec, fourTiles()), 1);
    EXPECT_EQ(ViewSettings::load(path, rec), fourTiles());

    // UTF-16LE without byte-order mark, CR LF, one section holding all eighteen keys.
    const std::string bytes = readBytes(dir.file("views.ini"));
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(bytes.substr(0, 16), le(u"[view]\r\n"));
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"Tile15", u"?", path), u"-1");

    // The same address on another port is another recorder, and so is another address.
    EXPECT_EQ(ViewSettings::load(path, ViewSettings::recorderName(u"10.0.0.7", 80)),
              ViewSettings{});
    EXPECT_EQ(ViewSettings::load(path, ViewSettings::recorderName(u"10.0.0.8", 34567)),
              ViewSettings{});
    // Saving for the other recorder replaces the remembered view; shrinking clears hidden tiles.
    ViewSettings one;
    one.tiles[0] = 2;
    ASSERT_EQ(ViewSettings::save(path, u"h:1", one), 1);
    EXPECT_EQ(ViewSettings::load(path, u"h:1"), one);
    EXPECT_EQ(ViewSettings::load(path, rec), ViewSettings{});
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"Tile3", u"?", path), u"-1");

    // Tiles of other recorders of the list name them; the same channel of two recorders is
    // two cameras. Back to the first recorder's cameras only, the Source keys are empty (they
    // stay, so a search from this section never reaches a wall's Source key further down).
    ViewSettings mixed = fourTiles();
    mixed.tiles[2] = 3;
    mixed.sources[2] = u"shop.example:8000";
    ASSERT_EQ(ViewSettings::save(path, rec, mixed), 1);
    EXPECT_EQ(ViewSettings::load(path, rec), mixed);
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"Source2", u"?", path), u"shop.example:8000");
    ASSERT_EQ(ViewSettings::save(path, rec, fourTiles()), 1);
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"Source2", u"gone", path), u"");

    // A tile shown alone comes back; one that names an empty tile, or a tile beyond the
    // layout, leaves the whole grid (files without the key meant the whole grid).
    EXPECT_EQ(ViewSettings::load(path, rec).zoomed, ViewSettings::kNone);
    ViewSettings alone = fourTiles();
    alone.zoomed = 3;
    ASSERT_EQ(ViewSettings::save(path, rec, alone), 1);
    EXPECT_EQ(ViewSettings::load(path, rec), alone);
    for (const char16_t* bad : {u"2", u"4", u"x"}) {
        ProfileFile::WriteString(u"view", u"Zoomed", bad, path);
        EXPECT_EQ(ViewSettings::load(path, rec), fourTiles()) << toUtf8(bad);
    }
    ASSERT_EQ(ViewSettings::save(path, rec, fourTiles()), 1);
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"Zoomed", u"gone", path), u"gone");
}

TEST(ViewSettings, DamagedFileGivesTheOneTileDefault)
{
    TempFolder dir;
    const std::u16string path = dir.wide("views.ini");
    const std::u16string head = u"[view]\r\nRecorder=r:1\r\n";
    struct Case {
        const char* what;
        std::u16string body;
    };
    const Case cases[] = {
        {"layout not a layout", u"Layout=5\r\nTile0=1\r\n"},
        {"layout with trailing text",
         u"Layout=4x\r\nTile0=1\r\nTile1=2\r\nTile2=3\r\nTile3=-1\r\n"},
        {"missing tile", u"Layout=4\r\nTile0=1\r\nTile1=2\r\nTile3=0\r\n"},
        {"tile not a number", u"Layout=1\r\nTile0=cam\r\n"},
        {"tile beyond any recorder", u"Layout=1\r\nTile0=123456\r\n"},
        {"negative tile", u"Layout=1\r\nTile0=-2\r\n"},
        {"camera twice", u"Layout=4\r\nTile0=1\r\nTile1=1\r\nTile2=-1\r\nTile3=-1\r\n"},
        {"camera of another recorder twice", u"Layout=4\r\nTile0=1\r\nTile1=1\r\nTile2=-1\r\nTile3="
                                             u"-1\r\nSource0=s:2\r\nSource1=s:2\r\n"},
        {"source that is no recorder", u"Layout=1\r\nTile0=1\r\nSource0=nowhere\r\n"},
        {"value without line end", u"Layout=1\r\nTile0=1"},
    };
    for (const Case& c : cases) {
        writeBytes(dir.file("views.ini"), le(head + c.body));
        EXPECT_EQ(ViewSettings::load(path, u"r:1"), ViewSettings{}) << c.what;
    }
    writeBytes(dir.file("views.ini"), "\xFF\xFE\x01");   // odd length, not text
    EXPECT_EQ(ViewSettings::load(path, u"r:1"), ViewSettings{});
    // Written over, the damaged file becomes a good one.
    ASSERT_EQ(ViewSettings::save(path, u"r:1", fourTiles()), 1);
    EXPECT_EQ(ViewSettings::load(path, u"r:1"), fourTiles());
}

TEST(ViewSettings, AddressesThatCouldBreakTheFileAreNotRemembered)
{
    TempFolder dir;
    const std::u16string path = dir.wide("views.ini");
    for (const char16_t* bad : {u"a=b", u"a\r\nTile0=1", u"[x]", u"a\tb"})
        EXPECT_EQ(ViewSettings::recorderName(bad, 1), u"") << "bad address";
    EXPECT_EQ(ViewSettings::save(path, u"", fourTiles()), 0);
    ViewSettings wrong = fourTiles();
    wrong.layout = 3;
    EXPECT_EQ(ViewSettings::save(path, u"r:1", wrong), 0);
    EXPECT_EQ(ViewSettings::load(path, u""), ViewSettings{});
}

TEST(ProfileFile, WriteStringsReplacesTheFileOnceKeepingOtherSections)
{
    TempFolder dir;
    const std::u16string path = dir.wide("p.ini");
    writeBytes(dir.file("p.ini"), le(u"[login]\r\nIP0=1.2.3.4\r\n[view]\r\nA=old\r\n"));
    ASSERT_EQ(ProfileFile::WriteStrings(u"view", {{u"A", u"1"}, {u"B", u"2"}}, path), 1);
    EXPECT_EQ(readBytes(dir.file("p.ini")),
              le(u"[login]\r\nIP0=1.2.3.4\r\n[view]\r\nB=2\r\nA=1\r\n"));
    // One empty key refuses the whole write and leaves the file as it was.
    EXPECT_EQ(ProfileFile::WriteStrings(u"view", {{u"A", u"9"}, {u"", u"x"}}, path), 0);
    EXPECT_EQ(ProfileFile::ReadString(u"view", u"A", u"", path), u"1");
    EXPECT_EQ(ProfileFile::WriteStrings(u"view", {}, path), 0);
}
