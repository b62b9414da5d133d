// Lookup and edit rules of the profile engine on exact file images.
#include "profile/ProfileFile.h"

#include "ProfileTestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kevra;
using namespace kevra::test;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    TempFolder dir;
    std::string file = dir.file("test.ini");
    std::u16string path = dir.wide("test.ini");

    void put(const std::u16string& text) { writeBytes(file, le(text)); }
    std::u16string read(const std::u16string& section, const std::u16string& key)
    {
        return ProfileFile::ReadString(section, key, u"DEF", path);
    }
    int write(const std::u16string& section, const std::u16string& key, const std::u16string& value)
    {
        return ProfileFile::WriteString(section, key, value, path);
    }
    std::string bytes() { return readBytes(file); }
};

TEST_F(ProfileFileTest, AbsentFileReadsDefaultsAndFirstWriteCreatesOneSection)
{
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"k", -17, path), -17);
    EXPECT_FALSE(std::filesystem::exists(file));   // reading never creates the file

    EXPECT_EQ(write(u"s", u"k", u"v"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=v\r\n"));   // no byte-order mark, no terminator
    EXPECT_EQ(read(u"s", u"k"), u"v");
}

TEST_F(ProfileFileTest, EmptyFileReadsDefaultAndWriteFillsIt)
{
    writeBytes(file, "");
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    EXPECT_EQ(write(u"s", u"k", u""), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=\r\n"));
}

TEST_F(ProfileFileTest, SecondKeyGoesDirectlyUnderTheHeader)
{
    ASSERT_EQ(write(u"s", u"a", u"1"), 1);
    ASSERT_EQ(write(u"s", u"b", u"2"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nb=2\r\na=1\r\n"));
    EXPECT_EQ(read(u"s", u"a"), u"1");
    EXPECT_EQ(read(u"s", u"b"), u"2");
}

TEST_F(ProfileFileTest, ReplacingAValueKeepsEveryOtherCodeUnitIncludingAByteOrderMark)
{
    const std::u16string before = u"\xFEFFnote\r\n[s]\r\na=1\r\nb=old value\r\nc=3\r\n";
    put(before);
    EXPECT_EQ(read(u"s", u"b"), u"old value");
    ASSERT_EQ(write(u"s", u"b", u"new"), 1);
    EXPECT_EQ(bytes(), le(u"\xFEFFnote\r\n[s]\r\na=1\r\nb=new\r\nc=3\r\n"));
    ASSERT_EQ(write(u"s", u"b", u""), 1);
    EXPECT_EQ(bytes(), le(u"\xFEFFnote\r\n[s]\r\na=1\r\nb=\r\nc=3\r\n"));
}

TEST_F(ProfileFileTest, ValueIsTakenVerbatimToTheLineEnd)
{
    put(u"[s]\r\nk= a=\"b\" \t\r\nw=中文\r\n");
    EXPECT_EQ(read(u"s", u"k"), u" a=\"b\" \t");
    EXPECT_EQ(read(u"s", u"w"), u"中文");
}

TEST_F(ProfileFileTest, BlanksAroundEqualsAreNotAnEntryAndWritingAddsAProperLine)
{
    put(u"[s]\r\nk = v\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    ASSERT_EQ(write(u"s", u"k", u"w"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=w\r\nk = v\r\n"));
}

TEST_F(ProfileFileTest, EmptyValueReadsEmptyAndReadIntGivesZero)
{
    put(u"[s]\r\nk=\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"");
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"k", 34567, path), 0);
}

TEST_F(ProfileFileTest, ReadIntConvertsLikeAtoi)
{
    put(u"[s]\r\nneg= \t-42abc\r\nplus=+7\r\nletters=abc\r\nbig=99999999999\r\n"
        u"small=-99999999999\r\nzero=-0\r\nmin=-2147483648\r\n");
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"neg", 5, path), -42);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"plus", 5, path), 7);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"letters", 5, path), 0);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"big", 5, path), INT32_MAX);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"small", 5, path), INT32_MIN);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"zero", 5, path), 0);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"min", 5, path), INT32_MIN);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"missing", -2147483647 - 1, path), INT32_MIN);
    EXPECT_EQ(ProfileFile::ReadInt(u"s", u"missing", 34567, path), 34567);
}

TEST_F(ProfileFileTest, LastLineWithoutLineEndReadsDefaultAndRefusesAWrite)
{
    put(u"[s]\r\nk=v");
    const std::string before = bytes();
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    EXPECT_EQ(write(u"s", u"k", u"w"), 0);
    EXPECT_EQ(bytes(), before);
}

