// Start-up values: the executable's folder and the language file chosen from the locale.
#include "app/AppValues.h"
#include "app/ViewerCommandLine.h"
#include "profile/Language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace kevra;

namespace {

TEST(AppValues, DirectoryKeepsItsTrailingSeparatorAndABareNameHasNone)
{
    EXPECT_EQ(AppValues::directoryOf(u"/opt/kevra/bin/kevra"), u"/opt/kevra/bin/");
    EXPECT_EQ(AppValues::directoryOf(u"/kevra"), u"/");
    EXPECT_EQ(AppValues::directoryOf(u"kevra"), u"");
    EXPECT_EQ(AppValues::directoryOf(u""), u"");
    EXPECT_EQ(AppValues::directoryOf(u"/录像/查看器"), u"/录像/");
}

TEST(AppValues, AnyChineseLocaleGivesPrimaryLanguageFourAndTheChineseFile)
{
    const struct {
        const char* locale;
        uint16_t id;
    } cases[] = {
        {"zh_CN.UTF-8", 0x0804},  {"zh_TW.UTF-8", 0x0404},  {"zh_HK", 0x0C04},
        {"zh_SG.GB2312", 0x1004}, {"zh_MO", 0x1404},        {"zh", 0x0804},
        {"zh-Hant", 0x7C04},      {"zh-Hans", 0x0004},      {"zh-Hant-TW", 0x0404},
        {"ZH_cn.utf8", 0x0804},   {"zh_CN@pinyin", 0x0804},
    };
    for (const auto& c : cases) {
        uint16_t id = AppValues::languageIdFromLocale(c.locale);
        EXPECT_EQ(id, c.id) << c.locale;
        EXPECT_EQ(AppValues::primaryLanguage(id), 4) << c.locale;
        EXPECT_EQ(AppValues::languageFileName(id), u"language_chn.ini") << c.locale;
    }
}

TEST(AppValues, EveryOtherLocaleGivesItsOwnLanguageAndTheEnglishFile)
{
    const struct {
        const char* locale;
        int primary;
    } cases[] = {
        {"ja_JP.UTF-8", 0x11}, {"ko_KR.EUC-KR", 0x12}, {"de_DE@euro", 0x07}, {"fr_CA", 0x0C},
        {"en_GB.UTF-8", 0x09}, {"ru_RU", 0x19},        {"pt-BR", 0x16},      {"C", 0x09},
        {"POSIX", 0x09},       {"C.UTF-8", 0x09},      {"", 0x09},           {"xx_YY", 0x09},
        {"chinese", 0x09},     {"_CN", 0x09},
    };
    for (const auto& c : cases) {
        uint16_t id = AppValues::languageIdFromLocale(c.locale);
        EXPECT_EQ(AppValues::primaryLanguage(id), c.primary) << c.locale;
        EXPECT_EQ(AppValues::languageFileName(id), u"language_eng.ini") << c.locale;
    }
    EXPECT_EQ(AppValues::languageIdFromLocale("C"), 0x0409);
}

// Sets the locale variables for one test and puts the old values back afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment(const char* all, const char* messages, const char* lang)
    {
        set("LC_ALL", all, saved_[0]);
        set("LC_MESSAGES", messages, saved_[1]);
        set("LANG", lang, saved_[2]);
    }
    ~LocaleEnvironment()
    {
        restore("LC_ALL", saved_[0]);
        restore("LC_MESSAGES", saved_[1]);
        restore("LANG", saved_[2]);
    }

private:
    static void set(const char* name, const char* value, std::optional<std::string>& saved)
    {
        if (const char* old = std::getenv(name))
            saved = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    static void restore(const char* name, const std::optional<std::string>& saved)
    {
        if (saved)
            ::setenv(name, saved->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::optional<std::string> saved_[3];
};

TEST(AppValues, LocaleComesFromTheFirstNonEmptyVariable)
{
    {
        LocaleEnvironment env("", "ja_JP.UTF-8", "zh_CN.UTF-8");
        EXPECT_EQ(AppValues::localeFromEnvironment(), "ja_JP.UTF-8");
    }
    {
        LocaleEnvironment env("zh_HK.UTF-8", "de_DE", "en_US");
        EXPECT_EQ(AppValues::localeFromEnvironment(), "zh_HK.UTF-8");
    }
    {
        LocaleEnvironment env(nullptr, "", "zh_TW");
        EXPECT_EQ(AppValues::localeFromEnvironment(), "zh_TW");
    }
    {
        LocaleEnvironment env(nullptr, nullptr, nullptr);
        EXPECT_EQ(AppValues::localeFromEnvironment(), "");
    }
}

TEST(AppValues, InitialiseTakesTheExecutablesFolderAndChoosesTheLanguageFileOnce)
{
    LocaleEnvironment env("zh_CN.UTF-8", nullptr, nullptr);
    AppValues::initialise();

    const std::string bin = std::string(KEVRA_BIN_DIR) + "/";
    const std::u16string& dir = AppValues::applicationDirectory();
    EXPECT_EQ(dir, std::u16string(bin.begin(), bin.end()));
    EXPECT_EQ(AppValues::languageFilePath(), dir + u"language_chn.ini");
    EXPECT_EQ(Language::filePath(), AppValues::languageFilePath());
    EXPECT_TRUE(AppValues::isChineseLocale());

    {
        // Later calls change nothing, even under another locale.
        LocaleEnvironment english("en_US.UTF-8", nullptr, nullptr);
        AppValues::initialise();
        EXPECT_EQ(AppValues::languageFilePath(), dir + u"language_chn.ini");
        EXPECT_TRUE(AppValues::isChineseLocale());
    }
    EXPECT_EQ(AppValues::productTitle(), u"KEVRA");
    EXPECT_EQ(AppValues::versionText(), u"1.00.2");
}

TEST(ViewerCommandLine, DisplayOfTheChosenPlatform)
{
    const struct {
        const char* platform;
        const char *display, *wayland;
        bool available;
    } cases[] = {
        {"", ":0", nullptr, true},
        {"", nullptr, "wayland-0", true},
        {"", "", nullptr, false},
        {"offscreen", nullptr, nullptr, true},
        {"xcb", nullptr, "wayland-0", false},
        {"wayland;xcb", ":1", nullptr, true},
        {"wayland-egl", nullptr, nullptr, false},
        {"vnc:size=640x480", nullptr, nullptr, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ViewerCommandLine::displayAvailable(c.platform, c.display, c.wayland),
                  c.available)
            << c.platform;
    const char* argv[] = {"kevra", "--verbose", "-platform", "offscreen", "--version"};
    const ViewerCommandLine line = ViewerCommandLine::parse(5, argv);
    EXPECT_TRUE(line.verbose);
    EXPECT_EQ(line.platform, "offscreen");
    EXPECT_EQ(line.action, ViewerCommandLine::Action::Version);
    // Qt's options pass with one dash or two, with their values; anything else is an error.
    const char* qt[] = {"kevra", "--display", ":3", "-reverse", "-style", "fusion", "--sync"};
    const ViewerCommandLine ok = ViewerCommandLine::parse(7, qt);
    EXPECT_EQ(ok.action, ViewerCommandLine::Action::Run);
    EXPECT_EQ(ok.display, ":3");
    for (const char* wrong : {"--bogus", "-x", "file.ini", "---platform"}) {
        const char* bad[] = {"kevra", "--verbose", wrong};
        EXPECT_EQ(ViewerCommandLine::parse(3, bad).action, ViewerCommandLine::Action::Error)
            << wrong;
    }
}

}   // namespace
