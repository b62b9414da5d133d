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

TEST(AppValues, ChineseLocalesInAnyScriptOrRegionGetTheChineseFileAllOthersTheEnglish)
{
    const struct {
        const char* locale;
        bool chinese;
    } cases[] = {
        {"zh_CN.UTF-8", true},   {"zh_TW.UTF-8", true},  {"zh_HK", true},
        {"zh_SG.GB2312", true},  {"zh_MO", true},        {"zh", true},
        {"zh-Hant", true},       {"zh-Hans", true},      {"zh-Hant-TW", true},
        {"ZH_cn.utf8", true},    {"zh_CN@pinyin", true}, {"ja_JP.UTF-8", false},
        {"ko_KR.EUC-KR", false}, {"de_DE@euro", false},  {"fr_CA", false},
        {"en_GB.UTF-8", false},  {"pt-BR", false},       {"C", false},
        {"POSIX", false},        {"C.UTF-8", false},     {"", false},
        {"xx_YY", false},        {"chinese", false},     {"_CN", false},
        {"zhx_CN", false},       {"z", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppValues::languageFileName(c.locale),
                  c.chinese ? u"language_chn.ini" : u"language_eng.ini")
            << c.locale;
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