TEST_F(ProfileFileTest, KeySearchRunsPastLaterSectionHeaders)
{
    put(u"[a]\r\nx=1\r\n[b]\r\nk=2\r\n");
    EXPECT_EQ(read(u"a", u"k"), u"2");
    EXPECT_EQ(read(u"b", u"x"), u"DEF");   // the search starts at [b], after x
}

TEST_F(ProfileFileTest, KeyMatchNeedNotStartALine)
{
    put(u"[login]\r\nXIP0=wrong\r\nIP0=1.2.3.4\r\n");
    EXPECT_EQ(read(u"login", u"IP0"), u"wrong");

    put(u"[login]\r\nNote=see IP0=here\r\nIP0=1.2.3.4\r\n");
    EXPECT_EQ(read(u"login", u"IP0"), u"here");
    ASSERT_EQ(write(u"login", u"IP0", u"X"), 1);
    EXPECT_EQ(bytes(), le(u"[login]\r\nNote=see IP0=X\r\nIP0=1.2.3.4\r\n"));
}

TEST_F(ProfileFileTest, SectionHeaderMustBeFollowedDirectlyByCrLfButNeedNotStartALine)
{
    put(u"[s] \r\nk=v\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    put(u"junk[s]\r\nk=v\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"v");
}

TEST_F(ProfileFileTest, NamesAreCaseSensitive)
{
    put(u"[Login]\r\nIP0=1\r\n[login]\r\nip0=2\r\n");
    EXPECT_EQ(read(u"LOGIN", u"IP0"), u"DEF");
    EXPECT_EQ(read(u"login", u"IP0"), u"DEF");
    EXPECT_EQ(read(u"login", u"ip0"), u"2");
    EXPECT_EQ(read(u"Login", u"IP0"), u"1");
}

