// How the profile engine replaces files: whole or not at all, permissions, hostile files.
#include "profile/ProfileFile.h"

#include "ProfileTestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kevra;
using namespace kevra::test;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

size_t entriesIn(const std::string& folder)
{
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(ProfileFileWrite, NewFileIsOwnerOnlyWhateverTheUmask)
{
    TempFolder dir;
    mode_t old = ::umask(0);
    int written = ProfileFile::WriteString(u"login", u"Pwd0", u"secret", dir.wide("login.ini"));
    ::umask(old);
    ASSERT_EQ(written, 1);
    EXPECT_EQ(modeOf(dir.file("login.ini")), 0600u);
}

TEST(ProfileFileWrite, ReplacementKeepsTheOldFilesPermissionsAndLeavesNoTemporaryFile)
{
    TempFolder dir;
    writeBytes(dir.file("a.ini"), le(u"[s]\r\nk=v\r\n"));
    ASSERT_EQ(::chmod(dir.file("a.ini").c_str(), 0640), 0);
    ASSERT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("a.ini")), 1);
    ASSERT_EQ(ProfileFile::WriteString(u"s", u"n", u"x", dir.wide("a.ini")), 1);
    EXPECT_EQ(modeOf(dir.file("a.ini")), 0640u);
    EXPECT_EQ(readBytes(dir.file("a.ini")), le(u"[s]\r\nn=x\r\nk=w\r\n"));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ProfileFileWrite, FailedWriteLeavesTheOldFileWhole)
{
    // The file-size limit makes the write of the new content fail part-way, for any user.
    TempFolder dir;
    const std::string old = le(u"[s]\r\nk=short\r\n");
    writeBytes(dir.file("a.ini"), old);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int written =
        ProfileFile::WriteString(u"s", u"k", std::u16string(4000, u'x'), dir.wide("a.ini"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(written, 0);
    EXPECT_EQ(readBytes(dir.file("a.ini")), old);
    EXPECT_EQ(entriesIn(dir.path()), 1u);   // the temporary file was removed
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("a.ini")), u"short");
}

TEST(ProfileFileWrite, ReadOnlyFolderOrFileIsNotWritten)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    TempFolder dir;
    const std::string old = le(u"[s]\r\nk=v\r\n");
    writeBytes(dir.file("a.ini"), old);
    writeBytes(dir.file("ro.ini"), old);
    ASSERT_EQ(::chmod(dir.file("ro.ini").c_str(), 0444), 0);
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("ro.ini")), 0);
    EXPECT_EQ(readBytes(dir.file("ro.ini")), old);

    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("a.ini")), 0);
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("new.ini")), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(readBytes(dir.file("a.ini")), old);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.ini")));
}

TEST(ProfileFileWrite, MissingFolderGivesZero)
{
    TempFolder dir;
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", dir.wide("no/such.ini")), 0);
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("no/such.ini")), u"D");
}

TEST(ProfileFileWrite, SymbolicLinkStaysALinkAndItsTargetIsUpdated)
{
    TempFolder dir;
    writeBytes(dir.file("real.ini"), le(u"[s]\r\nk=v\r\n"));
    std::filesystem::create_symlink("real.ini", dir.file("link.ini"));
    ASSERT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("link.ini")), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(readBytes(dir.file("real.ini")), le(u"[s]\r\nk=w\r\n"));
}

TEST(ProfileFileWrite, FoldersAndPipesAreNotProfileFiles)
{
    TempFolder dir;
    std::filesystem::create_directory(dir.file("sub.ini"));
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("sub.ini")), u"D");
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", dir.wide("sub.ini")), 0);

    // A reader must not wait for a writer that never comes.
    ASSERT_EQ(::mkfifo(dir.file("pipe.ini").c_str(), 0600), 0);
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("pipe.ini")), u"D");
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", dir.wide("pipe.ini")), 0);
}

TEST(ProfileFileWrite, OversizedFileIsUnreadableAndUntouched)
{
    TempFolder dir;
    const std::string name = dir.file("huge.ini");
    writeBytes(name, le(u"[s]\r\nk=v\r\n"));
    // Sparse: 100 MB on paper, nothing on the disk.
    ASSERT_EQ(::truncate(name.c_str(), 100 * 1000 * 1000), 0);
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("huge.ini")), u"D");
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"w", dir.wide("huge.ini")), 0);
    EXPECT_EQ(std::filesystem::file_size(name), 100u * 1000 * 1000);

    // Just inside the bound the file is still read.
    ASSERT_EQ(::truncate(name.c_str(), ProfileFile::kMaxFileBytes), 0);
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("huge.ini")), u"v");
}

TEST(ProfileFileWrite, GarbageFilesNeverBreakTheEngine)
{
    TempFolder dir;
    std::mt19937 rng(20261207);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(rng() % 3000, '\0');
        for (char& c : bytes) {
            // Mostly the engine's own punctuation, so headers and keys do turn up.
            static const char pieces[] = {'[', ']', '=', '\r', '\n', 's', 'k', '\0', '\xFF'};
            c = (rng() % 4 == 0) ? static_cast<char>(rng()) : pieces[rng() % sizeof pieces];
        }
        // Make the pieces UTF-16: every even byte a symbol, every odd byte mostly zero.
        for (size_t i = 1; i < bytes.size(); i += 2)
            if (rng() % 8 != 0)
                bytes[i] = '\0';
        writeBytes(dir.file("g.ini"), bytes);
        (void)ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("g.ini"));
        (void)ProfileFile::ReadInt(u"s", u"k", 1, dir.wide("g.ini"));
        if (ProfileFile::WriteString(u"s", u"k", u"value", dir.wide("g.ini")) == 1) {
            EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", dir.wide("g.ini")), u"value");
        } else {
            EXPECT_EQ(readBytes(dir.file("g.ini")), bytes);
        }
    }
}

}   // namespace
