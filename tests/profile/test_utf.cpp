// UTF-16 <-> UTF-8 conversion at the file-system, network and UI boundaries.
#include "common/Utf.h"

#include <gtest/gtest.h>

#include <random>

using namespace kevra;

namespace {

TEST(Utf, ValidTextRoundTrips)
{
    const std::u16string wide = u"KEVRA 录像机 é \U0001F3A5 end";
    const std::string narrow = "KEVRA 录像机 é \U0001F3A5 end";
    EXPECT_EQ(toUtf8(wide), narrow);
    EXPECT_EQ(fromUtf8(narrow), wide);
    EXPECT_EQ(toUtf8(u""), "");
    EXPECT_EQ(fromUtf8(""), u"");
    EXPECT_EQ(fromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters)
{
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xDC00)) + u"a"), "\xEF\xBF\xBD"
                                                                  "a");
    std::u16string highThenLetter{char16_t(0xD83C), u'x'};
    EXPECT_EQ(toUtf8(highThenLetter), "\xEF\xBF\xBDx");
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters)
{
    const std::u16string r(1, char16_t(0xFFFD));
    EXPECT_EQ(fromUtf8("\x80"), r);                           // stray continuation byte
    EXPECT_EQ(fromUtf8("\xC0\xAF"), r + r);                   // overlong '/'
    EXPECT_EQ(fromUtf8("\xE0\x80\xAF"), r + r + r);           // overlong three-byte form
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), r + r + r);           // encoded surrogate
    EXPECT_EQ(fromUtf8("\xF4\x90\x80\x80"), r + r + r + r);   // above U+10FFFF
    EXPECT_EQ(fromUtf8("\xE5\xBD"), r);                       // cut short at the end
    EXPECT_EQ(fromUtf8("\xE5\xBD"
                       "a"),
              r + u"a");   // cut short before a letter
    EXPECT_EQ(fromUtf8("\xFF"
                       "b"),
              r + u"b");
}

TEST(Utf, RandomBytesGiveWellFormedText)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(rng() % 40, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        std::u16string wide = fromUtf8(bytes);
        // Well formed: surrogates only in proper pairs, so the text survives a round trip.
        EXPECT_EQ(fromUtf8(toUtf8(wide)), wide);
        EXPECT_LE(wide.size(), bytes.size());
    }
}

}   // namespace
