// Faults of the remembered login file: garbage, a huge file, an unreadable file, a folder in its
// place, a read-only file system. The login dialog must get the defaults (or the old values),
// nothing may crash, and a save that cannot complete must leave the old file as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/Utf.h"
#include "profile/LoginSettings.h"

namespace kevra {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder()
    {
        char tmpl[] = "/tmp/kevra-reliability-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~Folder()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::u16string wide(const std::string& name) const { return fromUtf8(file(name)); }

private:
    std::string path_;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void expectDefaults(const LoginSettings& s)
{
    EXPECT_EQ(s.ip, LoginSettings::kDefaultIp);
    EXPECT_EQ(s.port, LoginSettings::kDefaultPort);
    EXPECT_EQ(s.user, LoginSettings::kDefaultUser);
    EXPECT_EQ(s.password, LoginSettings::kDefaultPassword);
}

// A valid login.ini with the recorder at 10.1.2.3:8000.
std::string savedFile(const Folder& dir)
{
    const std::u16string path = dir.wide("login.ini");
    EXPECT_EQ(LoginSettings::save(path, u"10.1.2.3", u"8000", u"guest", u"pw"), 1);
    return readAll(dir.file("login.ini"));
}

TEST(SettingsFault, BinaryGarbageGivesDefaultsOrKeepsWhatItCanAndSavesCleanly)
{
    Folder dir;
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(1 + rng() % 5000, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        writeAll(dir.file("login.ini"), bytes);
        const LoginSettings s = LoginSettings::load(dir.wide("login.ini"));
        // Random bytes practically never hold "[login]\r\n"; the values are the defaults.
        expectDefaults(s);
        // Saving over garbage succeeds or fails, but the values read back are the saved ones
        // whenever it reports success.
        if (LoginSettings::save(dir.wide("login.ini"), u"10.0.0.9", u"9000", u"u", u"p") == 1) {
            const LoginSettings back = LoginSettings::load(dir.wide("login.ini"));
            EXPECT_EQ(back.ip, u"10.0.0.9");
            EXPECT_EQ(back.port, 9000);
        }
    }
}

TEST(SettingsFault, HundredMegabyteFileGivesDefaultsAndIsNotRewritten)
{
    Folder dir;
    const std::string old = savedFile(dir);
    // Sparse: 100 MB of length without the disk space.
    ASSERT_EQ(::truncate(dir.file("login.ini").c_str(), 100 * 1000 * 1000), 0);
    expectDefaults(LoginSettings::load(dir.wide("login.ini")));
    EXPECT_EQ(LoginSettings::save(dir.wide("login.ini"), u"1.1.1.1", u"1", u"a", u"b"), 0);
    EXPECT_EQ(fs::file_size(dir.file("login.ini")), 100u * 1000 * 1000);
    std::ifstream in(dir.file("login.ini"), std::ios::binary);
    std::string head(old.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, old);
}

TEST(SettingsFault, UnreadableFileGivesDefaultsForAnOrdinaryUser)
{
    Folder dir;
    savedFile(dir);
    ASSERT_EQ(::chmod(dir.file("login.ini").c_str(), 0), 0);
    if (::geteuid() != 0) {
        expectDefaults(LoginSettings::load(dir.wide("login.ini")));
        EXPECT_EQ(LoginSettings::save(dir.wide("login.ini"), u"1.1.1.1", u"1", u"a", u"b"), 0);
        return;
    }
    // The super-user reads anything; check as an ordinary user in a child process.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const LoginSettings s = LoginSettings::load(dir.wide("login.ini"));
        const bool defaults = s.ip == LoginSettings::kDefaultIp &&
                              s.port == LoginSettings::kDefaultPort &&
                              s.user == LoginSettings::kDefaultUser;
        const int saved = LoginSettings::save(dir.wide("login.ini"), u"1.1.1.1", u"1", u"a", u"b");
        ::_exit(defaults && saved == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(dir.file("login.ini").c_str(), 0600);
    EXPECT_EQ(LoginSettings::load(dir.wide("login.ini")).ip, u"10.1.2.3");
}

TEST(SettingsFault, FolderNamedLoginIniGivesDefaultsAndStaysAFolder)
{
    Folder dir;
    fs::create_directory(dir.file("login.ini"));
    writeAll(dir.file("login.ini") + "/inside", "x");
    expectDefaults(LoginSettings::load(dir.wide("login.ini")));
    EXPECT_EQ(LoginSettings::save(dir.wide("login.ini"), u"1.1.1.1", u"1", u"a", u"b"), 0);
    EXPECT_TRUE(fs::is_directory(dir.file("login.ini")));
    EXPECT_EQ(readAll(dir.file("login.ini") + "/inside"), "x");
}

TEST(SettingsFault, ReadOnlyFileSystemKeepsTheOldValuesAndTheOldFile)
{
    Folder dir;
    const std::string mountPoint = dir.file("ro");
    fs::create_directory(mountPoint);
    // A read-only mount binds every user, the super-user included.
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a file system here (needs the mount privilege)";
    // Unmounted however the test ends, so the folder can be removed.
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::u16string path = fromUtf8(mountPoint + "/login.ini");
    ASSERT_EQ(LoginSettings::save(path, u"10.1.2.3", u"8000", u"guest", u"pw"), 1);
    const std::string old = readAll(mountPoint + "/login.ini");
    ASSERT_EQ(::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);

    const LoginSettings s = LoginSettings::load(path);
    EXPECT_EQ(s.ip, u"10.1.2.3");
    EXPECT_EQ(s.port, 8000);
    EXPECT_EQ(LoginSettings::save(path, u"1.1.1.1", u"1", u"a", u"b"), 0);
    EXPECT_EQ(readAll(mountPoint + "/login.ini"), old);
    // A folder without the file: defaults, and nothing can be created.
    const std::u16string missing = fromUtf8(mountPoint + "/other.ini");
    expectDefaults(LoginSettings::load(missing));
    EXPECT_EQ(LoginSettings::save(missing, u"1.1.1.1", u"1", u"a", u"b"), 0);
    EXPECT_FALSE(fs::exists(mountPoint + "/other.ini"));
}

TEST(SettingsFault, SaveThatRunsOutOfSpaceLeavesTheOldFileWhole)
{
    Folder dir;
    const std::string old = savedFile(dir);
    // The file-size limit stops the new content part-way, for any user (as a full disk would).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = old.size() + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int r =
        LoginSettings::save(dir.wide("login.ini"), std::u16string(2000, u'9'), u"1", u"a", u"b");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r, 0);
    // Whatever part of the save failed, the file is one complete version: the old one, or the
    // old one with some of the first values replaced, never a cut-off text.
    const LoginSettings s = LoginSettings::load(dir.wide("login.ini"));
    EXPECT_EQ(s.ip, u"10.1.2.3");
    EXPECT_TRUE(s.port == 8000 || s.port == 1) << s.port;
    EXPECT_TRUE(s.user == u"guest" || s.user == u"a");
    EXPECT_TRUE(s.password == u"pw" || s.password == u"b");
}

}   // namespace
}   // namespace kevra
