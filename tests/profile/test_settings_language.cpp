// login.ini defaults and key order, and the language files built beside the executables.
#include "profile/Language.h"
#include "profile/ProfileFile.h"
#include "profile/LoginSettings.h"

#include "ProfileTestFiles.h"

#include <gtest/gtest.h>

#include <set>

using namespace kevra;
using namespace kevra::test;

namespace {

TEST(LoginSettings, MissingFileGivesDefaultsAndStaysMissing)
{
    TempFolder dir;
    LoginSettings s = LoginSettings::load(dir.wide("login.ini"));
    EXPECT_EQ(s.ip, u"0.0.0.0");
    EXPECT_EQ(s.port, 34567);
    EXPECT_EQ(s.user, u"admin");
    EXPECT_EQ(s.password, u"580317");
    EXPECT_TRUE(s.autoReconnect);
    EXPECT_FALSE(std::filesystem::exists(dir.file("login.ini")));
}

TEST(LoginSettings, AutomaticReconnectionIsOffOnlyForZeroAndSavingKeepsTheKey)
{
    struct Case {
        const char16_t* value;
        bool on;
    };
    const Case cases[] = {
        {u"0", false}, {u"1", true}, {u"-1", true}, {u"", false}, {u"off", false}};
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    for (const Case& c : cases) {
        ASSERT_EQ(ProfileFile::WriteString(u"login", u"AutoReconnect", c.value, path), 1);
        EXPECT_EQ(LoginSettings::load(path).autoReconnect, c.on) << c.on;
    }
    ASSERT_EQ(ProfileFile::WriteString(u"login", u"AutoReconnect", u"0", path), 1);
    ASSERT_EQ(LoginSettings::save(path, u"10.0.0.2", u"34567", u"admin", u"pw"), 1);
    EXPECT_FALSE(LoginSettings::load(path).autoReconnect);
}

TEST(LoginSettings, LowLatencyIsOffUntilTurnedOnAndOutlivesALoginSave)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    EXPECT_FALSE(LoginSettings::load(path).lowLatency);
    ASSERT_EQ(LoginSettings::saveLowLatency(path, true), 1);
    ASSERT_EQ(LoginSettings::save(path, u"10.0.0.2", u"34567", u"admin", u"pw"), 1);
    const LoginSettings s = LoginSettings::load(path);
    EXPECT_TRUE(s.lowLatency);
    EXPECT_EQ(s.ip, u"10.0.0.2");
    ASSERT_EQ(LoginSettings::saveLowLatency(path, false), 1);
    EXPECT_FALSE(LoginSettings::load(path).lowLatency);
}

TEST(LoginSettings, FirstSaveLeavesKeysInReverseOrderAndLaterSavesReplaceInPlace)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    ASSERT_EQ(LoginSettings::save(path, u"192.168.1.10", u"8000", u"guest", u"pw"), 1);
    EXPECT_EQ(readBytes(dir.file("login.ini")),
              le(u"[login]\r\nPwd0=pw\r\nUser0=guest\r\nPort0=8000\r\nIP0=192.168.1.10\r\n"));

    ASSERT_EQ(LoginSettings::save(path, u"10.0.0.2", u"34567", u"管理员", u""), 1);
    EXPECT_EQ(readBytes(dir.file("login.ini")),
              le(u"[login]\r\nPwd0=\r\nUser0=管理员\r\nPort0=34567\r\nIP0=10.0.0.2\r\n"));

    LoginSettings s = LoginSettings::load(path);
    EXPECT_EQ(s.ip, u"10.0.0.2");
    EXPECT_EQ(s.port, 34567);
    EXPECT_EQ(s.user, u"管理员");
    EXPECT_EQ(s.password, u"");   // saved empty: empty, not the default
}

TEST(LoginSettings, EmptyAddressAndNonNumericPortReadBackAsSaved)
{
    TempFolder dir;
    const std::u16string path = dir.wide("login.ini");
    ASSERT_EQ(LoginSettings::save(path, u"", u"port", u"", u"x"), 1);
    LoginSettings s = LoginSettings::load(path);
    EXPECT_EQ(s.ip, u"");
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.user, u"");
}

