#include "ProfileTestFiles.h"

#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/RecorderList.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::test;

namespace {

using Recorder = RecorderList::Recorder;

// login.ini as the single-recorder viewer writes it.
const std::u16string kTodaysFile =
    u"[login]\r\nPwd0=secret\r\nUser0=guard\r\nPort0=8000\r\nIP0=10.0.0.5\r\nAutoReconnect=0\r\n";

}   // namespace

TEST(RecorderList, TodaysFileIsOneRecorderAndKeepsItsMeaning)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    EXPECT_EQ(RecorderList::load(path),
              (std::vector<Recorder>{{u"0.0.0.0", 34567, u"admin", u"580317", u""}}));

    writeBytes(dir.file("login.ini"), le(kTodaysFile));
    const std::vector<Recorder> list = RecorderList::load(path);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], (Recorder{u"10.0.0.5", 8000, u"guard", u"secret", u""}));
    EXPECT_EQ(RecorderList::displayName(list[0]), u"10.0.0.5:8000");

    // Adding a recorder leaves every line of the first one (and AutoReconnect) as it was.
    std::vector<Recorder> two = list;
    two.push_back({u"10.0.0.6", 34567, u"admin", u"pw=1", u"Shop"});
    ASSERT_EQ(RecorderList::save(path, two), 1);
    EXPECT_EQ(RecorderList::load(path), two);
    const LoginSettings first = LoginSettings::load(path);
    EXPECT_EQ(first.ip, u"10.0.0.5");
    EXPECT_EQ(first.port, 8000);
    EXPECT_FALSE(first.autoReconnect);
    const std::string bytes = readBytes(dir.file("login.ini"));
    EXPECT_NE(bytes.find(le(u"\r\nPort0=8000\r\n")), std::string::npos);
    EXPECT_NE(bytes.find(le(u"\r\nName1=Shop\r\n")), std::string::npos);
}

TEST(RecorderList, RoundTripRemovalAndGapsClose)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    ASSERT_EQ(LoginSettings::save(path, u"10.0.0.5", u"34567", u"admin", u"a"), 1);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("login.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::vector<Recorder> three = RecorderList::load(path);
    three[0].name = u"Office";
    three.push_back({u"10.0.0.6", 1, u"u1", u"p1", u"Shop 1"});
    three.push_back({u"10.0.0.7", 2, u"u2", u"p2", u""});
    ASSERT_EQ(RecorderList::save(path, three), 1);
    EXPECT_EQ(RecorderList::load(path), three);

    // Removing the middle one: the last moves up, its old keys go.
    std::vector<Recorder> two{three[0], three[2]};
    ASSERT_EQ(RecorderList::save(path, two), 1);
    EXPECT_EQ(RecorderList::load(path), two);
    EXPECT_EQ(ProfileFile::ReadString(u"login", u"IP2", u"gone", path), u"gone");
    EXPECT_EQ(ProfileFile::ReadString(u"login", u"Name1", u"gone", path), u"gone");
    ASSERT_EQ(::stat(dir.file("login.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A hand-edited file with a gap: recorder 3 becomes the second entry.
    writeBytes(dir.file("login.ini"), le(u"[login]\r\nIP0=a\r\nIP3=c\r\nPort3=9\r\n"));
    const std::vector<Recorder> gap = RecorderList::load(path);
    ASSERT_EQ(gap.size(), 2u);
    EXPECT_EQ(gap[1], (Recorder{u"c", 9, u"admin", u"580317", u""}));
}

TEST(RecorderList, UnstorableValuesAreRefusedAndLeaveTheFileAlone)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    writeBytes(dir.file("login.ini"), le(kTodaysFile));
    const std::vector<Recorder> one = RecorderList::load(path);
    const std::vector<std::vector<Recorder>> bad{
        {},
        std::vector<Recorder>(RecorderList::kMaxRecorders + 1, one[0]),
        {one[0], {u"h\r\nIP0=x", 1, u"u", u"p", u""}},
        {one[0], {u"h", 1, u"u", std::u16string(u"p\0", 2), u""}},
        {one[0], {u"h", 1, u"u", u"p", u"Pwd0=stolen"}},
    };
    for (const auto& list : bad) {
        EXPECT_EQ(RecorderList::save(path, list), 0);
        EXPECT_EQ(readBytes(dir.file("login.ini")), le(kTodaysFile));
    }
}
