// The viewer's own settings in login.ini and the tour's in views.ini.
#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/TourSettings.h"
#include "profile/ViewerSettings.h"

#include "ProfileTestFiles.h"

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::test;

TEST(ViewerSettings, DefaultsRoundTripPerRecorderAndTheLoginStaysAsItWas)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    EXPECT_EQ(ViewerSettings::load(path), ViewerSettings{});
    ASSERT_EQ(LoginSettings::save(path, u"10.0.0.2", u"34567", u"admin", u"pw"), 1);

    ViewerSettings s;
    s.tileStream = 2;
    s.singleStream = 0;
    s.autoReconnect = false;
    s.pictureFolder = u"/srv/图片";
    s.clipFolder = u"/srv/clips";
    s.language = ViewerSettings::kChinese;
    ASSERT_EQ(ViewerSettings::save(path, s), 1);
    EXPECT_EQ(ViewerSettings::load(path), s);
    EXPECT_EQ(ProfileFile::ReadString(u"login", u"TileStream0", u"", path), u"2");
    EXPECT_FALSE(LoginSettings::load(path).autoReconnect) << "the login reads the same key";
    EXPECT_EQ(LoginSettings::load(path).ip, u"10.0.0.2");
    EXPECT_EQ(ViewerSettings::load(path, 1).tileStream, 1) << "another recorder's own numbers";

    // Hostile values give the defaults.
    for (const char16_t* bad : {u"-1", u"256", u"99999999999"}) {
        ASSERT_EQ(ProfileFile::WriteString(u"login", u"TileStream0", bad, path), 1);
        EXPECT_EQ(ViewerSettings::load(path).tileStream, 1);
    }
    ASSERT_EQ(ProfileFile::WriteString(u"viewer", u"Language", u"../../etc", path), 1);
    EXPECT_EQ(ViewerSettings::load(path).language, u"");
}

TEST(TourSettings, DefaultsBoundsAndTheViewBesideIt)
{
    TempFolder dir;
    const std::u16string path = dir.wide("views.ini");
    EXPECT_EQ(TourSettings::load(path), TourSettings{});
    ASSERT_EQ(TourSettings::save(path, TourSettings{25, 9}), 1);
    EXPECT_EQ(TourSettings::load(path), (TourSettings{25, 9}));
    for (const char16_t* bad : {u"0", u"2", u"3601", u"x"}) {
        ASSERT_EQ(ProfileFile::WriteString(u"tour", u"Dwell", bad, path), 1);
        EXPECT_EQ(TourSettings::load(path).dwellS, 10);
    }
    ASSERT_EQ(TourSettings::save(path, TourSettings{1, 16}), 1);
    EXPECT_EQ(TourSettings::load(path), TourSettings{});
}
