// The user's settings folder: where it is, owner-only creation, and files of the program's own
// folder read until the first write copies them over.
#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"
#include "profile/ViewSettings.h"

#include "ProfileTestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kevra;
using namespace kevra::test;

namespace {

unsigned modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(SettingsFolder, FolderFromTheEnvironment)
{
    const struct {
        const char* xdg;
        const char* home;
        const char16_t* folder;
    } cases[] = {
        {"/x/conf", "/home/u", u"/x/conf/kevra/"},
        {"/x/conf/", nullptr, u"/x/conf/kevra/"},
        {nullptr, "/home/u", u"/home/u/.config/kevra/"},
        {"", "/home/u/", u"/home/u/.config/kevra/"},
        {"relative", "/home/u", u"/home/u/.config/kevra/"},
        {nullptr, nullptr, u""},
        {"", "relative", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettingsFolder::folderFrom(c.xdg, c.home), c.folder)
            << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
}

TEST(SettingsFolder, OldFilesBesideTheProgramAreReadThenCopiedOnTheFirstWrite)
{
    TempFolder config, program;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    SettingsFolder::setFallbackFolder(program.wide(""));
    const std::u16string login = SettingsFolder::userFolder() + u"login.ini";
    const std::u16string views = SettingsFolder::userFolder() + u"views.ini";
    ASSERT_EQ(login, config.wide("kevra/login.ini"));

    // Written by an earlier version beside the program, with a key the dialog never writes.
    ASSERT_EQ(ProfileFile::WriteString(u"login", u"IP0", u"10.1.2.3", program.wide("login.ini")),
              1);
    ASSERT_EQ(ProfileFile::WriteString(u"login", u"AutoReconnect", u"0", program.wide("login.ini")),
              1);
    ViewSettings grid;
    grid.layout = 4;
    grid.tiles[0] = 3;
    ASSERT_EQ(ViewSettings::save(program.wide("views.ini"), u"10.1.2.3:34567", grid), 1);
    EXPECT_EQ(LoginSettings::load(login).ip, u"10.1.2.3");
    EXPECT_EQ(ViewSettings::load(views, u"10.1.2.3:34567"), grid);
    EXPECT_FALSE(std::filesystem::exists(config.file("kevra")));   // reading writes nothing

    ASSERT_EQ(LoginSettings::save(login, u"10.9.9.9", u"34567", u"admin", u"pw"), 1);
    EXPECT_EQ(modeOf(config.file("kevra")), 0700u);
    EXPECT_EQ(modeOf(config.file("kevra/login.ini")), 0600u);
    const LoginSettings s = LoginSettings::load(login);
    EXPECT_EQ(s.ip, u"10.9.9.9");
    EXPECT_FALSE(s.autoReconnect);   // the old file's other keys came along
    EXPECT_EQ(LoginSettings::load(program.wide("login.ini")).ip, u"10.1.2.3");   // left alone
    // Paths outside the user's folder have no fallback.
    EXPECT_EQ(SettingsFolder::readPath(program.wide("other/login.ini")),
              program.wide("other/login.ini"));

    SettingsFolder::setFallbackFolder(u"");
    unsetenv("XDG_CONFIG_HOME");
}

}   // namespace
