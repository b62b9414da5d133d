// Every text the status line shows fits one line of the narrowest screen (240 x 320) in both
// languages, measured with the installed fonts the status line is drawn in.
#include "app/MainLayout.h"
#include "app/Reconnector.h"
#include "common/Utf.h"
#include "profile/Language.h"
#include "ui/QtText.h"

#include <QFontMetrics>
#include <QLabel>
#include <gtest/gtest.h>

using namespace kevra;

TEST(StatusTexts, EveryStatusTextFitsTheNarrowestScreenInBothLanguages)
{
    const QLabel status;   // the status line is a plain label in the window's font
    const QFontMetrics m(status.font());
    MainLayout::Input in;
    in.width = in.screenWidth = 240;
    in.height = in.screenHeight = 320;
    in.barFontHeight = in.labelTextHeight = in.windowFontHeight = m.height();
    const int room = MainLayout::compute(in).statusText.width();
    ASSERT_GT(room, 150);

    // The widest numbers the texts carry: the longest retry delay, a long outage's try count.
    const int64_t seconds = int64_t(Reconnector::kLongestDelayMs / 1000), tries = 999;
    const char16_t* keys[] = {
        u"OPENING_V", u"BUFFERING",    u"PLAYING",        u"STOP",          u"OPEN_ERR",
        u"CODEC_ERR", u"OPENING_TILE", u"BUFFERING_TILE", u"PLAYING_TILE",  u"OPEN_ERR_TILE",
        u"STOP_TILE", u"NO_PIC",       u"LINK_LOST",      u"RECONNECTING",  u"MEDIA_REOPENING",
        u"REC_NONE",  u"REC_NOTHING",  u"TOUR_NONE_T",    u"TOUR_ALL_SHOWN"};
    const char16_t* countdowns[] = {u"RECONNECT_IN", u"MEDIA_REOPEN"};
    // A saved picture's text is followed by at least 12 average characters of its path.
    const char16_t* pathPrefixes[] = {u"PIC_SAVED", u"PIC_SAVE_ERR", u"REC_TO", u"REC_SAVED",
                                      u"REC_FAILED"};

    const std::u16string chosen = Language::filePath();
    for (const char* file : {"/language_eng.ini", "/language_chn.ini"}) {
        Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + file));
        auto fits = [&](const char16_t* key, const QString& text, int width) {
            EXPECT_FALSE(text.trimmed().isEmpty()) << file << " " << toUtf8(key);
            EXPECT_LE(width, room) << file << " " << toUtf8(key) << ": " << text.toStdString();
        };
        for (const char16_t* key : keys) {
            const QString text = QtText::from(Language::format(key, {tries}));
            fits(key, text, m.horizontalAdvance(text));
        }
        for (const char16_t* key : countdowns) {
            const QString text = QtText::from(Language::format(key, {seconds, tries}));
            fits(key, text, m.horizontalAdvance(text));
        }
        for (const char16_t* key : pathPrefixes) {
            const QString text = QtText::lang(key) + QLatin1Char(' ');
            fits(key, text, m.horizontalAdvance(text) + 12 * m.averageCharWidth());
        }
    }
    Language::setFilePath(chosen);
}
