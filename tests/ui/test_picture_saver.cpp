// File names of saved pictures and the turn back of a picture shown turned.
#include "app/PictureLayout.h"
#include "ui/PictureSaver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kevra;

TEST(PictureSaver, FileNamesAreSafeAndCarryCameraDateAndTime)
{
    const QDateTime when(QDate(2026, 12, 7), QTime(17, 52, 3));
    struct Case {
        const char* camera;
        const char* name;
    } cases[] = {
        {"Lobby", "Lobby_2026-12-07_17-52-03.png"},
        {"Gate 2/North", "Gate 2_North_2026-12-07_17-52-03.png"},
        {"..", "camera.._2026-12-07_17-52-03.png"},
        {"  ", "camera_2026-12-07_17-52-03.png"},
        {"a\\b:c*d?e\"f<g>h|i\x01", "a_b_c_d_e_f_g_h_i__2026-12-07_17-52-03.png"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PictureSaver::fileName(QString::fromUtf8(c.camera), when).toStdString(), c.name);
    EXPECT_EQ(PictureSaver::fileName(QString(200, 'x'), when).size(), 64 + 24);
}

TEST(PictureSaver, APictureShownTurnedIsSavedUpright)
{
    // A 3 x 2 picture as the decoder gives it (32-bit rows bottom first), turned for the
    // screen the way the live view turns it, then turned back.
    const int w = 3, h = 2;
    const QRgb upright[h][w] = {{0xff0000, 0x00ff00, 0x0000ff}, {0xffff00, 0x00ffff, 0xff00ff}};
    std::vector<uint32_t> decoded(w * h), turned(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            decoded[size_t((h - 1 - y) * w + x)] = 0xff000000u | upright[y][x];
    PictureLayout::turn(reinterpret_cast<const uint8_t*>(decoded.data()), w, h, 32,
                        reinterpret_cast<uint8_t*>(turned.data()));
    QImage shown(h, w, QImage::Format_RGB32);   // presented top row first
    for (int y = 0; y < w; ++y)
        std::memcpy(shown.scanLine(y), turned.data() + size_t(y) * h, size_t(h) * 4);

    const QImage back = PictureSaver::upright(shown, true);
    ASSERT_EQ(back.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(back.pixel(x, y) & 0xffffff, upright[y][x]) << x << "," << y;
    EXPECT_EQ(PictureSaver::upright(shown, false), shown);
}