TEST_F(ProfileFileTest, OnlyTheFirstOfDuplicateSectionsAndKeysIsReadOrChanged)
{
    put(u"[s]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\nz=4\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"1");
    EXPECT_EQ(read(u"s", u"z"), u"4");   // found through the first header
    ASSERT_EQ(write(u"s", u"k", u"9"), 1);
    ASSERT_EQ(write(u"s", u"n", u"new"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nn=new\r\nk=9\r\nk=2\r\n[s]\r\nk=3\r\nz=4\r\n"));
}

TEST_F(ProfileFileTest, LfOnlyFileHasNoHeaderAndAWriteAppendsOneThatIsFound)
{
    put(u"[s]\nk=v\n");
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    ASSERT_EQ(write(u"s", u"k", u"w"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\nk=v\n[s]\r\nk=w\r\n"));
    EXPECT_EQ(read(u"s", u"k"), u"w");
}

TEST_F(ProfileFileTest, LoneCrOrLfDoesNotEndAValue)
{
    put(u"[s]\r\nk=a\rb\nc\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"a\rb\nc");
}

TEST_F(ProfileFileTest, NewSectionIsGluedToALastLineWithoutLineEndAndStillFound)
{
    put(u"[a]\r\nx=1");
    ASSERT_EQ(write(u"b", u"k", u"v"), 1);
    EXPECT_EQ(bytes(), le(u"[a]\r\nx=1[b]\r\nk=v\r\n"));
    EXPECT_EQ(read(u"b", u"k"), u"v");
}

TEST_F(ProfileFileTest, TextEndsAtTheFirstNulAndAWriteDropsWhatFollowed)
{
    put(std::u16string(u"[s]\r\na=1\r\n") + u'\0' + u"b=2\r\n");
    EXPECT_EQ(read(u"s", u"a"), u"1");
    EXPECT_EQ(read(u"s", u"b"), u"DEF");
    ASSERT_EQ(write(u"s", u"c", u"3"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nc=3\r\na=1\r\n"));

    put(std::u16string(1, u'\0') + u"[s]\r\nk=v\r\n");
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
}

TEST_F(ProfileFileTest, OddLastByteIsIgnored)
{
    writeBytes(file, le(u"[s]\r\nk=v\r\n") + "\x41");
    EXPECT_EQ(read(u"s", u"k"), u"v");
    ASSERT_EQ(write(u"s", u"k", u"w"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=w\r\n"));

    writeBytes(file, "\x5B");   // one byte, no zero byte: a line of UTF-8 text, kept
    EXPECT_EQ(read(u"s", u"k"), u"DEF");
    ASSERT_EQ(write(u"s", u"k", u"v"), 1);
    EXPECT_EQ(bytes(), le(u"[\r\n[s]\r\nk=v\r\n"));
}

TEST_F(ProfileFileTest, EmptySectionKeyOrPathIsRefused)
{
    put(u"[s]\r\nk=v\r\n");
    EXPECT_EQ(ProfileFile::ReadString(u"", u"k", u"D", path), u"D");
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"", u"D", path), u"D");
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", u""), u"D");
    EXPECT_EQ(ProfileFile::WriteString(u"", u"k", u"v", path), 0);
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"", u"v", path), 0);
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", u""), 0);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=v\r\n"));
}

TEST_F(ProfileFileTest, PathsOf260UnitsOrMoreAreRefused)
{
    const std::string prefix = dir.path() + "/";
    ASSERT_LT(prefix.size(), 200u);
    const std::string ok = prefix + std::string(259 - prefix.size(), 'a');
    const std::string tooLong = prefix + std::string(260 - prefix.size(), 'b');
    const std::u16string okWide(ok.begin(), ok.end());
    const std::u16string longWide(tooLong.begin(), tooLong.end());
    ASSERT_EQ(okWide.size(), 259u);
    ASSERT_EQ(longWide.size(), 260u);

    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", okWide), 1);
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", okWide), u"v");

    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", longWide), 0);
    EXPECT_FALSE(std::filesystem::exists(tooLong));
    writeBytes(tooLong, le(u"[s]\r\nk=v\r\n"));
    EXPECT_EQ(ProfileFile::ReadString(u"s", u"k", u"D", longWide), u"D");
}

TEST_F(ProfileFileTest, WidePathsAreConvertedForTheFileSystem)
{
    const std::string folder = dir.path() + "/设置 é";
    std::filesystem::create_directory(folder);
    const std::string utf8Name = folder + "/登录.ini";
    std::u16string wide(dir.path().begin(), dir.path().end());
    wide += u"/设置 é/登录.ini";
    ASSERT_EQ(ProfileFile::WriteString(u"节", u"键", u"值", wide), 1);
    EXPECT_EQ(readBytes(utf8Name), le(u"[节]\r\n键=值\r\n"));
    EXPECT_EQ(ProfileFile::ReadString(u"节", u"键", u"D", wide), u"值");
}

TEST_F(ProfileFileTest, PathHoldingNulIsRefused)
{
    std::u16string withNul = path + u'\0' + u"x";
    EXPECT_EQ(ProfileFile::WriteString(u"s", u"k", u"v", withNul), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ProfileFileTest, KeyHoldingALineEndNeverReadsBackwards)
{
    put(u"[s]\r\na\r\nb=v\r\n");
    EXPECT_EQ(read(u"s", u"a\r\nb"), u"DEF");
    EXPECT_EQ(write(u"s", u"a\r\nb", u"w"), 0);
    EXPECT_EQ(bytes(), le(u"[s]\r\na\r\nb=v\r\n"));
}

}   // namespace

// A file written by hand in an editor (UTF-8, with or without a byte-order mark, LF or CR LF)
// reads like the program's own; the next write gives the program's format.
TEST_F(ProfileFileTest, HandWrittenUtf8IsReadAndAWriteGivesTheProgramsFormat)
{
    using E = ProfileFile::Encoding;
    EXPECT_EQ(ProfileFile::encodingOf(path), E::None);
    const struct {
        const char* what;
        std::string bytes;
        E encoding;
    } cases[] = {
        {"UTF-8, LF, no last line end", "[s]\nk=v\xC3\xA9\nn=1", E::Utf8},
        {"UTF-8 with mark, CR LF", "\xEF\xBB\xBF[s]\r\nk=v\xC3\xA9\r\nn=1\r\n", E::Utf8Mark},
        {"UTF-16LE with mark", "\xFF\xFE" + le(u"[s]\r\nk=v\u00E9\r\nn=1\r\n"), E::Utf16LeMark},
        {"UTF-16LE", le(u"[s]\r\nk=v\u00E9\r\nn=1\r\n"), E::Utf16Le},
    };
    for (const auto& c : cases) {
        writeBytes(file, c.bytes);
        EXPECT_EQ(ProfileFile::encodingOf(path), c.encoding) << c.what;
        EXPECT_EQ(read(u"s", u"k"), u"v\u00E9") << c.what;
        EXPECT_EQ(ProfileFile::ReadInt(u"s", u"n", 0, path), 1) << c.what;
    }
    writeBytes(file, cases[0].bytes);
    ASSERT_EQ(write(u"s", u"k", u"w"), 1);
    EXPECT_EQ(bytes(), le(u"[s]\r\nk=w\r\nn=1\r\n"));
}