TEST(LoginSettings, PathSitsInTheApplicationDirectory)
{
    EXPECT_EQ(LoginSettings::pathIn(u""), u"login.ini");
    EXPECT_EQ(LoginSettings::pathIn(u"/opt/kevra/"), u"/opt/kevra/login.ini");
}

const std::set<std::u16string>& languageKeys()
{
    static const std::set<std::u16string> keys = {u"D_IP",
                                                  u"D_PORT",
                                                  u"U_NAME",
                                                  u"PASSWORD",
                                                  u"IP_ISNULL",
                                                  u"U_NULL",
                                                  u"INIT_NET_ERR",
                                                  u"LOGIN_ERR",
                                                  u"LOGIN",
                                                  u"CAMERA",
                                                  u"FULL",
                                                  u"ABOUT",
                                                  u"EXIT",
                                                  u"BACK",
                                                  u"UP_DOWN",
                                                  u"ZOOM",
                                                  u"LEFT_RIGHT",
                                                  u"FOCUS",
                                                  u"IRIS",
                                                  u"VERSION",
                                                  u"BUILD",
                                                  u"DEVICE",
                                                  u"D_DIS",
                                                  u"OPENING_V",
                                                  u"BUFFERING",
                                                  u"PLAYING",
                                                  u"STOP",
                                                  u"OPEN_ERR",
                                                  u"OPENING_TILE",
                                                  u"BUFFERING_TILE",
                                                  u"PLAYING_TILE",
                                                  u"OPEN_ERR_TILE",
                                                  u"STOP_TILE",
                                                  u"LAYOUT",
                                                  u"OK",
                                                  u"RECONNECT_IN",
                                                  u"RECONNECTING",
                                                  u"MEDIA_REOPEN",
                                                  u"MEDIA_REOPENING",
                                                  u"NO_PICTURE",
                                                  u"CODEC_ERR",
                                                  u"LOGIN_ERR_PASSWD",
                                                  u"LOGIN_ERR_USER",
                                                  u"LOGIN_ERR_REFUSED",
                                                  u"LOGIN_ERR_TIMEOUT",
                                                  u"NVR_LIST",
                                                  u"NVR_ADD",
                                                  u"NVR_EDIT",
                                                  u"NVR_DEL",
                                                  u"NVR_TITLE",
                                                  u"NVR_MAX",
                                                  u"NVR_SAVE_ERR",
                                                  u"NVR_CONNECTING",
                                                  u"NVR_ONLINE",
                                                  u"NVR_RETRY_IN",
                                                  u"NVR_RETRYING",
                                                  u"NVR_REFUSED",
                                                  u"LOGIN_ERR_CONN_REFUSED",
                                                  u"LOGIN_ERR_NO_ANSWER",
                                                  u"LOGIN_ERR_CONNECT",
                                                  u"LOGIN_ERR_HOST",
                                                  u"LOGIN_ERR_SEND",
                                                  u"LOGIN_ERR_OTHER",
                                                  u"SAVE_PIC",
                                                  u"PIC_SAVED",
                                                  u"PIC_SAVE_ERR",
                                                  u"NO_PIC",
                                                  u"LINK_LOST",
                                                  u"PORT_RANGE",
                                                  u"LOGIN_WAIT",
                                                  u"LIST_ERR",
                                                  u"REC_START",
                                                  u"REC_END",
                                                  u"REC_TO",
                                                  u"REC_SAVED",
                                                  u"REC_FAILED",
                                                  u"REC_NONE",
                                                  u"STATS",
                                                  u"LOW_LAT",
                                                  u"ST_CODEC",
                                                  u"ST_SIZE",
                                                  u"ST_FPS",
                                                  u"ST_RATE",
                                                  u"ST_DROP",
                                                  u"ST_DELAY",
                                                  u"KH_TITLE_T",
                                                  u"KH_ALL_T",
                                                  u"KH_IN_TREE_T",
                                                  u"KH_ON_PICTURE_T",
                                                  u"KH_IN_GRID_T",
                                                  u"KH_IN_FULL_T",
                                                  u"KH_HELP_H",
                                                  u"KH_LOGIN_H",
                                                  u"KH_SETTINGS_H",
                                                  u"KH_ABOUT_H",
                                                  u"KH_EXIT_H",
                                                  u"KH_LAYOUT1_H",
                                                  u"KH_LAYOUT4_H",
                                                  u"KH_LAYOUT9_H",
                                                  u"KH_LAYOUT16_H",
                                                  u"KH_OPEN_H",
                                                  u"KH_BACK_H",
                                                  u"KH_FULL_H",
                                                  u"KH_TREE_H",
                                                  u"KH_CYCLE_H",
                                                  u"KH_MOVE_LEFT_H",
                                                  u"KH_MOVE_RIGHT_H",
                                                  u"KH_MOVE_UP_H",
                                                  u"KH_MOVE_DOWN_H",
                                                  u"KH_LENS_IN_H",
                                                  u"KH_LENS_OUT_H",
                                                  u"KH_FOCUS_PLUS_H",
                                                  u"KH_FOCUS_MINUS_H",
                                                  u"KH_IRIS_PLUS_H",
                                                  u"KH_IRIS_MINUS_H",
                                                  u"KH_DZOOM_IN_H",
                                                  u"KH_DZOOM_OUT_H",
                                                  u"KH_DZOOM_RESET_H",
                                                  u"KH_PAN_LEFT_H",
                                                  u"KH_PAN_RIGHT_H",
                                                  u"KH_PAN_UP_H",
                                                  u"KH_PAN_DOWN_H",
                                                  u"KH_SAVE_H",
                                                  u"KH_RECORD_H",
                                                  u"KH_TOUR_H",
                                                  u"KH_GRID_TOUR_H",
                                                  u"KH_STATS_H",
                                                  u"KH_LOWLAT_H",
                                                  u"KH_NEXT_TILE_H",
                                                  u"KH_PREV_TILE_H",
                                                  u"KH_ALONE_H",
                                                  u"KH_LEAVE_FULL_H",
                                                  u"SET_TITLE_T",
                                                  u"SET_RECONNECT_T",
                                                  u"SET_TILE_STREAM_T",
                                                  u"SET_ONE_STREAM_T",
                                                  u"SET_PICTURES_T",
                                                  u"SET_CLIPS_T",
                                                  u"SET_DEFAULT_FOLDER_T",
                                                  u"SET_LANGUAGE_T",
                                                  u"SET_LANG_SYSTEM_T",
                                                  u"SET_DWELL_T",
                                                  u"SET_TOUR_GRID_T",
                                                  u"SET_NOTE_T",
                                                  u"SET_CANCEL_T",
                                                  u"SET_SAVE_ERR_T",
                                                  u"TOUR_ON_T",
                                                  u"TOUR_PAUSED_T",
                                                  u"TOUR_NONE_T"};
    return keys;
}

class LanguageFileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LanguageFileTest, BuiltFileHasTheLayoutAndExactlyTheKeysAndEveryTextReadsBack)
{
    const std::string name = std::string(KEVRA_BIN_DIR) + "/" + GetParam();
    const std::string bytes = readBytes(name);
    ASSERT_FALSE(bytes.empty()) << name;
    ASSERT_EQ(bytes.size() % 2, 0u);
    ASSERT_FALSE(bytes[0] == '\xFF' && bytes[1] == '\xFE') << "no byte-order mark";

    std::u16string text;
    for (size_t i = 0; i < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    ASSERT_EQ(text.find(u'\0'), std::u16string::npos);
    ASSERT_EQ(text.substr(0, 12), u"[language]\r\n");
    ASSERT_EQ(text.substr(text.size() - 2), u"\r\n");

    // Every line is KEY=text and ends with CR LF; no lone CR or LF anywhere.
    std::set<std::u16string> seen;
    size_t pos = 12;
    while (pos < text.size()) {
        size_t end = text.find(u"\r\n", pos);
        ASSERT_NE(end, std::u16string::npos);
        std::u16string line = text.substr(pos, end - pos);
        EXPECT_EQ(line.find_first_of(u"\r\n"), std::u16string::npos);
        size_t eq = line.find(u'=');
        ASSERT_NE(eq, std::u16string::npos);
        EXPECT_TRUE(seen.insert(line.substr(0, eq)).second) << "duplicate key";
        pos = end + 2;
    }
    // Every key the viewer needs is there, and both languages have exactly the same keys.
    for (const std::u16string& key : languageKeys())
        EXPECT_TRUE(seen.count(key)) << "missing key";
    static std::set<std::u16string> firstFileKeys;
    if (firstFileKeys.empty())
        firstFileKeys = seen;
    else
        EXPECT_EQ(seen, firstFileKeys) << "the language files differ in their keys";
    // A key is looked up as "KEY=" anywhere after the section header, so no key may end
    // another one (STOP would read TILE_STOP's text if that came first).
    for (const std::u16string& a : seen)
        for (const std::u16string& b : seen)
            EXPECT_TRUE(a == b || b.size() < a.size() ||
                        b.compare(b.size() - a.size(), a.size(), a) != 0)
                << "key ends another key";

    const std::u16string path(name.begin(), name.end());
    Language::setFilePath(path);
    for (const std::u16string& key : languageKeys()) {
        std::u16string value = ProfileFile::ReadString(u"language", key, u"", path);
        EXPECT_FALSE(value.empty());
        EXPECT_EQ(Language::text(key), value);
    }
    Language::setFilePath(u"");
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LanguageFileTest,
                         ::testing::Values("language_eng.ini", "language_chn.ini"));

TEST(Language, TwoFilesDifferAndLabelsEndWithTheirSeparator)
{
    const std::string bin = KEVRA_BIN_DIR;
    const std::u16string eng = std::u16string(bin.begin(), bin.end()) + u"/language_eng.ini";
    const std::u16string chn = std::u16string(bin.begin(), bin.end()) + u"/language_chn.ini";
    EXPECT_NE(ProfileFile::ReadString(u"language", u"LOGIN", u"", eng),
              ProfileFile::ReadString(u"language", u"LOGIN", u"", chn));
    // The About text puts the version right after this label.
    EXPECT_EQ(ProfileFile::ReadString(u"language", u"VERSION", u"", eng).back(), u' ');
}

TEST(Language, NumbersFillTheirMarkersInBothFiles)
{
    struct Case {
        const char16_t* text;
        std::u16string out;
    };
    const Case cases[] = {{u"in %1 s (attempt %2)", u"in 16 s (attempt 5)"},
                          {u"%2/%1", u"5/16"},
                          {u"100% %3 %", u"100% %3 %"},   // no third number: left alone
                          {u"%1%1", u"1616"},
                          {u"", u""}};
    for (const Case& c : cases)
        EXPECT_EQ(Language::fill(c.text, {16, 5}), c.out);
    EXPECT_EQ(Language::fill(u"%1", {-3}), u"-3");

    const std::string bin = KEVRA_BIN_DIR;
    for (const char* file : {"/language_eng.ini", "/language_chn.ini"}) {
        const std::string name = bin + file;
        Language::setFilePath(std::u16string(name.begin(), name.end()));
        for (const char16_t* key : {u"RECONNECT_IN", u"MEDIA_REOPEN"}) {
            const std::u16string shown = Language::format(key, {4, 3});
            EXPECT_NE(shown.find(u'4'), std::u16string::npos);
            EXPECT_NE(shown.find(u'3'), std::u16string::npos);
            EXPECT_EQ(shown.find(u'%'), std::u16string::npos) << file;
        }
        for (const char16_t* key : {u"RECONNECTING", u"MEDIA_REOPENING", u"NO_PICTURE"})
            EXPECT_EQ(Language::format(key, {7}).find(u'%'), std::u16string::npos) << file;
    }
    Language::setFilePath(u"");
}

TEST(Language, MissingFileOrKeyGivesEmptyText)
{
    TempFolder dir;
    Language::setFilePath(u"");
    EXPECT_EQ(Language::text(u"LOGIN"), u"");
    Language::setFilePath(dir.wide("absent.ini"));
    EXPECT_EQ(Language::text(u"LOGIN"), u"");
    writeBytes(dir.file("l.ini"), le(u"[language]\r\nLOGIN=Go\r\n"));
    Language::setFilePath(dir.wide("l.ini"));
    EXPECT_EQ(Language::text(u"LOGIN"), u"Go");
    EXPECT_EQ(Language::text(u"EXIT"), u"");
    EXPECT_EQ(Language::text(u"login"), u"");
    Language::setFilePath(u"");
}

}   // namespace
